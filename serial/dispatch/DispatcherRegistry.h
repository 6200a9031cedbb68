#pragma once
// The process-wide list of live dispatchers. A dispatcher's index in the list is its
// handle; trigger messages carry it so that the component's event window can find the
// dispatcher. Guarded by RegistryLock (a function-local static, alive for the program).
#include <cstdint>
#include <mutex>

namespace orvi {

class TOrvBaseDispatcher;

namespace DispatcherRegistry {

std::recursive_mutex& RegistryLock();
// Takes the first empty slot or appends; returns the index.
int32_t Register(TOrvBaseDispatcher* dispatcher);
// Empties the slot, then drops empty slots from the end of the list.
void Unregister(int32_t handle);
// The dispatcher at `handle`, or nullptr. Callers hold RegistryLock while they use it.
TOrvBaseDispatcher* Find(int32_t handle);
// Number of slots, empty ones included.
int32_t SlotCount();

} // namespace DispatcherRegistry
} // namespace orvi
