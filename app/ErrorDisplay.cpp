#include "app/ErrorDisplay.h"

#include "serial/ApplicationException.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <new>

namespace orvi::app {

namespace {

TMessageCapture& Capture() {
    static TMessageCapture capture;
    return capture;
}

void Show(TMessageKind kind, const QString& text) {
    const TShownMessage message{kind, ApplicationTitle(), text};
    if (Capture()) {
        Capture()(message);
        return;
    }
    QMessageBox box(kind == TMessageKind::Error ? QMessageBox::Critical : QMessageBox::NoIcon,
                    message.Caption, message.Text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

} // namespace

void SetMessageCapture(TMessageCapture capture) {
    Capture() = std::move(capture);
}

QString ApplicationTitle() {
    return QCoreApplication::applicationName();
}

void ShowMessage(const QString& text) {
    Show(TMessageKind::Plain, text);
}

QString ExceptionText(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Out of memory");
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

QString WithFullStop(const QString& message) {
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

void ShowException(std::exception_ptr error) {
    if (error)
        Show(TMessageKind::Error, WithFullStop(ExceptionText(error)));
}

void InstallStandardErrorDisplay() {
    SetApplicationExceptionDisplay([](std::exception_ptr error) {
        QCoreApplication* const app = QCoreApplication::instance();
        if (app == nullptr)
            std::rethrow_exception(error); // no window to show it in: printed instead
        if (QThread::currentThread() == app->thread()) {
            ShowException(error);
            return;
        }
        // A serial worker: boxes belong to the GUI thread, which shows it at its next pass.
        QMetaObject::invokeMethod(
            app, [error] { ShowException(error); }, Qt::QueuedConnection);
    });
}

} // namespace orvi::app
