#include "app/CorvaneCompanion.h"

#include "app/Corvane.h"
#include "platform/Clock.h"
#include "platform/GlobalHotKey.h"
#include "platform/linux/KeyboardHookLibrary.h"
#include "platform/linux/X11CompanionLink.h"
#include "platform/linux/X11CompanionReceiver.h"
#include "settings/BrandProfile.h"

#include <QDebug>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>

namespace {
// The companion's window appears a while after its launch.
constexpr int kScrivoTries = 31;
constexpr int kScrivoPollMs = 300;

QString companionExecutable()
{
    return QString("%1%2").arg(QStringLiteral("/opt"), QString::fromUtf8(tl::kBrand.companionPath));
}
} // namespace

CorvaneCompanion::CorvaneCompanion(Corvane *window)
    : QObject(window), m_window(window), m_hook(std::make_unique<tl::KeyboardHookLibrary>())
{
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("xcb")) {
        qDebug() << "CorvaneCompanion: no global window lookup on platform" << platform
                 << "- companion link off";
        return;
    }
    auto link = std::make_unique<tl::X11CompanionLink>();
    if (!link->isOpen()) {
        qDebug() << "CorvaneCompanion: no X connection - companion link off";
        return;
    }
    m_link = std::move(link);
    m_receiver = std::make_unique<tl::X11CompanionReceiver>(m_link.get(), ownWindow());
    connect(m_receiver.get(), &tl::X11CompanionReceiver::runningApp, m_window, &Corvane::handleRunningApp);
    connect(m_receiver.get(), &tl::X11CompanionReceiver::intelApp, m_window, &Corvane::handleIntelApp);
}

CorvaneCompanion::~CorvaneCompanion()
{
    shutDown();
    m_receiver.reset();
}

tl::CompanionLink *CorvaneCompanion::link() const
{
    return m_link.get();
}

bool CorvaneCompanion::hookRunning() const
{
    return m_hook->isLoaded();
}

tl::WindowHandle CorvaneCompanion::ownWindow() const
{
    // The hidden main window has a native window of its own from here on: the
    // companion sends to it.
    return tl::WindowHandle(m_window->winId());
}

void CorvaneCompanion::makeTarget(tl::WindowHandle companion)
{
    m_link->announce(companion, ownWindow());
    if (m_window->control())
        m_window->control()->setHandleEventData(companion, false);
}

void CorvaneCompanion::lookupAndAnnounce()
{
    const tl::WindowHandle target =
        m_link ? m_link->findCompanion(QByteArray(tl::kBrand.companionName)) : tl::WindowHandle(0);
    qDebug() << "Corvane::initialStart() - target =" << target;
    if (target)
        makeTarget(target);
}

void CorvaneCompanion::startHookAndHotKey()
{
    if (!m_hook->isLoaded())
        m_hook->start(m_link ? ownWindow() : tl::WindowHandle(0));
    m_window->setFocus(Qt::OtherFocusReason);

    if (m_hotKey)
        m_hotKey->disconnect(m_window);
    m_hotKey.reset();
    m_hotKey = tl::createGlobalHotKey(QKeySequence(QString::fromLatin1(kReSensingKey)));
    if (m_hotKey)
        connect(m_hotKey.get(), &tl::GlobalHotKey::activated, m_window, &Corvane::shortcutReSensingPressed);
}

void CorvaneCompanion::shutDown()
{
    m_hook->stop();
    if (m_hotKey) {
        m_hotKey->disconnect(m_window);
        m_hotKey.reset();
    }
}

void CorvaneCompanion::startScrivo()
{
    const QString program = companionExecutable();
    if (!tl::kBrand.trayHasCompanionEntry || !QFileInfo(program).isExecutable()) {
        qDebug() << "StartScrivo: no companion application to launch for this brand";
        return;
    }
    if (!QProcess::startDetached(program, {})) {
        qDebug() << "StartScrivo: could not start" << program;
        return;
    }
    tl::WindowHandle target = 0;
    int tries = 0;
    while (!target && tries < kScrivoTries) {
        tl::Clock::sleepMs(kScrivoPollMs);
        ++tries;
        target = m_link ? m_link->findCompanion(QByteArray(tl::kBrand.companionName)) : tl::WindowHandle(0);
    }
    if (target)
        makeTarget(target);
    qDebug() << "StartScrivo: target =" << target << tries;
}
