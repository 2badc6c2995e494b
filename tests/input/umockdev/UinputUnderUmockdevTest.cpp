// The uinput backends against an emulated /dev/uinput: a umockdev testbed node
// whose ioctl and write handlers play the kernel's uinput. The test sees the
// device set-up the backend asks for and decodes the exact event stream it
// writes. Runs under umockdev-wrapper (the preload library); skipped without.
#include "input/InputInjection.h"
#include "platform/InjectionFactory.h"
#include "platform/Screens.h"
#include "platform/linux/UinputMouseBackend.h"
#include "platform/linux/UinputTouchBackend.h"

#include <linux/input.h>
#include <linux/uinput.h>
#include <umockdev.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <vector>

namespace {

// What the emulated uinput node has been told.
struct UinputState
{
    std::mutex lock;
    std::set<int> evbits, keybits, absbits, propbits;
    std::map<int, input_absinfo> abs;
    uinput_setup setup{};
    int created = 0;
    int destroyed = 0;
    std::vector<input_event> events;
    std::vector<unsigned long> unknown;
};

gboolean onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer data)
{
    auto *st = static_cast<UinputState *>(data);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    // Integer arguments travel in the pointer-sized buffer itself.
    long value = 0;
    if (arg && arg->data_len >= int(sizeof(long)))
        std::memcpy(&value, arg->data, sizeof(long));
    std::lock_guard<std::mutex> guard(st->lock);
    GError *error = nullptr;

    if (request == UI_SET_EVBIT) {
        st->evbits.insert(int(value));
    } else if (request == UI_SET_KEYBIT) {
        st->keybits.insert(int(value));
    } else if (request == UI_SET_ABSBIT) {
        st->absbits.insert(int(value));
    } else if (request == UI_SET_PROPBIT) {
        st->propbits.insert(int(value));
    } else if (request == UI_ABS_SETUP) {
        UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(uinput_abs_setup), &error);
        if (!d) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            g_clear_error(&error);
            return TRUE;
        }
        uinput_abs_setup s;
        std::memcpy(&s, d->data, sizeof s);
        st->abs[s.code] = s.absinfo;
    } else if (request == UI_DEV_SETUP) {
        UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(uinput_setup), &error);
        if (!d) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            g_clear_error(&error);
            return TRUE;
        }
        std::memcpy(&st->setup, d->data, sizeof st->setup);
    } else if (request == UI_GET_VERSION) {
        // Version 5 and later take UI_DEV_SETUP / UI_ABS_SETUP instead of the
        // old uinput_user_dev write.
        UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned int), &error);
        if (!d) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            g_clear_error(&error);
            return TRUE;
        }
        const unsigned int version = 5;
        std::memcpy(d->data, &version, sizeof version);
    } else if (request == UI_DEV_CREATE) {
        ++st->created;
    } else if (request == UI_DEV_DESTROY) {
        ++st->destroyed;
    } else if (_IOC_TYPE(request) == UINPUT_IOCTL_BASE && _IOC_NR(request) == _IOC_NR(UI_GET_SYSNAME(0)) &&
               _IOC_SIZE(request) >= 8) {
        // The name under /sys/devices/virtual/input/ of the new device.
        UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, _IOC_SIZE(request), &error);
        if (!d) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            g_clear_error(&error);
            return TRUE;
        }
        static const char name[] = "input77";
        std::memcpy(d->data, name, sizeof name);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    } else {
        st->unknown.push_back(request);
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return TRUE;
    }
    umockdev_ioctl_client_complete(client, 0, 0);
    return TRUE;
}

gboolean onWrite(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer data)
{
    auto *st = static_cast<UinputState *>(data);
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard<std::mutex> guard(st->lock);
    const int n = arg ? arg->data_len : 0;
    for (int off = 0; off + int(sizeof(input_event)) <= n; off += int(sizeof(input_event))) {
        input_event ev;
        std::memcpy(&ev, arg->data + off, sizeof ev);
        st->events.push_back(ev);
    }
    umockdev_ioctl_client_complete(client, n, 0);
    return TRUE;
}

class EmulatedUinput : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char *preload = std::getenv("LD_PRELOAD");
        if (!preload || !std::strstr(preload, "libumockdev-preload"))
            GTEST_SKIP() << "needs umockdev-wrapper";
        testbed = umockdev_testbed_new();
        GError *error = nullptr;
        ASSERT_TRUE(umockdev_testbed_add_from_string(testbed,
                                                     "P: /devices/virtual/misc/uinput\n"
                                                     "N: uinput\n"
                                                     "E: DEVNAME=/dev/uinput\n"
                                                     "E: SUBSYSTEM=misc\n"
                                                     "A: dev=10:223\n"
                                                     "\n"
                                                     // Where the kernel would put the created device.
                                                     "P: /devices/virtual/input/input77\n"
                                                     "E: SUBSYSTEM=input\n"
                                                     "\n"
                                                     "P: /devices/virtual/input/input77/event77\n"
                                                     "N: input/event77\n"
                                                     "E: DEVNAME=/dev/input/event77\n"
                                                     "E: SUBSYSTEM=input\n"
                                                     "A: dev=13:77\n",
                                                     &error))
            << (error ? error->message : "");
        handler = umockdev_ioctl_base_new();
        g_signal_connect(handler, "handle-ioctl", G_CALLBACK(onIoctl), &state);
        g_signal_connect(handler, "handle-write", G_CALLBACK(onWrite), &state);
        ASSERT_TRUE(umockdev_testbed_attach_ioctl(testbed, "/dev/uinput", handler, &error))
            << (error ? error->message : "");
    }

    void TearDown() override
    {
        if (testbed) {
            umockdev_testbed_detach_ioctl(testbed, "/dev/uinput", nullptr);
            g_object_unref(handler);
            g_object_unref(testbed);
        }
    }

    std::vector<input_event> takeEvents()
    {
        std::lock_guard<std::mutex> guard(state.lock);
        std::vector<input_event> out;
        out.swap(state.events);
        return out;
    }

    UMockdevTestbed *testbed = nullptr;
    UMockdevIoctlBase *handler = nullptr;
    UinputState state;
};

struct Ev
{
    unsigned type, code;
    int value;
    bool operator==(const Ev &o) const { return type == o.type && code == o.code && value == o.value; }
};

std::vector<Ev> plain(const std::vector<input_event> &events)
{
    std::vector<Ev> out;
    for (const input_event &e : events)
        out.push_back({e.type, e.code, e.value});
    return out;
}

} // namespace

TEST_F(EmulatedUinput, TouchDeviceSetUpAndEventStream)
{
    QString error;
    auto backend = tl::UinputTouchBackend::create(QStringLiteral("/dev/uinput"),
                                                  {QRect(0, 0, 1920, 1080), 96.0 / 25.4}, &error);
    ASSERT_NE(backend, nullptr) << error.toStdString();
    {
        std::lock_guard<std::mutex> guard(state.lock);
        EXPECT_TRUE(state.created);
        EXPECT_TRUE(state.unknown.empty()) << std::hex << state.unknown.front();
        EXPECT_EQ(std::string(state.setup.name), "Tesselink Driver touch");
        EXPECT_EQ(state.setup.id.vendor, 0x16D0);
        EXPECT_EQ(state.setup.id.product, 0x0F8C);
        EXPECT_TRUE(state.propbits.count(INPUT_PROP_DIRECT));
        EXPECT_TRUE(state.evbits.count(EV_KEY));
        EXPECT_TRUE(state.evbits.count(EV_ABS));
        EXPECT_TRUE(state.keybits.count(BTN_TOUCH));
        EXPECT_FALSE(state.keybits.count(BTN_LEFT));
        ASSERT_TRUE(state.abs.count(ABS_MT_SLOT));
        EXPECT_EQ(state.abs[ABS_MT_SLOT].maximum, 9);
        ASSERT_TRUE(state.abs.count(ABS_MT_POSITION_X));
        EXPECT_EQ(state.abs[ABS_MT_POSITION_X].maximum, 1919);
        EXPECT_EQ(state.abs[ABS_MT_POSITION_X].resolution, 4);
        EXPECT_EQ(state.abs[ABS_MT_POSITION_Y].maximum, 1079);
        EXPECT_TRUE(state.abs.count(ABS_MT_TRACKING_ID));
        EXPECT_TRUE(state.abs.count(ABS_X));
    }

    tl::TouchRecord r{0, 960, 540, tl::kTouchFlagsDown};
    ASSERT_TRUE(backend->injectTouch(&r, 1));
    r = {0, 970, 540, tl::kTouchFlagsMove};
    backend->injectTouch(&r, 1);
    r.flags = tl::kTouchFlagsUp;
    backend->injectTouch(&r, 1);
    const std::vector<Ev> expected = {
        {EV_ABS, ABS_MT_SLOT, 0},         {EV_ABS, ABS_MT_TRACKING_ID, 0}, {EV_ABS, ABS_MT_POSITION_X, 960},
        {EV_ABS, ABS_MT_POSITION_Y, 540}, {EV_KEY, BTN_TOUCH, 1},          {EV_ABS, ABS_X, 960},
        {EV_ABS, ABS_Y, 540},             {EV_SYN, SYN_REPORT, 0},         {EV_ABS, ABS_MT_POSITION_X, 970},
        {EV_ABS, ABS_X, 970},             {EV_SYN, SYN_REPORT, 0},         {EV_ABS, ABS_MT_TRACKING_ID, -1},
        {EV_KEY, BTN_TOUCH, 0},           {EV_SYN, SYN_REPORT, 0},
    };
    EXPECT_EQ(plain(takeEvents()), expected);

    backend.reset();
    std::lock_guard<std::mutex> guard(state.lock);
    EXPECT_TRUE(state.destroyed);
}

TEST_F(EmulatedUinput, TheFactoryPicksTheTouchPathAndAPenStrokeComesUp)
{
    tl::InjectionSetup setup;
    setup.desktop = QRect(0, 0, 1920, 1080);
    tl::InjectionChoice choice = tl::createInjectionBackend(setup);
    ASSERT_EQ(choice.backend->kind(), tl::InjectionBackend::Kind::Touch);
    EXPECT_TRUE(choice.userMessage.isEmpty());

    tl::input::InputInjection inj(std::move(choice.backend));
    ASSERT_TRUE(inj.touchInjectionAvailable());
    inj.setDisplayLayout(QRect(0, 0, 1920, 1080), QRect(), 1);
    inj.resetTracking(0);
    auto record = [](int x, int y) {
        std::vector<uint8_t> b(6);
        b[0] = uint8_t(x);
        b[1] = uint8_t(x >> 8);
        b[2] = uint8_t(y);
        b[3] = uint8_t(y >> 8);
        b[4] = 100;
        return b;
    };
    int calls = 0;
    for (int k = 0; k < 20; ++k) {
        const auto b = record(1000 + 50 * k, 1500);
        inj.trackingEntry(b.data(), 6, 0);
        ++calls;
    }
    inj.trackingEntry(nullptr, 0, 0);
    calls += 2;  // smoothing: the release takes two rounds in the same cycle

    const std::vector<input_event> events = takeEvents();
    int syn = 0, downs = 0, ups = 0;
    bool touching = false;
    for (const input_event &e : events) {
        syn += e.type == EV_SYN && e.code == SYN_REPORT;
        if (e.type == EV_ABS && e.code == ABS_MT_TRACKING_ID)
            (e.value >= 0 ? downs : ups) += 1;
        if (e.type == EV_KEY && e.code == BTN_TOUCH)
            touching = e.value != 0;
    }
    EXPECT_EQ(syn, calls);
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(ups, 1);
    EXPECT_FALSE(touching);
}

TEST_F(EmulatedUinput, PointerDeviceSetUpAndClick)
{
    QString error;
    auto backend = tl::UinputMouseBackend::create(QStringLiteral("/dev/uinput"), &error);
    ASSERT_NE(backend, nullptr) << error.toStdString();
    {
        std::lock_guard<std::mutex> guard(state.lock);
        EXPECT_TRUE(state.keybits.count(BTN_LEFT));
        EXPECT_TRUE(state.keybits.count(BTN_RIGHT));
        EXPECT_EQ(state.abs[ABS_X].maximum, 65535);
        EXPECT_EQ(state.abs[ABS_Y].maximum, 65535);
        EXPECT_TRUE(state.propbits.empty());
    }
    backend->sendMouse(32767, 100, 0x8007);
    const std::vector<Ev> expected = {{EV_ABS, ABS_X, 32767},  {EV_ABS, ABS_Y, 100},  {EV_KEY, BTN_LEFT, 1},
                                      {EV_SYN, SYN_REPORT, 0}, {EV_KEY, BTN_LEFT, 0}, {EV_SYN, SYN_REPORT, 0}};
    EXPECT_EQ(plain(takeEvents()), expected);
}

TEST_F(EmulatedUinput, ADisplayChangeRebuildsTheTouchDeviceForTheNewDesktop)
{
    tl::ScreenSource::setOverride({{QRect(0, 0, 1920, 1080), 96.0}});
    QString message;
    auto inj = tl::input::InputInjection::createForPlatform(nullptr, &message);
    ASSERT_TRUE(inj->touchInjectionAvailable());
    EXPECT_TRUE(message.isEmpty());
    inj->setDisplayLayout(QRect(0, 0, 1920, 1080), QRect(), 1);
    inj->resetTracking(0);
    const uint8_t rec[6] = {0xE8, 0x03, 0xDC, 0x05, 100, 0};  // x 1000, y 1500
    inj->trackingEntry(rec, 6, 0);

    // Same desktop: nothing to do.
    EXPECT_FALSE(inj->desktopChanged());

    // A second monitor to the right: the contact comes up on the old device,
    // which goes; the new one spans both monitors.
    tl::ScreenSource::setOverride({{QRect(0, 0, 1920, 1080), 96.0}, {QRect(1920, 0, 1920, 1080), 96.0}});
    EXPECT_TRUE(inj->desktopChanged());
    EXPECT_TRUE(inj->touchInjectionAvailable());
    int downs = 0, ups = 0;
    for (const input_event &e : takeEvents())
        if (e.type == EV_ABS && e.code == ABS_MT_TRACKING_ID)
            (e.value >= 0 ? downs : ups) += 1;
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(ups, 1);
    {
        std::lock_guard<std::mutex> guard(state.lock);
        EXPECT_EQ(state.created, 2);
        EXPECT_EQ(state.destroyed, 1);
        EXPECT_EQ(state.abs[ABS_MT_POSITION_X].maximum, 3839);
    }
    tl::ScreenSource::clearOverride();
}
