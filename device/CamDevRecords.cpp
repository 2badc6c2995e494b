// CamDevCtrl: the device records (version, options, EEPROM, calibration upload,
// register writes).
#include "device/CamDevCtrl.h"

#include "device/CamDevShared.h"
#include "device/codec/Commands.h"
#include "device/codec/Trace.h"
#include "platform/Clock.h"

#include <QDebug>
#include <QTime>

namespace tl {

using namespace codec;

namespace {
// Gain 2 of the finger-touch setting for lens 3 on firmware above 10: this
// build's brand uses 0x18 (other brands 0x20).
constexpr uint8_t kLens3FingerGain = 0x18;

QString now()
{
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"));
}
} // namespace

void CamDevCtrl::onVersion(const PacketView &p, int nDevNum)
{
    const std::optional<VersionRecord> v = decodeVersion(p.payload, p.length);
    if (!v) {
        qDebug() << "CamDevCtrl: DAT_VERSION refused, length" << p.length;
        return;
    }
    const QString text = QString::fromStdString(versionText(v->major, v->minor));
    qDebug().noquote() << now() << "F/W Version:" << text;
    emit sigSetFWVersion(text, nDevNum);
}

void CamDevCtrl::onOption(const PacketView &p, int bytesRead)
{
    const std::optional<OptionRecord> o = decodeOption(p.payload, p.length);
    if (!o) {
        qDebug() << "F/W Option: invalid length =" << bytesRead;
        return;
    }
    qDebug().noquote() << now() << "F/W Option:" << (*o)[0] << (*o)[1] << (*o)[2] << (*o)[3];
}

void CamDevCtrl::onEeprom(const PacketView &p, int nDevNum)
{
    tracePacket(nDevNum, p);
    const std::optional<EepromRecord> e = decodeEeprom(p.payload, p.length);
    if (!e) {
        // Fewer than 400 bytes: nothing in it can be trusted, the flag stays as it was.
        qDebug() << "CamDevCtrl: DAT_EEPROM refused, length" << p.length << "expected" << kEepromSize;
        return;
    }
    for (const std::string &line : eepromTraceLines(*e))
        qDebug().noquote() << QString::fromStdString(line);
    if (validIndex(nDevNum))
        m_slots[nDevNum].calibrated = e->calibrated();
}

bool CamDevCtrl::requestEeprom(int nDevNum)
{
    return SendCommand(nullptr, CMD_GET_EEPROM, 0, nDevNum, true);
}

void CamDevCtrl::send_set_calib_parameter(const double *tp, int ceiling, int rear, int windowWidth,
                                          int windowHeight, int lensType, int imageReverse, bool tweak,
                                          int tweakCount, const float *tweakPairs, bool sensorSetting, int valueA,
                                          int valueB, int nDevNum, int fwMinor)
{
    const auto fix = encodeFixCoord(FixCoordRatio{0, 0.0});
    SendCommand(fix.data(), CMD_SET_FIX_COORD_RATIO, kFixCoordSize, nDevNum, false);
    Clock::sleepMs(500);

    CalibParamInput in;
    in.tp = tp;
    in.ceiling = ceiling;
    in.rear = rear;
    in.windowWidth = windowWidth;
    in.windowHeight = windowHeight;
    in.lensType = lensType;
    in.imageReverse = imageReverse;
    in.tweak = tweak;
    in.tweakCount = tweakCount;
    in.tweakPairs = tweakPairs;
    in.sensorSetting = sensorSetting;
    in.valueA = valueA;
    in.valueB = valueB;
    in.fwMinor = fwMinor;
    in.lens3NewGain = kLens3FingerGain;
    const CalibParamBlock block = makeCalibParam(in);
    for (const std::string &line : calibParamTraceLines(block))
        qDebug().noquote() << QString::fromStdString(line);
    const auto bytes = encodeCalibParam(block);
    SendCommand(bytes.data(), CMD_SET_CALIB_PARAMETER, kCalibParamSize, nDevNum, false);
}

void CamDevCtrl::send_ac_black_start(int lensType, int nDevNum, int fwMinor)
{
    const auto payload = blackStartPayload(lensType, fwMinor);
    qDebug() << "send_ac_black_start:";
    for (int i = 0; i < 3; ++i)
        qDebug().noquote() << QString::asprintf("%2d: 0x%02X", i, payload[static_cast<size_t>(i)]);
    SendCommand(payload.data(), CMD_AC_BLACK_START, 3, nDevNum, false);
}

void CamDevCtrl::addGainRegisters(uint16_t gain, int nDevNum)
{
    if (!validIndex(nDevNum))
        return;
    QMutexLocker lock(&m_regMutex[nDevNum]);
    std::vector<RegisterWrite> &list = m_regList[nDevNum];
    list.clear();
    for (const RegisterWrite &rw : gainRegisters(gain))
        list.push_back(rw);
    m_regPending[nDevNum] = true;
}

std::vector<RegisterWrite> CamDevCtrl::pendingRegisterWrites(int nDevNum) const
{
    if (!validIndex(nDevNum))
        return {};
    QMutexLocker lock(&m_regMutex[nDevNum]);
    return m_regPending[nDevNum] ? m_regList[nDevNum] : std::vector<RegisterWrite>{};
}

void CamDevCtrl::sendIicWrite(uint16_t address, uint8_t value, int nDevNum)
{
    if (!validIndex(nDevNum))
        return;
    const auto payload = encodeRegisterWrite(RegisterWrite{address, value});
    PacketBuffer buf;
    buildPacket(CMD_IIC_WR, payload.data(), kRegisterWriteSize, buf);
    bool traced = false;
    {
        QMutexLocker lock(&sendMutex(nDevNum));
        UsbAccess::Handle *h = tableHandle(nDevNum);
        if (h) {
            hid_SendPacket(h, buf);
            traced = tableHandle(nDevNum) != nullptr;
        }
    }
    if (traced)
        tracePacket(nDevNum, buf);
}

void CamDevCtrl::flushRegisterWrites(int nDevNum)
{
    QMutexLocker lock(&m_regMutex[nDevNum]);
    if (!m_regPending[nDevNum])
        return;
    for (const RegisterWrite &rw : m_regList[nDevNum]) {
        sendIicWrite(rw.address, rw.value, nDevNum);
        Clock::sleepMs(100);
    }
    m_regPending[nDevNum] = false;
}

} // namespace tl
