#pragma once

#include "device/TrackingSink.h"
#include "device/codec/Packet.h"
#include "input/ContactSlots.h"
#include "input/SilenceWatch.h"
#include "input/TouchInjector.h"
#include "input/TrackingPath.h"
#include "platform/CompanionLink.h"
#include "platform/InjectionBackend.h"
#include "platform/InjectionChooser.h"
#include "platform/Screens.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <mutex>

namespace tl::input {

// The process-wide tracking mutex: it guards the point table, the reported
// flags, the contact slots and the injector.
std::mutex &trackingMutex();

// The input injection object the controller owns: the tracking path, the
// injector and the backend they inject into. Every operation takes the
// tracking mutex, so the controller's thread and the receive threads can call
// any of them at any time. It is the device layer's tracking sink:
// CamDevCtrl::setTrackingSink(inputInjection).
class InputInjection : public TrackingSink
{
public:
    // `link` may be null (no companion window); it must outlive this object.
    explicit InputInjection(std::unique_ptr<InjectionBackend> backend, CompanionLink *link = nullptr);
    // The system's backend (touch device, pointer, XTest or none) as `chooser`
    // picks it, now and after every display change; `chooser` must outlive
    // this object. `userMessage` receives a text for the user when no
    // injection is possible.
    explicit InputInjection(const InjectionChooser &chooser, CompanionLink *link = nullptr,
                            QString *userMessage = nullptr);
    // Brings every contact up before the backend goes away.
    ~InputInjection() override;

    InputInjection(const InputInjection &) = delete;
    InputInjection &operator=(const InputInjection &) = delete;

    // After a display change (also while no module is connected). The mouse
    // path takes the new desktop at once. Touch devices cover the board's
    // monitors they were made and pinned for: when the monitors or the board's
    // rectangles changed, what is down comes up first, then the platform
    // backend is chosen, created and pinned anew. No backend change on an
    // object made with a given backend. True when the backend was replaced.
    bool desktopChanged(QString *userMessage = nullptr);

    // What the user should be told about injection, each kind at most once per
    // run: NoUinput (detail: the uinput path) or MappingFallback (detail: the
    // desktop). None when there is nothing new to tell.
    InjectionNotice takeNotice(QString *detail = nullptr);

    // ---- Controller's thread -------------------------------------------------

    // Smoothing mode (1 smoothed, 2 raw), smoothing parameter t, history mode.
    // A companion registering with a flag: configure(flag + 1, 0.8, 1).
    void configure(int smoothingMode, double t, int historyMode);

    // The companion window injected input is meant for (0 = none). Checked for
    // visibility at every cycle.
    void setTargetWindow(WindowHandle window);

    // The size absolute mouse units are normalised to.
    void setScreenSize(int width, int height);

    // The display layout: the two desktop rectangles of the sensor halves and
    // the number of connected modules (1 or 2).
    void setDisplayLayout(const QRect &rect0, const QRect &rect1, int numModules);
    // The same, with the rectangles chosen from the monitors for the module
    // count and the monitor setting.
    void selectDisplayLayout(int numModules, int monitorSetting);
    // Only the number of connected modules; takes effect for the cycle rule at
    // once and for the sensor rectangle at the next reset.
    void setNumModules(int numModules);

    // Tracking reset for one module index (called for 0 and 1 when tracking
    // starts): the slots empty, and the injector forgets what it kept for them.
    void resetTracking(int nDevNum);

    // Every contact that is down comes up (tracking stops, unplug, suspend).
    void releaseAllContacts();

    bool touchInjectionAvailable() const;
    InjectionBackend::Kind backendKind() const;
    QString backendName() const;

    // ---- Receive threads ----------------------------------------------------

    // One DAT_TC_DUAL_MODE payload of module nDevNum. Runs the cycle (merge,
    // match, inject) when it completes one, also when the other module counts
    // as silent; packets with a bad length are dropped. Allocates only for the
    // log line of a silence that ends.
    void trackingEntry(const uint8_t *payload, int length, int nDevNum);
    // The same, as the receive loops call it.
    void trackingPacket(const uint8_t *payload, int length, int nDevNum) override
    {
        trackingEntry(payload, length, nDevNum);
    }
    // A module that has not reported for its silence bound (SilenceWatch)
    // counts as reporting nothing from then on: its contacts come up, and with
    // two modules the other one's cycles go on without it. Logged once per
    // silence; a report ends the silence. Called by the receive loops after
    // every read; the tracking entry checks too.
    void checkSilence(int nDevNum) override;
    // The module's receive loop ended without a stop (device gone): it counts
    // as silent at once.
    void moduleGone(int nDevNum) override;

    // ---- Tests ---------------------------------------------------------------
    // Copies taken under the lock.
    ContactSlotTable contacts() const;
    TouchInjector::SlotBinding slotBinding(int s) const;
    DisplayMap displayMap() const;
    QRect mergedSensor() const;
    int touchState(int i) const;
    int smoothingMode() const;

    // The monitors the touch devices went to (log text per device).
    QStringList mappedOutputs() const;

private:
    void replaceBackend(std::unique_ptr<InjectionBackend> backend);
    // With the tracking mutex held: inject the slots of a complete cycle and
    // start the next one; log the modules that have just passed their silence
    // bound (true when there was one); let every silent module report nothing,
    // which may complete the cycle.
    void runCycle();
    bool noticeSilence(qint64 nowMs);
    void completeWithSilentModules();
    // Platform backends: builds and pins the backend for the current monitors
    // and board, when they differ from what the current one was made for.
    bool rebuildPlatformBackend(bool force, QString *userMessage);
    QList<QRect> boardRects() const;
    // Logs a module of the layout whose display rectangle is empty, once
    // while it stays so.
    void noteMissingDisplays(const DisplayMap &map, int numModules);

    std::unique_ptr<InjectionBackend> m_backend;
    std::unique_ptr<OutputPinner> m_pinner;
    // Null on an object made with a given backend.
    const InjectionChooser *m_chooser = nullptr;
    QRect m_platformDesktop;
    QList<MonitorInfo> m_platformMonitors;
    QList<QRect> m_platformBoard;
    QStringList m_mappedOutputs;
    // The layout as the controller last chose it (-2: given as rectangles).
    int m_nLayoutModules = 1;
    int m_nLayoutMonitor = -1;
    bool m_bLayoutSelected = false;
    bool m_bLayoutKnown = false;
    unsigned m_nMissingDisplays = 0;  // bit k: module k is counted and has no display
    InjectionNotice m_pendingNotice = InjectionNotice::None;
    QString m_sNoticeDetail;
    bool m_bToldNoUinput = false;
    bool m_bToldFallback = false;
    NullCompanionLink m_nullLink;
    TrackingPath m_tracking;
    SilenceWatch m_silence;
    // Each module's last tracking report (payload bytes), for a cycle that a
    // silent module's bound completes before the other module has reported
    // in it: that one's pens stand where it last showed them.
    // (A fixed buffer: the receive thread allocates nothing per report.)
    uint8_t m_lastReport[SilenceWatch::kModules][codec::kMaxPayload] = {};
    int m_lastReportLength[SilenceWatch::kModules] = {-1, -1};  // -1: none since the reset
    TouchInjector m_injector;
    WindowHandle m_targetWindow = 0;
};

} // namespace tl::input
