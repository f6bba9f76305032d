// Definitions of the names kept only for compatibility (see compat.h).
#include "api/compat.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

uint8_t LXICHASSIS[5 * sizeof(ChassisInfo)] = {};
uint8_t chassisThreads[8] = {};
int32_t rq520DeviceCount = 0;
int32_t rq521DeviceCount = 0;
int32_t rq522DeviceCount = 0;
int32_t rq523DeviceCount = 0;
int32_t fdtmp = -1;

bool IsNewVer_3_06(const ChassisInfo *chassis) {
    if (chassis == nullptr || chassis->fwMajor < 3) return false;
    return chassis->fwMajor > 3 || chassis->fwMinor >= 6;
}

int32_t FindIdleChassis(void) {
    for (int32_t i = 0; i < KORVAX_MAX_CHASSIS; ++i)
        if (globalChassisInfo[i].vi == 0) return i;
    return KORVAX_ERR_HANDLE;
}

uint32_t *dec_2bin(int32_t value) {
    static uint32_t digits[32];
    std::memset(digits, 0, sizeof digits);
    for (int k = 0; value > 0 && k < 32; ++k, value /= 2) digits[k] = static_cast<uint32_t>(value % 2);
    return digits;
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
