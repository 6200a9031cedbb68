// The rings without a device: the output ring's rotation into one piece, its free-space
// rules, what a queued block keeps and records; the input ring's contract (fill, scan,
// take, purge and the dispatch's peeks, around the ring's end) and its empty-ring result.
#include "platform/CommDevice.h"
#include "serial/ErrorCodes.h"
#include "serial/dispatch/InputRing.h"
#include "tests/serial/dispatch/DispatcherProbe.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

namespace orvi::testing {
namespace {

constexpr uint32_t kOutSize = 16;

class OutRingTest : public ::testing::Test {
protected:
    void SetUp() override { probe.AllocateRings(64, kOutSize); }

    // Fills the ring so that byte values equal their age: the oldest pending byte is 1.
    void FillPending(uint32_t head, uint32_t tail, bool full) {
        probe.SetOutIndexes(head, tail, full);
        uint32_t pending = probe.Rings().OutRingFull ? kOutSize
                           : tail <= head            ? head - tail
                                                     : kOutSize + head - tail;
        for (uint32_t i = 0; i < pending; ++i)
            probe.OutBytes()[(tail + i) % kOutSize] = uint8_t(i + 1);
    }

    std::vector<uint8_t> Piece(uint32_t length) {
        const uint8_t* start = probe.OutBytes() + probe.Rings().OutTail;
        return {start, start + length};
    }

    static std::vector<uint8_t> Ages(uint32_t n) {
        std::vector<uint8_t> v(n);
        std::iota(v.begin(), v.end(), uint8_t(1));
        return v;
    }

    DispatcherProbe probe;
};

TEST_F(OutRingTest, ContiguousPendingBytesNeedNoRotation) {
    FillPending(10, 3, false);
    EXPECT_EQ(probe.MakeContiguous(), 7u);
    EXPECT_EQ(probe.Rings().OutTail, 3u);
    EXPECT_EQ(Piece(7), Ages(7));
}

TEST_F(OutRingTest, PendingBytesUpToTheEndAreOnePiece) {
    FillPending(0, 12, false);
    EXPECT_EQ(probe.MakeContiguous(), 4u);
    EXPECT_EQ(Piece(4), Ages(4));
}

TEST_F(OutRingTest, WrappedBytesAreRotatedIntoOnePieceFromTheStart) {
    FillPending(5, 12, false); // 4 older bytes at the end, 5 newer at the start
    EXPECT_EQ(probe.MakeContiguous(), 9u);
    const RingState rings = probe.Rings();
    EXPECT_EQ(rings.OutTail, 0u);
    EXPECT_EQ(rings.OutHead, 9u);
    EXPECT_EQ(Piece(9), Ages(9));
    probe.AdvanceOut(9);
    EXPECT_EQ(probe.Rings().OutHead, 0u);
    EXPECT_EQ(probe.Rings().OutTail, 0u);
}

TEST_F(OutRingTest, FullRingWithEqualIndexesIsRotatedIntoOneWholePiece) {
    FillPending(7, 7, true);
    EXPECT_EQ(probe.MakeContiguous(), kOutSize);
    EXPECT_EQ(Piece(kOutSize), Ages(kOutSize));
    probe.AdvanceOut(kOutSize);
    const RingState rings = probe.Rings();
    EXPECT_FALSE(rings.OutRingFull);
    EXPECT_EQ(rings.OutHead, 0u);
    EXPECT_EQ(rings.OutTail, 0u);
}

TEST_F(OutRingTest, EmptyRingHasNothingToSend) {
    FillPending(4, 4, false);
    EXPECT_EQ(probe.MakeContiguous(), 0u);
}

TEST_F(OutRingTest, PartialSendLeavesTheRestPending) {
    FillPending(0, 0, true);
    EXPECT_EQ(probe.MakeContiguous(), kOutSize);
    probe.AdvanceOut(6);
    EXPECT_FALSE(probe.Rings().OutRingFull);
    EXPECT_EQ(probe.MakeContiguous(), kOutSize - 6);
}

TEST_F(OutRingTest, BlockOfExactlyTheFreeSpaceFillsTheRingAndOneMoreIsRejected) {
    const std::vector<uint8_t> block(kOutSize, 0xA5);
    EXPECT_EQ(probe.QueueBlock(block.data(), kOutSize - 1), ecOK);
    EXPECT_EQ(probe.QueueBlock(block.data(), 2), ecOutputBufferTooSmall);
    EXPECT_FALSE(probe.Rings().OutRingFull);
    EXPECT_EQ(probe.QueueBlock(block.data(), 1), ecOK);
    EXPECT_TRUE(probe.Rings().OutRingFull);
    EXPECT_EQ(probe.OutputUsed(), kOutSize);
    EXPECT_EQ(probe.OutputFree(), 0u);
}

TEST_F(OutRingTest, QueuedBlockWrapsAroundTheRingEnd) {
    FillPending(12, 12, false);
    const std::vector<uint8_t> block = {1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(probe.QueueBlock(block.data(), uint32_t(block.size())), ecOK);
    EXPECT_EQ(probe.Rings().OutHead, 3u);
    EXPECT_EQ(probe.MakeContiguous(), 7u);
    EXPECT_EQ(Piece(7), block);
}

TEST_F(OutRingTest, EmptyBlockIsAcceptedAndQueuesNothing) {
    EXPECT_EQ(probe.QueueBlock(nullptr, 0), ecOK);
    EXPECT_EQ(probe.OutputUsed(), 0u);
}

TEST_F(OutRingTest, RingsReportTheOutputRingSizeAndPurgesInTheirOwnFields) {
    EXPECT_EQ(probe.Rings().OutQueueSize, kOutSize);
    EXPECT_EQ(probe.Rings().OutPurges, 0u);
    probe.PurgeOutput(); // no device: only the ring is emptied
    EXPECT_EQ(probe.Rings().OutPurges, 1u);
    EXPECT_EQ(probe.Rings().OutQueueSize, kOutSize);
}

// A queued block keeps the line errors not yet taken; a block the device layer refused
// is reported, leaves nothing pending and is recorded as no bytes sent.
TEST_F(OutRingTest, QueuedBlockKeepsPendingLineErrorsAndAFailedOneRecordsNothingSent) {
    const uint8_t block[3] = {1, 2, 3};
    probe.SetLineErrors(platform::ce::Frame | platform::ce::Break);
    EXPECT_EQ(probe.QueueBlock(block, 3), ecOK);
    EXPECT_EQ(probe.LineErrors(), platform::ce::Frame | platform::ce::Break);

    TempDir dir;
    const std::string trace = dir.FilePath("failed.trc");
    ASSERT_EQ(probe.TraceLog().TraceStart(100), ecOK);
    probe.AdvanceOut(3);
    probe.WriteResult = ecDeviceWriteError;
    EXPECT_EQ(probe.QueueBlock(block, 3), ecPutBlockFail);
    EXPECT_EQ(probe.OutputUsed(), 0u);
    EXPECT_FALSE(probe.Rings().OutRingFull);
    EXPECT_EQ(probe.LineErrors(), platform::ce::Frame | platform::ce::Break);
    // Nothing was traced as sent, so the trace writes no file.
    EXPECT_EQ(probe.TraceLog().TraceWrite(trace, false, true, false), ecOK);
    EXPECT_FALSE(std::filesystem::exists(trace));
}

// Byte number k since the ring was allocated.
uint8_t Nth(uint64_t k) {
    return uint8_t(k % 251);
}

// The input ring driven as the worker, the triggers and the takers drive it, from a start
// near the ring's end so that fills and takes wrap. Taken bytes must be the filled ones in
// order, those behind a purge excepted.
class InputRingTable : public ::testing::Test {
protected:
    void SetUp() override {
        ring.Allocate();
        Fill(kInRingSize - 2);
        ring.Scan([](uint8_t) { return false; });
        ASSERT_TRUE(Take(kInRingSize - 2));
    }

    void Fill(uint32_t n) {
        const TInputRing::Space space = ring.FreeSpace();
        ASSERT_LE(n, space.first + space.second);
        for (uint32_t i = 0; i < n; ++i)
            (i < space.first ? space.at[i] : ring.Data()[i - space.first]) = Nth(filled + i);
        ring.CommitFill(n);
        filled += n;
    }
    bool Take(uint32_t n) {
        std::vector<uint8_t> got(n);
        if (!ring.Take(got.data(), n))
            return false;
        for (uint32_t i = 0; i < n; ++i)
            EXPECT_EQ(got[i], Nth(taken + i)) << "byte " << taken + i;
        taken += n;
        return true;
    }

    int roomCalls = 0;
    TInputRing ring{[this] { ++roomCalls; }};
    uint64_t filled = 0, taken = 0;
};

TEST_F(InputRingTable, FillScanTakeAndPurgeAroundTheEnd) {
    struct Step {
        const char* what;
        char op;    // f fill, s scan (n bytes, 0 all), t take, p purge, a scan all
        uint32_t n; //
        bool ok;    // take: taken
        uint32_t waiting, visible, head, tail;
        bool needsRoom;
        int roomCalls;
    };
    constexpr uint32_t E = kInRingSize - 2; // where the table starts
    const Step steps[] = {
        {"a fill wraps", 'f', 5, true, 5, 0, 3, E, false, 0},
        {"unscanned bytes are not takeable", 't', 1, false, 5, 0, 3, E, false, 0},
        {"a scan stops where its feed says", 's', 2, true, 5, 2, 3, E, false, 0},
        {"no more than the scanned are takeable", 't', 3, false, 5, 2, 3, E, false, 0},
        {"scan the rest", 's', 0, true, 5, 5, 3, E, false, 0},
        {"a take wraps", 't', 5, true, 0, 0, 3, 3, false, 0},
        {"a full ring needs room", 'f', kInRingSize, true, kInRingSize, 0, 3, 3, true, 0},
        {"scanned whole", 's', 0, true, kInRingSize, kInRingSize, 3, 3, true, 0},
        {"less than half taken asks for nothing", 't', 4095, true, 4097, 4097, 3, 4098, true, 0},
        {"half free asks for a fill once", 't', 1, true, 4096, 4096, 3, 4099, false, 1},
        {"more filled, unscanned", 'f', 100, true, 4196, 4096, 103, 4099, false, 1},
        {"a purge drops scanned and unscanned", 'p', 0, true, 0, 0, 103, 103, false, 1},
        {"bytes after the purge", 'f', 3, true, 3, 0, 106, 103, false, 1},
        {"scan all (the worker ended)", 'a', 0, true, 3, 3, 106, 103, false, 1},
        {"are taken", 't', 3, true, 0, 0, 106, 106, false, 1},
    };
    for (const Step& st : steps) {
        SCOPED_TRACE(st.what);
        switch (st.op) {
        case 'f':
            Fill(st.n);
            break;
        case 's': {
            uint32_t fed = 0;
            ring.Scan([&](uint8_t byte) {
                EXPECT_EQ(byte, Nth(taken + ring.Visible() - 1));
                return ++fed == st.n;
            });
            break;
        }
        case 'a':
            ring.ScanAll();
            break;
        case 't':
            EXPECT_EQ(Take(st.n), st.ok);
            break;
        case 'p':
            ring.Purge();
            taken = filled;
            break;
        }
        EXPECT_EQ(ring.Waiting(), st.waiting);
        EXPECT_EQ(ring.Visible(), st.visible);
        EXPECT_EQ(ring.Count(), st.visible);
        EXPECT_EQ(ring.VisibleHint(), st.visible);
        EXPECT_EQ(ring.Head(), st.head);
        EXPECT_EQ(ring.Tail(), st.tail);
        EXPECT_EQ(ring.Full(), st.waiting == kInRingSize);
        EXPECT_EQ(ring.NeedsRoom(), st.needsRoom);
        EXPECT_EQ(roomCalls, st.roomCalls);
    }
}

// A dispatch: every handler peeks from the same byte, below the dispatch's end; the ring
// then advances by the most one took. A peek sees what a take would take, and another
// thread sees nothing. A purge in a dispatch drops everything at once and for good: the
// handlers get nothing more, and neither the dispatch's end (completed or aborted, as
// when a handler raised) nor the worker's end brings a byte back or consumes one that
// came after it. An aborted dispatch leaves the bytes; a hold keeps takers off.
TEST_F(InputRingTable, DispatchPeeksFromTheSameByteAndConsumesTheMost) {
    Fill(10);
    ring.Scan([](uint8_t) { return false; });
    ring.BeginDispatch(true, ring.Scanned() - 2);
    ring.StartHandler();
    uint8_t got[8], peeked = 0;
    ASSERT_TRUE(ring.Take(got, 3));
    EXPECT_EQ(ring.Count(), 5u);
    ASSERT_TRUE(ring.PeekAt(1, peeked));
    EXPECT_EQ(peeked, Nth(taken + 3)); // the byte the next take gives
    ASSERT_TRUE(ring.PeekAt(5, peeked));
    EXPECT_EQ(peeked, Nth(taken + 7));
    EXPECT_FALSE(ring.PeekAt(6, peeked)); // past the dispatch's end
    EXPECT_FALSE(ring.Take(got, 6));
    std::thread([&] {
        EXPECT_EQ(ring.Count(), 0u);
        EXPECT_FALSE(ring.PeekAt(1, peeked)) << "another thread peeked in a dispatch";
    }).join();
    ring.EndHandler();
    ring.StartHandler();
    ASSERT_TRUE(ring.Take(got, 4));
    EXPECT_EQ(got[0], Nth(taken)); // the same first byte again
    EXPECT_EQ(got[3], Nth(taken + 3));
    ring.EndHandler();
    EXPECT_EQ(ring.Waiting(), 10u); // peeked, not consumed
    EXPECT_EQ(ring.EndDispatch(true), 4u);
    taken += 4;
    EXPECT_EQ(ring.Waiting(), 6u);
    EXPECT_TRUE(Take(1));

    for (const bool completed : {true, false}) {
        SCOPED_TRACE(completed ? "completed" : "aborted");
        Fill(5);
        ring.Scan([](uint8_t) { return false; });
        ring.BeginDispatch(true, ring.Scanned());
        ring.StartHandler();
        ASSERT_TRUE(ring.Take(got, 2));
        ring.Purge();
        taken = filled;
        EXPECT_EQ(ring.Waiting(), 0u);
        EXPECT_EQ(ring.Count(), 0u);
        EXPECT_FALSE(ring.Take(got, 1));
        EXPECT_FALSE(ring.PeekAt(1, peeked)) << "a purged byte was peeked";
        ring.EndHandler();
        Fill(3); // arrives after the purge, during the dispatch
        ring.EndDispatch(completed);
        ring.ScanAll(); // as the dispatcher worker's end does
        EXPECT_EQ(ring.Waiting(), 3u);
        EXPECT_TRUE(Take(3));
    }

    Fill(4);
    ring.Scan([](uint8_t) { return false; });
    ring.BeginDispatch(true, ring.Scanned());
    ring.StartHandler();
    ASSERT_TRUE(ring.Take(got, 2));
    ring.EndHandler();
    ring.EndDispatch(false); // aborted: nothing consumed
    EXPECT_EQ(ring.Waiting(), 4u);
    ring.SetHold(true);
    EXPECT_EQ(ring.Count(), 0u);
    EXPECT_FALSE(ring.Take(got, 1));
    ring.SetHold(false);
    EXPECT_TRUE(Take(4));
}

TEST(InRingTest, TakeFromAnEmptyRingFailsAndChangesNothing) {
    DispatcherProbe probe;
    probe.AllocateRings(64, 64);
    uint8_t byte = 0x55;
    EXPECT_EQ(probe.TakeByte(byte), ecBufferIsEmpty);
    EXPECT_EQ(byte, 0x55);
    EXPECT_EQ(probe.InputCount(), 0u);
    EXPECT_EQ(probe.PeekByte(1, byte), ecBufferIsEmpty);
}

TEST(InRingTest, ClosedDispatcherRefusesDataOperations) {
    DispatcherProbe probe;
    uint8_t byte = 0;
    EXPECT_EQ(probe.TakeByte(byte), ecBufferIsEmpty);
    EXPECT_EQ(probe.InputCount(), 0u);
    EXPECT_EQ(probe.QueueBlock(&byte, 1), ecCommNotOpen);
}

} // namespace
} // namespace orvi::testing
