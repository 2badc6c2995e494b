#pragma once

// The toolkit's one-time objects and LeakSanitizer. The platform plugin makes
// its screens (and their helper objects) as the application object starts and
// never deletes them: they live until the process ends. LeakSanitizer cannot
// match them by a suppression in an ordinary run (the Qt libraries have no frame
// pointers, so the fast unwinder stops one frame into Qt), so the mains of the
// tests and tools make their application object with this thread's allocations
// left out of the leak check. Everything made afterwards is checked.

#include <memory>

#if defined(__SANITIZE_ADDRESS__)
#define TL_TEST_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TL_TEST_LSAN 1
#endif
#endif

#ifdef TL_TEST_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace tl::test {

// While one lives, what this thread allocates is not reported as a leak.
class OneTimeAllocations
{
public:
    OneTimeAllocations()
    {
#ifdef TL_TEST_LSAN
        __lsan_disable();
#endif
    }
    ~OneTimeAllocations()
    {
#ifdef TL_TEST_LSAN
        __lsan_enable();
#endif
    }
    OneTimeAllocations(const OneTimeAllocations &) = delete;
    OneTimeAllocations &operator=(const OneTimeAllocations &) = delete;
};

// The application object (QApplication, QGuiApplication), its platform
// start-up left out of the leak check.
template <typename App>
std::unique_ptr<App> startApplication(int &argc, char **argv)
{
    OneTimeAllocations oneTime;
    return std::make_unique<App>(argc, argv);
}

} // namespace tl::test
