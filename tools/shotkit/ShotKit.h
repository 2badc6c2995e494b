#pragma once

// What the screenshot tools share: their application set-up, letting the event
// loop run, grabbing the screen and saving a picture.

#include <QApplication>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QTemporaryDir>

namespace tl::shots {

// The application of a screenshot tool: settings in a temporary folder of
// their own (the user's configuration is neither read nor written), up until
// the tool ends even when its last window closes, with the embedded images and
// language files loaded.
class ShotApp
{
public:
    ShotApp(int &argc, char **argv);

    // The folder named by argument `index`, or `fallback` without one; created.
    QString outputDir(int index, const QString &fallback = QStringLiteral("docs")) const;

private:
    QTemporaryDir m_home;
    QApplication m_app;
};

// Runs the event loop for `ms` of wall time.
void settle(int ms);

// What the primary screen shows in `area` (all of it for a null rectangle).
QPixmap grabScreen(const QRect &area = QRect());

// Saves `shot` and says so on stdout: "<path>: saved <w>x<h>" or "<path>: FAILED".
bool saveShot(const QPixmap &shot, const QString &path);

} // namespace tl::shots
