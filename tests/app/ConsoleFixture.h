#pragma once
// The real main window, offscreen, with its message boxes and the port prompt captured and
// a temporary folder for data logs. Simulated devices are made by each test before the
// window, so that the window (and its port) goes first.
#include "app/Controls.h"
#include "app/ErrorDisplay.h"
#include "app/Unit1.h"
#include "platform/PortNames.h"
#include "serial/ComPort.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace orvi::app::test {

inline std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

inline std::vector<std::string> FileLines(const std::string& path) {
    std::vector<std::string> lines;
    const std::string bytes = FileBytes(path);
    size_t at = 0;
    for (size_t end; (end = bytes.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(bytes.substr(at, end - at));
    return lines;
}

// Processes events until `done` holds. The limit only keeps a broken test from hanging.
template <class Pred> bool PumpUntil(Pred done, int limitMs = 15000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs)
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetMessageCapture([this](const TShownMessage& m) { shown.push_back(m); });
        SetPortPrompt([this](bool& ok) {
            ++prompts;
            ok = promptAnswer != 0;
            return promptAnswer;
        });
        ASSERT_TRUE(dir.isValid());
    }

    void TearDown() override {
        form.reset();
        SetMessageCapture({});
        SetPortPrompt({});
        QCoreApplication::processEvents();
    }

    TForm1& MakeForm() {
        form = std::make_unique<TForm1>();
        return *form;
    }

    std::string Path(const char* name) const { return dir.filePath(name).toStdString(); }

    // A tick source that moves on by `step` at every reading.
    void CountTicks(uint32_t first, uint32_t step) {
        form->TickSource = [tick = first, step]() mutable {
            const uint32_t now = tick;
            tick += step;
            return now;
        };
    }

    // Texts of the boxes shown so far.
    std::vector<QString> Texts() const {
        std::vector<QString> texts;
        for (const TShownMessage& m : shown)
            texts.push_back(m.Text);
        return texts;
    }

    QTemporaryDir dir;
    std::vector<TShownMessage> shown;
    int prompts = 0;
    int promptAnswer = 0; // 0: the operator cancels the port prompt
    std::unique_ptr<TForm1> form;
};

} // namespace orvi::app::test
