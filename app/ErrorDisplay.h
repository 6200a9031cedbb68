#pragma once
// How the console speaks to the operator: the one function for plain message boxes and the
// application's standard error display for exceptions that no handler caught. Both show a
// modal box captioned with the application's title; a test installs a capture instead, and
// the boxes are then recorded, not shown.
//
// GUI thread only, except the installed display, which any thread may call.
#include <QString>
#include <exception>
#include <functional>

namespace orvi::app {

enum class TMessageKind { Plain, Error };

struct TShownMessage {
    TMessageKind Kind = TMessageKind::Plain;
    QString Caption;
    QString Text;
};

using TMessageCapture = std::function<void(const TShownMessage&)>;

// Replaces the boxes by `capture`; an empty function brings the boxes back.
void SetMessageCapture(TMessageCapture capture);

// The application's title: the caption of every box.
QString ApplicationTitle();

// A plain, modal message box with the text as given.
void ShowMessage(const QString& text);

// The text an exception carries ("Out of memory" for the library's allocation failure,
// "Unknown error" for anything that is not a std::exception).
QString ExceptionText(std::exception_ptr error);

// The message with a full stop appended when its last character sorts after ".", so that a
// message ending in "!" or "." keeps its end.
QString WithFullStop(const QString& message);

// The standard error display: a modal error box with ExceptionText and the full-stop rule.
void ShowException(std::exception_ptr error);

// Makes ShowException the display of exceptions that the serial component cannot hand to a
// caller (raised inside its event window, while it loads, or in a worker thread). One that
// arrives on another thread is shown on the GUI thread at its next pass.
void InstallStandardErrorDisplay();

// Runs a handler; what it raises goes to the standard error display and the window stays
// usable.
template <class Handler> void RunHandler(Handler&& handler) noexcept {
    try {
        handler();
    } catch (...) {
        ShowException(std::current_exception());
    }
}

} // namespace orvi::app
