#include "app/SingleApplication.h"

#include "settings/BrandProfile.h"
#include "settings/ConfigFileRW.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

SingleApplication::SingleApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
    qDebug() << "SingleApplication:" << QThread::currentThreadId();
}

SingleApplication::~SingleApplication()
{
    if (m_lockFd >= 0) {
        ::flock(m_lockFd, LOCK_UN);
        ::close(m_lockFd);
    }
}

QString SingleApplication::markerPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = ConfigFileRW::settingsFolder();
    return folder + "/" + QString::fromUtf8(tl::kBrand.productDisplayName) + ".lock";
}

bool SingleApplication::tryLock()
{
    if (m_lockFd >= 0)
        return true;
    const QString path = markerPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        qDebug() << "SingleApplication::tryLock(): cannot open" << path;
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_lockFd = fd;
    return true;
}
