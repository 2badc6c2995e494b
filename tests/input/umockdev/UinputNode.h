#pragma once

// An emulated /dev/uinput for the tests of the uinput backends and for the
// consumer feeds: a umockdev testbed node whose ioctl and write handlers play
// the kernel's uinput. Needs umockdev's preload library (umockdev-wrapper).

#include <QString>

#include <linux/input.h>
#include <linux/uinput.h>

#include <map>
#include <mutex>
#include <set>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;

// What the node has been told, and when each event came.
struct UinputState
{
    std::mutex lock;
    std::set<int> evbits, keybits, absbits, propbits;
    std::map<int, input_absinfo> abs;
    uinput_setup setup{};
    int created = 0;
    int destroyed = 0;
    std::vector<unsigned long> unknown;  // requests it does not know (answered ENOTTY)
    double now = 0;                      // stamped on the events written from now on
    struct Event
    {
        double at;
        input_event ev;
    };
    std::vector<Event> events;
};

// The node in a testbed of its own for as long as it lives, telling `state`.
// It answers as uinput version 5 (UI_DEV_SETUP, UI_ABS_SETUP), and names the
// device it creates input77 under /sys/devices/virtual/input; with
// `withEventNode` that device has its event node, /dev/input/event77.
class UinputNode
{
public:
    UinputNode(UinputState *state, bool withEventNode);
    ~UinputNode();
    UinputNode(const UinputNode &) = delete;
    UinputNode &operator=(const UinputNode &) = delete;

    // Empty when the node is in place, else what umockdev said.
    QString error() const { return m_error; }

private:
    UMockdevTestbed *m_testbed = nullptr;
    UMockdevIoctlBase *m_handler = nullptr;
    QString m_error;
};
