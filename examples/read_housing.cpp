#include "platform/MessageTarget.h"
#include "serial/ComPort.h"

#include <chrono>
#include <cstdint>
#include <cstdio>

int main() {
    orvi::TOrvComPort port;
    port.SetComNumber(5);    // "\\.\COM5"; on Linux $ORVI_PORT_DIR/COM5 or /dev/ttyUSB4
    port.SetBaud(19200);
    port.SetAutoOpen(false); // operations on a closed port raise ECommNotOpen
    try {
        port.SetOpen(true);  // EBadId, EAlreadyOpen, ENoPortSelected, ... on failure
        const uint8_t housingRequest[7] = {0x81, 0x00, 0x01, 0x44, 0x06, 0xFA, 0xDC};
        port.SendBlock(housingRequest, sizeof housingRequest);
        // Wait for the reply while serving this thread's messages (the component's
        // events are delivered there).
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (port.InCount() < 20 && std::chrono::steady_clock::now() < limit)
            orvi::platform::ProcessOneMessage(10);
        if (port.InCount() < 20) {
            std::printf("no reply\n");
            return 1;
        }
        std::printf("reply:");
        for (int i = 0; i < 20; ++i)
            std::printf(" %02X", port.GetByte());
        std::printf("\n");
        port.SetOpen(false);
    } catch (const orvi::Exception& e) {
        std::printf("%s\n", e.what());
        return 1;
    }
}
