#include "platform/MessageTarget.h"

#include "platform/Event.h"

#include <windows.h>

#include <cstring>
#include <exception>
#include <memory>
#include <utility>

namespace orvi::platform {

// A target is a message-only window of the class "ovComWindow" (message-only windows
// need no desktop, so they also work on a headless system). The window's
// GWLP_USERDATA holds the target's procedure. System messages (below WM_USER) get the
// default window handling; the target's procedure receives the application's messages.

namespace {

constexpr char kClassName[] = "ovComWindow";

using Procedure = std::shared_ptr<const WindowProcedure>;

// Messages that reached a procedure on this thread, so that ProcessOneMessage can tell
// that PeekMessageA dispatched a sent message inside itself.
thread_local uint64_t tDelivered = 0;
// An exception a procedure raised inside a system call; rethrown once the call returned,
// since it must not unwind through the system's frames.
thread_local std::exception_ptr tRaised;
// RunningSentMessageTarget.
thread_local WindowHandle tSentTarget = 0;

LRESULT CALLBACK ForwardToTarget(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* slot = reinterpret_cast<Procedure*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (slot == nullptr || msg < WM_USER)
        return DefWindowProcA(window, msg, wParam, lParam);
    const Procedure procedure = *slot; // the procedure may destroy its own window
    ++tDelivered;
    const WindowHandle outer = tSentTarget;
    if (InSendMessage())
        tSentTarget = reinterpret_cast<WindowHandle>(window);
    LRESULT result = 0;
    try {
        result = LRESULT((*procedure)(msg, wParam, lParam));
    } catch (...) {
        if (!tRaised)
            tRaised = std::current_exception();
    }
    tSentTarget = outer;
    return result;
}

void RethrowRaised() {
    if (tRaised)
        std::rethrow_exception(std::exchange(tRaised, nullptr));
}

bool RegisterClassOnce() {
    static const bool registered = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = ForwardToTarget;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kClassName;
        return RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

// Only windows of our class are targets: this keeps HWND_BROADCAST and foreign windows
// out of reach of a stray handle.
HWND TargetWindow(WindowHandle target) {
    const HWND window = reinterpret_cast<HWND>(target);
    if (target == 0 || window == HWND_BROADCAST || !IsWindow(window))
        return nullptr;
    char name[sizeof kClassName + 1] = {};
    if (GetClassNameA(window, name, int(sizeof name)) == 0 || std::strcmp(name, kClassName) != 0)
        return nullptr;
    return window;
}

DWORD Remaining(uint32_t waitMs, ULONGLONG start) {
    if (waitMs == kInfinite)
        return INFINITE;
    const ULONGLONG elapsed = GetTickCount64() - start;
    return elapsed >= waitMs ? 0 : DWORD(waitMs - elapsed);
}

// Dispatches a posted message; a quit request is posted again and reported.
bool Dispatch(const MSG& message, bool* quit) {
    if (message.message == WM_QUIT) {
        PostQuitMessage(int(message.wParam));
        if (quit != nullptr)
            *quit = true;
        return false;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
    return true;
}

} // namespace

MessageTarget::MessageTarget(WindowProcedure procedure) {
    if (!procedure || !RegisterClassOnce())
        return;
    auto slot =
        std::make_unique<Procedure>(std::make_shared<const WindowProcedure>(std::move(procedure)));
    const HWND window = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        GetModuleHandleA(nullptr), nullptr);
    if (window == nullptr)
        return;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(slot.release()));
    handle_ = reinterpret_cast<WindowHandle>(window);
}

MessageTarget::~MessageTarget() {
    if (handle_ == 0)
        return;
    const HWND window = reinterpret_cast<HWND>(handle_);
    auto* slot = reinterpret_cast<Procedure*>(SetWindowLongPtrA(window, GWLP_USERDATA, 0));
    DestroyWindow(window);
    delete slot;
}

bool PostMessageTo(WindowHandle target, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    const HWND window = TargetWindow(target);
    return window != nullptr && PostMessageA(window, msg, wParam, lParam) != 0;
}

bool SendMessageWithTimeout(WindowHandle target, uint32_t msg, uintptr_t wParam, intptr_t lParam,
                            uint32_t timeoutMs, intptr_t* result) {
    const HWND window = TargetWindow(target);
    if (window == nullptr)
        return false;
    DWORD_PTR answer = 0;
    const LRESULT sent =
        SendMessageTimeoutA(window, msg, wParam, lParam, SMTO_BLOCK, timeoutMs, &answer);
    RethrowRaised(); // a send to our own window runs the procedure on this thread
    if (sent == 0)
        return false;
    if (result != nullptr)
        *result = intptr_t(answer);
    return true;
}

bool ProcessOneMessage(uint32_t waitMs, bool* quit) {
    if (quit != nullptr)
        *quit = false;
    const uint64_t delivered = tDelivered;
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        MSG message{};
        // Sent messages are dispatched inside PeekMessageA; it returns posted ones.
        if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            const bool dispatched = Dispatch(message, quit);
            RethrowRaised();
            return dispatched;
        }
        RethrowRaised();
        if (tDelivered != delivered)
            return true;
        const DWORD left = Remaining(waitMs, start);
        if (left == 0)
            return false;
        MsgWaitForMultipleObjectsEx(0, nullptr, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

void PostQuitMessageToThread(int exitCode) {
    PostQuitMessage(exitCode);
}

intptr_t ThreadQueueWakeHandle() {
    return 0;
}

bool IsOwnedByCallingThread(WindowHandle target) {
    const HWND window = TargetWindow(target);
    return window != nullptr && GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

WindowHandle RunningSentMessageTarget() {
    return tSentTarget;
}

} // namespace orvi::platform
