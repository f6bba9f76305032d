// One way of reaching an instrument, behind the interface every session
// talks to. A transport is opened by its own factory, closed by destroying
// it, and knows nothing of resource names, managers or other transports:
// the resource manager (resource_manager.cpp) is the only code that knows
// them all.
#pragma once

#include <cstdint>
#include <span>

#include "visa/visa.h"

namespace korvax::visa {

class Transport {
public:
    virtual ~Transport() = default;

    // Sends one message. `written` receives the bytes taken.
    virtual ViStatus write(std::span<const ViByte> data, ViUInt32 &written) = 0;
    // Reads at most buffer.size() bytes of the instrument's answer; the
    // status says why the read ended (END, termination character, count)
    // or that nothing came (VI_ERROR_TMO).
    virtual ViStatus read(std::span<ViByte> buffer, ViUInt32 &got) = 0;
    virtual ViStatus flush(ViUInt16 mask) = 0;
    virtual ViStatus setAttribute(ViAttr attr, ViAttrState value) = 0;
    // Writes the attribute's value in its VISA width through `value`.
    virtual ViStatus getAttribute(ViAttr attr, void *value) const = 0;

    // What only some transports can do; the rest say VI_ERROR_NSUP_OPER.
    // viClear: the device drops its input and output; here at least the
    // answer not yet read goes.
    virtual ViStatus clear() { return flush(VI_READ_BUF_DISCARD); }
    virtual ViStatus readStatusByte(ViUInt16 &) { return VI_ERROR_NSUP_OPER; }
    virtual ViStatus trigger() { return VI_ERROR_NSUP_OPER; }
    // The device's own lock, for transports whose instrument keeps one
    // (VXI-11); the resource manager keeps the library's lock itself.
    virtual ViStatus lockDevice(ViUInt32 /*timeoutMs*/) { return VI_SUCCESS; }
    virtual ViStatus unlockDevice() { return VI_SUCCESS; }
};

// Attributes every message-based session has, whatever carries it.
struct IoSettings {
    ViUInt32 timeoutMs = 2000;
    uint8_t termChar = '\n';
    bool termCharEnabled = false;
    bool sendEnd = true;

    // VI_ERROR_NSUP_ATTR for an attribute that is not one of these.
    ViStatus set(ViAttr attr, ViAttrState value);
    ViStatus get(ViAttr attr, void *value) const;
};

// Line settings of a serial (ASRL) session. The defaults are those of a
// freshly opened serial port: 9600 baud, 8 data bits, no parity, one stop
// bit, reads ending at the termination character.
struct SerialSettings {
    ViUInt32 baud = 9600;
    ViUInt16 dataBits = 8;
    ViUInt16 parity = VI_ASRL_PAR_NONE;
    ViUInt16 stopBits = VI_ASRL_STOP_ONE;
    ViUInt16 flowControl = VI_ASRL_FLOW_NONE;
    ViUInt16 endIn = VI_ASRL_END_TERMCHAR;
    ViUInt16 endOut = VI_ASRL_END_NONE;

    ViStatus set(ViAttr attr, ViAttrState value);
    ViStatus get(ViAttr attr, void *value) const;
};

// Checks a viFlush mask: VI_ERROR_INV_MASK for no bits, unknown bits, or a
// buffer asked to be both flushed and discarded.
ViStatus checkFlushMask(ViUInt16 mask);
// The mask asks for the received bytes to go.
bool flushesInput(ViUInt16 mask);

}  // namespace korvax::visa
