// The whole driver (main window, controller, device layer, dialogs) on emulated
// modules, driven by seeded random sequences of what a user, a desktop and the
// modules do: tray entries, keys in the calibration window, wizard and
// alignment buttons, message-box answers; packets of every kind from either
// module (duplicated, early, late, of wrong length); unplug and replug, suspend
// and resume, display changes; and at the end (or at any moment) Exit or logout.
//
// After every step, with nothing of the driver on the stack, the invariants:
// - no window over the desktop (calibration window, wait cover, alignment view)
//   while the system tracks or idles, and none after closing;
// - no timer or animation running for a hidden window;
// - every contact that went down comes up when tracking stops;
// - Escape in the calibration window ends the run: its window goes, no module
//   stays in a calibration mode and the calibration machine is idle;
// - a calibration reaches a module only in a run started for it, once, and
//   only after a fit of that run succeeded; a mask only after the user edited
//   it, and never to firmware that takes none (minor below 14);
// - the settings files hold only values the user (or the file itself) gave.
// A state that must not last is reported when it lasts 4 s of driver time.
//
// Top-level steps run from the test's own loop, so nothing of the driver is on
// the stack when they act or check. A chain of single-shot timers runs nested
// steps while an action is blocked in the driver or a box of the driver is
// open: they answer the box, send packets, unplug or replug a module, suspend
// or resume, change the display, or close the program under it. Every action
// may come at any step, also while the alignment view is open.
//
// Environment (all optional): TL_MODEL_SEED (first seed, default 1),
// TL_MODEL_SEQUENCES (default 8), TL_MODEL_STEPS (steps a sequence, default
// 40). One seed in its own process:
//   TL_MODEL_SEED=17 TL_MODEL_SEQUENCES=1 build/bin/test_model
#include "app/Corvane.h"
#include "app/CorvaneTray.h"
#include "calibration/CalibDlg.h"
#include "calibration/WaitDlg.h"
#include "control/nqmaincontrol.h"
#include "device/codec/Commands.h"
#include "device/codec/Packet.h"
#include "device/codec/UsbIds.h"
#include "input/InputInjection.h"
#include "platform/Clock.h"
#include "platform/InjectionBackend.h"
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "platform/fake/FakeSystemEvents.h"
#include "settings/ConfigFileRW.h"
#include "sim/EmulatedBus.h"
#include "tests/support/DriverSpin.h"
#include "ui/AlignmentDlg.h"
#include "ui/MonitorSelWidget.h"
#include "ui/WizardDlg.h"
#include "ui/maskDlg.h"
#include "tests/support/PlatformInjection.h"

#include <QAbstractAnimation>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QRadioButton>
#include <QDir>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>

using namespace tl::codec;
using tl::sim::EmulatedModule;
using tl::sim::ModuleVariant;

namespace {

constexpr double kCompression = 20;
constexpr int kLastingMs = 4000;        // driver time a state must not last
constexpr int kEscapeEndsWithinMs = 30000;

// Fits that succeeded, as the controller logs them ("calib_success = 1"): a
// calibration upload needs one of its own.
std::atomic<int> g_fitsSucceeded{0};
QtMessageHandler g_previousHandler = nullptr;

void countFits(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message == QLatin1String("calib_success = 1"))
        ++g_fitsSucceeded;
    if (g_previousHandler)
        g_previousHandler(type, context, message);
}

int envInt(const char *name, int fallback)
{
    const char *v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
}

// Which contacts are down now, from what the injector asked for; outlives the
// controller (which owns the backend) so that the close can be checked.
struct ContactLedger
{
    std::mutex mutex;
    std::map<int, bool> down;
    int downNow()
    {
        std::lock_guard<std::mutex> lock(mutex);
        int n = 0;
        for (const auto &entry : down)
            n += entry.second;
        return n;
    }
};

class LedgerBackend : public tl::InjectionBackend
{
public:
    explicit LedgerBackend(std::shared_ptr<ContactLedger> ledger) : m_ledger(std::move(ledger)) {}
    Kind kind() const override { return Kind::Touch; }
    QString name() const override { return QStringLiteral("ledger"); }
    bool injectTouch(const tl::TouchRecord *records, int count) override
    {
        std::lock_guard<std::mutex> lock(m_ledger->mutex);
        for (int i = 0; i < count; ++i) {
            if (records[i].flags & tl::TouchDown)
                m_ledger->down[records[i].pointerId] = true;
            if (records[i].flags & tl::TouchUp)
                m_ledger->down[records[i].pointerId] = false;
        }
        return true;
    }
    bool sendMouse(int, int, quint32) override { return true; }

private:
    std::shared_ptr<ContactLedger> m_ledger;
};

const QString kInterface = QStringLiteral("USB\\VID_16D0&PID_0F8C&MI_02\\3-%1");

// The packets a module sends, each as the host dispatches it (answers, events,
// data) and one the host does not know.
const int32_t kModulePackets[] = {
    RES_AC_BLACK_END, RES_AC_WHITE_END, RES_AC_PATTERN_END, RES_AC_READY_END, RES_MC_PATTERN_DONE,
    RES_MC_PATTERN_END, DAT_MC_INPUT_POINT, DAT_AC_IMAGE, DAT_AC_IMGEND, DAT_AC_IMAGE_PART,
    DAT_AC_IMAGE_PART_END, DAT_IMG, DAT_IMGEND, DAT_MASK, DAT_TC_DUAL_MODE, DAT_VERSION, DAT_OPTION,
    DAT_EEPROM, RES_DEBUG, RES_ACK, RES_NAK, 0x7777,
};

// The desktops a display change moves between.
const QList<QList<tl::MonitorInfo>> kDesktops = {
    {{QRect(0, 0, 1920, 1080), 96}, {QRect(1920, 0, 1920, 1080), 96}},
    {{QRect(0, 0, 1920, 1080), 96}},
    {{QRect(0, 0, 1280, 800), 96}, {QRect(1280, 0, 1920, 1080), 96}},
};

enum class Act {
    Wait, TrayAuto, TrayManual, TrayAlignment, TrayWizard, TrayPen, TrayFinger, TrayAbout,
    CalibEscape, CalibBackspace, AlignOk, AlignEscape, AlignMask, AlignPaint, AlignSlider, AlignExchange,
    WizardNext, WizardBack, WizardCancel, WizardCeiling, WizardLens, WizardMonitor, WizardView, WizardAuto,
    WizardManual, AnswerBox, Packet, ModuleFault, Unplug, Replug, Suspend, Resume, DisplayChange, Close,
    Count
};

class Sequence
{
public:
    Sequence(uint64_t seed, int steps) : m_seed(seed), m_rng(seed), m_stepsLeft(steps) {}

    ~Sequence()
    {
        m_window.reset();
        tl::FixedScreens::uninstall();
    }

    // The close handling ends the application's event loop, and from then on
    // every modal exec() returns at once until QCoreApplication::exec() runs
    // again: a short exec() here lets the boxes of the next sequence block as
    // they do in the driver.
    static void readyForBoxes()
    {
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }

    void run()
    {
        readyForBoxes();
        // The chain of nested steps starts before the start: the start itself
        // may run a box (two modules on one monitor) that only a step answers.
        QTimer::singleShot(0, &m_timers, [this] { nestedStep(); });
        setUp();
        // Top-level steps run from here, with nothing of the driver on the
        // stack; a bound on a sequence that hangs, never reached by one that ends.
        const qint64 end = tl::Clock::nowMs() + 3600 * 1000;
        while (!m_done) {
            if (tl::Clock::nowMs() > end) {
                fault("the sequence did not end");
                break;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            tl::Clock::sleepMs(20);
            if (tl::Clock::nowMs() >= m_nextStepAt)
                topStep();
        }
    }

    const QStringList &faults() const { return m_faults; }
    int stepsRun() const { return m_stepsRun; }

private:
    // ---- set-up ------------------------------------------------------------------

    void setUp()
    {
        QDir(ConfigFileRW::settingsFolder()).removeRecursively();
        m_desktop = pick(2) ? 0 : int(pick(3));
        tl::FixedScreens::install(kDesktops[m_desktop]);

        // Settings as a user left them; the monitor sometimes one that is not
        // there now.
        const int lens = int(pick(3)), pen = int(pick(2)), touch = int(pick(2));
        const int ceiling = int(pick(2)), rear = int(pick(2));
        const int monitor = pick(4) == 0 ? 5 : int(pick(2));
        QDir().mkpath(ConfigFileRW::settingsFolder());
        {
            QSettings param(ConfigFileRW::paramFilePath(), QSettings::IniFormat);
            param.beginGroup("Configuration");
            param.setValue("LensSelect", lens);
            param.setValue("CheckCeiling", ceiling);
            param.setValue("CheckRear", rear);
            param.setValue("Monitor", monitor);
            param.endGroup();
            QSettings config(ConfigFileRW::configFilePath(), QSettings::IniFormat);
            config.beginGroup("Configuration");
            config.setValue("LanguageID", 7);
            config.setValue("PenSelect", pen);
            config.setValue("Pen_Touch_Mode", touch);
            config.setValue("Start_Program", 0);
            config.endGroup();
        }
        m_allowed = {{"param/LensSelect", {lens}},     {"param/CheckCeiling", {ceiling}},
                     {"param/CheckRear", {rear}},      {"param/Monitor", {monitor}},
                     {"config/PenSelect", {pen}},      {"config/Pen_Touch_Mode", {touch}},
                     {"config/Start_Program", {0}},    {"config/LanguageID", {7}}};

        const int count = pick(8) == 0 ? int(pick(4)) : 1 + int(pick(2));   // now and then none or three
        for (int i = 0; i < count; ++i) {
            const std::string serial = "TLM-M" + std::to_string(m_seed % 1000) + "-" + std::to_string(i);
            const uint8_t minor = pick(4) == 0 ? 13 : 15;
            ModuleVariant v = pick(3) == 0 ? ModuleVariant::blank(serial, minor) : ModuleVariant::calibrated(serial, minor);
            auto m = m_bus.plug(v);
            // A pen that touches for a while now and then.
            const int x = 600 + int(pick(3600)), y = 400 + int(pick(2200));
            m->setPenScript([x, y](uint64_t cycle) {
                if ((cycle / 40) % 3 == 0)
                    return std::vector<tl::sim::TrackPoint>{{x + int(cycle % 40) * 5, y, 100}};
                return std::vector<tl::sim::TrackPoint>{};
            });
            // A user who touches each manual target near where a camera would see it.
            m->setManualTouch([](int index) -> std::optional<tl::sim::CameraPoint> {
                if (index < 0 || index > 15)
                    return std::nullopt;
                return tl::sim::CameraPoint{200.0f + float(index % 4) * 280.0f, 120.0f + float(index / 4) * 160.0f};
            });
            m_modules.push_back(m);
            m_fwMinor.push_back(minor);
            m_calUploads.push_back(0);
            m_maskUploads.push_back(0);
        }

        m_ledger = std::make_shared<ContactLedger>();
        Corvane::Platform platform{&m_events, &m_bus, {}};
        auto ledger = m_ledger;
        platform.makeInjection = [ledger] {
            return std::make_unique<tl::input::InputInjection>(std::make_unique<LedgerBackend>(ledger));
        };
        m_window = std::make_unique<Corvane>(platform);
        trace("start with " + QString::number(count) + " module(s) on desktop " + QString::number(m_desktop));
        ++m_depth;
        m_window->initialStart();
        --m_depth;
    }

    // ---- stepping -----------------------------------------------------------------

    uint64_t pick(uint64_t n) { return n ? m_rng() % n : 0; }

    // The next link of the nested chain: it acts only while one of our steps
    // is on the stack, blocked in something of the driver (a box, a wait), or
    // while a box of the driver is open. Tied to this sequence: a link still
    // due when it ends never runs.
    void scheduleNested()
    {
        QTimer::singleShot(2 + int(pick(30)), &m_timers, [this] { nestedStep(); });
    }

    bool ending() const { return !m_faults.isEmpty() || m_stepsLeft <= 0 || closed(); }

    void nestedStep()
    {
        if (m_done)
            return;
        scheduleNested();
        if (!m_window || (m_depth == 0 && !QApplication::activeModalWidget()))
            return;
        ++m_depth;
        const bool wasNested = m_nested;
        m_nested = true;
        if (ending()) {
            answerBox(true);   // unwind: answer the boxes until the stack is ours again
        } else {
            --m_stepsLeft;
            ++m_stepsRun;
            const Act a = QApplication::activeModalWidget() && pick(4) == 0 ? Act::AnswerBox : Act(pick(int(Act::Count)));
            act(a);
        }
        m_nested = wasNested;
        --m_depth;
    }

    void topStep()
    {
        if (!m_window)
            return;
        check();
        if (ending()) {
            finish();
            return;
        }
        --m_stepsLeft;
        ++m_stepsRun;
        const Act a = Act(pick(int(Act::Count)));
        // Waiting is the time until the next step; everything else acts at once.
        const int driverMs = a == Act::Wait ? 2000 + int(pick(4000)) : 40 + int(pick(600));
        m_nextStepAt = tl::Clock::nowMs() + driverMs;
        ++m_depth;
        act(a);
        --m_depth;
    }

    bool closed() const { return !m_window || !m_window->control(); }

    void finish()
    {
        if (!closed()) {
            trace(pick(2) ? "close: Exit" : "close: logout");
            close();
        }
        afterClose();
        m_done = true;
    }

    void close()
    {
        if (pick(2)) {
            QAction *exit = m_window->tray()->action(CorvaneTray::ActExit);
            exit->trigger();
        } else {
            m_events.raiseSessionEnd();
        }
    }

    // ---- actions ------------------------------------------------------------------

    QAction *tray(CorvaneTray::ActionIndex i) const
    {
        QAction *a = m_window->tray() ? m_window->tray()->action(i) : nullptr;
        return a && a->isEnabled() && a->isVisible() ? a : nullptr;
    }

    // Keys and clicks reach only the box while one is open (boxes are modal to
    // the application); the tray menu and the system's events still come.
    static bool windowInput(Act a)
    {
        switch (a) {
        case Act::CalibEscape: case Act::CalibBackspace: case Act::AlignOk: case Act::AlignEscape:
        case Act::AlignMask: case Act::AlignPaint: case Act::AlignSlider: case Act::AlignExchange:
        case Act::WizardNext: case Act::WizardBack: case Act::WizardCancel: case Act::WizardCeiling:
        case Act::WizardLens: case Act::WizardMonitor: case Act::WizardView: case Act::WizardAuto:
        case Act::WizardManual:
            return true;
        default:
            return false;
        }
    }

    void act(Act a)
    {
        if (closed())
            return;
        if (windowInput(a) && QApplication::activeModalWidget())
            return;
        nqmaincontrol *c = m_window->control();
        const bool nested = m_nested;
        switch (a) {
        case Act::Wait:
            trace("wait");
            break;
        case Act::TrayAuto:
        case Act::TrayManual:
            if (nested)
                break;
            if (QAction *t = tray(a == Act::TrayAuto ? CorvaneTray::ActAutoCalibration : CorvaneTray::ActManualCalibration)) {
                trace(a == Act::TrayAuto ? "tray: auto calibration" : "tray: manual calibration");
                runStarted();
                t->trigger();
            }
            break;
        case Act::TrayAlignment:
            if (QAction *t = !nested ? tray(CorvaneTray::ActAlignment) : nullptr) {
                trace("tray: alignment view");
                m_editsAtOpen = m_window->alignmentView()->maskEditor()->editCount();
                t->trigger();
            }
            break;
        case Act::TrayWizard:
            if (QAction *t = !nested ? tray(CorvaneTray::ActConfiguration) : nullptr) {
                trace("tray: configuration");
                t->trigger();
            }
            break;
        case Act::TrayPen:
        case Act::TrayFinger:
            if (QAction *t = !nested ? tray(a == Act::TrayPen ? CorvaneTray::ActPenMode : CorvaneTray::ActFingerMode)
                                     : nullptr) {
                trace(a == Act::TrayPen ? "tray: pen mode" : "tray: finger mode");
                m_allowed["config/Pen_Touch_Mode"].insert(a == Act::TrayPen ? 0 : 1);
                t->trigger();
            }
            break;
        case Act::TrayAbout:
            if (QAction *t = !nested ? tray(CorvaneTray::ActAbout) : nullptr) {
                trace("tray: about");
                t->trigger();
            }
            break;
        case Act::CalibEscape:
        case Act::CalibBackspace:
            if (c->calibDialog()->isVisible()) {
                const bool esc = a == Act::CalibEscape;
                trace(esc ? "calibration window: Escape" : "calibration window: Backspace");
                if (esc && m_escapeAt < 0)
                    m_escapeAt = tl::Clock::nowMs();
                QKeyEvent key(QEvent::KeyPress, esc ? Qt::Key_Escape : Qt::Key_Backspace, Qt::NoModifier);
                QApplication::sendEvent(c->calibDialog(), &key);
            }
            break;
        case Act::AlignOk:
        case Act::AlignEscape:
            if (AlignmentDlg *v = visibleView()) {
                trace(a == Act::AlignOk ? "alignment: OK" : "alignment: Escape");
                noteMaskAllowance(v);
                if (a == Act::AlignOk)
                    v->clickOK();
                else
                    QTest::keyClick(v, Qt::Key_Escape);
            }
            break;
        case Act::AlignMask:
            if (AlignmentDlg *v = visibleView()) {
                trace("alignment: mask button");
                v->clickPushB();
            }
            break;
        case Act::AlignPaint:
            if (AlignmentDlg *v = visibleView(); v && v->maskEditorOpen()) {
                trace("alignment: paint");
                QTest::mouseClick(v->maskEditor(), Qt::LeftButton, {}, QPoint(int(pick(640)), int(pick(360))));
            }
            break;
        case Act::AlignSlider:
            if (AlignmentDlg *v = visibleView()) {
                auto *s = v->findChild<QSlider *>(pick(2) ? "hSlideAlignmentViewGain1" : "hSlideAlignmentViewGain2");
                if (s && s->isVisible()) {
                    trace("alignment: slider key");
                    QTest::keyClick(s, pick(2) ? Qt::Key_Right : Qt::Key_Left);
                }
            }
            break;
        case Act::AlignExchange:
            if (AlignmentDlg *v = visibleView()) {
                auto *box = v->findChild<QCheckBox *>("checkChangeDevice1");
                if (!box || !box->isVisible())
                    break;
                trace("alignment: exchange camera");
                QTest::mouseClick(box, Qt::LeftButton);
            }
            break;
        case Act::WizardNext:
        case Act::WizardBack:
        case Act::WizardCancel:
        case Act::WizardCeiling:
        case Act::WizardLens:
        case Act::WizardMonitor:
        case Act::WizardView:
        case Act::WizardAuto:
        case Act::WizardManual:
            wizardAction(a);
            break;
        case Act::AnswerBox:
            answerBox(false);
            break;
        case Act::Packet:
            injectPacket();
            break;
        case Act::ModuleFault:
            moduleFault();
            break;
        case Act::Unplug:
        case Act::Replug: {
            if (m_modules.empty())
                break;
            const size_t i = pick(m_modules.size());
            const auto &m = m_modules[i];
            if (a == Act::Unplug && m->plugged()) {
                trace("unplug module " + QString::number(i));
                m_bus.unplug(m);
                m_events.raiseDeviceRemoval(kInterface.arg(i + 1));
            } else if (a == Act::Replug && !m->plugged()) {
                trace("replug module " + QString::number(i));
                m_bus.replug(m);
                m_events.raiseDeviceArrival(kInterface.arg(i + 1));
            }
            break;
        }
        case Act::Suspend:
            trace("suspend");
            m_events.raiseSuspend();
            break;
        case Act::Resume:
            trace("resume");
            m_events.raiseResume();
            break;
        case Act::DisplayChange: {
            m_desktop = int(pick(kDesktops.size()));
            const int burst = 1 + int(pick(3));
            trace("display change to " + QString::number(m_desktop) + " x" + QString::number(burst));
            tl::FixedScreens::install(kDesktops[m_desktop]);
            for (int i = 0; i < burst; ++i)
                m_events.raiseDisplayChange();
            break;
        }
        case Act::Close:
            if (pick(4) != 0)
                break;   // rarer than the rest: it ends the sequence
            trace(nested ? "close while a box is open" : "close");
            close();
            break;
        case Act::Count:
            break;
        }
    }

    AlignmentDlg *visibleView() const
    {
        AlignmentDlg *v = m_window->alignmentView();
        return v && v->isVisible() ? v : nullptr;
    }

    void wizardAction(Act a)
    {
        WizardDlg *w = m_window->wizard();
        if (!w || !w->isVisible())
            return;
        switch (a) {
        case Act::WizardNext:
            trace("wizard: Next on page " + QString::number(w->page()));
            if (w->page() == 0 && w->setupMode())
                wizardApplied(w);
            if (w->page() == 2) {
                m_allowed["config/PenSelect"].insert(m_window->settings()->getPenSelect());
                m_allowed["config/Start_Program"].insert(m_window->settings()->getStartProgram() ? 1 : 0);
            }
            w->pushNext->click();
            break;
        case Act::WizardBack:
            if (w->pushPre->isEnabled()) {
                trace("wizard: Back");
                w->pushPre->click();
            }
            break;
        case Act::WizardCancel:
            trace("wizard: Cancel");
            w->pushCancel->click();
            break;
        case Act::WizardCeiling:
            if (w->page() == 0) {
                trace("wizard: ceiling box");
                w->checkCelling->click();
            }
            break;
        case Act::WizardLens:
            if (w->page() == 0) {
                trace("wizard: lens");
                (pick(3) == 0 ? w->radioTBLens : pick(2) ? w->radioTALens : w->radioTULens)->click();
            }
            break;
        case Act::WizardMonitor:
            if (w->page() == 0 && w->groupMonitor->isVisible()) {
                trace("wizard: monitor map");
                const QRect r = w->widgetMonitorSel->rect();
                QTest::mouseClick(w->widgetMonitorSel, Qt::LeftButton, {},
                                  QPoint(int(pick(uint64_t(r.width()))), int(pick(uint64_t(r.height())))));
            }
            break;
        case Act::WizardView:
            if (w->page() == 1) {
                trace("wizard: alignment view");
                m_editsAtOpen = m_window->alignmentView()->maskEditor()->editCount();
                w->pushView->click();
            }
            break;
        case Act::WizardAuto:
        case Act::WizardManual:
            if (w->page() == 2) {
                trace(a == Act::WizardAuto ? "wizard: auto calibration" : "wizard: manual calibration");
                runStarted();
                (a == Act::WizardAuto ? w->pushAutoCalib : w->pushManualCalib)->click();
            }
            break;
        default:
            break;
        }
    }

    // The user chose the first page's values: they may reach param.ini.
    void wizardApplied(WizardDlg *w)
    {
        m_allowed["param/LensSelect"].insert(w->pendingLens());
        m_allowed["param/CheckCeiling"].insert(w->pendingCeiling() ? 1 : 0);
        m_allowed["param/CheckRear"].insert(w->pendingRear() ? 1 : 0);
        m_allowed["param/Monitor"].insert(w->pendingMonitor());
        m_allowed["config/PenSelect"].insert(w->pendingPen());
    }

    void answerBox(bool unwinding)
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            const QList<QAbstractButton *> buttons = box->buttons();
            const int choice = unwinding ? 0 : int(pick(uint64_t(buttons.size()) + 1));
            if (choice < buttons.size()) {
                QAbstractButton *b = buttons[choice];
                trace("box \"" + box->text().left(40) + "\": " + b->text());
                if (box->objectName() == "wizardChangeQuestion" && b->text() == "Finish")
                    if (WizardDlg *w = m_window ? m_window->wizard() : nullptr)
                        wizardApplied(w);
                b->click();
                return;
            }
            trace("box \"" + box->text().left(40) + "\": closed");
        } else {
            trace("dialog " + modal->objectName() + ": closed");
        }
        if (auto *dlg = qobject_cast<QDialog *>(modal))
            dlg->reject();
    }

    void injectPacket()
    {
        if (m_modules.empty())
            return;
        const size_t i = pick(m_modules.size());
        auto &m = m_modules[i];
        if (!m->plugged())
            return;
        int32_t code = kModulePackets[pick(sizeof kModulePackets / sizeof kModulePackets[0])];
        const int lengths[] = {0, 4, 8, 24, 96, 400, 504, -1, 600, 7};
        int32_t len = lengths[pick(10)];
        std::vector<uint8_t> bytes(kPacketSize, 0);
        std::memcpy(bytes.data(), &code, 4);
        std::memcpy(bytes.data() + 4, &len, 4);
        for (size_t k = 8; k < bytes.size(); ++k)
            bytes[k] = static_cast<uint8_t>(pick(4) == 0 ? pick(256) : pick(24));
        if (pick(5) == 0)
            bytes.resize(1 + pick(40));   // a short transfer
        const int delay = pick(3) == 0 ? int(pick(2000)) : 0;
        const uint8_t ep = code == DAT_IMG && pick(2) ? kEpFrames : kEpIn;
        const int copies = pick(4) == 0 ? 2 : 1;
        trace(QString::asprintf("module %zu sends 0x%04X len %d (%zu bytes)%s%s", i, unsigned(code), len,
                                bytes.size(), delay ? " late" : "", copies > 1 ? " twice" : ""));
        for (int k = 0; k < copies; ++k)
            m->injectPacket(ep, bytes, delay);
    }

    void moduleFault()
    {
        if (m_modules.empty())
            return;
        const size_t i = pick(m_modules.size());
        tl::sim::FaultPlan plan;
        QString what;
        switch (pick(6)) {
        case 0:
            what = "clean";
            break;
        case 1:
            plan.packets.push_back({0, -1, -1, int(pick(20)), 1 + int(pick(3)), tl::sim::PacketFault::Drop, 0, {}});
            what = "drops packets";
            break;
        case 2:
            plan.packets.push_back({0, -1, -1, int(pick(20)), 1, tl::sim::PacketFault::Duplicate, 0, {}});
            what = "duplicates a packet";
            break;
        case 3:
            plan.commands.push_back({0, int(pick(10)), 1, tl::sim::CommandFault::Nak, 0});
            what = "NAKs a command";
            break;
        case 4:
            plan.answerDelayMs = 200 + int(pick(3000));
            what = "answers slowly";
            break;
        default:
            plan.pieceLoss = 0.02;
            plan.seed = m_seed;
            what = "loses image pieces";
            break;
        }
        trace("module " + QString::number(i) + " " + what);
        m_modules[i]->setFaults(plan);
    }

    void runStarted()
    {
        m_escapeAt = -1;
        m_fitsAtRunStart = g_fitsSucceeded.load();
        for (size_t i = 0; i < m_modules.size(); ++i)
            m_calAllowance[i] = 1;
    }

    void noteMaskAllowance(AlignmentDlg *v)
    {
        if (v->maskEditor()->editCount() != m_editsAtOpen)
            m_maskAllowance = 1;
    }

    // ---- invariants ---------------------------------------------------------------

    void trace(const QString &line)
    {
        qDebug().noquote() << "model:" << line;
        m_trace << QString("%1 [%2] %3").arg(tl::Clock::nowMs()).arg(m_depth).arg(line);
        if (m_trace.size() > 25)
            m_trace.removeFirst();
    }

    void fault(const QString &what)
    {
        if (!m_faults.isEmpty())
            return;   // the first one; what follows may be its consequence
        m_faults << QString("seed %1, step %2: %3\n  last steps:\n    %4")
                        .arg(m_seed)
                        .arg(m_stepsRun)
                        .arg(what, m_trace.join("\n    "));
    }

    // A state that must not last: reported once it has lasted kLastingMs.
    void mustNotLast(const QString &key, bool holds)
    {
        const qint64 now = tl::Clock::nowMs();
        if (!holds) {
            m_since.erase(key);
            return;
        }
        auto it = m_since.find(key);
        if (it == m_since.end())
            m_since[key] = now;
        else if (now - it->second >= kLastingMs)
            fault(key);
    }

    // "window: timer (owner)" for every timer or animation that runs inside a
    // hidden window.
    static QStringList hiddenWindowsWithTimers()
    {
        QStringList found;
        auto name = [](const QObject *o) {
            return QString(o->metaObject()->className()) + (o->objectName().isEmpty() ? "" : " " + o->objectName());
        };
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->isVisible())
                continue;
            for (QTimer *t : w->findChildren<QTimer *>())
                if (t->isActive())
                    found << QString("%1: timer of %2 ms (%3)").arg(name(w)).arg(t->interval()).arg(name(t->parent()));
            for (QAbstractAnimation *a : w->findChildren<QAbstractAnimation *>())
                if (a->state() == QAbstractAnimation::Running)
                    found << QString("%1: animation (%2)").arg(name(w), name(a->parent()));
        }
        return found;
    }

    void checkFiles()
    {
        for (const char *file : {"param", "config"}) {
            const QString path = QString(file) == "param" ? ConfigFileRW::paramFilePath() : ConfigFileRW::configFilePath();
            QSettings s(path, QSettings::IniFormat);
            s.beginGroup("Configuration");
            for (const QString &key : s.childKeys()) {
                const auto it = m_allowed.find(QString(file) + "/" + key);
                if (it == m_allowed.end())
                    continue;
                const int v = s.value(key).toInt();
                if (!it->second.count(v))
                    fault(QString("%1.ini %2 = %3, a value nobody chose").arg(file, key).arg(v));
            }
        }
    }

    void checkUploads()
    {
        for (size_t i = 0; i < m_modules.size(); ++i) {
            const auto stats = m_modules[i]->stats();
            const int64_t cal = stats.calibrationUploads - m_calUploads[i];
            if (cal > 0) {
                m_calUploads[i] = stats.calibrationUploads;
                if (cal > m_calAllowance[i])
                    fault(QString("module %1 got %2 calibration upload(s) outside a run of its own").arg(i).arg(cal));
                else if (g_fitsSucceeded.load() - m_fitsAtRunStart < cal)
                    fault(QString("module %1 got a calibration no fit of this run gave").arg(i));
                m_fitsAtRunStart += int(cal);
                m_calAllowance[i] = 0;
            }
            const int64_t mask = stats.maskUploads - m_maskUploads[i];
            if (mask > 0) {
                m_maskUploads[i] = stats.maskUploads;
                if (m_fwMinor[i] < 14)
                    fault(QString("module %1 got a mask its firmware (minor %2) does not take").arg(i).arg(m_fwMinor[i]));
                else if (mask > m_maskAllowance)
                    fault(QString("module %1 got a mask the user did not edit").arg(i));
                m_maskAllowance = 0;
            }
        }
    }

    void check()
    {
        checkFiles();
        checkUploads();
        if (closed())
            return;
        nqmaincontrol *c = m_window->control();
        const int ts = c->threadState();
        const bool quiet = (ts == etaTRACKING || ts == etaNULL) && c->calState() == 0;
        const bool boxOpen = QApplication::activeModalWidget() != nullptr;
        mustNotLast("calibration window over the desktop while the system tracks or idles",
                    quiet && c->calibDialog()->isVisible());
        mustNotLast("wait cover over the desktop while the system tracks or idles",
                    quiet && !boxOpen && c->waitDialog()->isVisible());
        mustNotLast("alignment view shown without frames streaming",
                    ts != etaDISPLAY && m_window->alignmentView()->isVisible());
        mustNotLast("a contact is down while nothing tracks", ts != etaTRACKING && m_ledger->downNow() > 0);
        for (const QString &t : hiddenWindowsWithTimers())
            mustNotLast("a timer runs for a hidden window: " + t, true);
        if (m_escapeAt >= 0) {
            // Ended: no window, no module in a calibration mode, and the
            // calibration machine idle (also when the modules hold no
            // calibration to go back to).
            if (!c->calibDialog()->isVisible() && ts != etaMANUAL_CALIBRATION && ts != etaAUTO_CALIBRATION
                && c->calState() == 0)
                m_escapeAt = -1;
            else if (tl::Clock::nowMs() - m_escapeAt > kEscapeEndsWithinMs)
                fault("Escape did not end the calibration run");
        }
    }

    void afterClose()
    {
        // Let what was queued at the close run out, then look.
        tl::test::spinFor(200);
        checkFiles();
        checkUploads();
        if (m_ledger->downNow() > 0)
            fault("a contact is still down after the close");
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->isVisible())
                fault("window " + QString(w->metaObject()->className()) + " " + w->objectName()
                      + " still shown after the close");
        QSettings config(ConfigFileRW::configFilePath(), QSettings::IniFormat);
        if (config.value("Device/Count").toInt() != 0)
            fault("the device count is not 0 after the close");
        if (m_window) {
            m_window->hide();
            m_window.reset();
        }
        for (const QString &t : hiddenWindowsWithTimers())
            fault("a timer runs after the close: " + t);
    }

    QObject m_timers;
    uint64_t m_seed;
    std::mt19937_64 m_rng;
    int m_stepsLeft;
    int m_stepsRun = 0;
    int m_depth = 0;           // our steps on the stack
    bool m_nested = false;     // the step acting runs inside something of the driver
    qint64 m_nextStepAt = 0;   // driver time of the next top-level step
    bool m_done = false;
    int m_desktop = 0;

    tl::sim::EmulatedBus m_bus;
    tl::FakeSystemEvents m_events;
    std::shared_ptr<ContactLedger> m_ledger;
    std::unique_ptr<Corvane> m_window;
    std::vector<std::shared_ptr<EmulatedModule>> m_modules;

    std::map<QString, std::set<int>> m_allowed;
    std::vector<int64_t> m_calUploads, m_maskUploads;
    std::vector<int> m_fwMinor;
    int m_fitsAtRunStart = 0;
    std::map<size_t, int64_t> m_calAllowance;
    int64_t m_maskAllowance = 0;
    int m_editsAtOpen = 0;
    qint64 m_escapeAt = -1;
    std::map<QString, qint64> m_since;
    QStringList m_trace;
    QStringList m_faults;
};

// Every packet kind a module sends, arriving while the system tracks (too early
// or too late for any run): tracking goes on, nothing appears over the desktop
// and no hidden window starts a timer.
TEST(ModelTest, StrayPacketsWhileTrackingChangeNothingOnTheDesktop)
{
    tl::Clock::setCompression(kCompression);
    QDir(ConfigFileRW::settingsFolder()).removeRecursively();
    tl::FixedScreens::install(kDesktops[0]);
    tl::sim::EmulatedBus bus;
    tl::FakeSystemEvents events;
    auto module = bus.plug(ModuleVariant::calibrated("TLM-STRAY"));
    auto window = std::make_unique<Corvane>(Corvane::Platform{&events, &bus, {}, &tl::test::platformInjection()});
    window->initialStart();
    ASSERT_TRUE(tl::test::spinUntil([&] { return window->control()->threadState() == etaTRACKING; }, 20000));
    for (int32_t code : kModulePackets) {
        for (int32_t len : {0, 4, 24}) {
            std::vector<uint8_t> bytes(kPacketSize, 0);
            std::memcpy(bytes.data(), &code, 4);
            std::memcpy(bytes.data() + 4, &len, 4);
            module->injectPacket(kEpIn, bytes);
        }
        tl::test::spinFor(300);
        nqmaincontrol *c = window->control();
        const QString what = QString::asprintf("0x%04X", unsigned(code));
        EXPECT_EQ(c->threadState(), etaTRACKING) << what.toStdString();
        EXPECT_EQ(c->calState(), 0) << what.toStdString();
        EXPECT_FALSE(c->calibDialog()->isVisible()) << what.toStdString();
        EXPECT_FALSE(c->waitDialog()->isVisible()) << what.toStdString();
        for (QTimer *t : c->calibDialog()->findChildren<QTimer *>())
            EXPECT_FALSE(t->isActive()) << what.toStdString() << ": a timer of the hidden calibration window runs";
    }
    window.reset();
    tl::FixedScreens::uninstall();
    tl::Clock::setCompression(1);
}

// A manual run whose mark ring turns (the module saw the pen on the target)
// ends by another tray entry: the calibration window goes, and its ring timer
// with it.
TEST(ModelTest, ARunEndedWhileTheRingTurnsLeavesNoTimerRunning)
{
    tl::Clock::setCompression(kCompression);
    QDir(ConfigFileRW::settingsFolder()).removeRecursively();
    tl::FixedScreens::install(kDesktops[0]);
    tl::sim::EmulatedBus bus;
    tl::FakeSystemEvents events;
    auto module = bus.plug(ModuleVariant::calibrated("TLM-RING"));
    module->setManualTouch([](int) { return std::optional<tl::sim::CameraPoint>(); });   // nobody touches
    auto window = std::make_unique<Corvane>(Corvane::Platform{&events, &bus, {}, &tl::test::platformInjection()});
    window->initialStart();
    nqmaincontrol *c = window->control();
    ASSERT_TRUE(tl::test::spinUntil([&] { return c->threadState() == etaTRACKING; }, 20000));
    window->tray()->action(CorvaneTray::ActManualCalibration)->trigger();
    ASSERT_TRUE(tl::test::spinUntil([&] { return c->calState() == 1 && c->calibDialog()->isVisible(); }, 20000));
    std::vector<uint8_t> done(kPacketSize, 0);
    const int32_t code = RES_MC_PATTERN_DONE;
    std::memcpy(done.data(), &code, 4);
    module->injectPacket(kEpIn, done);
    auto ringTurns = [&] {
        for (QTimer *t : c->calibDialog()->findChildren<QTimer *>())
            if (t->isActive())
                return true;
        return false;
    };
    ASSERT_TRUE(tl::test::spinUntil(ringTurns, 5000));
    window->tray()->action(CorvaneTray::ActAlignment)->trigger();
    tl::test::spinFor(200);
    EXPECT_EQ(c->threadState(), etaDISPLAY);
    EXPECT_FALSE(c->calibDialog()->isVisible());
    EXPECT_FALSE(ringTurns());
    window->alignmentView()->clickOK();
    window.reset();
    tl::FixedScreens::uninstall();
    tl::Clock::setCompression(1);
}

TEST(ModelTest, RandomSequencesKeepTheSetUpPathsInvariants)
{
    tl::Clock::setCompression(kCompression);
    g_previousHandler = qInstallMessageHandler(countFits);
    const uint64_t first = uint64_t(envInt("TL_MODEL_SEED", 1));
    const int sequences = envInt("TL_MODEL_SEQUENCES", 8);
    const int steps = envInt("TL_MODEL_STEPS", 40);
    int stepsRun = 0, failed = 0;
    for (int s = 0; s < sequences; ++s) {
        Sequence seq(first + uint64_t(s), steps);
        seq.run();
        stepsRun += seq.stepsRun();
        for (const QString &f : seq.faults()) {
            ++failed;
            ADD_FAILURE() << f.toStdString();
        }
    }
    std::printf("model: %d sequence(s) from seed %llu, %d step(s), %d with a fault\n", sequences,
                static_cast<unsigned long long>(first), stepsRun, failed);
    qInstallMessageHandler(g_previousHandler);
    tl::Clock::setCompression(1);
}

} // namespace
