#include "Fixture.h"

#include "tests/support/LogCapture.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>
#include <cstring>

namespace tl::test {

namespace {
// One capture for the whole run, made on first use and never ended: receive
// threads may still log while the program exits.
LogCapture &processLog()
{
    static LogCapture *log = new LogCapture;
    return *log;
}
} // namespace

QStringList logLines()
{
    return processLog().lines();
}

void clearLog()
{
    processLog().clear();
}

int logCount(const QString &needle)
{
    return processLog().count(needle);
}

bool logContains(const QString &needle)
{
    return processLog().contains(needle);
}

void DeviceTest::SetUp()
{
    // Protocol waits keep their values; they only pass faster.
    Clock::setCompression(50);
    settings = std::make_unique<ConfigFileRW>();
    clearLog();
}

void DeviceTest::TearDown()
{
    dev.reset();
    Clock::setCompression(1);
}

CamDevCtrl &DeviceTest::device()
{
    if (dev)
        return *dev;
    dev = std::make_unique<CamDevCtrl>(settings.get(), &bus);
    CamDevCtrl *d = dev.get();
    // The settings keep the version the way the controller does it.
    QObject::connect(d, &CamDevCtrl::sigSetFWVersion, d, [this](QString v, int n) {
        settings->setDeviceFwVersion(n, v);
        std::lock_guard<std::mutex> lock(sig.mutex);
        sig.versions << QStringLiteral("%1/%2").arg(v).arg(n);
    }, Qt::DirectConnection);
    QObject::connect(d, &CamDevCtrl::sigACNextStep, d, [this](int n) {
        std::lock_guard<std::mutex> lock(sig.mutex);
        sig.acNextStep.push_back(n);
    }, Qt::DirectConnection);
    QObject::connect(d, &CamDevCtrl::sigMCNextStep, d, [this](int *buf, int len, int) {
        std::lock_guard<std::mutex> lock(sig.mutex);
        sig.mcNextStep.emplace_back(len, buf ? buf[0] : -1);
    }, Qt::DirectConnection);
    QObject::connect(d, &CamDevCtrl::sigMCDone, d, [this]() {
        std::lock_guard<std::mutex> lock(sig.mutex);
        ++sig.mcDone;
    }, Qt::DirectConnection);
    QObject::connect(d, &CamDevCtrl::sigCalibReadyEnd, d, [this](int n) {
        std::lock_guard<std::mutex> lock(sig.mutex);
        sig.calibReadyEnd.push_back(n);
    }, Qt::DirectConnection);
    QObject::connect(d, &CamDevCtrl::sigACNewFrame, d, [this](unsigned char *buf, int size, int) {
        std::lock_guard<std::mutex> lock(sig.mutex);
        sig.acImages.emplace_back(buf, buf + size);
        sig.acImageSizes.push_back(size);
    }, Qt::DirectConnection);
    QObject::connect(d, &CamDevCtrl::sigNewFrame, d, [this](unsigned char *buf, int size, int) {
        std::lock_guard<std::mutex> lock(sig.mutex);
        sig.frames.emplace_back(buf, buf + std::min(size, 230400));
        sig.frameSizes.push_back(size);
    }, Qt::DirectConnection);
    QObject::connect(d, &CamDevCtrl::sigReceiveMask, d, [this](unsigned char *buf, int len) {
        std::lock_guard<std::mutex> lock(sig.mutex);
        sig.masks.emplace_back(buf, buf + len);
        sig.maskLengths.push_back(len);
    }, Qt::DirectConnection);
    d->setTrackingSink(&sink);
    return *d;
}

bool DeviceTest::connectAll()
{
    CamDevCtrl &d = device();
    const int n = d.UpdateCameraInfo();
    if (n < 1 || n > 2)
        return false;
    if (!d.openDevices())
        return false;
    for (int i = 0; i < n; ++i)
        d.requestEeprom(i);
    return true;
}

void DeviceTest::inject(const std::shared_ptr<sim::EmulatedModule> &m, int32_t code,
                        const std::vector<uint8_t> &payload, int lengthField, uint8_t ep)
{
    codec::PacketBuffer b = codec::makePacket(code);
    const int n = std::min<int>(static_cast<int>(payload.size()), codec::kMaxPayload);
    if (n > 0)
        std::memcpy(b.data() + 8, payload.data(), static_cast<size_t>(n));
    const int32_t len = lengthField >= 0 ? lengthField : static_cast<int32_t>(payload.size());
    std::memcpy(b.data() + 4, &len, 4);
    m->injectPacket(ep, std::vector<uint8_t>(b.begin(), b.end()));
}

std::vector<uint8_t> DeviceTest::i32(int32_t v)
{
    std::vector<uint8_t> out(4);
    std::memcpy(out.data(), &v, 4);
    return out;
}

} // namespace tl::test
