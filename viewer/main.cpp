// orvi_viewer: the trend viewer of the console's data logs (see UsageText for the command
// line). The CSV export and the statistics run without Qt; the picture needs Qt but no
// display.
#include "viewer/CommandLine.h"
#include "viewer/IndexedLog.h"
#include "viewer/OutputFile.h"
#include "viewer/ViewerWindow.h"

#include <QApplication>

#include <iostream>

namespace {

int RunPng(const orvi::viewer::TCommandLine& line, int argc, char** argv) {
    if (const int refused = orvi::viewer::CheckOutputIsNotLog(line, std::cerr))
        return refused;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen"); // no display needed for a picture
    QApplication app(argc, argv);
    const auto log = orvi::viewer::LoadForCommandLine(line.File, std::cerr);
    if (!log)
        return orvi::viewer::kExitUnreadable;
    orvi::viewer::TTrendChart chart;
    chart.resize(line.Width, line.Height);
    chart.SetLog(log.get(), orvi::viewer::ParseDateName(line.File));
    const QPixmap picture = chart.grab();
    std::string error;
    const bool saved = orvi::viewer::WriteReplacing(
        line.Output,
        [&](const std::string& temporary, std::string& why) {
            why = "the picture could not be saved";
            return picture.save(QString::fromLocal8Bit(temporary.c_str()), "PNG");
        },
        error);
    if (!saved) {
        std::cerr << "orvi_viewer: cannot write " << line.Output << ": " << error << '\n';
        return orvi::viewer::kExitUnreadable;
    }
    return orvi::viewer::kExitOk;
}

} // namespace

int main(int argc, char** argv) {
    using orvi::viewer::TCommandLine;
    TCommandLine line;
    std::string error;
    if (!orvi::viewer::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), line,
                                        error)) {
        std::cerr << "orvi_viewer: " << error << "\n\n" << orvi::viewer::UsageText();
        return orvi::viewer::kExitUsage;
    }
    int qtArgc = 1; // the arguments are ours, not Qt's
    switch (line.Mode) {
    case TCommandLine::TMode::Help:
        std::cout << orvi::viewer::UsageText();
        return orvi::viewer::kExitOk;
    case TCommandLine::TMode::Csv:
        return orvi::viewer::RunCsv(line, std::cerr);
    case TCommandLine::TMode::Stats:
        return orvi::viewer::RunStats(line, std::cout, std::cerr);
    case TCommandLine::TMode::Png:
        return RunPng(line, qtArgc, argv);
    case TCommandLine::TMode::Window:
        break;
    }
    QApplication app(qtArgc, argv);
    orvi::viewer::TViewerWindow::LoadQtTranslations(); // Qt's dialogs speak Russian too
    orvi::viewer::TViewerWindow window;
    window.show();
    if (!line.File.empty())
        window.OpenFile(QString::fromLocal8Bit(line.File.c_str()));
    return app.exec();
}
