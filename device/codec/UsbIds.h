#pragma once

#include <array>
#include <cstdint>

// How a camera/touch module shows itself on the bus. The driver's libusb
// backend, its hot-plug source and the module emulator take these values from
// here, and the udev rule in packaging/ is generated from this file at
// configure time: keep each one on a line of its own, "name = value;".
namespace tl::codec {

constexpr uint16_t kVendorId = 0x16D0;
constexpr uint16_t kProductId = 0x0F8C;

// The host claims both interfaces of a module.
constexpr int kInterfaceTracking = 2;
constexpr int kInterfaceFrames = 3;
constexpr std::array<int, 2> kModuleInterfaces = {kInterfaceTracking, kInterfaceFrames};

constexpr uint8_t kEpOut = 0x03;     // host -> module packets (bulk)
constexpr uint8_t kEpIn = 0x83;      // answers, events, tracking
constexpr uint8_t kEpFrames = 0x84;  // alignment frame stream

} // namespace tl::codec
