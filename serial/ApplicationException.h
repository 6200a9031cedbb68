#pragma once
// The application's exception display: where an exception goes that no caller can
// receive (one raised by an event handler inside the event window, or by opening the
// port at the end of loading). One replaceable hook for the whole program; the console
// installs its standard error box, tests install a recorder. The default writes the
// message to stderr.
//
// Threads: the hook may be replaced and called from any thread; a call runs the hook
// that was installed when the call began.
#include <exception>
#include <functional>

namespace orvi {

// Never raises: an exception raised by the display itself is written to stderr.
void ShowApplicationException(std::exception_ptr error) noexcept;
// An empty display restores the default.
void SetApplicationExceptionDisplay(std::function<void(std::exception_ptr)> display);

// True on the thread that started the program (the one that ran static initialisation).
bool IsMainThread();

} // namespace orvi
