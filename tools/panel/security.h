// What the panel asks of a request before anything else: that it reaches
// the panel by a name the panel answers to, carries the token when there is
// one, and, when it changes a relay, comes from the panel's own page.
//
// A page of another site open in the same browser can send requests to
// 127.0.0.1 (a "simple" POST needs no permission), and a name of its own
// can be pointed at 127.0.0.1 (DNS rebinding). So: loopback Host names
// only, JSON bodies only (a form cannot send one), no foreign Origin.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvax::panel {

// "HOST:PORT" or "[V6]:PORT" of --listen.
struct ListenAddress {
    std::string host;  // without brackets
    int port = 0;
};
std::optional<ListenAddress> parseListen(std::string_view text);

// 127.0.0.0/8, ::1 and "localhost".
bool isLoopbackHost(std::string_view host);

// A Host header that names this panel on loopback: 127.0.0.1, localhost or
// [::1], with the port the panel listens on (or none for port 80).
bool isLoopbackHostHeader(std::string_view header, int port);

// The token compared in a time that does not depend on where the two
// differ. `header` is the whole Authorization value.
bool bearerMatches(std::string_view header, std::string_view token);

// Content-Type application/json, with or without parameters.
bool isJsonContentType(std::string_view header);

// The nesting depth of a JSON text (arrays and objects; strings skipped),
// counted without parsing it, so that a deeply nested body is refused
// before a parser recurses into it.
int jsonDepth(std::string_view text);

}  // namespace korvax::panel
