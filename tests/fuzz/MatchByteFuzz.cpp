// Feeds arbitrary byte streams to data triggers with arbitrary sequences and starting
// match slots, and checks that every reported match ends a true occurrence of the
// sequence in the stream (case-folded when the trigger ignores case). Address
// sanitizer reports any access outside the trigger record.
#include "serial/dispatch/Triggers.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

uint8_t Fold(uint8_t byte, bool ignoreCase) {
    return ignoreCase ? uint8_t(std::toupper(byte)) : byte;
}

bool EndsWithSequence(const uint8_t* stream, size_t end, const orvi::TDataTrigger& t) {
    const auto length = size_t(t.Length);
    if (end + 1 < length)
        return false;
    const size_t start = end + 1 - length;
    for (size_t i = 0; i < length; ++i)
        if (Fold(stream[start + i], t.IgnoreCase != 0) != t.Sequence[i])
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 + sizeof(int32_t) * 22)
        return 0;
    orvi::TDataTrigger t{};
    t.Length = 1 + data[0] % orvi::kMaxDataTriggerLength;
    t.IgnoreCase = data[1] & 1;
    data += 2;
    size -= 2;
    // Arbitrary starting slots, as a corrupted or restored record could hold.
    std::memcpy(t.Slots, data, sizeof t.Slots);
    for (auto& slot : t.Slots)
        slot = slot < 0 ? 0 : slot % (t.Length + 2);
    data += sizeof t.Slots;
    size -= sizeof t.Slots;
    if (size < size_t(t.Length))
        return 0;
    for (int32_t i = 0; i < t.Length; ++i)
        t.Sequence[i] = Fold(data[i], t.IgnoreCase != 0);
    data += t.Length;
    size -= size_t(t.Length);

    // Matches are only judged once the starting slots can no longer carry a partial
    // match from before the stream began.
    for (size_t i = 0; i < size; ++i) {
        const bool matched = orvi::MatchByte(t, data[i]);
        if (matched && i + 1 >= size_t(t.Length) && !EndsWithSequence(data, i, t))
            std::abort();
    }
    return 0;
}
