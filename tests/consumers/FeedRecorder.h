#pragma once

// What the driver writes, ready for a real consumer. The real injection code
// (the tracking path, the injector and the uinput backend the factory picks)
// runs against an emulated /dev/uinput; the device it sets up there and the
// events it writes become an evdev node umockdev can play to libinput or to an
// X server: the udev record, the answers to the evdev ioctls, udev's database
// entry and an evemu event script timed at the module's report cycle.
//
// Needs umockdev's preload library in the process (umockdev-wrapper).

#include "../compositors/DescribedDevice.h"

#include "platform/InjectionBackend.h"

#include <QByteArray>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>
#include <vector>

struct _UMockdevTestbed;

namespace feed {

// One pen or finger: sensor positions of one module (0..4800 x 0..3000), one
// per report; a position of (-1, -1) is a report without that contact.
struct Contact
{
    std::vector<QPoint> path;
};

struct Script
{
    enum class Path { Touch, Mouse };
    Path path = Path::Touch;
    QList<QRect> monitors;  // the desktop; the first is the primary
    int boardMonitor = 0;   // the monitor the board (module 0) covers
    bool raw = false;       // raw positions (a companion's mode) instead of smoothed
    std::vector<Contact> contacts;
    int eventNumber = 40;   // /dev/input/eventN of the described node
    double leadSeconds = 1.0;  // before the first report: the consumer opens the node
};

// What the injector asked the backend for, at the time of its report.
struct Meant
{
    double at = 0;
    std::vector<tl::TouchRecord> touches;  // touch path
    int absX = -1, absY = -1;             // mouse path
    quint32 mouseFlags = 0;
};

// One event as the backend wrote it, at the time of its report.
struct Timed
{
    double at = 0;
    unsigned type = 0, code = 0;
    int value = 0;
};

struct Feed
{
    DescribedDevice device;  // node, udev record (-d), ioctl answers (-i)
    QByteArray events;       // evemu script (-e)
    std::vector<Timed> stream;  // the same events
    QString udevDbName;      // c13:M under /run/udev/data
    QByteArray udevDb;       // what udevd writes there once it processed the device
    QString udevClass;       // what udev's input_id makes of the device (touchscreen, mouse, ...)
    QRect desktop;           // the bounding box of the monitors: what the device spans
    QRect board;             // the board's monitor
    std::vector<Meant> meant;
    double endSeconds = 0;   // time of the last event
    QString error;           // empty when the recording worked
};

// Runs the script through the real injection and records the device.
Feed record(const Script &script);

// Writes device.umockdev, device.ioctl, device.events, udev/data/<db name>,
// meant.txt (one line per report: time, then "slot x y flags" per record, or
// "abs x y flags" on the mouse path) into dir.
bool write(const Feed &feed, const QString &dir, QString *error);

// The feed's device as a node of a umockdev testbed this process holds (the
// testbed's preload library and directory go to every child it starts), with
// udev's database entry under dir/udev for udev_node_shim.c. Events go in
// through play().
class PlayedNode
{
public:
    // dir: where write() put the feed.
    PlayedNode(const Feed &feed, const QString &dir);
    ~PlayedNode();
    PlayedNode(const PlayedNode &) = delete;
    PlayedNode &operator=(const PlayedNode &) = delete;

    QString error() const { return m_error; }
    // The environment a consumer needs (LD_PRELOAD with the shim, the database).
    QStringList environment(const QString &shim) const;
    // Writes the stream frame by frame at its report times, as the kernel
    // passes on what the driver writes. False when the node takes no more.
    bool play(const std::vector<Timed> &stream) const;

private:
    ::_UMockdevTestbed *m_testbed = nullptr;
    QByteArray m_node;
    QString m_dir;
    int m_fd = -1;
    QString m_error;
};

// The pointer and touch tests of udev's input_id over a capability set.
QString classify(const struct libevdev *device);

} // namespace feed
