#pragma once

#include "platform/CompanionLink.h"

#include <QString>

namespace tl {

// The keyboard hook library that ships with the companion application, loaded
// at run time when present. On Linux it is "libtesselink-keyhook.so", found
// beside the driver's executable first, then on the dynamic loader's search
// path. It exports, with C linkage:
//   void RunHook(unsigned long window);  // the driver main window's X id
//   void KillHook(void);
// What the hook does is the library's business. Without the library, or
// without RunHook, the driver runs without a hook and never calls KillHook.
class KeyboardHookLibrary
{
public:
    static constexpr const char *kFileName = "libtesselink-keyhook.so";

    KeyboardHookLibrary() = default;
    ~KeyboardHookLibrary() = default;  // never unloaded: the hook may still run code
    KeyboardHookLibrary(const KeyboardHookLibrary &) = delete;
    KeyboardHookLibrary &operator=(const KeyboardHookLibrary &) = delete;

    // Loads the library (a path, or a file name to search) and starts the hook
    // with `window`. False, with a log line, when either is missing; the
    // library is then forgotten.
    bool start(const QString &library, WindowHandle window);
    // The default place: beside the executable, then the loader's path.
    bool start(WindowHandle window);
    // Calls KillHook when present and forgets the library.
    void stop();

    bool isLoaded() const { return m_handle != nullptr; }

private:
    void *m_handle = nullptr;
};

} // namespace tl
