// Test main for widget and console tests: GoogleTest takes its flags, then the QApplication is
// created on this (the GUI) thread before any test runs. Without a display the offscreen
// platform is used. Tests never write into the user's home: HOME and the XDG folders point
// into a temporary folder for the whole run, which is removed at the end.
#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

bool UseTemporaryHome(const QTemporaryDir& home) {
    if (!home.isValid())
        return false;
    const QString runtime = home.filePath(QStringLiteral("runtime"));
    if (!QDir().mkpath(runtime) ||
        !QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return false;
    const struct {
        const char* name;
        const char* folder; // in the temporary home; empty for the home itself
    } variables[] = {{"HOME", ""},
                     {"XDG_CONFIG_HOME", ".config"},
                     {"XDG_CACHE_HOME", ".cache"},
                     {"XDG_DATA_HOME", ".local/share"},
                     {"XDG_STATE_HOME", ".local/state"},
                     {"XDG_RUNTIME_DIR", "runtime"}};
    for (const auto& v : variables) {
        const QString path = *v.folder ? home.filePath(QString::fromUtf8(v.folder)) : home.path();
        qputenv(v.name, QFile::encodeName(path));
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const QTemporaryDir home(QDir::tempPath() + QStringLiteral("/orvi-test-home-XXXXXX"));
    if (!UseTemporaryHome(home))
        return 2;
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
