#include "visa/net/vxi11.h"

namespace korvax::net {

void encode(XdrWriter &out, const portmap::Mapping &m) {
    out.u32(m.program);
    out.u32(m.version);
    out.u32(m.protocol);
    out.u32(m.port);
}

bool decode(XdrReader &in, portmap::Mapping &m) {
    m.program = in.u32();
    m.version = in.u32();
    m.protocol = in.u32();
    m.port = in.u32();
    return in.ok();
}

void encode(XdrWriter &out, const portmap::PortAnswer &m) {
    out.u32(m.port);
}

bool decode(XdrReader &in, portmap::PortAnswer &m) {
    m.port = in.u32();
    return in.ok();
}

void encode(XdrWriter &out, const portmap::AddressQuery &m) {
    out.u32(m.program);
    out.u32(m.version);
    out.string(m.netid);
    out.string(m.address);
    out.string(m.owner);
}

bool decode(XdrReader &in, portmap::AddressQuery &m) {
    m.program = in.u32();
    m.version = in.u32();
    m.netid = in.string(64);
    m.address = in.string(128);
    m.owner = in.string(256);
    return in.ok();
}

void encode(XdrWriter &out, const portmap::AddressAnswer &m) {
    out.string(m.address);
}

bool decode(XdrReader &in, portmap::AddressAnswer &m) {
    m.address = in.string(128);
    return in.ok();
}


void encode(XdrWriter &out, const vxi11::CreateLinkParms &m) {
    out.i32(m.clientId);
    out.boolean(m.lockDevice);
    out.u32(m.lockTimeout);
    out.string(m.device);
}

bool decode(XdrReader &in, vxi11::CreateLinkParms &m) {
    m.clientId = in.i32();
    m.lockDevice = in.boolean();
    m.lockTimeout = in.u32();
    m.device = in.string(vxi11::kMaxDeviceName);
    return in.ok();
}

void encode(XdrWriter &out, const vxi11::CreateLinkResp &m) {
    out.u32(m.error);
    out.u32(m.link);
    out.u32(m.abortPort);
    out.u32(m.maxRecvSize);
}

bool decode(XdrReader &in, vxi11::CreateLinkResp &m) {
    m.error = in.u32();
    m.link = in.u32();
    m.abortPort = in.u32();
    m.maxRecvSize = in.u32();
    return in.ok();
}

void encode(XdrWriter &out, const vxi11::WriteParms &m) {
    out.u32(m.link);
    out.u32(m.ioTimeout);
    out.u32(m.lockTimeout);
    out.u32(m.flags);
    out.opaque(m.data);
}

bool decode(XdrReader &in, vxi11::WriteParms &m) {
    m.link = in.u32();
    m.ioTimeout = in.u32();
    m.lockTimeout = in.u32();
    m.flags = in.u32();
    m.data = in.opaque(vxi11::kMaxData);
    return in.ok();
}

void encode(XdrWriter &out, const vxi11::WriteResp &m) {
    out.u32(m.error);
    out.u32(m.size);
}

bool decode(XdrReader &in, vxi11::WriteResp &m) {
    m.error = in.u32();
    m.size = in.u32();
    return in.ok();
}

void encode(XdrWriter &out, const vxi11::ReadParms &m) {
    out.u32(m.link);
    out.u32(m.requestSize);
    out.u32(m.ioTimeout);
    out.u32(m.lockTimeout);
    out.u32(m.flags);
    out.u32(m.termChar);
}

bool decode(XdrReader &in, vxi11::ReadParms &m) {
    m.link = in.u32();
    m.requestSize = in.u32();
    m.ioTimeout = in.u32();
    m.lockTimeout = in.u32();
    m.flags = in.u32();
    m.termChar = in.u32();
    return in.ok();
}

void encode(XdrWriter &out, const vxi11::ReadResp &m) {
    out.u32(m.error);
    out.u32(m.reason);
    out.opaque(m.data);
}

bool decode(XdrReader &in, vxi11::ReadResp &m, std::size_t maxData) {
    m.error = in.u32();
    m.reason = in.u32();
    m.data = in.opaque(maxData);
    return in.ok();
}

void encode(XdrWriter &out, const vxi11::GenericParms &m) {
    out.u32(m.link);
    out.u32(m.flags);
    out.u32(m.lockTimeout);
    out.u32(m.ioTimeout);
}

bool decode(XdrReader &in, vxi11::GenericParms &m) {
    m.link = in.u32();
    m.flags = in.u32();
    m.lockTimeout = in.u32();
    m.ioTimeout = in.u32();
    return in.ok();
}

void encode(XdrWriter &out, const vxi11::ReadStbResp &m) {
    out.u32(m.error);
    out.u32(m.stb);
}

bool decode(XdrReader &in, vxi11::ReadStbResp &m) {
    m.error = in.u32();
    m.stb = static_cast<uint8_t>(in.u32() & 0xFF);
    return in.ok();
}

void encode(XdrWriter &out, const vxi11::LockParms &m) {
    out.u32(m.link);
    out.u32(m.flags);
    out.u32(m.lockTimeout);
}

bool decode(XdrReader &in, vxi11::LockParms &m) {
    m.link = in.u32();
    m.flags = in.u32();
    m.lockTimeout = in.u32();
    return in.ok();
}

void encode(XdrWriter &out, const vxi11::LinkParms &m) {
    out.u32(m.link);
}

bool decode(XdrReader &in, vxi11::LinkParms &m) {
    m.link = in.u32();
    return in.ok();
}

void encode(XdrWriter &out, const vxi11::ErrorResp &m) {
    out.u32(m.error);
}

bool decode(XdrReader &in, vxi11::ErrorResp &m) {
    m.error = in.u32();
    return in.ok();
}

void encode(XdrWriter &out, const vxi11::DoCmdResp &m) {
    out.u32(m.error);
    out.opaque(m.dataOut);
}

}  // namespace korvax::net
