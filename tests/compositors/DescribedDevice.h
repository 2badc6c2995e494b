#pragma once

#include <QByteArray>
#include <QString>

struct libevdev;

// An input device described to umockdev from a libevdev description: the
// sysfs and udev record (umockdev-run -d), the evdev ioctls a driver asks on
// open (-i) and an evemu event script replayed once the node is opened (-e).
struct DescribedDevice
{
    QString node;          // /dev/input/eventN
    QByteArray umockdev;   // the -d file
    QByteArray ioctl;      // the -i file
};

DescribedDevice describeToUmockdev(const libevdev *device, int eventNumber);

// One evemu line: "E: <sec>.<usec> <type> <code> <value>".
QByteArray evemuLine(double seconds, unsigned type, unsigned code, int value);
