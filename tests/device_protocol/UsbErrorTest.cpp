// The emulated bus reports libusb's codes with libusb's own names and texts, so
// that a trace reads the same on the emulator and on the driver.
#include "device/UsbAccess.h"

#include <libusb.h>

#include <gtest/gtest.h>

TEST(UsbError, CodesNamesAndTextsAreLibusbs)
{
    EXPECT_EQ(tl::UsbError::Io, LIBUSB_ERROR_IO);
    EXPECT_EQ(tl::UsbError::InvalidParam, LIBUSB_ERROR_INVALID_PARAM);
    EXPECT_EQ(tl::UsbError::Access, LIBUSB_ERROR_ACCESS);
    EXPECT_EQ(tl::UsbError::NoDevice, LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(tl::UsbError::NotFound, LIBUSB_ERROR_NOT_FOUND);
    EXPECT_EQ(tl::UsbError::Busy, LIBUSB_ERROR_BUSY);
    EXPECT_EQ(tl::UsbError::Timeout, LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(tl::UsbError::Overflow, LIBUSB_ERROR_OVERFLOW);
    EXPECT_EQ(tl::UsbError::Pipe, LIBUSB_ERROR_PIPE);
    EXPECT_EQ(tl::UsbError::Interrupted, LIBUSB_ERROR_INTERRUPTED);
    EXPECT_EQ(tl::UsbError::NoMem, LIBUSB_ERROR_NO_MEM);
    EXPECT_EQ(tl::UsbError::NotSupported, LIBUSB_ERROR_NOT_SUPPORTED);
    EXPECT_EQ(tl::UsbError::Other, LIBUSB_ERROR_OTHER);
    for (int code = -100; code <= 10; ++code) {
        EXPECT_STREQ(tl::UsbError::name(code), libusb_error_name(code)) << code;
        EXPECT_STREQ(tl::UsbError::text(code), libusb_strerror(code)) << code;
    }
}
