#include "input/InputInjection.h"

#include "platform/Clock.h"

#include <QDebug>

#include <algorithm>

namespace tl::input {

std::mutex &trackingMutex()
{
    static std::mutex mutex;
    return mutex;
}

using Lock = std::lock_guard<std::mutex>;

InputInjection::InputInjection(std::unique_ptr<InjectionBackend> backend, CompanionLink *link)
    : m_backend(backend ? std::move(backend) : std::make_unique<NullInjectionBackend>()),
      m_injector(m_backend.get(), link ? link : &m_nullLink)
{
    qDebug() << "InputInjection::InputInjection(): backend =" << m_backend->name()
             << (m_injector.touchPath() ? "(touch path)" : "(mouse path)");
}

InputInjection::~InputInjection()
{
    Lock lock(trackingMutex());
    m_injector.releaseAll();
}

InputInjection::InputInjection(const InjectionChooser &chooser, CompanionLink *link, QString *userMessage)
    : InputInjection(std::make_unique<NullInjectionBackend>(), link)
{
    m_chooser = &chooser;
    rebuildPlatformBackend(true, userMessage);
}

QList<QRect> InputInjection::boardRects() const
{
    QList<QRect> rects;
    if (!m_bLayoutKnown)
        return rects;  // the primary monitor until the controller chooses
    const DisplayMap map = m_injector.displayMap();
    rects << map.rect[0];
    if (m_tracking.numModules() == 2)
        rects << map.rect[1];
    return rects;
}

bool InputInjection::rebuildPlatformBackend(bool force, QString *userMessage)
{
    InjectionSetup setup = m_chooser->currentSetup();
    {
        Lock lock(trackingMutex());
        setup.board = boardRects();
        m_injector.setDesktopSpace(
            DesktopSpace::fromMonitors(setup.monitors, setup.session == InjectionSetup::Session::X11));
    }
    auto sameMonitors = [](const QList<MonitorInfo> &a, const QList<MonitorInfo> &b) {
        if (a.size() != b.size())
            return false;
        for (int i = 0; i < a.size(); ++i)
            if (a[i].geometry != b[i].geometry || a[i].nativeGeometry() != b[i].nativeGeometry() || a[i].name != b[i].name)
                return false;
        return true;
    };
    // Without a compositor (offscreen) one device spans the desktop whatever the board.
    if (!force && setup.desktop == m_platformDesktop && sameMonitors(setup.monitors, m_platformMonitors) &&
        (setup.board == m_platformBoard || !setup.managed))
        return false;
    if (!force)
        qDebug() << "InputInjection::desktopChanged():" << m_platformDesktop << "->" << setup.desktop
                 << "board" << m_platformBoard << "->" << setup.board;
    {
        // The old devices go away with nothing down on them.
        Lock lock(trackingMutex());
        m_injector.releaseAll();
    }
    // The pinner of the old devices goes with them.
    std::unique_ptr<OutputPinner> oldPinner = std::move(m_pinner);
    InjectionChoice choice = m_chooser->choose(setup);
    if (userMessage)
        *userMessage = choice.userMessage;
    replaceBackend(std::move(choice.backend));
    oldPinner.reset();
    m_pinner = std::move(choice.pinner);
    m_platformDesktop = setup.desktop;
    m_platformMonitors = setup.monitors;
    m_platformBoard = setup.board;
    m_mappedOutputs = choice.mappedTo;
    // Told once per run and kind; the log has every occurrence.
    if (choice.notice == InjectionNotice::NoUinput && !m_bToldNoUinput) {
        m_pendingNotice = choice.notice;
        m_sNoticeDetail = choice.noticeDetail;
    } else if (choice.notice == InjectionNotice::MappingFallback && !m_bToldFallback) {
        m_pendingNotice = choice.notice;
        m_sNoticeDetail = choice.noticeDetail;
    }
    return true;
}

bool InputInjection::desktopChanged(QString *userMessage)
{
    if (!m_chooser) {
        Lock lock(trackingMutex());
        m_injector.setDesktopSpace(DesktopSpace::current());
        return false;
    }
    if (m_bLayoutSelected) {
        // The board's rectangles follow the monitors they were chosen from.
        const DisplayMap map = selectDisplayRects(m_nLayoutModules, m_nLayoutMonitor);
        {
            Lock lock(trackingMutex());
            m_injector.setDisplayMap(map);
        }
        noteMissingDisplays(map, m_nLayoutModules);
    }
    return rebuildPlatformBackend(false, userMessage);
}

InjectionNotice InputInjection::takeNotice(QString *detail)
{
    const InjectionNotice notice = m_pendingNotice;
    if (detail)
        *detail = m_sNoticeDetail;
    if (notice == InjectionNotice::NoUinput)
        m_bToldNoUinput = true;
    if (notice == InjectionNotice::MappingFallback)
        m_bToldFallback = true;
    m_pendingNotice = InjectionNotice::None;
    return notice;
}

QStringList InputInjection::mappedOutputs() const
{
    return m_mappedOutputs;
}

void InputInjection::replaceBackend(std::unique_ptr<InjectionBackend> backend)
{
    Lock lock(trackingMutex());
    m_injector.releaseAll();
    m_injector.setBackend(backend.get());
    m_backend = std::move(backend);
}

void InputInjection::configure(int smoothingMode, double t, int historyMode)
{
    Lock lock(trackingMutex());
    m_injector.configure(smoothingMode, t, historyMode);
}

void InputInjection::setTargetWindow(WindowHandle window)
{
    Lock lock(trackingMutex());
    m_targetWindow = window;
}

void InputInjection::setScreenSize(int width, int height)
{
    Lock lock(trackingMutex());
    m_injector.setScreenSize(width, height);
}

void InputInjection::setDisplayLayout(const QRect &rect0, const QRect &rect1, int numModules)
{
    DisplayMap map;
    map.rect[0] = rect0;
    map.rect[1] = rect1;
    {
        Lock lock(trackingMutex());
        m_injector.setDisplayMap(map);
        m_tracking.setNumModules(numModules);
        m_bLayoutSelected = false;
        m_bLayoutKnown = true;
    }
    noteMissingDisplays(map, numModules);
    // Touch devices follow the board's monitors.
    if (m_chooser)
        rebuildPlatformBackend(false, nullptr);
}

void InputInjection::noteMissingDisplays(const DisplayMap &map, int numModules)
{
    // Said once when it comes about, not per contact: the controller tells
    // the user ("Please check monitor resolution and alignment.").
    unsigned missing = 0;
    for (int k = 0; k < 2 && k < numModules; ++k)
        if (map.rect[k].isEmpty())
            missing |= 1u << k;
    if (missing && missing != m_nMissingDisplays) {
        for (int k = 0; k < 2; ++k)
            if (missing & (1u << k))
                qDebug() << "InputInjection::setDisplayLayout(): module" << k
                         << "has no display (its rectangle is empty): its contacts are not injected";
    }
    m_nMissingDisplays = missing;
}

void InputInjection::selectDisplayLayout(int numModules, int monitorSetting)
{
    // The monitor enumeration runs outside the lock: it may take a while and
    // needs none of the tracking state.
    const DisplayMap map = selectDisplayRects(numModules, monitorSetting);
    setDisplayLayout(map.rect[0], map.rect[1], numModules);
    m_nLayoutModules = numModules;
    m_nLayoutMonitor = monitorSetting;
    m_bLayoutSelected = true;
}

void InputInjection::setNumModules(int numModules)
{
    Lock lock(trackingMutex());
    m_tracking.setNumModules(numModules);
}

void InputInjection::resetTracking(int nDevNum)
{
    Lock lock(trackingMutex());
    m_tracking.reset(nDevNum);
    m_injector.forgetSlots();
    m_silence.reset(nDevNum, Clock::nowMs());
    if (nDevNum >= 0 && nDevNum < SilenceWatch::kModules)
        m_lastReportLength[nDevNum] = -1;
}

void InputInjection::releaseAllContacts()
{
    Lock lock(trackingMutex());
    m_injector.releaseAll();
}

bool InputInjection::touchInjectionAvailable() const
{
    Lock lock(trackingMutex());
    return m_injector.touchPath();
}

InjectionBackend::Kind InputInjection::backendKind() const
{
    Lock lock(trackingMutex());
    return m_backend->kind();
}

QString InputInjection::backendName() const
{
    Lock lock(trackingMutex());
    return m_backend->name();
}

void InputInjection::trackingEntry(const uint8_t *payload, int length, int nDevNum)
{
    Lock lock(trackingMutex());
    const qint64 now = Clock::nowMs();
    const TrackingPath::Result result = m_tracking.addReport(payload, length, nDevNum);
    if (result == TrackingPath::Result::Dropped)
        return;
    // (Taken by the tracking path: a module index of 0 or 1 and at most a
    // packet's payload.)
    std::copy(payload, payload + length, m_lastReport[nDevNum]);
    m_lastReportLength[nDevNum] = length;
    const qint64 silence = m_silence.heard(nDevNum, now);
    if (silence >= 0)
        qDebug().noquote() << QString::asprintf("InputInjection::trackingEntry(): module %d reports again after %lld ms",
                                                nDevNum, static_cast<long long>(silence));
    if (result == TrackingPath::Result::CycleDone)
        runCycle();
    // The other module may just have passed its bound; one that has counts
    // as reporting nothing, so this report completes the cycle.
    noticeSilence(now);
    if (result == TrackingPath::Result::Collecting)
        completeWithSilentModules();
}

void InputInjection::checkSilence(int nDevNum)
{
    Q_UNUSED(nDevNum);  // every module is looked at: one loop may be the only one left
    Lock lock(trackingMutex());
    if (noticeSilence(Clock::nowMs()))
        completeWithSilentModules();
}

void InputInjection::moduleGone(int nDevNum)
{
    Lock lock(trackingMutex());
    if (nDevNum < 0 || nDevNum >= SilenceWatch::kModules)
        return;
    m_silence.markSilent(nDevNum);
    qDebug().noquote() << QString::asprintf(
        "InputInjection::moduleGone(): module %d is gone: it counts as reporting nothing, its contacts are lifted",
        nDevNum);
    completeWithSilentModules();
}

void InputInjection::runCycle()
{
    m_injector.injectCycle(m_tracking.contacts(), m_targetWindow, 2);
    m_tracking.endCycle();
}

bool InputInjection::noticeSilence(qint64 nowMs)
{
    bool any = false;
    for (int m = 0; m < m_tracking.numModules(); ++m) {
        if (!m_silence.passedBound(m, nowMs))
            continue;
        const qint64 cycle = m_silence.cycleMs(m);
        qDebug().noquote() << QString::asprintf(
            "InputInjection::checkSilence(): module %d has not reported for %lld ms (bound %lld ms, report cycle %s): "
            "it counts as reporting nothing until it reports again, its contacts are lifted",
            m, static_cast<long long>(m_silence.quietMs(m, nowMs)), static_cast<long long>(m_silence.boundMs(m)),
            cycle < 0 ? "not yet known" : qPrintable(QStringLiteral("%1 ms").arg(cycle)));
        any = true;
    }
    return any;
}

void InputInjection::completeWithSilentModules()
{
    static const uint8_t kNothing = 0;
    // A silent module's points still waiting in the cycle are from before its
    // silence: they go first, or the cycle would complete with them.
    bool any = false;
    for (int m = 0; m < m_tracking.numModules(); ++m) {
        if (m_silence.silent(m)) {
            m_tracking.forgetReport(m);
            any = true;
        }
    }
    if (!any)
        return;
    for (int m = 0; m < m_tracking.numModules(); ++m) {
        if (m_silence.silent(m) && m_tracking.addReport(&kNothing, 0, m) == TrackingPath::Result::CycleDone) {
            runCycle();
            return;
        }
    }
    // The other module has not reported in this cycle: it may be quiet as
    // well, within a longer bound of its own (a module that has just shown a
    // long interval). The silent module's contacts must not wait for that
    // bound: the cycle completes with the other module's last report, which
    // keeps its contacts where they are.
    // Smoothing lifts in two cycles (in contact -> lifting -> up): with both
    // modules quiet no other cycle follows, so the same cycle runs again.
    for (int round = 0; round < 3; ++round) {
        bool lifting = false;
        for (int i = 0; i < kContactSlots; ++i)
            lifting = lifting || m_injector.touchState(i) == TouchInjector::TouchLifting;
        if (round > 0 && !lifting)
            return;
        bool done = false;
        for (int m = 0; m < m_tracking.numModules() && !done; ++m) {
            TrackingPath::Result result = TrackingPath::Result::Collecting;
            if (m_silence.silent(m)) {
                if (round > 0)
                    result = m_tracking.addReport(&kNothing, 0, m);
            } else if (m_lastReportLength[m] >= 0) {
                result = m_tracking.addReport(m_lastReport[m], m_lastReportLength[m], m);
            }
            done = result == TrackingPath::Result::CycleDone;
        }
        if (!done)
            return;
        runCycle();
    }
}

ContactSlotTable InputInjection::contacts() const
{
    Lock lock(trackingMutex());
    return m_tracking.contacts();
}

TouchInjector::SlotBinding InputInjection::slotBinding(int s) const
{
    Lock lock(trackingMutex());
    return s >= 0 && s < kContactSlots ? m_injector.slotBinding(s) : TouchInjector::SlotBinding();
}

DisplayMap InputInjection::displayMap() const
{
    Lock lock(trackingMutex());
    return m_injector.displayMap();
}

QRect InputInjection::mergedSensor() const
{
    Lock lock(trackingMutex());
    return m_tracking.mergedSensor();
}

int InputInjection::touchState(int i) const
{
    Lock lock(trackingMutex());
    return i >= 0 && i < kContactSlots ? m_injector.touchState(i) : TouchInjector::TouchUp;
}

int InputInjection::smoothingMode() const
{
    Lock lock(trackingMutex());
    return m_injector.smoothingMode();
}

} // namespace tl::input
