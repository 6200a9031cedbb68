// The "Select Port" dialog offscreen over real pseudo-terminals (its layout, the ports
// it lists, its results and the component's use of it), the number conversion behind
// SelectedComNumber, and the Qt event adapter that brings the component's events to the
// GUI thread inside QApplication::exec() and inside a processEvents() wait.
#include "serial/ComSelectForm.h"
#include "serial/ComPort.h"
#include "serial/QtEventAdapter.h"
#include "tests/serial/ComPortTestSupport.h"
#include "tools/pty/PtyPort.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orvi::testing {
namespace {

// Every port number of the dialog's range that is not in `present` is made a missing
// port: a link to nowhere in the override folder (a link counts even when it dangles),
// so that the machine's own serial devices do not show up in the list.
class OnlyThesePorts {
public:
    OnlyThesePorts(const std::string& folder, const std::set<int>& present) {
        for (int n = 1; n <= 50; ++n) {
            if (present.count(n) != 0)
                continue;
            const std::string link = folder + "/COM" + std::to_string(n);
            if (symlink("/nonexistent/orvi-missing-port", link.c_str()) == 0)
                links_.push_back(link);
        }
    }
    ~OnlyThesePorts() {
        for (const std::string& link : links_)
            unlink(link.c_str());
    }
    OnlyThesePorts(const OnlyThesePorts&) = delete;
    OnlyThesePorts& operator=(const OnlyThesePorts&) = delete;

private:
    std::vector<std::string> links_;
};

// Acts on the dialog once its modal loop runs.
void WhenDialogShows(std::function<void(TComSelectForm&)> act) {
    QTimer::singleShot(0, [act] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* form = qobject_cast<TComSelectForm*>(w); form && form->isVisible()) {
                act(*form);
                return;
            }
        }
        ADD_FAILURE() << "the dialog is not shown";
    });
}

QStringList Entries(const QComboBox& box) {
    QStringList entries;
    for (int i = 0; i < box.count(); ++i)
        entries << box.itemText(i);
    return entries;
}

// The widgets that Tab visits, starting at the first of the chain that takes Tab focus.
std::vector<QWidget*> TabOrder(QWidget& form) {
    std::vector<QWidget*> order;
    QWidget* w = &form;
    do {
        w = w->nextInFocusChain();
        if (w != &form && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled())
            order.push_back(w);
    } while (w != &form && order.size() < 10);
    return order;
}

// ---- layout ----

TEST(ComSelectFormTest, LayoutCaptionsTabOrderAndDefaultButton) {
    PtyPort anchor(60);
    OnlyThesePorts none(anchor.OverrideDir(), {});
    TComSelectForm form;
    EXPECT_EQ(form.windowTitle(), "Select Port");
    EXPECT_EQ(form.minimumSize(), QSize(220, 131));
    EXPECT_EQ(form.maximumSize(), QSize(220, 131));
    EXPECT_EQ(form.font().family(), "MS Sans Serif");
    EXPECT_EQ(form.font().pixelSize(), 11);

    EXPECT_EQ(form.Label1->text(), "The configured serial port is not valid.");
    EXPECT_EQ(form.Label1->geometry(), QRect(18, 14, 176, 13));
    EXPECT_EQ(form.Label2->text(), "Please choose another port.");
    EXPECT_EQ(form.Label2->geometry(), QRect(18, 30, 133, 13));
    EXPECT_EQ(form.Bevel1->geometry(), QRect(8, 8, 201, 42));
    EXPECT_EQ(form.Bevel1->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(form.PortsComboBox->geometry(), QRect(8, 64, 201, 21));
    EXPECT_FALSE(form.PortsComboBox->isEditable());
    EXPECT_EQ(form.OkBtn->text(), "OK");
    EXPECT_EQ(form.OkBtn->geometry(), QRect(8, 95, 85, 27));
    EXPECT_TRUE(form.OkBtn->isDefault());
    EXPECT_EQ(form.AbortBtn->text(), "Cancel");
    EXPECT_EQ(form.AbortBtn->geometry(), QRect(124, 95, 85, 27));
    EXPECT_FALSE(form.AbortBtn->isDefault());

    EXPECT_EQ(TabOrder(form),
              (std::vector<QWidget*>{form.OkBtn, form.AbortBtn, form.PortsComboBox}));
    EXPECT_TRUE(form.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
}

// ---- the ports listed ----

TEST(ComSelectFormTest, ListsExistingPortsInOrderWithAHeldOne) {
    PtyPort com1(1), com3(3), com4(4), com51(51);
    OnlyThesePorts only(com1.OverrideDir(), {1, 3, 4});
    HeldPort other(com4.SlavePath());
    ASSERT_TRUE(other.Locked());

    TComSelectForm form;
    EXPECT_EQ(Entries(*form.PortsComboBox), (QStringList{"COM1", "COM3", "COM4"}));
    EXPECT_EQ(form.PortsComboBox->currentIndex(), 0);
    EXPECT_EQ(form.SelectedComNumber(), 1);
    // The probes left every port free again.
    EXPECT_TRUE(Unlocked(com1.SlavePath()));
    EXPECT_TRUE(Unlocked(com3.SlavePath()));
}

TEST(ComSelectFormTest, EmptyListSelectsNothingAndFailsToConvert) {
    PtyPort anchor(60);
    OnlyThesePorts none(anchor.OverrideDir(), {});
    TComSelectForm form;
    EXPECT_EQ(form.PortsComboBox->count(), 0);
    EXPECT_EQ(form.PortsComboBox->currentIndex(), -1);
    EXPECT_EQ(MessageOf<EConvertError>([&] { (void)form.SelectedComNumber(); }),
              "'' is not a valid integer value");
}

// ---- results ----

struct ResultCase {
    const char* what;
    std::function<void(TComSelectForm&)> act;
    int result;
};

TEST(ComSelectFormTest, ButtonsAndCloseBoxGiveTheirResults) {
    PtyPort anchor(60);
    OnlyThesePorts none(anchor.OverrideDir(), {});
    const ResultCase cases[] = {
        {"OK", [](TComSelectForm& f) { f.OkBtn->click(); }, mrOk},
        {"Cancel", [](TComSelectForm& f) { f.AbortBtn->click(); }, mrAbort},
        {"close box", [](TComSelectForm& f) { f.close(); }, mrCancel},
        {"Enter",
         [](TComSelectForm& f) {
             QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
             QApplication::sendEvent(&f, &enter);
         },
         mrOk},
        {"Escape, then Cancel",
         [](TComSelectForm& f) {
             QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
             QApplication::sendEvent(&f, &escape);
             EXPECT_TRUE(f.isVisible()) << "Escape closed the dialog";
             f.AbortBtn->click();
         },
         mrAbort},
    };
    for (const auto& c : cases) {
        TComSelectForm form;
        WhenDialogShows(c.act);
        EXPECT_EQ(form.exec(), c.result) << c.what;
    }
}

// ---- the component's prompt ----

class PortPromptTest : public ::testing::Test {
protected:
    PortPromptTest() { InstallPortSelectionDialog(); }
    ~PortPromptTest() override { SetPortPrompt(nullptr); }

    TOrvComPort port;
};

TEST_F(PortPromptTest, OkOnCom10OpensPort10) {
    PtyPort com2(2), com10(10);
    OnlyThesePorts only(com2.OverrideDir(), {2, 10});
    port.SetAutoOpen(false);
    WhenDialogShows([](TComSelectForm& f) {
        f.PortsComboBox->setCurrentIndex(f.PortsComboBox->findText("COM10"));
        f.OkBtn->click();
    });
    port.SetOpen(true);
    EXPECT_EQ(port.ComNumber(), 10);
    EXPECT_EQ(port.PortState(), cpsOpen);
    EXPECT_FALSE(Unlocked(com10.SlavePath()));
    port.SetOpen(false);
}

TEST_F(PortPromptTest, OkOnAnEmptyListRaisesTheConversionError) {
    PtyPort anchor(60);
    OnlyThesePorts none(anchor.OverrideDir(), {});
    WhenDialogShows([](TComSelectForm& f) { f.OkBtn->click(); });
    EXPECT_EQ(MessageOf<EConvertError>([&] { port.SetOpen(true); }),
              "'' is not a valid integer value");
    EXPECT_EQ(port.ComNumber(), 0);
    EXPECT_FALSE(port.Open());
}

TEST_F(PortPromptTest, CancelAndCloseBoxRaiseNoPortSelected) {
    PtyPort com2(2);
    OnlyThesePorts only(com2.OverrideDir(), {2});
    const std::function<void(TComSelectForm&)> closings[] = {
        [](TComSelectForm& f) { f.AbortBtn->click(); },
        [](TComSelectForm& f) { f.close(); },
    };
    for (const auto& closing : closings) {
        WhenDialogShows(closing);
        EXPECT_EQ(MessageOf<ENoPortSelected>([&] { port.SetOpen(true); }),
                  "The ComNumber property of the TOrvComPort has not been set");
        EXPECT_EQ(port.ComNumber(), 0);
        EXPECT_FALSE(port.Open());
    }
}

// ---- number conversion ----

TEST(StrToIntTest, NumbersAndNonNumbers) {
    const std::pair<const char*, int32_t> numbers[] = {
        {"12", 12},
        {" 7", 7},
        {"-3", -3},
        {"+5", 5},
        {"$1F", 31},
        {"0x10", 16},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
    };
    for (const auto& [text, value] : numbers)
        EXPECT_EQ(StrToInt(text), value) << text;
    const char* failures[] = {"", " ", "-", "1a", "7 ", "2147483648", "99999999999", "$", "COM1"};
    for (const char* text : failures)
        EXPECT_EQ(MessageOf<EConvertError>([&] { (void)StrToInt(text); }),
                  std::string("'") + text + "' is not a valid integer value");
}

// ---- the Qt event adapter ----

class QtAdapterTest : public ::testing::Test {
protected:
    QtAdapterTest() {
        port.SetAutoOpen(false);
        port.SetComNumber(8);
        port.SetOnTriggerAvail([this](TOrvCustomComPort& cp, uint16_t count) {
            threads.push_back(std::this_thread::get_id());
            for (uint16_t i = 0; i < count; ++i)
                received.push_back(char(cp.GetByte()));
            if (received.size() >= 2)
                QCoreApplication::quit();
        });
    }

    PtyPort pty{8};
    QtEventAdapter adapter;
    std::string received;
    std::vector<std::thread::id> threads;
    TOrvComPort port;
};

TEST_F(QtAdapterTest, TriggerEventsRunOnTheGuiThreadInsideExec) {
    ASSERT_TRUE(adapter.Watching());
    port.SetOpen(true);
    QTimer limit; // keeps a broken test from hanging
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, qApp, &QCoreApplication::quit);
    limit.start(10000);
    QTimer::singleShot(0, [this] { pty.Write("hi", 2); });
    QApplication::exec();
    EXPECT_EQ(received, "hi");
    ASSERT_FALSE(threads.empty());
    for (const auto& id : threads)
        EXPECT_EQ(id, std::this_thread::get_id());
}

TEST_F(QtAdapterTest, TriggerEventsRunInsideAProcessEventsWait) {
    port.SetOpen(true);
    pty.Write("ok", 2);
    QElapsedTimer waited;
    waited.start();
    // The console's reply wait: sleep 10 ms, process pending events, again.
    while (received.size() < 2 && waited.elapsed() < 10000) {
        usleep(10000);
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(received, "ok");
    ASSERT_FALSE(threads.empty());
    EXPECT_EQ(threads.front(), std::this_thread::get_id());
}

} // namespace
} // namespace orvi::testing
