// Fuzzes every reply the library decodes. The input is a string of replies,
// each a length byte followed by that many bytes (a length byte of 0xFF
// makes that read fail instead); every viRead of the scripted VISA takes
// the next one, and once the input is used up every read fails. The identity
// answers of discovery come from the same stream.
//
// One input runs a discovery over three resources (LAN, serial, GPIB), then
// every operation that reads a reply, on a chassis record of the model the
// first input byte picks. Caller buffers are heap blocks of exactly the size
// the interface names, so the address sanitizer sees a byte written past one.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "KORVAX.h"
#include "support/fake_chassis.h"

namespace {

class ReplyStream {
public:
    void reset(const uint8_t *data, size_t size) {
        data_ = data;
        left_ = size;
    }
    fakevisa::Reply next() {
        if (left_ == 0) return {{}, VI_ERROR_TMO};
        const uint8_t n = *data_++;
        --left_;
        if (n == 0xFF) return {{}, VI_ERROR_TMO};
        const size_t take = n < left_ ? n : left_;
        fakevisa::Reply r{fakevisa::Bytes(data_, data_ + take), VI_SUCCESS};
        data_ += take;
        left_ -= take;
        return r;
    }

private:
    const uint8_t *data_ = nullptr;
    size_t left_ = 0;
};

ReplyStream stream;
std::string firmwarePath;

constexpr uint16_t kModels[] = {KORVAX_MODEL_RQ520, KORVAX_MODEL_RQ520B, KORVAX_MODEL_RQ521,
                                KORVAX_MODEL_RQ522, KORVAX_MODEL_RQ523,  KORVAX_MODEL_RQ523B};

template <typename T>
std::unique_ptr<T[]> buffer(size_t n) {
    return std::make_unique<T[]>(n);
}

void discover() {
    fakevisa::reset();
    fakevisa::setLogging(false);
    for (const char *rsrc : {"TCPIP0::192.168.1.5::INSTR", "ASRL1::INSTR", "GPIB0::5::INSTR"})
        fakevisa::add(rsrc).responder = [](const fakevisa::Bytes &) { return stream.next(); };
    std::memset(globalChassisInfo, 0, sizeof globalChassisInfo);
    first_findrsc = 0;
    auto entries = buffer<RsrcEntry>(KORVAX_MAX_CHASSIS);
    auto count = buffer<uint32_t>(1);
    KORVAX_FindRsrc(entries.get(), count.get());
    if (count[0] > KORVAX_MAX_CHASSIS) std::abort();
    for (uint32_t i = 0; i < count[0]; ++i)
        if (strnlen(entries[i].rsrcName, sizeof entries[i].rsrcName) == sizeof entries[i].rsrcName)
            std::abort();
}

void operate(uint16_t model) {
    const auto f = testsupport::installChassis(model);
    fakevisa::setLogging(false);
    f.res->responder = [](const fakevisa::Bytes &) { return stream.next(); };
    const uint32_t h = f.handle;

    auto opened = buffer<int64_t>(1);
    for (int64_t sub = 0; sub < 3; ++sub) KORVAX_OpenSpecifiedCard(h, sub, opened.get());
    KORVAX_Init(h, 0);
    auto state = buffer<uint32_t>(KORVAX_USER_WORDS);
    state[0] = 1;
    KORVAX_OpMatrix(h, 0, state.get(), KORVAX_USER_WORDS);
    KORVAX_Clear(h, 0);

    const uint64_t field = 10;
    auto a = buffer<char>(field + 1), b = buffer<char>(field + 1), c = buffer<char>(field + 1),
         d = buffer<char>(field + 1);
    KORVAX_GetDeviceInfo(h, a.get(), b.get(), c.get(), d.get(), field);
    auto serials = buffer<uint32_t>(30);
    KORVAX_GetSN(h, serials.get(), 30);
    auto versions = buffer<char>(70);
    KORVAX_GetHWVersion(h, versions.get(), 70);
    KORVAX_GetSWVersion(h, versions.get(), 70);
    auto name = buffer<char>(10);
    KORVAX_GetCardType(h, 0, name.get());
    KORVAX_SetSN(h, "12345678", "21");
    KORVAX_SetCardSN(h, "12345678", "1", 1);

    auto ip = buffer<char>(16);
    KORVAX_GetCOMMIPAddr(h, ip.get());
    auto value = buffer<uint32_t>(1);
    KORVAX_GetLANMode(h, value.get());
    KORVAX_GetGPIBAddress(h, value.get());
    KORVAX_GetBaudRate(h, value.get());
    KORVAX_GetControlMode(h, value.get());
    KORVAX_SetControlMode(h, 1);
    KORVAX_SetIPAddress(h, "192.168.1.7");
    KORVAX_SetLANMode(h, 1);
    KORVAX_SetGPIBAddress(h, 5);
    KORVAX_SetBaudRate(h, 9600);

    KORVAX_BoardInPlace(h, 31);
    auto states = buffer<uint32_t>(21);
    KORVAX_BoardInPlaceInfo(h, states.get(), value.get());
    for (uint32_t sub = 0; sub < 3; ++sub) KORVAXBoardInPlaceHDW(h, sub);
    auto text = buffer<char>(64);
    for (int64_t sub = 0; sub < 3; ++sub) KORVAX_SelfTest(h, sub, text.get(), 64);
    auto results = buffer<uint32_t>(21);
    for (uint32_t sub = 0; sub < 3; ++sub) KORVAX_SPILoopTestInfo(h, sub, results.get(), value.get());
    KORVAX_OnlineUpdate(h, firmwarePath.c_str());

    auto reply = buffer<char>(400);
    KORVAX_SCPIQuery(h, "*IDN?", reply.get());
    KORVAX_SCPIWrite(h, ":CLOS (@1(1,1))");
    auto read = buffer<char>(KORVAX_SCPI_REPLY_SIZE);
    KORVAX_SCPIRead(h, read.get());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    setenv("KORVAX_VISA_LIBRARY", KORVAX_FAKE_VISA_PATH, 1);
    // A firmware image of three blocks, the last one short.
    char path[] = "/tmp/korvax-fuzz-fw-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) std::abort();
    std::vector<uint8_t> image(300);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7);
    if (write(fd, image.data(), image.size()) != static_cast<ssize_t>(image.size())) std::abort();
    close(fd);
    firmwarePath = path;
    std::atexit([] { std::remove(firmwarePath.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const uint16_t model = kModels[data[0] % 6];
    stream.reset(data + 1, size - 1);
    discover();
    operate(model);
    testsupport::takeSleeps();
    return 0;
}
