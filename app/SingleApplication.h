#pragma once

#include <QApplication>
#include <QString>

// The application object. It adds the single-instance marker: a lock file held
// with flock(2) under the key "Tesselink Driver". The kernel drops the lock when
// the process ends, however it ends, so a crashed or killed instance never locks
// the user out of the next start.
class SingleApplication : public QApplication
{
    Q_OBJECT
public:
    SingleApplication(int &argc, char **argv);
    ~SingleApplication() override;

    // True when this process now holds the marker; false when another instance does.
    bool tryLock();

    // Where the marker lives: the user's runtime folder, else the settings folder.
    static QString markerPath();

private:
    int m_lockFd = -1;
};
