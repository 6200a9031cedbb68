#include "platform/Event.h"

#include <windows.h>

namespace orvi::platform {

namespace {
HANDLE AsHandle(intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}
} // namespace

Event::Event(bool manualReset, bool initiallySet)
    : handle_(reinterpret_cast<intptr_t>(
          CreateEventA(nullptr, manualReset ? TRUE : FALSE, initiallySet ? TRUE : FALSE, nullptr))),
      manual_(manualReset) {}

Event::~Event() {
    if (Valid())
        CloseHandle(AsHandle(handle_));
}

bool Event::Valid() const {
    return handle_ != 0;
}

void Event::Set() {
    if (Valid())
        SetEvent(AsHandle(handle_));
}

void Event::Reset() {
    if (Valid())
        ResetEvent(AsHandle(handle_));
}

// A zero-time wait consumes an auto-reset event and leaves a manual-reset one set.
bool Event::TryConsume() {
    return Valid() && WaitForSingleObject(AsHandle(handle_), 0) == WAIT_OBJECT_0;
}

bool Event::Wait(uint32_t timeoutMs) {
    return Valid() && WaitForSingleObject(AsHandle(handle_), timeoutMs) == WAIT_OBJECT_0;
}

int WaitAny(std::initializer_list<Event*> events, uint32_t timeoutMs) {
    HANDLE handles[MAXIMUM_WAIT_OBJECTS];
    DWORD count = 0;
    if (events.size() == 0 || events.size() > MAXIMUM_WAIT_OBJECTS)
        return -1;
    for (Event* e : events) {
        if (e == nullptr || !e->Valid())
            return -1;
        handles[count++] = AsHandle(e->NativeHandle());
    }
    const DWORD r = WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
    if (r >= WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + count)
        return int(r - WAIT_OBJECT_0);
    return -1;
}

} // namespace orvi::platform
