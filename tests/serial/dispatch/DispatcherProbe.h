#pragma once
// A dispatcher with its protected state reachable, for tests that set up a ring or a
// line-error word directly instead of waiting for a device to produce it.
#include "serial/dispatch/DeviceDispatcher.h"

#include <string>

namespace orvi::testing {

class DispatcherProbe : public TOrvPosixDispatcher {
public:
    DispatcherProbe() : TOrvPosixDispatcher(nullptr) {}
    ~DispatcherProbe() override { Shutdown(); }

    using TOrvBaseDispatcher::AllocateRings;
    using TOrvBaseDispatcher::InputRingFull;
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
    // Adds bits as the status refresh does (an atomic or, not under MainLock).
    void AddLineErrors(uint32_t bits) { LineErrors_ |= bits; }
    // Puts bytes into the input ring as the dispatcher worker's fill would (for a
    // dispatcher whose workers do not run).
    void FeedRing(const std::string& bytes) {
        std::lock_guard lock(InLock);
        for (char c : bytes) {
            InRing[InHead] = uint8_t(c);
            InHead = (InHead + 1) % kInRingSize;
            ++InFilled;
        }
        InRingFull = !bytes.empty() && InHead == InTail;
    }
    void SetOutputSent() { OutputSent = true; }
    bool RingsAllocated() {
        std::scoped_lock lock(InLock, OutLock);
        return InRing != nullptr || OutRing != nullptr;
    }
    using TOrvDeviceDispatcher::Device;
    void SetRingSeen() { RingSeen = true; }
};

} // namespace orvi::testing
