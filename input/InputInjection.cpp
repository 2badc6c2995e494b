#include "input/InputInjection.h"

#include "platform/InjectionFactory.h"

#include <QDebug>

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

std::unique_ptr<InputInjection> InputInjection::createForPlatform(CompanionLink *link, QString *userMessage)
{
    const InjectionSetup setup = defaultInjectionSetup();
    InjectionChoice choice = createInjectionBackend(setup);
    if (userMessage)
        *userMessage = choice.userMessage;
    auto injection = std::make_unique<InputInjection>(std::move(choice.backend), link);
    injection->m_bPlatformBackend = true;
    injection->m_platformDesktop = setup.desktop;
    return injection;
}

bool InputInjection::desktopChanged(QString *userMessage)
{
    if (!m_bPlatformBackend)
        return false;
    const InjectionSetup setup = defaultInjectionSetup();
    if (setup.desktop == m_platformDesktop)
        return false;
    qDebug() << "InputInjection::desktopChanged():" << m_platformDesktop << "->" << setup.desktop;
    {
        // The old device goes away with nothing down on it.
        Lock lock(trackingMutex());
        m_injector.releaseAll();
    }
    InjectionChoice choice = createInjectionBackend(setup);
    if (userMessage)
        *userMessage = choice.userMessage;
    replaceBackend(std::move(choice.backend));
    m_platformDesktop = setup.desktop;
    return true;
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
    Lock lock(trackingMutex());
    DisplayMap map;
    map.rect[0] = rect0;
    map.rect[1] = rect1;
    m_injector.setDisplayMap(map);
    m_tracking.setNumModules(numModules);
}

void InputInjection::selectDisplayLayout(int numModules, int monitorSetting)
{
    // The monitor enumeration runs outside the lock: it may take a while and
    // needs none of the tracking state.
    const DisplayMap map = selectDisplayRects(numModules, monitorSetting);
    setDisplayLayout(map.rect[0], map.rect[1], numModules);
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
    if (m_tracking.addReport(payload, length, nDevNum) != TrackingPath::Result::CycleDone)
        return;
    m_injector.injectCycle(m_tracking.contacts(), m_targetWindow, 2);
    m_tracking.endCycle();
}

ContactSlotTable InputInjection::contacts() const
{
    Lock lock(trackingMutex());
    return m_tracking.contacts();
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
