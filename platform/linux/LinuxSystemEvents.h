#pragma once

#include "platform/SystemEvents.h"

class QScreen;
class QSocketNotifier;

namespace tl {

// System events of a Linux desktop session:
// - suspend and resume: logind's PrepareForSleep(bool) on the system bus;
// - display change: a screen added, removed or changing geometry;
// - session end: SIGTERM, SIGINT, and the session manager's commit request.
// Device interfaces come from the USB hotplug source, not from here.
class LinuxSystemEvents : public SystemEventSource
{
    Q_OBJECT
public:
    explicit LinuxSystemEvents(QObject *parent = nullptr);
    ~LinuxSystemEvents() override;

    // True when logind could be reached.
    bool sleepSignalsAvailable() const { return m_bLogind; }

private slots:
    void onPrepareForSleep(bool start);
    void onSignalPipe();

private:
    void watchScreen(QScreen *screen);
    // Asks logind to hold the suspend until the modules are stopped (a "delay"
    // inhibitor); released as soon as the suspend has been handled.
    void takeSleepDelay();
    void releaseSleepDelay();

    bool m_bLogind = false;
    int m_sleepDelayFd = -1;
    QSocketNotifier *m_signalNotifier = nullptr;
};

} // namespace tl
