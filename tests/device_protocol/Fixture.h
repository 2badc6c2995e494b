#pragma once

#include "device/CamDevCtrl.h"
#include "device/TrackingSink.h"
#include "device/codec/Commands.h"
#include "device/codec/Packet.h"
#include "platform/Clock.h"
#include "settings/ConfigFileRW.h"
#include "sim/EmulatedBus.h"
#include "sim/EmulatedModule.h"
#include "tests/support/DriverSpin.h"

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace tl::test {

// The debug log of the whole run, kept for tests that look for trace lines
// (a line "contains" the needle). Set TL_TEST_LOG=1 to also print it.
QStringList logLines();
void clearLog();
int logCount(const QString &needle);
bool logContains(const QString &needle);

// Everything the device layer signals, recorded on whatever thread raised it.
struct SignalLog
{
    std::mutex mutex;
    QStringList versions;            // "text/nDevNum"
    std::vector<int> acNextStep;
    std::vector<std::pair<int, int>> mcNextStep;   // (len, first int)
    int mcDone = 0;
    std::vector<int> calibReadyEnd;
    std::vector<std::vector<uint8_t>> acImages;    // copies of sigACNewFrame data
    std::vector<int> acImageSizes;
    std::vector<std::vector<uint8_t>> frames;      // copies of sigNewFrame data (first size bytes, at most 230400)
    std::vector<int> frameSizes;
    std::vector<std::vector<uint8_t>> masks;
    std::vector<int> maskLengths;

    template <class T>
    T get(const std::function<T(SignalLog &)> &f)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return f(*this);
    }
};

class RecordingSink : public TrackingSink
{
public:
    void trackingPacket(const uint8_t *payload, int length, int nDevNum) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        packets.emplace_back(std::vector<uint8_t>(payload, payload + length), nDevNum);
    }
    void moduleGone(int nDevNum) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        gone.push_back(nDevNum);
    }
    size_t count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return packets.size();
    }
    std::vector<int> goneModules()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return gone;
    }
    std::mutex mutex;
    std::vector<std::pair<std::vector<uint8_t>, int>> packets;
    std::vector<int> gone;   // modules whose loop ended on "device gone"
};

class DeviceTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Builds the device layer on the bus (after the modules are plugged).
    CamDevCtrl &device();
    // UpdateCameraInfo + openDevices + EEPROM of every module.
    bool connectAll();
    std::shared_ptr<sim::EmulatedModule> plug(const sim::ModuleVariant &v) { return bus.plug(v); }
    void inject(const std::shared_ptr<sim::EmulatedModule> &m, int32_t code, const std::vector<uint8_t> &payload,
                int lengthField = -1, uint8_t ep = sim::kEpIn);
    static std::vector<uint8_t> i32(int32_t v);

    std::unique_ptr<ConfigFileRW> settings;
    sim::EmulatedBus bus;
    SignalLog sig;
    RecordingSink sink;
    std::unique_ptr<CamDevCtrl> dev;   // destroyed before the bus
};

} // namespace tl::test
