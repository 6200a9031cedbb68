#include "serial/QtEventAdapter.h"

#include "platform/MessageTarget.h"
#include "serial/ApplicationException.h"

#include <QSocketNotifier>

namespace orvi {

namespace {
// Messages handled per wake-up before Qt gets its loop back: a message that re-posts
// itself (a close waiting for the workers) must not starve Qt's own events.
constexpr int kMaxMessagesPerWake = 64;
} // namespace

QtEventAdapter::QtEventAdapter(QObject* parent) : QObject(parent) {
    const intptr_t wake = platform::ThreadQueueWakeHandle();
    if (wake <= 0)
        return;
    notifier_ = new QSocketNotifier(qintptr(wake), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { Drain(); });
}

QtEventAdapter::~QtEventAdapter() = default;

bool QtEventAdapter::Watching() const {
    return notifier_ != nullptr && notifier_->isEnabled();
}

void QtEventAdapter::Drain() {
    for (int i = 0; i < kMaxMessagesPerWake; ++i) {
        bool quit = false;
        try {
            if (platform::ProcessOneMessage(0, &quit))
                continue;
        } catch (...) {
            // Exceptions must not unwind through Qt's event loop.
            ShowApplicationException(std::current_exception());
            continue;
        }
        if (quit)
            notifier_->setEnabled(false);
        return;
    }
}

} // namespace orvi
