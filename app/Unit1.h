#pragma once
// The console's main window. It owns every control, the artificial horizon Gorizont1, the
// serial port component CPort, the file-open dialog and the two timers, and its handlers
// start all of the console's activities: acquisition runs, port search, opening and test,
// log replay and the flash-memory download. Controls keep their layout names and are public,
// like the fields of a form, so that tests can drive the real window.
//
// Threads: a TForm1 lives on the GUI thread and everything in it runs there, the port
// component's events included (served by the Qt event adapter). Nothing is shared with
// another thread, so no field needs a lock. Handlers may run inside one another: the reply
// wait and the flash download process pending events, and the flags below keep those
// handlers from colliding.
//
// The work is split over several files: Unit1.cpp (creation, handlers' wiring, closing),
// Unit1Layout.cpp (controls and their places), Unit1Run.cpp (runs, display, data log),
// Unit1Port.cpp (port search, opening, test), Unit1Replay.cpp (replay) and
// FlashDownload.cpp; the device exchanges are TDeviceExchange's (DeviceExchange.h), the
// run's port opening, poll, log line and ending TAcquisitionRun's (AcquisitionRun.h).
#include "app/AcquisitionRun.h"
#include "app/DataLog.h"
#include "app/DeviceExchange.h"
#include "app/LogReplay.h"
#include "app/MeasurementRecord.h"
#include "app/SensorProtocol.h"
#include "serial/ComPort.h"

#include <QRect>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QFileDialog;
class QLabel;
class QPushButton;
class QTimer;

namespace orvi {
class QtEventAdapter;
namespace widgets {
class TGorizont;
}
} // namespace orvi

namespace orvi::app {

class TBarGauge;
class TLabeledEdit;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // ---- controls, by their layout names ----
    TLabeledEdit *K1M, *K2M, *K3M, *K4M, *T1M, *T2M, *T3M, *T4M; // gauge maxima
    TBarGauge *KK1, *KK2, *KK3, *KK4, *TT1, *TT2, *TT3, *TT4;    // gauges
    QLabel *K1V, *K2V, *K3V, *K4V, *T1V, *T2V, *T3V, *T4V;       // value labels
    QPushButton* Button1;                                        // "Задать"
    TLabeledEdit *LKren, *LTang, *LNullK, *LDelta;               // read-outs
    widgets::TGorizont* Gorizont1;
    QComboBox* PortN; // "COM1" .. "COM32"
    QComboBox* PortS; // line speeds
    QPushButton* OpenPortButton;
    QPushButton* Test;
    QPushButton* FindPortButton;
    QLabel* PortStatusLabel;
    TLabeledEdit* FName;
    QPushButton* Button4; // "Обзор"
    QCheckBox* CheckBox1; // "Имя по дате"
    TLabeledEdit* DTE;    // poll interval, ms
    QCheckBox* LogBox;    // "Писать в файл"
    QPushButton* StartButton;
    QPushButton* FileButton;
    QPushButton* StartFlashButton; // created hidden
    QLabel* Label1;                // "-50C"
    QFileDialog* OpenDialog1;
    QTimer* Timer1;     // polls of a run
    QTimer* file_timer; // replay
    std::unique_ptr<TOrvComPort> CPort;
    // The device exchanges over CPort; its reply wait serves the window's events.
    TDeviceExchange Device;
    // The run shared with orvi_acquire: opening, polls, the data log and the ending; the
    // window drives it from Timer1 and keeps the controls, flags and messages.
    TAcquisitionRun Run;

    // The eight channels in the order housing 1, sensor 1, ..., housing 4, sensor 4.
    std::array<TLabeledEdit*, 8> MaxEdits() const;
    std::array<TBarGauge*, 8> Gauges() const;
    std::array<QLabel*, 8> ValueLabels() const;

    // ---- state ----
    // The exchange's record and reply buffers, under the window's names.
    TMeasurementRecord& Record = Device.Record;
    TReply& HousingReply = Device.HousingReply;
    TReply& SensorReply = Device.SensorReply;
    TReply& FlashReply = Device.FlashReply;
    bool Running = false;
    bool StopRequested = false;
    bool PollBusy = false;
    bool LogToFile = false;
    bool FlashReading = false;
    // The run's data log or the flash dump (the run's Log).
    std::unique_ptr<TDataLog>& OutputFile = Run.Log;
    std::unique_ptr<TLogReader> ReplayFile;
    int32_t ReplayFirstTick = 0;
    uint32_t ReplayStartTick = 0;

    // The system tick counter; tests put a clock of their own here.
    std::function<uint32_t()> TickSource;
    // Reads a value of the system's serial device map; tests put a table of their own here.
    std::function<bool(const std::string& valueName, std::string& data)> DeviceMapReader;
    // Called after every ShowRecord (measurement tools); empty normally.
    std::function<void()> AfterShowRecord;

    // ---- handlers ----
    void FormCreate();
    void Button1Click();
    void OpenPortButtonClick();
    void TestClick();
    void FindPortButtonClick();
    void Button4Click();
    void CheckBox1Click();
    void StartButtonClick();
    void FileButtonClick();
    void StartFlashButtonClick();
    void Timer1Timer();
    void file_timerTimer();
    void CPortPortOpen(TOrvCustomComPort& Sender);
    void CPortPortClose(TOrvCustomComPort& Sender);

    // ---- runs, display, data log ----
    void StartRun();
    void StopRun();
    void ShowRecord();
    void WriteLogLine();

    // ---- port search and opening ----
    int FindUsbSerialPort();
    bool TryOpenPort(int portNumber);
    bool FindAndOpenPort();
    // The port number the PortN text names (item index + 1), 0 when it names none.
    int SelectedPortNumber() const;
    // Selects item `index` of PortN; an index outside the list leaves no selection.
    void SelectPortItem(int index);

    // ---- replay ----
    void StartReplay();
    void StopReplay();

    // ---- flash download ----
    void BeginFlashDownload();
    void EndFlashDownload();

    // True once the window has been asked to close: running activities end at their next
    // step and expected-outcome messages are no longer shown.
    bool Closing() const { return FClosing; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // A control that follows the window's right or bottom edge, or stretches with it.
    struct TAnchored {
        QWidget* Control;
        QRect Design; // place and size at the design size of the window
        bool Right, Bottom, StretchWidth, StretchHeight;
    };
    void CreateControls();
    void CreateChannelColumns();
    void CreateRightPanel();
    void CreateHorizon();
    void CreateComponents();
    void SetTabOrder();
    void ConnectHandlers();
    void Anchor(QWidget* control, bool right, bool bottom, bool stretchWidth, bool stretchHeight);
    // Runs a handler through the standard error display, counting how deep handlers nest so
    // that a close asked for inside one is carried out once all have returned.
    void Handle(const std::function<void()>& handler);
    // A plain message for an expected outcome; dropped once the window is closing.
    void Say(const QString& text);
    void CloseOutputFile();
    void ShutDownActivities();

    std::unique_ptr<QtEventAdapter> FEventAdapter;
    std::vector<TAnchored> FAnchored;
    QSize FDesignSize;
    bool FCentred = false;
    bool FClosing = false;
    bool FCloseDeferred = false;
    bool FFlashOwnsFile = false;
    int FHandlerDepth = 0;
};

} // namespace orvi::app
