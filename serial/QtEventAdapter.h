#pragma once
// Lets Qt's event loop serve the platform message queue of the GUI thread, so that the
// com port component's events (messages to its event window) run on the GUI thread
// while QApplication::exec() runs and while a wait loop calls processEvents().
//
// POSIX: a QSocketNotifier watches the queue's wake descriptor and drains the queue
// when it becomes readable. Windows: the system's message queue is the one Qt already
// serves, so the adapter does nothing there.
//
// Threads: create it on the GUI thread after the QApplication; it lives there.
#include <QObject>

class QSocketNotifier;

namespace orvi {

class QtEventAdapter : public QObject {
    Q_OBJECT

public:
    explicit QtEventAdapter(QObject* parent = nullptr);
    ~QtEventAdapter() override;

    // False once a quit request was found in the queue (it stays queued there for the
    // thread's own loop, so watching further would only spin), and on Windows.
    bool Watching() const;

private:
    void Drain();

    QSocketNotifier* notifier_ = nullptr; // owned by this object (Qt parent)
};

} // namespace orvi
