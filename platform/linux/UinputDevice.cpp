#include "platform/linux/UinputDevice.h"

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tl {

void EvdevDeleter::operator()(libevdev *dev) const
{
    libevdev_free(dev);
}

EvdevDescription newDriverDevice(const char *name)
{
    EvdevDescription dev(libevdev_new());
    if (!dev)
        return dev;
    libevdev_set_name(dev.get(), name);
    libevdev_set_id_bustype(dev.get(), 0x06 /* BUS_VIRTUAL */);
    libevdev_set_id_vendor(dev.get(), 0x16D0);
    libevdev_set_id_product(dev.get(), 0x0F8C);
    libevdev_set_id_version(dev.get(), 1);
    return dev;
}

std::unique_ptr<UinputDevice> UinputDevice::create(EvdevDescription description, const QString &uinputPath,
                                                   QString *error)
{
    if (!description) {
        if (error)
            *error = QStringLiteral("no device description");
        return nullptr;
    }
    // The node is opened here rather than by libevdev so that the path can be
    // chosen (and a failure reported with its errno).
    const QByteArray path = uinputPath.toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(uinputPath, QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    }
    libevdev_uinput *uidev = nullptr;
    const int rc = libevdev_uinput_create_from_device(description.get(), fd, &uidev);
    if (rc != 0) {
        if (error)
            *error = QStringLiteral("%1: cannot create the device: %2")
                         .arg(uinputPath, QString::fromLocal8Bit(std::strerror(-rc)));
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<UinputDevice>(new UinputDevice(std::move(description), uidev, fd));
}

UinputDevice::UinputDevice(EvdevDescription description, libevdev_uinput *uidev, int fd)
    : m_description(std::move(description)), m_uidev(uidev), m_fd(fd)
{
}

UinputDevice::~UinputDevice()
{
    // Destroying the device makes the kernel release whatever is still down.
    libevdev_uinput_destroy(m_uidev);
    ::close(m_fd);
}

QString UinputDevice::devnode() const
{
    const char *node = libevdev_uinput_get_devnode(m_uidev);
    return node ? QString::fromLocal8Bit(node) : QString();
}

bool UinputDevice::write(unsigned type, unsigned code, int value)
{
    return libevdev_uinput_write_event(m_uidev, type, code, value) == 0;
}

} // namespace tl
