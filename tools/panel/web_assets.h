// The panel's web page, compiled into the program (cmake/embed_web.cmake
// writes the definition from tools/panel/web/ at build time).
#pragma once

#include <span>
#include <string_view>

namespace korvax::panel {

struct WebAsset {
    std::string_view path;  // as served, e.g. "/index.html"
    std::string_view type;  // Content-Type
    std::string_view body;
};

std::span<const WebAsset> webAssets();

}  // namespace korvax::panel
