#pragma once

#include <QList>
#include <QSystemTrayIcon>

class ConfigFileRW;
class LanguageTable;
class QAction;
class QMenu;
class QWidget;

// The notification-area icon and its menu: connection state (tooltip, enabled
// entries, a balloon when the state changes) and the user's commands.
class CorvaneTray : public QSystemTrayIcon
{
    Q_OBJECT
public:
    enum ActionIndex {
        ActConfiguration = 0,
        ActAlignment,
        ActAutoCalibration,
        ActManualCalibration,
        ActPenMode,
        ActFingerMode,
        ActCompanion,
        ActKeyboard,
        ActAbout,
        ActExit,
        ActionCount
    };

    CorvaneTray(QWidget *mainWindow, ConfigFileRW *settings, LanguageTable *language);
    ~CorvaneTray() override;

    void updateConnect(bool bConnect, bool bMessage, const QString &sDeviceName);
    // A warning about input injection, through the tray or, without a tray
    // host, as a desktop notification; nothing for an empty text.
    void showNotice(const QString &body);
    void refreshModeMarks();

    QAction *action(int index) const;
    QMenu *menu() const { return m_menu; }
    // False on a desktop without a tray host; balloons then go out as desktop
    // notifications.
    bool hasTrayHost() const { return m_bTrayHost; }

signals:
    // Every balloon the tray shows (or sends as a notification instead).
    void balloonShown(const QString &title, const QString &body, int icon, int ms);

private:
    ConfigFileRW *m_settings = nullptr;
    LanguageTable *m_language = nullptr;
    QMenu *m_menu = nullptr;
    QList<QAction *> m_actions;
    bool m_bTrayHost = false;
};
