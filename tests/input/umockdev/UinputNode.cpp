// GLib before Qt: Qt's "signals" keyword would rewrite GLib's field names.
#include <umockdev.h>

#include "UinputNode.h"

#include <cstring>

namespace {

// The argument of `client` as `size` bytes; on failure the call is answered
// with EFAULT.
bool resolve(UMockdevIoctlClient *client, UMockdevIoctlData *arg, size_t size, UMockdevIoctlData **out)
{
    GError *error = nullptr;
    *out = umockdev_ioctl_data_resolve(arg, 0, size, &error);
    if (*out)
        return true;
    g_clear_error(&error);
    umockdev_ioctl_client_complete(client, -1, EFAULT);
    return false;
}

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
    UMockdevIoctlData *d = nullptr;
    if (request == UI_SET_EVBIT) {
        st->evbits.insert(int(value));
    } else if (request == UI_SET_KEYBIT) {
        st->keybits.insert(int(value));
    } else if (request == UI_SET_ABSBIT) {
        st->absbits.insert(int(value));
    } else if (request == UI_SET_PROPBIT) {
        st->propbits.insert(int(value));
    } else if (request == UI_ABS_SETUP) {
        if (!resolve(client, arg, sizeof(uinput_abs_setup), &d))
            return TRUE;
        uinput_abs_setup s;
        std::memcpy(&s, d->data, sizeof s);
        st->abs[s.code] = s.absinfo;
    } else if (request == UI_DEV_SETUP) {
        if (!resolve(client, arg, sizeof(uinput_setup), &d))
            return TRUE;
        std::memcpy(&st->setup, d->data, sizeof st->setup);
    } else if (request == UI_GET_VERSION) {
        // Version 5 and later take UI_DEV_SETUP / UI_ABS_SETUP instead of the
        // old uinput_user_dev write.
        if (!resolve(client, arg, sizeof(unsigned int), &d))
            return TRUE;
        const unsigned int version = 5;
        std::memcpy(d->data, &version, sizeof version);
    } else if (request == UI_DEV_CREATE) {
        ++st->created;
    } else if (request == UI_DEV_DESTROY) {
        ++st->destroyed;
    } else if (_IOC_TYPE(request) == UINPUT_IOCTL_BASE && _IOC_NR(request) == _IOC_NR(UI_GET_SYSNAME(0)) &&
               _IOC_SIZE(request) >= 8) {
        // The name under /sys/devices/virtual/input/ of the new device.
        if (!resolve(client, arg, _IOC_SIZE(request), &d))
            return TRUE;
        static const char name[] = "input77";
        std::memcpy(d->data, name, sizeof name);
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
        st->events.push_back({st->now, ev});
    }
    umockdev_ioctl_client_complete(client, n, 0);
    return TRUE;
}

} // namespace

UinputNode::UinputNode(UinputState *state, bool withEventNode)
{
    m_testbed = umockdev_testbed_new();
    QByteArray devices = "P: /devices/virtual/misc/uinput\n"
                         "N: uinput\n"
                         "E: DEVNAME=/dev/uinput\n"
                         "E: SUBSYSTEM=misc\n"
                         "A: dev=10:223\n"
                         "\n"
                         // Where the kernel would put the created device.
                         "P: /devices/virtual/input/input77\n"
                         "E: SUBSYSTEM=input\n";
    if (withEventNode)
        devices += "\n"
                   "P: /devices/virtual/input/input77/event77\n"
                   "N: input/event77\n"
                   "E: DEVNAME=/dev/input/event77\n"
                   "E: SUBSYSTEM=input\n"
                   "A: dev=13:77\n";
    GError *error = nullptr;
    if (!umockdev_testbed_add_from_string(m_testbed, devices.constData(), &error)) {
        m_error = QString::fromUtf8(error ? error->message : "testbed");
        g_clear_error(&error);
        return;
    }
    m_handler = umockdev_ioctl_base_new();
    g_signal_connect(m_handler, "handle-ioctl", G_CALLBACK(onIoctl), state);
    g_signal_connect(m_handler, "handle-write", G_CALLBACK(onWrite), state);
    if (!umockdev_testbed_attach_ioctl(m_testbed, "/dev/uinput", m_handler, &error)) {
        m_error = QString::fromUtf8(error ? error->message : "attach");
        g_clear_error(&error);
    }
}

UinputNode::~UinputNode()
{
    if (m_handler) {
        umockdev_testbed_detach_ioctl(m_testbed, "/dev/uinput", nullptr);
        g_object_unref(m_handler);
    }
    g_object_unref(m_testbed);
}
