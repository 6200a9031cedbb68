#pragma once
// A dispatcher with its protected state reachable, for tests that set up a ring or a
// line-error word directly instead of waiting for a device to produce it.
#include "serial/dispatch/DeviceDispatcher.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

namespace orvi::testing {

// Holds the dispatcher worker's next device read until released: before it reads the
// device, or (`afterRead`) once it has read and before it returns, as a read that the
// driver ends late does.
class ReadHold {
public:
    void Arm(bool afterRead = false) {
        std::lock_guard l(lock_);
        armed_ = true;
        afterRead_ = afterRead;
        held_ = released_ = false;
    }
    bool WaitHeld() {
        std::unique_lock l(lock_);
        return changed_.wait_for(l, std::chrono::seconds(5), [&] { return held_; });
    }
    void Release() {
        std::lock_guard l(lock_);
        released_ = true;
        changed_.notify_all();
    }
    // On the worker, before and after each read.
    void Pass(bool afterRead) {
        std::unique_lock l(lock_);
        if (!armed_ || afterRead != afterRead_)
            return;
        armed_ = false;
        held_ = true;
        changed_.notify_all();
        changed_.wait(l, [&] { return released_; });
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool armed_ = false, afterRead_ = false, held_ = false, released_ = false;
};

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
        const TInputRing::Space space = inRing_.FreeSpace();
        for (size_t i = 0; i < bytes.size(); ++i)
            (i < space.first ? space.at[i] : inRing_.Data()[i - space.first]) = uint8_t(bytes[i]);
        inRing_.CommitFill(uint32_t(bytes.size()));
    }
    void SetOutputSent() { OutputSent = true; }
    bool RingsAllocated() {
        std::scoped_lock lock(InLock, OutLock);
        return inRing_.Allocated() || OutRing != nullptr;
    }
    using TOrvDeviceDispatcher::Device;
    void SetRingSeen() { RingSeen = true; }
    void SetEventWord(uint32_t word) { EventWord = word; }

    ReadHold Reads;
    std::atomic<int32_t> WriteResult{0};  // what DeviceWrite returns instead of queueing, if not 0
    std::atomic<int> ModemStatusReads{0}; // calls of DeviceModemStatus

protected:
    int32_t DeviceRead(uint8_t* buffer, uint32_t count) override {
        Reads.Pass(false);
        const int32_t n = TOrvPosixDispatcher::DeviceRead(buffer, count);
        Reads.Pass(true);
        return n;
    }
    int32_t DeviceWrite(const uint8_t* data, uint32_t count) override {
        const int32_t result = WriteResult.load();
        return result != 0 ? result : TOrvPosixDispatcher::DeviceWrite(data, count);
    }
    uint32_t DeviceModemStatus() override {
        ++ModemStatusReads;
        return TOrvPosixDispatcher::DeviceModemStatus();
    }
};

} // namespace orvi::testing
