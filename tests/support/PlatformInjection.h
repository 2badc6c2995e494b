#pragma once

#include "platform/linux/InjectionFactory.h"

namespace tl::test {

// The injection of the machine the test runs on, for tests that run the
// system's own (under the offscreen platform: one touch device over the
// desktop, else a pointer, else none).
inline const InjectionChooser &platformInjection()
{
    static const LinuxInjectionChooser chooser{};
    return chooser;
}

} // namespace tl::test
