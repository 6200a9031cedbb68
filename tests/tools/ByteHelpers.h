#pragma once
// Byte strings for the simulator tests: frames as vectors and several joined into one.
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace orvi::sim::test {

using Bytes = std::vector<uint8_t>;

template <class Frame> Bytes Of(const Frame& f) {
    return Bytes(f.begin(), f.end());
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

} // namespace orvi::sim::test
