// The module contract answered through raw packets: identity, stored records,
// uploads, register writes, tracking and manual calibration.

#include "RawHost.h"

#include "device/codec/ByteIO.h"
#include "device/codec/Records.h"

namespace tl::sim::test {
namespace {

using namespace tl::codec;

class ContractTest : public SimTest
{
};

TEST_F(ContractTest, VersionAndOptionsComeFromTheVariant)
{
    EmulatedBus bus;
    ModuleVariant v = ModuleVariant::blank("A", 5);
    v.fwMajor = 40;
    v.options = {{1, 2, 3, 4}};
    bus.plug(v);
    RawHost host(bus);
    ASSERT_TRUE(host.open());

    host.send(CMD_SENDVERSION);
    const Rx ver = host.read();
    ASSERT_EQ(ver.rc, 0);
    EXPECT_EQ(ver.n, 512);
    EXPECT_EQ(ver.code(), DAT_VERSION);
    EXPECT_EQ(ver.length(), 2);
    const auto rec = decodeVersion(ver.payload(), ver.length());
    ASSERT_TRUE(rec);
    EXPECT_EQ(versionText(rec->major, rec->minor), "40.05");

    host.send(CMD_SEND_OPTION);
    const Rx opt = host.read();
    EXPECT_EQ(opt.code(), DAT_OPTION);
    const auto o = decodeOption(opt.payload(), opt.length());
    ASSERT_TRUE(o);
    EXPECT_EQ(*o, (OptionRecord{{1, 2, 3, 4}}));
}

TEST_F(ContractTest, EepromIsBlankOrHoldsTheCalibration)
{
    EmulatedBus bus;
    ModuleVariant erased = ModuleVariant::blank("ERASED");
    erased.blankFill = 0xFF;
    bus.plugAll({ModuleVariant::blank("BLANK"), ModuleVariant::calibrated("CAL", 15, 1280, 800, 2), erased});

    std::vector<EepromRecord> records;
    for (int i = 0; i < 3; ++i) {
        RawHost host(bus);
        ASSERT_TRUE(host.open(i));
        host.send(CMD_GET_EEPROM);
        const Rx rx = host.read();
        ASSERT_EQ(rx.code(), DAT_EEPROM);
        ASSERT_EQ(rx.length(), kEepromSize);
        const auto e = decodeEeprom(rx.payload(), rx.length());
        ASSERT_TRUE(e);
        records.push_back(*e);
    }
    EXPECT_FALSE(records[0].calibrated());
    EXPECT_EQ(records[0].windowWidth, 0);
    EXPECT_TRUE(records[1].calibrated());
    EXPECT_EQ(records[1].windowWidth, 1280);
    EXPECT_EQ(records[1].windowHeight, 800);
    EXPECT_EQ(records[1].lens, 2);
    EXPECT_DOUBLE_EQ(records[1].tp[0], 1.0);
    // An erased EEPROM reads 0xFFFF: window sizes of -1, not calibrated.
    EXPECT_EQ(records[2].windowWidth, -1);
    EXPECT_FALSE(records[2].calibrated());
}

TEST_F(ContractTest, UploadedCalibrationIsStoredAndReadBack)
{
    EmulatedBus bus;
    auto m = bus.plug(ModuleVariant::blank("A", 15));
    RawHost host(bus);
    ASSERT_TRUE(host.open());

    const double tp[13] = {1.1, 0.01, 3, 0.02, 1.4, 5, 1e-5, 2e-5, 640, 360, 1e-7, 2e-13, -3e-19};
    const float tweak[4] = {0.5f, -0.25f, 1.5f, 2.0f};
    CalibParamInput in;
    in.tp = tp;
    in.ceiling = 1;
    in.rear = 0;
    in.windowWidth = 1920;
    in.windowHeight = 1200;
    in.lensType = 3;
    in.imageReverse = 1;
    in.tweak = true;
    in.tweakCount = 2;
    in.tweakPairs = tweak;
    in.sensorSetting = true;
    in.valueA = 410;
    in.valueB = 412;
    in.fwMinor = 15;
    const CalibParamBlock block = makeCalibParam(in);
    const auto bytes = encodeCalibParam(block);

    host.write(makePacket(CMD_SET_FIX_COORD_RATIO, encodeFixCoord({3, 0.75}).data(), kFixCoordSize));
    const qint64 t0 = Clock::nowMs();
    host.send(CMD_SET_CALIB_PARAMETER, bytes.data(), kCalibParamSize);
    const Rx ready = host.read();
    EXPECT_EQ(ready.code(), RES_AC_READY_END);
    // Storing takes the module its store time.
    EXPECT_GE(Clock::nowMs() - t0, m->variant().timing.storeMs);

    host.send(CMD_GET_EEPROM);
    const Rx rx = host.read();
    ASSERT_EQ(rx.code(), DAT_EEPROM);
    const auto e = decodeEeprom(rx.payload(), rx.length());
    ASSERT_TRUE(e);
    EXPECT_TRUE(e->calibrated());
    for (int i = 0; i < 13; ++i)
        EXPECT_DOUBLE_EQ(e->tp[i], tp[i]) << i;
    EXPECT_EQ(e->windowWidth, 1920);
    EXPECT_EQ(e->windowHeight, 1200);
    EXPECT_EQ(e->windowWidth2, 1920);
    EXPECT_EQ(e->ceiling, 1);
    EXPECT_EQ(e->lens, 3);
    EXPECT_EQ(e->imageReverse, 1);
    EXPECT_EQ(e->acTweakNum, 2);
    EXPECT_FLOAT_EQ(e->tweak[1].x, 1.5f);
    EXPECT_FLOAT_EQ(e->tweak[2].x, 0.0f);
    EXPECT_EQ(e->ptSetting, block.ptSetting);
    EXPECT_EQ(e->ftSetting, block.ftSetting);
    EXPECT_EQ(e->ftSetting.o7, 410);
    EXPECT_EQ(e->ftPresent, 1);
    EXPECT_EQ(e->fixCoordMode, 3);
    EXPECT_DOUBLE_EQ(e->fixCoordRatio, 0.75);

    // A block of the wrong size is refused and changes nothing.
    host.send(CMD_SET_CALIB_PARAMETER, bytes.data(), 100);
    const Rx nak = host.read();
    EXPECT_EQ(nak.code(), RES_NAK);
    EXPECT_EQ(nak.payloadI32(0), CMD_SET_CALIB_PARAMETER);
    EXPECT_EQ(m->eeprom().windowWidth, 1920);

    // Non-volatile: the calibration survives an unplug.
    bus.unplug(m);
    bus.replug(m);
    RawHost again(bus);
    ASSERT_TRUE(again.open());
    again.send(CMD_GET_EEPROM);
    const Rx after = again.read();
    const auto e2 = decodeEeprom(after.payload(), after.length());
    ASSERT_TRUE(e2);
    EXPECT_EQ(e2->windowHeight, 1200);
}

TEST_F(ContractTest, RegisterWritesAreKeptAndReadBack)
{
    EmulatedBus bus;
    auto m = bus.plug(ModuleVariant::blank("A"));
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    for (const RegisterWrite &w : gainRegisters(0x1234)) {
        const auto p = encodeRegisterWrite(w);
        host.send(CMD_IIC_WR, p.data(), kRegisterWriteSize);
    }
    // No answer to a register write.
    EXPECT_EQ(host.read(0x83, 100).rc, LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(m->registers().at(0x350A), 0x12);
    EXPECT_EQ(m->registers().at(0x350B), 0x34);
    ASSERT_EQ(m->registerLog().size(), 2u);

    const uint8_t addr[2] = {0x0B, 0x35};
    host.send(CMD_IIC_RD, addr, 2);
    const Rx rx = host.read();
    EXPECT_EQ(rx.code(), CMD_IIC_RD);
    EXPECT_EQ(rx.payload()[2], 0x34);

    // A write of the wrong length is not a register write.
    host.send(CMD_IIC_WR, addr, 2);
    EXPECT_EQ(m->registerLog().size(), 2u);
    EXPECT_EQ(m->stats().malformedCommands, 1);
}

TEST_F(ContractTest, TrackingReportsFollowThePenScriptInTransferMode2)
{
    EmulatedBus bus;
    auto m = bus.plug(ModuleVariant::calibrated("A"));
    m->setPenScript(scriptFromCycles({{{100, 200, 50}}, {}, {{4799, 2999, 7}, {30000, -5, 1}}}));
    RawHost host(bus);
    ASSERT_TRUE(host.open());

    host.sendI32(CMD_SET_FINGER_TOUCH_MODE, 1);
    Rx ack = host.read();
    EXPECT_EQ(ack.code(), RES_ACK);
    EXPECT_EQ(ack.payloadI32(0), CMD_SET_FINGER_TOUCH_MODE);
    EXPECT_EQ(m->fingerTouchMode(), 1);

    // Started in transfer mode 0 the module tracks for itself: nothing for the host.
    host.sendI32(CMD_SET_TRANSFER_MODE, 0);
    host.send(CMD_START_TRACKING);
    ack = host.read();
    EXPECT_EQ(ack.code(), RES_ACK);
    EXPECT_EQ(ack.payloadI32(0), CMD_START_TRACKING);
    EXPECT_EQ(host.read(0x83, 200).rc, LIBUSB_ERROR_TIMEOUT);

    host.sendI32(CMD_SET_TRANSFER_MODE, 2);
    host.send(CMD_START_TRACKING);
    ASSERT_EQ(host.read().code(), RES_ACK);
    std::vector<Rx> reports;
    for (int i = 0; i < 4; ++i)
        reports.push_back(host.read());
    for (const Rx &r : reports) {
        ASSERT_EQ(r.rc, 0);
        ASSERT_EQ(r.code(), DAT_TC_DUAL_MODE);
    }
    EXPECT_EQ(reports[0].length(), 6);
    auto recs = decodeTracking(reports[0].payload(), reports[0].length());
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].x, 100);
    EXPECT_EQ(recs[0].y, 200);
    EXPECT_EQ(recs[0].weight, 50);
    EXPECT_EQ(reports[1].length(), 0);
    recs = decodeTracking(reports[2].payload(), reports[2].length());
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].x, 4799);
    EXPECT_EQ(recs[1].x, 30000);
    EXPECT_EQ(recs[1].y, -5);
    EXPECT_EQ(reports[3].length(), 0);

    // Stop: an ACK carrying the code and silence after it.
    host.send(CMD_STOP_TRACKING);
    const Rx stop = host.readUntil(RES_ACK);
    EXPECT_EQ(stop.payloadI32(0), CMD_STOP_TRACKING);
    EXPECT_FALSE(m->tracking());
    EXPECT_EQ(host.read(0x83, 200).rc, LIBUSB_ERROR_TIMEOUT);
}

TEST_F(ContractTest, ReportsComeOncePerReportPeriod)
{
    EmulatedBus bus;
    ModuleVariant v = ModuleVariant::calibrated("A");
    v.timing.reportPeriodMs = 20;
    bus.plug(v);
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    host.sendI32(CMD_SET_TRANSFER_MODE, 2);
    // Taken before the start: reports already due when this thread gets the
    // core back are read at once, so only the start bounds when the tenth is.
    const qint64 t0 = Clock::nowMs();
    host.send(CMD_START_TRACKING);
    ASSERT_EQ(host.read().code(), RES_ACK);
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(host.read().code(), DAT_TC_DUAL_MODE);
    // The tenth report comes at least nine periods of the module's clock
    // after the start.
    EXPECT_GE(Clock::nowMs() - t0, 9 * 20);
}

TEST_F(ContractTest, ManualCalibrationReportsTouchedTargets)
{
    EmulatedBus bus;
    auto m = bus.plug(ModuleVariant::blank("A"));
    m->setManualTouch([](int index) -> std::optional<CameraPoint> {
        if (index == 2)
            return std::nullopt;  // the user misses target 2
        return CameraPoint{100.0f + index, 50.0f + index * 2};
    });
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    host.send(CMD_MC_START);
    EXPECT_TRUE(m->manualMode());
    for (int idx : {0, 1}) {
        host.sendI32(CMD_MC_PATTERN_START, idx);
        EXPECT_EQ(host.read().code(), RES_MC_PATTERN_DONE);
        const Rx end = host.read();
        EXPECT_EQ(end.code(), RES_MC_PATTERN_END);
        EXPECT_EQ(end.payloadI32(0), idx);
    }
    host.sendI32(CMD_MC_PATTERN_START, 2);
    EXPECT_EQ(host.read(0x83, 2000).rc, LIBUSB_ERROR_TIMEOUT);

    host.send(CMD_MC_GET_INPUT_POINT);
    const Rx pts = host.read();
    ASSERT_EQ(pts.code(), DAT_MC_INPUT_POINT);
    ASSERT_EQ(pts.length(), kMcPointBytes);
    ByteReader r(pts.payload(), kMcPointBytes);
    EXPECT_FLOAT_EQ(r.f32(), 100.0f);
    EXPECT_FLOAT_EQ(r.f32(), 50.0f);
    EXPECT_FLOAT_EQ(r.f32(), 101.0f);
    EXPECT_FLOAT_EQ(r.f32(), 52.0f);
    EXPECT_FLOAT_EQ(r.f32(), 0.0f);

    host.send(CMD_MC_CANCEL);
    EXPECT_TRUE(m->waitForReceived(CMD_MC_CANCEL, 1, 100));
    EXPECT_FALSE(m->manualMode());
}

TEST_F(ContractTest, CommandsAreLoggedAndUnknownOnesRefused)
{
    EmulatedBus bus;
    auto m = bus.plug(ModuleVariant::blank("A"));
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    host.sendI32(CMD_SET_IMAGE_REVERSE, 1);
    host.send(CMD_SETUP_ALIVE);
    host.send(CMD_SCRIVO_START);
    const Rx nak = host.read();
    EXPECT_EQ(nak.code(), RES_NAK);
    EXPECT_EQ(nak.payloadI32(0), CMD_SCRIVO_START);
    EXPECT_TRUE(m->imageReverse());

    const auto log = m->received();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].code, CMD_SET_IMAGE_REVERSE);
    EXPECT_EQ(log[0].length, 4);
    EXPECT_EQ(m->receivedCount(CMD_SETUP_ALIVE), 1);
    EXPECT_EQ(m->received(CMD_SCRIVO_START).size(), 1u);
}

} // namespace
} // namespace tl::sim::test
