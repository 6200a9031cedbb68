#pragma once
// The simulated device's answers: which request gets a reply and what the reply
// holds, following a Scenario. No I/O and no clock.
//
// Thread safety: none; the device thread owns its model.
#include "tools/simulator/Protocol.h"
#include "tools/simulator/Scenario.h"

#include <array>
#include <optional>
#include <vector>

namespace orvi::sim {

class DeviceModel {
public:
    explicit DeviceModel(Scenario scenario);

    // The bytes to send for the next request of `kind` (already cut or padded to the
    // scenario's reply length), or nothing when the device keeps silent.
    std::optional<std::vector<uint8_t>> Answer(RequestKind kind);
    // How much later than the scenario's reply delay the last answer is due.
    uint32_t ExtraDelayMs() const { return extraDelayMs_; }

    // The 20-byte reply to request number `n` of a kind, silence aside.
    Reply HousingAt(uint64_t n) const;
    Reply SensorAt(uint64_t n) const;
    Reply FlashAt(uint64_t n) const;

    const Scenario& GetScenario() const { return scenario_; }

private:
    bool Answers(RequestKind kind, uint64_t n) const;
    Reply ReplyAt(RequestKind kind, uint64_t n) const;

    Scenario scenario_;
    std::array<uint64_t, 3> requests_{}; // requests seen so far, by kind
    uint32_t extraDelayMs_ = 0;
};

} // namespace orvi::sim
