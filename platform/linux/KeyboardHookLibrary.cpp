#include "platform/linux/KeyboardHookLibrary.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>

#include <dlfcn.h>

namespace tl {

namespace {
using RunHookFn = void (*)(unsigned long);
using KillHookFn = void (*)();
} // namespace

bool KeyboardHookLibrary::start(const QString &library, WindowHandle window)
{
    if (m_handle)
        stop();
    void *handle = dlopen(QFile::encodeName(library).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        qDebug() << "KeyboardHookLibrary: no hook library:" << dlerror();
        return false;
    }
    auto runHook = reinterpret_cast<RunHookFn>(dlsym(handle, "RunHook"));
    if (!runHook) {
        qDebug() << "KeyboardHookLibrary:" << library << "has no RunHook; running without the hook";
        // Not unloaded: its initialisers have run and may have left threads or
        // handlers behind.
        return false;
    }
    m_handle = handle;
    qDebug() << "KeyboardHookLibrary: RunHook" << library << window;
    runHook(static_cast<unsigned long>(window));
    return true;
}

bool KeyboardHookLibrary::start(WindowHandle window)
{
    const QString beside = QCoreApplication::applicationDirPath() + '/' + QLatin1String(kFileName);
    if (QFileInfo::exists(beside))
        return start(beside, window);
    return start(QString::fromLatin1(kFileName), window);
}

void KeyboardHookLibrary::stop()
{
    if (!m_handle)
        return;
    auto killHook = reinterpret_cast<KillHookFn>(dlsym(m_handle, "KillHook"));
    qDebug() << "KeyboardHookLibrary: KillHook" << (killHook ? "called" : "not exported");
    if (killHook)
        killHook();
    m_handle = nullptr;
}

} // namespace tl
