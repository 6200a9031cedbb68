#pragma once
// What the Windows tests need from their surroundings. scripts/wine-tests.sh links the
// pseudo-terminals of Linux-side peers as COM ports of the wine prefix and names their
// numbers in the environment:
//   ORVI_WINE_SIM_PORT      the device simulator (answers a 7-byte request with 20 bytes)
//   ORVI_WINE_ECHO_PORT     sends back every byte it receives
//   ORVI_WINE_SINK_PORT     never reads, so a writer fills the driver and blocks
//   ORVI_WINE_CHATTER_PORT  sends all the time and discards what it receives
//   ORVI_WINE_MISSING_PORT  a number with no device behind it
//   ORVI_WINE_UNPLUG_PORT   echoes, and goes away when it receives "UNPLUG!" (a new
//                           device then takes its place for the next open)
// Tests whose peer is not named are skipped with a message.
#include "platform/MessageTarget.h"
#include "tools/simulator/Protocol.h"

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace orvi::testing {

// The port number a variable names; 0 when it is not set or not a number.
inline int PeerPort(const char* variable) {
    const char* text = std::getenv(variable);
    return text == nullptr ? 0 : std::atoi(text);
}

inline std::string SkipText(const char* variable) {
    return std::string(variable) + " is not set: run the Windows tests through "
                                   "scripts/wine-tests.sh";
}

// Handles this process holds: a failed or completed open must leave the count as it was.
inline DWORD HandleCount() {
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

// CPU time this process has used so far, for checking that nothing spins.
inline double ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& t) {
        return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
}

// Processes this thread's messages until `done` holds. The limit only keeps a broken
// test from hanging.
template <class Pred> bool PumpUntil(Pred done, int limitMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return done();
        platform::ProcessOneMessage(5);
    }
    return true;
}

// A reply of the simulator to the housing request: 20 bytes framed by 0x81, the payload
// length 14, the command code echoed, and a valid CRC-16/MODBUS.
inline bool IsHousingReply(const uint8_t* reply) {
    const uint16_t crc = sim::Crc16Modbus(reply, sim::kReplyLength - 2);
    return reply[0] == sim::kFrameStart && reply[1] == 0x00 && reply[2] == 0x0E &&
           reply[3] == sim::kReadSet && reply[18] == (crc & 0xFF) && reply[19] == (crc >> 8);
}

} // namespace orvi::testing
