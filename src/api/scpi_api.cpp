// The SCPI text interface: KORVAX_SCPIWrite keeps its reply in the chassis
// record for KORVAX_SCPIRead, KORVAX_SCPIQuery answers straight into the
// caller's buffer. Both run the same dispatch; it differs only in where the
// reply goes, how much room it has, and the wording of the reset reply.
//
// Every command is carried out by the library's own operations (exported,
// or their internal form on the record), so it gets exactly their checks and
// codes. The identity query and the reset use the exchange's own round
// trips: the identity answer is the instrument's own text, and the reset
// has no reply worth decoding.
//
// Relay commands edit a copy of the state image, the userState of sub-unit
// 0, and switch to the whole copy as KORVAX_OpMatrix does, which keeps it
// only when the instrument accepted it. A direct
// KORVAX_OpMatrix on sub-unit 0 replaces the same array, so the text and the
// binary interfaces always start from the state the instrument last
// accepted.
#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <span>
#include <string>
#include <string_view>

#include "KORVAX.h"
#include "api/operations.h"
#include "base/build_policy.h"
#include "base/chassis_model.h"
#include "base/records.h"
#include "connection/VISAconnection.h"
#include "connection/chassis_lock.h"
#include "relay/relay_frame.h"
#include "scpi/scpi_parser.h"

namespace {

// A caller's reply buffer is 400 bytes by contract; the record keeps 256.
constexpr size_t kQueryReplySize = 400;
constexpr size_t kErrorTextSize = 100;
constexpr size_t kSelfTestTextSize = 100;

// Channel lists are numbered for the widest matrix of the family (four
// cards of 12 columns), whatever chassis they address: a point is
// (row - 1) * 48 + (column - 1), and the image has room for 1500 * 32 points.
constexpr int64_t kColumnsPerRow = 48;
constexpr int64_t kImagePoints = int64_t{KORVAX_USER_WORDS} * 32;

constexpr std::string_view kRelaysDone = "Relays Operate Success";
constexpr std::string_view kBadRelayArgument = "Invalid Relays Opearation Parameter";
constexpr std::string_view kOutOfRange = "Error: Crosspoint out of range";
constexpr std::string_view kUnknownCommand =
    "Unknown SCPI Command, Please Refer to the User Manual And Try Again";

enum class Caller { Write, Query };

// Where a reply goes and how much of it there is room for. Every text is cut
// to fit and always terminated.
class Reply {
public:
    Reply(char *text, size_t capacity) : text_(text), capacity_(capacity) {}

    char *data() const { return text_; }
    size_t capacity() const { return capacity_; }
    bool empty() const { return text_[0] == '\0'; }

    void set(std::string_view s) const {
        const size_t n = std::min(s.size(), capacity_ - 1);
        std::memcpy(text_, s.data(), n);
        text_[n] = '\0';
    }

    [[gnu::format(printf, 2, 3)]] void format(const char *fmt, ...) const {
        va_list args;
        va_start(args, fmt);
        std::vsnprintf(text_, capacity_, fmt, args);
        va_end(args);
    }

    // The message of a failed operation's code, as KORVAX_ErrorCodeToMessage
    // gives it with the 100-byte limit the replies have always used.
    void error(int32_t code) const {
        std::array<char, kErrorTextSize> message{};
        KORVAX_ErrorCodeToMessage(code, message.data(), message.size());
        set(message.data());
    }

    // Success text, or the error text of a negative status.
    void outcome(int32_t status, std::string_view success) const {
        if (status < 0)
            error(status);
        else
            set(success);
    }

private:
    char *text_;
    size_t capacity_;
};

struct Context {
    uint32_t handle;
    Caller caller;
    Reply reply;
    // The handle's record, locked for the whole command; null for a handle
    // no record has (Query still runs the command: its argument checks come
    // first, and the operations report the handle themselves).
    ChassisInfo *record;
    const char *argument;
};

// The record for the ops that work on it directly; a stale handle is
// reported like any operation reports it.
ChassisInfo *recordOf(Context &ctx) {
    if (ctx.record == nullptr) ctx.reply.error(KORVAX_ERR_HANDLE);
    return ctx.record;
}

bool isDigit(char ch) { return ch >= '0' && ch <= '9'; }

// The identity query goes out as text, and the answer is handed over as the
// instrument wrote it: leave one byte for the terminating zero.
void identity(Context &ctx) {
    ChassisInfo *c = recordOf(ctx);
    if (c == nullptr) return;
    const auto room = static_cast<uint32_t>(ctx.reply.capacity() - 1);
    const korvax::IdentityReply r = korvax::askIdentity(c->vi, ctx.reply.data(), room);
    if (r.failed == korvax::WireStep::Write) return ctx.reply.set("Send data failed!");
    if (r.failed == korvax::WireStep::Read) return ctx.reply.set("Receive data failed!");
    ctx.reply.data()[std::min(r.count, room)] = '\0';
}

// The reset restarts the controller: its reply (if any arrives before the
// link drops) says nothing, so it is read only to keep the session in step.
void reset(Context &ctx) {
    ChassisInfo *c = recordOf(ctx);
    if (c == nullptr) return;
    const korvax::WireStep failed = korvax::restartController(*c);
    if (failed == korvax::WireStep::Write) return ctx.reply.set("send data failed!");
    if (failed == korvax::WireStep::Read) return ctx.reply.set("recv data failed!");
    // The two entry points word this reply differently, and programs compare
    // it: each keeps its own.
    ctx.reply.set(ctx.caller == Caller::Query ? korvax::BuildPolicy::kQueryResetReply
                                              : "Reset Success!");
}

enum class DeviceField { Model, Maker, Firmware };
void deviceInfo(Context &ctx, DeviceField field);

void firmwareVersion(Context &ctx) {
    if constexpr (korvax::BuildPolicy::kVersionFromDeviceInfo)
        return deviceInfo(ctx, DeviceField::Firmware);
    // Two 10-byte version slots (controller, communication board); zero-filled
    // so that a model reporting one version still prints an empty second one.
    std::array<char, 50> versions{};
    const int32_t st = KORVAX_GetSWVersion(ctx.handle, versions.data(), versions.size());
    if (st < 0) return ctx.reply.error(st);
    ctx.reply.format("Fw Version: CTR %s, COM %s", versions.data(), versions.data() + 10);
}

void deviceInfo(Context &ctx, DeviceField field) {
    // Each text fits in 9 characters; one spare byte in case one is ever cut.
    constexpr uint64_t kMaxLen = 10;
    std::array<char, kMaxLen + 1> model{}, maker{}, serial{}, firmware{};
    const int32_t st = KORVAX_GetDeviceInfo(ctx.handle, model.data(), maker.data(), serial.data(),
                                            firmware.data(), kMaxLen);
    if (st < 0) return ctx.reply.error(st);
    ctx.reply.set(field == DeviceField::Maker      ? maker.data()
                  : field == DeviceField::Firmware ? firmware.data()
                                                   : model.data());
}

void ipAddress(Context &ctx) {
    std::array<char, 16> address{};
    const int32_t st = KORVAX_GetCOMMIPAddr(ctx.handle, address.data());
    if (st < 0) return ctx.reply.error(st);
    ctx.reply.set(address.data());
}

void setLanMode(Context &ctx) {
    const std::string_view arg = ctx.argument;
    uint32_t mode;
    if (arg == "MANUAL" || arg == "0")
        mode = 0;
    else if (arg == "AUTO" || arg == "1")
        mode = 1;
    else
        return ctx.reply.set("Invalid LAN Mode Opearation Parameter");
    ctx.reply.outcome(KORVAX_SetLANMode(ctx.handle, mode),
                      "Set LAN Mode Success! Please Restart The Application");
}

void lanMode(Context &ctx) {
    uint32_t mode = 0;
    const int32_t st = KORVAX_GetLANMode(ctx.handle, &mode);
    if (st < 0) return ctx.reply.error(st);
    ctx.reply.set(mode == 0   ? "LAN Mode: Manual"
                  : mode == 1 ? "LAN Mode: AutoIP"
                              : "Unknown IP Communication Mode");
}

// Per-slot results of slots 3 down to 0, one digit each: read left to right
// the text is the slot mask written as a binary number.
void slotDigits(Context &ctx, int32_t status, const uint32_t *results) {
    if (status < 0) return ctx.reply.error(status);
    ctx.reply.format("%d%d%d%d", static_cast<int>(results[3]), static_cast<int>(results[2]),
                     static_cast<int>(results[1]), static_cast<int>(results[0]));
}

// Room for every slot any chassis reports (21 on an RQ522).
using SlotResults = std::array<uint32_t, 32>;

void boardInPlace(Context &ctx) {
    SlotResults states{};
    uint32_t count = 0;
    slotDigits(ctx, KORVAX_BoardInPlaceInfo(ctx.handle, states.data(), &count), states.data());
}

void spiLoop(Context &ctx) {
    SlotResults results{};
    uint32_t count = 0;
    slotDigits(ctx, KORVAX_SPILoopTestInfo(ctx.handle, 0, results.data(), &count), results.data());
}

void cardState(Context &ctx) {
    const size_t size = std::min(kSelfTestTextSize, ctx.reply.capacity());
    const int32_t st = KORVAX_SelfTest(ctx.handle, 0, ctx.reply.data(), size);
    if (st < 0) ctx.reply.error(st);
}

void controlMode(Context &ctx) {
    ChassisInfo *c = recordOf(ctx);
    if (c == nullptr) return;
    uint32_t mode = 0;
    const int32_t st = korvax::controlModeOf(*c, mode);
    if (st < 0) return ctx.reply.error(st);
    ctx.reply.set(mode == 0 ? "Control Mode : Local" : "Control Mode : Remote");
}

void setControlMode(Context &ctx) {
    const uint32_t wanted = std::string_view(ctx.argument) == "REMOTE" ? 1 : 0;
    if constexpr (korvax::BuildPolicy::kDirectControlModeSet)
        return ctx.reply.outcome(KORVAX_SetControlMode(ctx.handle, wanted),
                                 "Set Control Mode Success");
    ChassisInfo *c = recordOf(ctx);
    if (c == nullptr) return;
    uint32_t present = 0;
    const int32_t st = korvax::controlModeOf(*c, present);
    if (st < 0) return ctx.reply.error(st);
    if (present == wanted) return ctx.reply.set("Local/Remote Control Mode Conflict");
    // An RQ521 refuses relay frames under local control, so go through remote
    // (refused harmlessly when already there) to open every relay, then settle
    // in the wanted mode: whoever takes over starts from an all-open matrix.
    // The first call that fails ends the command with its error text. Two
    // refusals are part of the plan: "already in that mode", and a clear
    // that has nothing to open because no card was identified yet (it sends
    // nothing; the mode is still changed).
    const auto failed = [&](int32_t status, std::initializer_list<int32_t> expected) {
        if (status >= 0 || std::find(expected.begin(), expected.end(), status) != expected.end())
            return false;
        ctx.reply.error(status);
        return true;
    };
    if (failed(korvax::changeControlMode(*c, 1), {KORVAX_ERR_SAME_MODE})) return;
    if (failed(korvax::clearSubUnit(*c, 0), {KORVAX_ERR_NO_TYPE0_CARD, KORVAX_ERR_PARAMETER})) return;
    if (failed(korvax::changeControlMode(*c, wanted), {KORVAX_ERR_SAME_MODE})) return;
    ctx.reply.set("Set Control Mode Success");
}

void setGpibAddress(Context &ctx) {
    // Digits only; the value saturates so that a long digit string is refused
    // by the range check of KORVAX_SetGPIBAddress instead of wrapping into it.
    uint64_t value = 0;
    for (const char *p = ctx.argument; *p != '\0'; ++p) {
        if (!isDigit(*p)) return ctx.reply.set("Invalid GPIB Address Parameter");
        value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(*p - '0'), UINT32_MAX);
    }
    ctx.reply.outcome(KORVAX_SetGPIBAddress(ctx.handle, static_cast<uint32_t>(value)),
                      "Set GPIB Address Success! Please Restart The Application");
}

void gpibAddress(Context &ctx) {
    uint32_t address = 0;
    const int32_t st = KORVAX_GetGPIBAddress(ctx.handle, &address);
    if (st < 0) return ctx.reply.error(st);
    ctx.reply.format("GPIB Address:%d", static_cast<int>(address));
}

void baudRate(Context &ctx) {
    uint32_t rate = 0;
    const int32_t st = KORVAX_GetBaudRate(ctx.handle, &rate);
    if (st < 0) return ctx.reply.error(st);
    ctx.reply.format("RS232 Baudrate:%d", static_cast<int>(rate));
}

// The state image a relay command edits: a copy of the last applied state,
// which becomes the applied state only when the instrument accepts it. A
// refused command leaves nothing behind for the next one to send again.
using Image = std::array<uint32_t, KORVAX_USER_WORDS>;

// Switches to the edited image and reports the outcome.
void applyImage(Context &ctx, ChassisInfo &c, long subUnit, const Image &image) {
    ctx.reply.outcome(korvax::switchState(c, subUnit, image.data(), KORVAX_USER_WORDS),
                      kRelaysDone);
}

// Owns the crosspoints of a parsed channel list.
struct ParsedList {
    ScpiResult result;
    explicit ParsedList(const char *text, char *message)
        : result(parseSCPICrossPoint(text, message)) {}
    ~ParsedList() { freeSCPIResult(result); }
    ParsedList(const ParsedList &) = delete;
    ParsedList &operator=(const ParsedList &) = delete;
};

// Point index of a crosspoint in the image; 64-bit, since rows and columns
// run up to 999,999,999.
int64_t pointOf(const ScpiCrosspoint &pt) {
    return (int64_t{pt.row} - 1) * kColumnsPerRow + (int64_t{pt.col} - 1);
}

void switchList(Context &ctx, bool close) {
    // Only channel-list characters: a blank, a line end or a letter means the
    // text is not what the user thinks it is, and nothing may switch.
    for (const char *p = ctx.argument; *p != '\0'; ++p)
        if (!isDigit(*p) && std::string_view("!:,()@").find(*p) == std::string_view::npos)
            return ctx.reply.set(kBadRelayArgument);

    const ParsedList list(ctx.argument, ctx.reply.data());
    if (!ctx.reply.empty()) return;  // the parser's message is the reply
    const std::span points(list.result.points, list.result.points ? list.result.count : 0);

    // A point beyond the image has no bit; refusing the whole list keeps a
    // command from switching only part of what it names.
    for (const ScpiCrosspoint &pt : points)
        if (const int64_t p = pointOf(pt); p < 0 || p >= kImagePoints)
            return ctx.reply.set(kOutOfRange);

    ChassisInfo *c = recordOf(ctx);
    if (c == nullptr) return;
    Image image;
    std::copy_n(c->subUnits[0].userState, image.size(), image.begin());
    for (const ScpiCrosspoint &pt : points) {
        const int64_t p = pointOf(pt);
        const uint32_t bit = 1u << (p % 32);
        if (close)
            image[p / 32] |= bit;
        else
            image[p / 32] &= ~bit;
    }
    applyImage(ctx, *c, list.result.subUnit, image);
}

// Close all closes every crosspoint the chassis can switch: the whole image,
// or on a chassis whose frame reaches only the first rows of its cards
// (RQ522), the points of those rows (they come first in the image).
void switchAll(Context &ctx, bool close) {
    ChassisInfo *c = recordOf(ctx);
    if (c == nullptr) return;
    Image image{};
    if (close) {
        const SubUnitInfo &s = c->subUnits[0];
        const uint16_t rows = korvax::modelOf(*c).switchableRows;
        const int64_t points = rows == 0 ? kImagePoints
                                         : std::min<int64_t>(kImagePoints, int64_t{rows} *
                                                                               s.slotCount * s.colCount);
        for (int64_t p = 0; p < points; ++p) image[p / 32] |= 1u << (p % 32);
    }
    applyImage(ctx, *c, 0, image);
}

void setIpAddress(Context &ctx) {
    ctx.reply.outcome(KORVAX_SetIPAddress(ctx.handle, ctx.argument),
                      korvax::BuildPolicy::kSetIpReply);
}

struct Handler {
    ScpiOp op;
    bool takesArgument;
    void (*run)(Context &);
};

// Every command the text interface serves. A rate change is not among them:
// it must retune the session together with the instrument
// (KORVAX_SetBaudRate does both under its lock), so its spellings get the
// unknown-command answer whatever their argument.
constexpr Handler kHandlers[] = {
    {SCPI_OP_IDENTITY, false, identity},
    {SCPI_OP_FW_VERSION, false, firmwareVersion},
    {SCPI_OP_MANUFACTURER, false, [](Context &ctx) { deviceInfo(ctx, DeviceField::Maker); }},
    {SCPI_OP_MODEL, false, [](Context &ctx) { deviceInfo(ctx, DeviceField::Model); }},
    {SCPI_OP_RESET, false, reset},
    {SCPI_OP_SET_IP_ADDRESS, true, setIpAddress},
    {SCPI_OP_IP_ADDRESS, false, ipAddress},
    {SCPI_OP_SET_LAN_MODE, true, setLanMode},
    {SCPI_OP_LAN_MODE, false, lanMode},
    {SCPI_OP_BOARD_IN_PLACE, false, boardInPlace},
    {SCPI_OP_SPI_LOOP, false, spiLoop},
    {SCPI_OP_CARD_STATE, false, cardState},
    {SCPI_OP_CONTROL_MODE, false, controlMode},
    {SCPI_OP_SET_CONTROL_MODE, true, setControlMode},
    {SCPI_OP_SET_GPIB_ADDRESS, true, setGpibAddress},
    {SCPI_OP_GPIB_ADDRESS, false, gpibAddress},
    {SCPI_OP_BAUD_RATE, false, baudRate},
    {SCPI_OP_OPEN, true, [](Context &ctx) { switchList(ctx, false); }},
    {SCPI_OP_CLOSE, true, [](Context &ctx) { switchList(ctx, true); }},
    {SCPI_OP_OPEN_ALL, false, [](Context &ctx) { switchAll(ctx, false); }},
    {SCPI_OP_CLOSE_ALL, false, [](Context &ctx) { switchAll(ctx, true); }},
};

constexpr bool handlersAgreeWithParser() {
    for (const Handler &h : kHandlers)
        if (h.takesArgument != korvax::scpiTakesArgument(h.op)) return false;
    return true;
}
static_assert(handlersAgreeWithParser(), "a handler disagrees with the parser on its argument");

void run(uint32_t handle, const char *command, Reply reply, Caller caller, ChassisInfo *record) {
    const korvax::ParsedCommand parsed = korvax::parseCommand(command);
    const auto h = std::find_if(std::begin(kHandlers), std::end(kHandlers),
                                [&](const Handler &e) { return e.op == parsed.op; });
    if (h == std::end(kHandlers)) {
        // The Windows driver's compact tables answer unknown text with the
        // parser's own message.
        if constexpr (korvax::BuildPolicy::kCompactScpiTables)
            if (parsed.op == SCPI_OP_UNKNOWN) return reply.set(parsed.error);
        return reply.set(kUnknownCommand);
    }
    // An argument that does not fit is refused before anything acts on it:
    // the empty argument left in its place would set a value nobody typed.
    if (!parsed.error.empty()) return reply.set(parsed.error);
    const std::string argument(parsed.argument);
    Context ctx{handle, caller, reply, record, argument.c_str()};
    h->run(ctx);
}

}  // namespace

// The command's operations run one after the other under the chassis's
// lock, which the operations it calls go on holding: no other thread's call
// on the same chassis gets between the steps of a command (the control-mode
// change, a relay command's read-modify-write of the stored state) or
// overwrites the reply before it is read.
extern "C" KORVAX_API int32_t KORVAX_SCPIWrite(uint32_t handle, const char *command) {
    const korvax::ChassisGuard c(handle);
    if (!c) return c.status();
    if (command == nullptr) return KORVAX_ERR_PARAMETER;
    std::memset(c->scpiReply, 0, sizeof c->scpiReply);
    run(handle, command, Reply(c->scpiReply, sizeof c->scpiReply), Caller::Write, c.get());
    return 0;
}

extern "C" KORVAX_API void KORVAX_SCPIQuery(uint32_t handle, const char *command, char *reply) {
    if (command == nullptr || reply == nullptr) return;
    std::memset(reply, 0, 8);
    const korvax::ChassisGuard c(handle);
    const Reply out(reply, kQueryReplySize);
    if (c.status() == KORVAX_ERR_MALLOC) return out.error(c.status());
    run(handle, command, out, Caller::Query, c.get());
}

extern "C" KORVAX_API int32_t KORVAX_SCPIRead(uint32_t handle, char *reply) {
    const korvax::ChassisGuard c(handle);
    if (!c) return c.status();
    if (reply == nullptr) return KORVAX_ERR_PARAMETER;
    const size_t n = strnlen(c->scpiReply, sizeof c->scpiReply - 1);
    std::memcpy(reply, c->scpiReply, n);
    reply[n] = '\0';
    std::memset(c->scpiReply, 0, sizeof c->scpiReply);
    return 0;
}
