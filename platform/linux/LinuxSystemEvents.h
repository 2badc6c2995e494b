#pragma once

#include "platform/SystemEvents.h"

class QScreen;
class QSocketNotifier;

namespace tl {

// System events of a Linux desktop session:
// - suspend and resume: logind's PrepareForSleep(bool) on the system bus;
// - display change: a screen added, removed or changing geometry;
// - session end: SIGTERM, SIGINT, SIGHUP, logind's PrepareForShutdown and the
//   session manager's end of the session (a Quit event from the platform); a
//   mere save of the session (commitDataRequest) is not an end.
// Device interfaces come from the USB hotplug source, not from here.
class LinuxSystemEvents : public SystemEventSource
{
    Q_OBJECT
public:
    explicit LinuxSystemEvents(QObject *parent = nullptr);
    ~LinuxSystemEvents() override;

    // True when logind could be reached.
    bool sleepSignalsAvailable() const { return m_bLogind; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void onPrepareForSleep(bool start);
    void onPrepareForShutdown(bool start);
    void onSignalPipe();

private:
    void watchScreen(QScreen *screen);
    void endSession(const char *why);
    // Asks logind to hold the suspend until the modules are stopped (a "delay"
    // inhibitor); released as soon as the suspend has been handled.
    void takeSleepDelay();
    void releaseSleepDelay();

    bool m_bLogind = false;
    int m_sleepDelayFd = -1;
    QSocketNotifier *m_signalNotifier = nullptr;
};

} // namespace tl
