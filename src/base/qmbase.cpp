#include "base/qmbase.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "base/build_policy.h"
#include "platform/platform.h"

uint16_t ArrayToU16(const uint8_t *bytes, uint32_t *count) {
    uint32_t word = 0;
    uint32_t ones = 0;
    for (int i = 0; i < 16; ++i) {
        const uint32_t shifted = static_cast<uint32_t>(bytes[i]) << i;
        if (shifted != 0) ++ones;
        word |= shifted;
    }
    if (count) *count = ones;
    return static_cast<uint16_t>(word & 0xFFFF);
}

namespace {
// atoi without its undefined overflow: digits wrap in 32 bits.
int32_t pieceValue(const char *p, const char *end) {
    while (p < end && std::isspace(static_cast<unsigned char>(*p))) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = (*p++ == '-');
    uint32_t v = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) v = v * 10u + static_cast<uint32_t>(*p - '0');
    return static_cast<int32_t>(negative ? 0u - v : v);
}
}  // namespace

int32_t toInt(const char *text) {
    // The conversion works on a 20-byte copy of the text; a longer text has
    // no defined meaning, so it converts to 0, which every caller refuses.
    if (text == nullptr || std::strlen(text) >= 20) return 0;
    uint32_t result = 0;
    const char *p = text;
    while (*p) {
        while (*p == '.') ++p;  // empty pieces are skipped, as a tokenizer would
        if (!*p) break;
        const char *end = std::strchr(p, '.');
        if (!end) end = p + std::strlen(p);
        result = result * 256u + static_cast<uint32_t>(pieceValue(p, end));
        p = end;
    }
    return static_cast<int32_t>(result);
}

namespace {
// One field of a dotted quad: 1..3 digits, no leading zero, at most 255.
bool ipField(const char *begin, const char *end, int *value) {
    const auto len = end - begin;
    if (len < 1 || len > 3) return false;
    for (const char *p = begin; p < end; ++p)
        if (*p < '0' || *p > '9') return false;
    if (len > 1 && *begin == '0') return false;
    int v = 0;
    for (const char *p = begin; p < end; ++p) v = v * 10 + (*p - '0');
    if (v > 255) return false;
    *value = v;
    return true;
}
}  // namespace

int32_t validIPAddress(const char *text) {
    if (text == nullptr || std::strchr(text, '.') == nullptr) return 0;
    int v[4];
    const char *p = text;
    for (int i = 0; i < 3; ++i) {
        const char *dot = std::strchr(p, '.');
        if (!dot || !ipField(p, dot, &v[i])) return 0;
        p = dot + 1;
    }
    if (!ipField(p, p + std::strlen(p), &v[3])) return 0;
    const bool host255 = korvax::BuildPolicy::kIpHost255Accepted && v[3] == 255;
    return v[0] == 192 && v[1] == 168 && v[2] == 1 && v[3] != 200 && (v[3] != 255 || host255);
}

int32_t isdigitstr(const char *text) {
    if (text == nullptr) return 0;
    for (; *text; ++text)
        if (*text < '0' || *text > '9') return 0;
    return 1;
}

uint32_t SLEEP(int32_t milliseconds) {
    if constexpr (korvax::BuildPolicy::kMillisecondSleep) {
        if (milliseconds > 0)
            korvax::platform::sleepMilliseconds(static_cast<unsigned>(milliseconds));
        return 0;
    }
    // Whole seconds only: the instrument's settle times are seconds long.
    if (milliseconds < 1000) return 0;
    return korvax::platform::waitSeconds(static_cast<unsigned>(milliseconds / 1000));
}

void SetSleepHook(uint32_t (*hook)(uint32_t seconds)) {
    korvax::platform::setSleepHook(hook);
}
