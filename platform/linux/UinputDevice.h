#pragma once

#include <QString>
#include <memory>

struct libevdev;
struct libevdev_uinput;

namespace tl {

// Where a uinput backend writes its events: the kernel device, or in tests a
// recorder. One call is one input_event.
class EvdevSink
{
public:
    virtual ~EvdevSink() = default;
    virtual bool write(unsigned type, unsigned code, int value) = 0;
};

struct EvdevDeleter
{
    void operator()(libevdev *dev) const;
};
// A device description built with libevdev: names, event codes, axis ranges
// and properties, before (and without) any kernel device.
using EvdevDescription = std::unique_ptr<libevdev, EvdevDeleter>;

// A new description with the driver's identity: the given name on the virtual
// bus, under the modules' vendor and product id. Null when libevdev cannot
// allocate one.
EvdevDescription newDriverDevice(const char *name);

// A kernel input device created through uinput from a description. Creation
// fails cleanly (null, with the reason) when the uinput node is missing, not
// accessible or not a uinput device.
class UinputDevice : public EvdevSink
{
public:
    static std::unique_ptr<UinputDevice> create(EvdevDescription description, const QString &uinputPath,
                                                QString *error);
    ~UinputDevice() override;

    bool write(unsigned type, unsigned code, int value) override;
    // /dev/input/eventN of the created device, empty when the kernel does not say.
    QString devnode() const;

private:
    UinputDevice(EvdevDescription description, libevdev_uinput *uidev, int fd);

    EvdevDescription m_description;
    libevdev_uinput *m_uidev;
    int m_fd;
};

} // namespace tl
