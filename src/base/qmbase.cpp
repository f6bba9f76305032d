#include "base/qmbase.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

uint32_t *dec_2bin(int32_t value) {
    static uint32_t digits[32];
    std::memset(digits, 0, sizeof digits);
    for (int k = 0; value > 0 && k < 32; ++k, value /= 2) digits[k] = static_cast<uint32_t>(value % 2);
    return digits;
}

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
    return v[0] == 192 && v[1] == 168 && v[2] == 1 && v[3] != 200 && v[3] != 255;
}

int32_t isdigitstr(const char *text) {
    if (text == nullptr) return 0;
    for (; *text; ++text)
        if (*text < '0' || *text > '9') return 0;
    return 1;
}

char *mystrncpy(char *text, int32_t count) {
    if (text == nullptr) return nullptr;
    int32_t i = 0;
    while (i < count && text[i]) ++i;
    text[i] = '\0';
    return text;
}

int32_t existLowerCase(const char *text) {
    if (text == nullptr) return 0;
    for (; *text; ++text)
        if (std::islower(static_cast<unsigned char>(*text))) return 1;
    return 0;
}

int32_t allUpperCase(char *text) {
    if (text == nullptr) return 0;
    for (; *text; ++text) *text = static_cast<char>(std::toupper(static_cast<unsigned char>(*text)));
    return 0;
}

uint32_t SLEEP(int32_t milliseconds) {
    // Whole seconds only: the instrument's settle times are seconds long.
    if (milliseconds < 1000) return 0;
    return korvax::platform::waitSeconds(static_cast<unsigned>(milliseconds / 1000));
}

void SetSleepHook(uint32_t (*hook)(uint32_t seconds)) {
    korvax::platform::setSleepHook(hook);
}

void getHighPrecisionTime(double *seconds) {
    if (seconds) *seconds = korvax::platform::monotonicSeconds();
}

int32_t rotateRight(uint8_t *bytes, int32_t start, int32_t end, int32_t rounds) {
    if (rounds <= 0 || bytes == nullptr || start < 0 || end - 1 < start) return 0;
    if (end - 1 == start) return rounds;  // one element: every round leaves it in place
    for (int32_t r = 0; r < rounds; ++r) {
        const uint8_t last = bytes[end - 1];
        std::memmove(bytes + start + 1, bytes + start, static_cast<size_t>(end - 1 - start));
        bytes[start] = last;
    }
    return rounds;
}

namespace {
template <typename T>
T **alloc2(uint64_t rows, uint64_t cols) {
    if (rows == 0 || cols == 0 || rows > SIZE_MAX / sizeof(T *) || cols > SIZE_MAX / rows / sizeof(T))
        return nullptr;
    auto **index = static_cast<T **>(std::malloc(rows * sizeof(T *)));
    if (!index) return nullptr;
    auto *data = static_cast<T *>(std::calloc(rows * cols, sizeof(T)));
    if (!data) {
        std::free(index);
        return nullptr;
    }
    for (uint64_t i = 0; i < rows; ++i) index[i] = data + i * cols;
    return index;
}
}  // namespace

int32_t **alloc2int(int32_t, uint64_t rows, uint64_t cols) { return alloc2<int32_t>(rows, cols); }
uint16_t **alloc2ViUInt16(int32_t, uint64_t rows, uint64_t cols) {
    return alloc2<uint16_t>(rows, cols);
}

int32_t ***alloc3int(int32_t, uint64_t d1, uint64_t d2, uint64_t d3, int32_t initial) {
    if (d1 == 0 || d2 == 0 || d3 == 0) return nullptr;
    const uint64_t n2 = d1 * d2, n3 = n2 * d3;
    if (n2 / d1 != d2 || n3 / n2 != d3) return nullptr;
    const uint64_t bytes = d1 * sizeof(int32_t **) + n2 * sizeof(int32_t *) + n3 * sizeof(int32_t);
    if (n3 > SIZE_MAX / 16) return nullptr;
    // One block: first-level pointers, second-level pointers, then the data.
    auto *block = static_cast<char *>(std::malloc(bytes));
    if (!block) return nullptr;
    auto ***level1 = reinterpret_cast<int32_t ***>(block);
    auto **level2 = reinterpret_cast<int32_t **>(block + d1 * sizeof(int32_t **));
    auto *data = reinterpret_cast<int32_t *>(block + d1 * sizeof(int32_t **) + n2 * sizeof(int32_t *));
    for (uint64_t i = 0; i < d1; ++i) {
        level1[i] = level2 + i * d2;
        for (uint64_t j = 0; j < d2; ++j) level1[i][j] = data + (i * d2 + j) * d3;
    }
    for (uint64_t k = 0; k < n3; ++k) data[k] = initial;
    return level1;
}

void free2int(int32_t **rows) { std::free(rows); }
void free2ViUInt16(uint16_t **rows) { std::free(rows); }
void free3int(int32_t ***array) { std::free(array); }

int32_t countOnes3D(int32_t ***array, int32_t d1, int32_t d2, int32_t d3) {
    if (!array) return 0;
    int32_t n = 0;
    for (int32_t i = 0; i < d1; ++i)
        for (int32_t j = 0; j < d2; ++j)
            for (int32_t k = 0; k < d3; ++k) n += array[i][j][k] == 1;
    return n;
}

int32_t countOnes(int32_t ***array, int32_t d1, int32_t d2, int32_t d3) {
    return countOnes3D(array, d1, d2, d3);
}

int32_t countOnes2D(int32_t ***array, int32_t d1, int32_t d2) {
    if (!array) return 0;
    int32_t n = 0;
    for (int32_t i = 0; i < d1; ++i)
        for (int32_t j = 0; j < d2; ++j) n += array[i][j][0] == 1;
    return n;
}
