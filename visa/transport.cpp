#include "visa/transport.h"

#include <cstring>
#include <type_traits>

namespace korvax::visa {
namespace {

template <typename T>
void put(void *out, T value) {
    std::memcpy(out, &value, sizeof value);
}

bool isBoolean(ViAttrState value) {
    return value == VI_TRUE || value == VI_FALSE;
}

}  // namespace

ViStatus IoSettings::set(ViAttr attr, ViAttrState value) {
    switch (attr) {
    case VI_ATTR_TMO_VALUE:
        if (value > VI_TMO_INFINITE) return VI_ERROR_NSUP_ATTR_STATE;
        timeoutMs = static_cast<ViUInt32>(value);
        return VI_SUCCESS;
    case VI_ATTR_TERMCHAR:
        if (value > 0xFF) return VI_ERROR_NSUP_ATTR_STATE;
        termChar = static_cast<uint8_t>(value);
        return VI_SUCCESS;
    case VI_ATTR_TERMCHAR_EN:
        if (!isBoolean(value)) return VI_ERROR_NSUP_ATTR_STATE;
        termCharEnabled = value == VI_TRUE;
        return VI_SUCCESS;
    case VI_ATTR_SEND_END_EN:
        if (!isBoolean(value)) return VI_ERROR_NSUP_ATTR_STATE;
        sendEnd = value == VI_TRUE;
        return VI_SUCCESS;
    default: return VI_ERROR_NSUP_ATTR;
    }
}

ViStatus IoSettings::get(ViAttr attr, void *value) const {
    switch (attr) {
    case VI_ATTR_TMO_VALUE: put<ViUInt32>(value, timeoutMs); return VI_SUCCESS;
    case VI_ATTR_TERMCHAR: put<uint8_t>(value, termChar); return VI_SUCCESS;
    case VI_ATTR_TERMCHAR_EN: put<ViUInt16>(value, termCharEnabled); return VI_SUCCESS;
    case VI_ATTR_SEND_END_EN: put<ViUInt16>(value, sendEnd); return VI_SUCCESS;
    default: return VI_ERROR_NSUP_ATTR;
    }
}

ViStatus SerialSettings::set(ViAttr attr, ViAttrState value) {
    auto assign = [value](auto &field, bool valid) {
        if (!valid) return VI_ERROR_NSUP_ATTR_STATE;
        field = static_cast<std::remove_reference_t<decltype(field)>>(value);
        return VI_SUCCESS;
    };
    switch (attr) {
    case VI_ATTR_ASRL_BAUD: return assign(baud, value > 0 && value <= 0xFFFFFFFFu);
    case VI_ATTR_ASRL_DATA_BITS: return assign(dataBits, value >= 5 && value <= 8);
    case VI_ATTR_ASRL_PARITY: return assign(parity, value <= VI_ASRL_PAR_SPACE);
    case VI_ATTR_ASRL_STOP_BITS:
        return assign(stopBits, value == VI_ASRL_STOP_ONE || value == VI_ASRL_STOP_ONE5 ||
                                    value == VI_ASRL_STOP_TWO);
    case VI_ATTR_ASRL_FLOW_CNTRL:
        return assign(flowControl, value <= (VI_ASRL_FLOW_XON_XOFF | VI_ASRL_FLOW_RTS_CTS |
                                             VI_ASRL_FLOW_DTR_DSR));
    case VI_ATTR_ASRL_END_IN: return assign(endIn, value <= VI_ASRL_END_TERMCHAR);
    case VI_ATTR_ASRL_END_OUT: return assign(endOut, value <= VI_ASRL_END_BREAK);
    default: return VI_ERROR_NSUP_ATTR;
    }
}

ViStatus SerialSettings::get(ViAttr attr, void *value) const {
    switch (attr) {
    case VI_ATTR_ASRL_BAUD: put<ViUInt32>(value, baud); return VI_SUCCESS;
    case VI_ATTR_ASRL_DATA_BITS: put<ViUInt16>(value, dataBits); return VI_SUCCESS;
    case VI_ATTR_ASRL_PARITY: put<ViUInt16>(value, parity); return VI_SUCCESS;
    case VI_ATTR_ASRL_STOP_BITS: put<ViUInt16>(value, stopBits); return VI_SUCCESS;
    case VI_ATTR_ASRL_FLOW_CNTRL: put<ViUInt16>(value, flowControl); return VI_SUCCESS;
    case VI_ATTR_ASRL_END_IN: put<ViUInt16>(value, endIn); return VI_SUCCESS;
    case VI_ATTR_ASRL_END_OUT: put<ViUInt16>(value, endOut); return VI_SUCCESS;
    default: return VI_ERROR_NSUP_ATTR;
    }
}

ViStatus checkFlushMask(ViUInt16 mask) {
    if (mask == 0 || (mask & ~0xFFu) != 0) return VI_ERROR_INV_MASK;
    if ((mask & VI_READ_BUF) && (mask & VI_READ_BUF_DISCARD)) return VI_ERROR_INV_MASK;
    if ((mask & VI_WRITE_BUF) && (mask & VI_WRITE_BUF_DISCARD)) return VI_ERROR_INV_MASK;
    if ((mask & VI_IO_IN_BUF) && (mask & VI_IO_IN_BUF_DISCARD)) return VI_ERROR_INV_MASK;
    if ((mask & VI_IO_OUT_BUF) && (mask & VI_IO_OUT_BUF_DISCARD)) return VI_ERROR_INV_MASK;
    return VI_SUCCESS;
}

bool flushesInput(ViUInt16 mask) {
    return (mask & (VI_READ_BUF | VI_READ_BUF_DISCARD | VI_IO_IN_BUF | VI_IO_IN_BUF_DISCARD)) != 0;
}

}  // namespace korvax::visa
