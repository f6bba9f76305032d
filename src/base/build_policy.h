// What the Linux shared library and KORVAX.dll do differently, in one place.
//
// Both deliveries are built from the same sources. Where their behaviour has
// to differ (the Windows driver's users depend on what it has always done),
// an operation asks BuildPolicy with an `if constexpr`, so the other build
// carries no trace of the difference and the shared code stays shared. The
// policy is picked once, here, by the target platform.
#pragma once

#include <cstdint>

#include "KORVAX.h"

namespace korvax {

struct LinuxBuildPolicy {
    // --- discovery and connection ---
    // Resource expression handed to viFindRsrc.
    static constexpr const char *kDiscoveryExpression = "(GPIB|USB|ASRL|TCPIP)?*INSTR";
    // Serial instruments are probed at each of their possible baud rates.
    static constexpr bool kSerialRateProbe = true;
    // Bytes asked for by the one read of the "*IDN?" answer.
    static constexpr uint32_t kIdentityReadMax = 400;
    // The maker's full name is accepted beside "QM".
    static constexpr bool kAcceptFullMakerName = true;
    // The model field is a hexadecimal model code (else a model name or code).
    static constexpr bool kHexModelField = false;
    // Discovery keeps its sessions as the handles; a repeated KORVAX_Connect
    // hands out the same handle. The Windows driver closes each session
    // after identification and opens a fresh one in every KORVAX_Connect.
    static constexpr bool kSessionPerConnect = false;

    // --- library identity ---
    static constexpr char kLibVersion[] = KORVAX_LIB_VERSION;

    // --- helpers and settings ---
    // validIPAddress accepts host 255 of 192.168.1.x.
    static constexpr bool kIpHost255Accepted = false;
    // Smallest chassis serial number KORVAX_SetSN writes.
    static constexpr uint32_t kChassisSerialMin = 10000000;
    // SLEEP(ms) waits the exact milliseconds (else whole seconds only).
    static constexpr bool kMillisecondSleep = false;

    // --- diagnostics ---
    // Usable text size of KORVAX_SelfTest.
    static constexpr uint64_t kSelfTestTextArea = 512;
    // The matrix loop-back of a model whose row says so (the RQ520B) is
    // refused whatever its firmware.
    static constexpr bool kRQ520BWithoutLoopBack = false;

    // --- SCPI front end ---
    // The two 18-entry command tables of the Windows driver (no identity,
    // IP/LAN/GPIB/baud queries); unknown text keeps the parser's answer.
    static constexpr bool kCompactScpiTables = false;
    // ":SYSTem:VERSion?" answers KORVAX_GetDeviceInfo's firmware text.
    static constexpr bool kVersionFromDeviceInfo = false;
    // ":SYSTem:ConTRoL:SET:" makes one KORVAX_SetControlMode call.
    static constexpr bool kDirectControlModeSet = false;
    static constexpr const char *kQueryResetReply = "Reset Success!Please Restart The Application!";
    static constexpr const char *kSetIpReply =
        "Set IP Address Success! Please Restart The Application if Using Manual IP Mode!";
};

struct WindowsBuildPolicy {
    static constexpr const char *kDiscoveryExpression = "(GPIB|USB|ASRL|TCPIP)?*";
    static constexpr bool kSerialRateProbe = false;
    static constexpr uint32_t kIdentityReadMax = 255;
    static constexpr bool kAcceptFullMakerName = false;
    static constexpr bool kHexModelField = true;
    static constexpr bool kSessionPerConnect = true;

    static constexpr char kLibVersion[] = "1.0.1378";

    static constexpr bool kIpHost255Accepted = true;
    static constexpr uint32_t kChassisSerialMin = 1000000;
    static constexpr bool kMillisecondSleep = true;

    static constexpr uint64_t kSelfTestTextArea = 40000;
    static constexpr bool kRQ520BWithoutLoopBack = true;

    static constexpr bool kCompactScpiTables = true;
    static constexpr bool kVersionFromDeviceInfo = true;
    static constexpr bool kDirectControlModeSet = true;
    static constexpr const char *kQueryResetReply = "Reset Success!";
    static constexpr const char *kSetIpReply = "Set IP Address Success!";
};

#if defined(_WIN32)
using BuildPolicy = WindowsBuildPolicy;
#else
using BuildPolicy = LinuxBuildPolicy;
#endif

}  // namespace korvax
