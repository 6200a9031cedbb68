// The rings without a device: the output ring's rotation into one piece, its free-space
// rules, and the input side's empty-ring result.
#include "serial/ErrorCodes.h"
#include "tests/serial/dispatch/DispatcherProbe.h"

#include <gtest/gtest.h>

#include <numeric>
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
