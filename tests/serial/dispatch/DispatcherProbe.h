#pragma once
// A dispatcher with its protected state reachable, for tests that set up a ring or a
// line-error word directly instead of waiting for a device to produce it.
#include "serial/dispatch/DeviceDispatcher.h"

namespace orvi::testing {

class DispatcherProbe : public TOrvPosixDispatcher {
public:
    DispatcherProbe() : TOrvPosixDispatcher(nullptr) {}
    ~DispatcherProbe() override { Shutdown(); }

    using TOrvBaseDispatcher::AllocateRings;
    using TOrvBaseDispatcher::StopBitCode;
    using TOrvDeviceDispatcher::StartWorkers;

    uint32_t MakeContiguous() {
        std::lock_guard lock(OutLock);
        return MakeContiguousLocked();
    }
    void SetOutIndexes(uint32_t head, uint32_t tail, bool full) {
        std::lock_guard lock(OutLock);
        OutHead = head;
        OutTail = tail;
        OutRingFull = full;
    }
    uint8_t* OutBytes() { return OutRing.get(); }
    void AdvanceOut(uint32_t n) {
        std::lock_guard lock(OutLock);
        AdvanceOutTail(n);
    }
    void SetLineErrors(uint32_t bits) { LineErrors_ = bits; }
    void SetRingSeen() { RingSeen = true; }
};

} // namespace orvi::testing
