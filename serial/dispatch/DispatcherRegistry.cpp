#include "serial/dispatch/DispatcherRegistry.h"

#include <vector>

namespace orvi::DispatcherRegistry {

namespace {
std::vector<TOrvBaseDispatcher*>& Slots() {
    static std::vector<TOrvBaseDispatcher*> slots;
    return slots;
}
} // namespace

std::recursive_mutex& RegistryLock() {
    static std::recursive_mutex lock;
    return lock;
}

int32_t Register(TOrvBaseDispatcher* dispatcher) {
    std::lock_guard lock(RegistryLock());
    auto& slots = Slots();
    for (size_t i = 0; i < slots.size(); ++i) {
        if (!slots[i]) {
            slots[i] = dispatcher;
            return int32_t(i);
        }
    }
    slots.push_back(dispatcher);
    return int32_t(slots.size() - 1);
}

void Unregister(int32_t handle) {
    std::lock_guard lock(RegistryLock());
    auto& slots = Slots();
    if (handle < 0 || size_t(handle) >= slots.size())
        return;
    slots[size_t(handle)] = nullptr;
    while (!slots.empty() && !slots.back())
        slots.pop_back();
}

TOrvBaseDispatcher* Find(int32_t handle) {
    std::lock_guard lock(RegistryLock());
    auto& slots = Slots();
    if (handle < 0 || size_t(handle) >= slots.size())
        return nullptr;
    return slots[size_t(handle)];
}

int32_t SlotCount() {
    std::lock_guard lock(RegistryLock());
    return int32_t(Slots().size());
}

} // namespace orvi::DispatcherRegistry
