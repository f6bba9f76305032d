// What the two LAN transports (VXI-11 and raw socket) share: the VISA
// status of a socket outcome, and attribute values written in their VISA
// width.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "visa/net/socket_io.h"
#include "visa/visa.h"

namespace korvax::visa {

inline ViStatus statusOf(net::IoResult r) {
    switch (r) {
    case net::IoResult::Ok: return VI_SUCCESS;
    case net::IoResult::Timeout: return VI_ERROR_TMO;
    case net::IoResult::Closed: return VI_ERROR_CONN_LOST;
    case net::IoResult::Refused:
    case net::IoResult::NotFound: return VI_ERROR_RSRC_NFOUND;
    case net::IoResult::Failed: return VI_ERROR_IO;
    }
    return VI_ERROR_IO;
}

template <typename T>
void putAttribute(void *out, T value) {
    std::memcpy(out, &value, sizeof value);
}

inline void putAttributeString(void *out, const std::string &s) {
    const std::size_t n = std::min<std::size_t>(s.size(), VI_FIND_BUFLEN - 1);
    std::memcpy(out, s.data(), n);
    static_cast<char *>(out)[n] = '\0';
}

}  // namespace korvax::visa
