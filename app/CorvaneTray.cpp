#include "app/CorvaneTray.h"

#include "platform/DesktopNotifier.h"
#include "settings/BrandProfile.h"
#include "settings/ConfigFileRW.h"
#include "settings/LanguageTable.h"

#include <QAction>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QStandardPaths>

namespace {
constexpr int kBalloonMs = 10000;

QString substituted(const QString &text, const QString &deviceName)
{
    return text.contains("%1") ? text.arg(deviceName) : text;
}

// Where the companion drawing application would be installed.
QString companionExecutable()
{
    return QString("%1%2").arg(QStringLiteral("/opt"), QString::fromUtf8(tl::kBrand.companionPath));
}
} // namespace

CorvaneTray::CorvaneTray(QWidget *mainWindow, ConfigFileRW *settings, LanguageTable *language)
    : QSystemTrayIcon(mainWindow)
    , m_settings(settings)
    , m_language(language)
{
    m_menu = new QMenu(mainWindow);
    for (int i = 0; i < ActionCount; ++i)
        m_actions.append(new QAction(m_language->trayText(i), this));
    m_actions[ActPenMode]->setCheckable(true);
    m_actions[ActFingerMode]->setCheckable(true);

    for (int i = ActConfiguration; i <= ActManualCalibration; ++i)
        m_menu->addAction(m_actions[i]);
    m_menu->addSeparator();
    m_menu->addAction(m_actions[ActPenMode]);
    m_menu->addAction(m_actions[ActFingerMode]);
    m_menu->addSeparator();
    if (tl::kBrand.trayHasCompanionEntry)
        m_menu->addAction(m_actions[ActCompanion]);
    if (tl::kBrand.trayHasKeyboardEntry)
        m_menu->addAction(m_actions[ActKeyboard]);
    m_menu->addAction(m_actions[ActAbout]);
    m_menu->addAction(m_actions[ActExit]);
    m_menu->setDefaultAction(m_actions[ActConfiguration]);
    setContextMenu(m_menu);
    connect(m_menu, &QMenu::aboutToShow, this, [this] {
        int entries = 0;
        for (const QAction *a : m_menu->actions())
            entries += a->isSeparator() ? 0 : 1;
        qDebug() << "CorvaneTray: menu opened with" << entries << "entries";
    });

    setIcon(QIcon(":/Corvane/icon"));
    m_actions[ActCompanion]->setEnabled(QFileInfo::exists(companionExecutable()));
    refreshModeMarks();

    m_bTrayHost = QSystemTrayIcon::isSystemTrayAvailable();
    if (!m_bTrayHost)
        qDebug() << "CorvaneTray: no system tray host; connection messages go out as desktop notifications";

    qDebug() << "CorvaneTray::updateConnect():" << 0 << 0 << "";
    for (int i = ActConfiguration; i <= ActFingerMode; ++i)
        m_actions[i]->setEnabled(false);
    setToolTip(m_language->messageText(16));
    show();
}

CorvaneTray::~CorvaneTray()
{
    delete m_menu;
}

QAction *CorvaneTray::action(int index) const
{
    return (index >= 0 && index < m_actions.size()) ? m_actions[index] : nullptr;
}

void CorvaneTray::refreshModeMarks()
{
    const int mode = m_settings->getPenTouchMode();
    if (mode != 0 && mode != 1)
        return;
    QAction *pen = m_actions[ActPenMode];
    QAction *finger = m_actions[ActFingerMode];
    QFont bold = pen->font();
    bold.setWeight(75);
    QFont normal = pen->font();
    normal.setWeight(50);
    pen->setChecked(mode == 0);
    pen->setFont(mode == 0 ? bold : normal);
    finger->setChecked(mode == 1);
    finger->setFont(mode == 1 ? bold : normal);
}

void CorvaneTray::showNotice(const QString &body)
{
    if (body.isEmpty())
        return;
    const QString title = QString::fromUtf8(tl::kBrand.productDisplayName);
    qDebug() << "CorvaneTray::showNotice():" << body;
    if (m_bTrayHost)
        showMessage(title, body, Warning, 10000);
    else if (!tl::sendDesktopNotification(title, body, true, 10000))
        qDebug() << "CorvaneTray: no notification service:" << body;
}

void CorvaneTray::updateConnect(bool bConnect, bool bMessage, const QString &sDeviceName)
{
    qDebug() << "CorvaneTray::updateConnect():" << bConnect << bMessage << sDeviceName;
    for (int i = ActConfiguration; i <= ActFingerMode; ++i)
        m_actions[i]->setEnabled(bConnect);
    setToolTip(m_language->messageText(bConnect ? 15 : 16));
    show();
    if (!bMessage)
        return;

    const QString title = substituted(m_language->messageText(14), sDeviceName);
    const QString body = "\r\n" + substituted(m_language->messageText(bConnect ? 17 : 18), sDeviceName);
    const MessageIcon icon = bConnect ? Information : Critical;
    if (m_bTrayHost)
        showMessage(title, body, icon, kBalloonMs);
    else if (!tl::sendDesktopNotification(title, body.trimmed(), !bConnect, kBalloonMs))
        qDebug() << "CorvaneTray: no notification service:" << title << body.trimmed();
    emit balloonShown(title, body, static_cast<int>(icon), kBalloonMs);
}
