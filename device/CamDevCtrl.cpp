// CamDevCtrl: construction, the packet protocol (sending, fragments, response
// wait) and discovery/connection. Receive loops are in CamDevRecv.cpp, records in
// CamDevRecords.cpp, image and mask transfer in CamDevImage.cpp.
#include "device/CamDevCtrl.h"

#include "device/CamDevShared.h"
#include "device/codec/Commands.h"
#include "device/codec/Trace.h"
#include "platform/Clock.h"
#include "settings/ConfigFileRW.h"

#include <QDebug>
#include <QMetaType>
#include <QTime>

#include <cstring>

namespace tl {

using namespace codec;

std::recursive_mutex &sendMutex(int nDevNum)
{
    // One per module index for the life of the process. Recursive: a response
    // wait holds it and may hand a DAT_IMGEND or DAT_AC_IMGEND to the image
    // receivers, which send (register writes, the next group) to the same module.
    static std::recursive_mutex mutexes[CamDevCtrl::kMaxDevices];
    return mutexes[nDevNum == 1 ? 1 : 0];
}

CamDevCtrl::CamDevCtrl(ConfigFileRW *settings, UsbAccess *usb, QObject *parent)
    : QObject(parent), m_psDataMgr(settings), m_usb(usb)
{
    qDebug() << "CamDevCtrl::CamDevCtrl() - 1";
    // The pointer arguments of the signals cross threads through queued connections.
    qRegisterMetaType<unsigned char *>("unsigned char*");
    qRegisterMetaType<unsigned char *>("uchar*");
    qRegisterMetaType<int *>("int*");
    for (auto &t : m_table)
        t.store(nullptr);
    for (auto &t : m_frameTimer)
        t.store(-1);
    for (auto &c : m_frameComplete)
        c.store(false);
    m_acReceived.assign(kAcPieces, false);
    m_maskBuf.assign(kMaskSize, 0);
    m_bFrameStopped = true;
    m_bRecvStop = false;
    m_bDisplay = false;
    qDebug() << "CamDevCtrl::CamDevCtrl() - 2";
}

CamDevCtrl::~CamDevCtrl()
{
    qDebug() << "CamDevCtrl::~CamDevCtrl()";
    DeleteThread();
    Clock::sleepMs(500);
    // DeleteThread gives up after 1.5 s; the handles must outlive every loop.
    if (!waitForReceiveLoops()) {
        // A loop still reads through this object: nothing it uses may go. Its
        // reads time out, so it ends; this is the last resort of a broken bus.
        qDebug() << "CamDevCtrl::~CamDevCtrl(): a receive loop outlived its bound, waiting for it";
        for (int i = 0; i < kMaxDevices; ++i)
            while (isReceiving(i))
                m_watchers[i].waitForFinished();
    }
    reapAbandoned();
    if (m_table[0].load()) {
        for (int i = 0; i < m_nNumDevice.load() && i < kMaxDevices; ++i)
            closeSlot(i, true, 500);
    }
    for (int i = 0; i < kMaxDevices; ++i) {
        std::lock_guard<std::recursive_mutex> lock(sendMutex(i));
        m_table[i].store(nullptr);
        m_slots[i].handle.reset();
    }
}

// ---- Sending -----------------------------------------------------------------------

UsbAccess::Handle *CamDevCtrl::tableHandle(int nDevNum) const
{
    return validIndex(nDevNum) ? m_table[nDevNum].load() : nullptr;
}

bool CamDevCtrl::hasHandle(int nDevNum) const
{
    return tableHandle(nDevNum) != nullptr;
}

int CamDevCtrl::hid_SendPacket(UsbAccess::Handle *h, const PacketBuffer &buf)
{
    if (!h || h->gone())
        return -1;
    // The firmware's driver stack expects the configuration to be read before a
    // write; the result is not used.
    h->touchConfigDescriptor();
    int transferred = 0;
    h->bulkWrite(kEpOut, buf.data(), kPacketSize, &transferred, 1000);
    return transferred > 0 ? transferred : 0;
}

void CamDevCtrl::tracePacket(int nDevNum, const PacketView &p) const
{
    const std::string text = packetTraceText(p);
    if (!text.empty())
        qDebug().noquote() << QString::fromStdString(
            packetTraceLine(QTime::currentTime().msecsSinceStartOfDay(), nDevNum, text));
}

void CamDevCtrl::tracePacket(int nDevNum, const PacketBuffer &buf) const
{
    PacketView v;
    parsePacket(buf, kPacketSize, v);
    tracePacket(nDevNum, v);
}

bool CamDevCtrl::SendCommand(const void *payload, int cmd, int len, int nDevNum, bool wait)
{
    if (!tableHandle(nDevNum))
        return false;
    if (len < 0 || (len > 0 && !payload)) {
        qDebug() << "CamDevCtrl::SendCommand(): refused payload length" << len << "for" << Qt::hex << cmd;
        return false;
    }
    if (len > kMaxPayload)
        return sendFragmented(cmd, static_cast<const uint8_t *>(payload), len, nDevNum);

    PacketBuffer buf;
    buildPacket(cmd, payload, len, buf);

    bool result = false;
    int maskNext = -1;
    {
        std::lock_guard<std::recursive_mutex> lock(sendMutex(nDevNum));
        UsbAccess::Handle *h = tableHandle(nDevNum);
        if (!h)
            return false;
        // The frame request goes out every frame; tracing it would drown the log.
        if (cmd != CMD_SENDFRM_MONO)
            tracePacket(nDevNum, buf);
        const int first = hid_SendPacket(h, buf);
        if (first < 1) {
            qDebug() << "hid_SendPacket error" << nDevNum << first;
            Clock::sleepMs(100);
            if (hid_SendPacket(h, buf) < 1)
                qDebug() << "again hid_SendPacket error" << nDevNum << first;
        }
        if (wait && (cmd == CMD_SENDVERSION || cmd == CMD_SEND_OPTION || cmd == CMD_GET_EEPROM || cmd == CMD_GET_MASK)) {
            const int r = ResponseCommand(cmd, nDevNum);
            if (cmd == CMD_GET_MASK) {
                result = true;
                maskNext = r;
            } else {
                result = (r == 0);
            }
        }
    }

    if (cmd == CMD_GET_MASK && result) {
        // The chain asks for the part the answer named next. It must move forward:
        // a module that keeps answering an earlier part would otherwise be asked
        // forever.
        const int asked = len >= 1 ? static_cast<const uint8_t *>(payload)[0] : 0;
        if (maskNext >= 1 && maskNext <= kMaskLastPart) {
            if (maskNext > asked)
                request_get_mask(maskNext);
            else
                qDebug() << "request_get_mask : chain does not advance, asked" << asked << "next" << maskNext;
        }
    }
    return result;
}

bool CamDevCtrl::sendFragmented(int cmd, const uint8_t *payload, int len, int nDevNum)
{
    const std::vector<PacketBuffer> pieces = buildFragments(cmd, payload, len);
    qDebug() << "nLen > nPLen" << pieces.size();
    if (pieces.empty()) {
        qDebug() << "CamDevCtrl::SendCommand(): payload too long to fragment" << len;
        return false;
    }
    std::lock_guard<std::recursive_mutex> lock(sendMutex(nDevNum));
    for (const PacketBuffer &piece : pieces) {
        UsbAccess::Handle *h = tableHandle(nDevNum);
        if (!h)
            break;
        hid_SendPacket(h, piece);
        Clock::sleepMs(10);
    }
    return false;
}

// ---- Response wait -------------------------------------------------------------------

int CamDevCtrl::ResponseCommand(int cmd, int nDevNum)
{
    const int32_t expected = expectedAnswer(cmd);
    if (expected == 0 || !validIndex(nDevNum))
        return -1;
    std::lock_guard<std::recursive_mutex> lock(sendMutex(nDevNum));
    UsbAccess::Handle *h = tableHandle(nDevNum);
    if (!h)
        return -1;

    PacketBuffer buf;
    int result = 0;
    for (int i = 0; i < kResponsePackets; ++i) {
        buf.fill(0);
        int transferred = 0;
        const int rc = h->interruptRead(kEpIn, buf.data(), kPacketSize, &transferred, 1000);
        if (rc != 0) {
            qDebug() << "ResponseCommand:" << rc << nDevNum << Qt::hex << cmd;
            return rc;
        }
        PacketView p;
        const PacketError err = parsePacket(buf, transferred, p);
        if (err != PacketError::None) {
            qDebug() << "ResponseCommand: refused packet" << Qt::hex << p.code << Qt::dec << "len" << p.rawLength
                     << "read" << transferred << "-" << packetErrorText(err);
            continue;
        }
        bool satisfied = false;
        if (p.code == expected) {
            satisfied = expected != RES_ACK || (p.length >= 4 && payloadI32(p, 0) == cmd);
            // A version too short to read is no answer.
            if (expected == DAT_VERSION && !decodeVersion(p.payload, p.length))
                satisfied = false;
        }
        int maskResult = 0;
        handleResponsePacket(p, transferred, nDevNum, buf, &maskResult);
        if (satisfied) {
            result = (expected == DAT_MASK) ? maskResult : 0;
            break;
        }
    }
    return result;
}

void CamDevCtrl::handleResponsePacket(const PacketView &p, int bytesRead, int nDevNum, const PacketBuffer &buf,
                                      int *maskResult)
{
    switch (p.code) {
    case DAT_VERSION:
        onVersion(p, nDevNum);
        break;
    case DAT_OPTION:
        onOption(p, bytesRead);
        break;
    case DAT_EEPROM:
        onEeprom(p, nDevNum);
        break;
    case DAT_MASK:
        *maskResult = onMask(p);
        break;
    case CMD_IIC_RD:
        break;
    case DAT_IMG:
    case DAT_IMGEND:
        ReceiveImgProcHID(p, bytesRead, nDevNum, buf);
        break;
    case DAT_AC_IMAGE:
    case DAT_AC_IMGEND:
        ReceiveACProcHID(p, bytesRead, nDevNum, buf);
        break;
    default:
        tracePacket(nDevNum, p);
        break;
    }
}

// ---- Discovery and connection ----------------------------------------------------------

int CamDevCtrl::GetNumberOfCameraDevices()
{
    qDebug() << "CamDevCtrl::GetNumberOfCameraDevices() - 1";
    int count = 0;
    if (m_usb && m_usb->ok()) {
        for (const UsbAccess::DeviceInfo &d : m_usb->listDevices())
            if (d.descriptorOk && d.vendorId == kVendorId && d.productId == kProductId)
                ++count;
    }
    m_nNumDevice = count;
    qDebug() << "m_nNumDevice =" << count;
    return count;
}

int CamDevCtrl::UpdateCameraInfo()
{
    qDebug() << "CamDevCtrl::UpdateCameraInfo() - 1";
    // A loop must never read through a handle that is being closed.
    if (isReceiving(0) || isReceiving(1)) {
        m_bRecvStop = true;
        waitForReceiveLoops();
    }
    reapAbandoned();
    for (int i = 0; i < kMaxDevices; ++i) {
        std::lock_guard<std::recursive_mutex> lock(sendMutex(i));
        DeviceSlot &s = m_slots[i];
        releaseSlotHandle(i);
        // A slot's record belongs to the module that held it; a new open reads it again.
        s.calibrated = false;
        std::memset(s.serial, 0, sizeof s.serial);
    }

    int opened = 0;
    if (m_usb && m_usb->ok()) {
        const std::vector<UsbAccess::DeviceInfo> list = m_usb->listDevices();
        for (const UsbAccess::DeviceInfo &d : list) {
            if (opened >= kMaxDevices)
                break;
            if (!d.descriptorOk || d.vendorId != kVendorId || d.productId != kProductId)
                continue;
            int err = 0;
            std::unique_ptr<UsbAccess::Handle> h = m_usb->open(d.busIndex, &err);
            if (!h) {
                qDebug() << "CamDevCtrl::UpdateCameraInfo(): open failed" << err << m_usb->errorName(err);
                continue;
            }
            DeviceSlot &slot = m_slots[opened];
            std::string serial;
            const int n = h->stringDescriptorAscii(d.serialIndex, serial, kSerialBytes);
            std::memset(slot.serial, 0, sizeof slot.serial);
            if (n > 0)
                std::memcpy(slot.serial, serial.data(), std::min<size_t>(serial.size(), kSerialBytes - 1));
            qDebug() << "CamDevCtrl::UpdateCameraInfo(): nDevNum =" << opened << "serial =" << slot.serial;

            Clock::sleepMs(200);
            bool claimed = true;
            for (int iface : codec::kModuleInterfaces) {
                const int rc = h->claimInterface(iface);
                qDebug().noquote() << QString::asprintf("libusb_claim_interface(%d) = %d", iface, rc);
                if (rc != 0) {
                    qDebug().noquote() << QString::asprintf("libusb_claim_interface(%d) FAIL!! %d: %s: %s", iface,
                                                            rc, m_usb->errorName(rc), m_usb->errorText(rc));
                    claimed = false;
                    break;
                }
            }
            if (!claimed) {
                h.reset();
                std::memset(slot.serial, 0, sizeof slot.serial);
                continue;
            }
            std::lock_guard<std::recursive_mutex> lock(sendMutex(opened));
            slot.handle = std::move(h);
            ++opened;
        }
    }
    m_nNumDevice = opened;
    qDebug() << "m_nNumDevice =" << opened;
    return opened;
}

bool CamDevCtrl::versionExchange(int nDevNum)
{
    for (int attempt = 0; attempt < 3 && tableHandle(nDevNum); ++attempt)
        if (SendCommand(nullptr, CMD_SENDVERSION, 0, nDevNum, true))
            return true;
    return false;
}

bool CamDevCtrl::openDevices()
{
    qDebug() << "CamDevCtrl::openDevices() - 1";
    bool result = true;
    const int count = std::min(m_nNumDevice.load(), int(kMaxDevices));
    for (int i = 0; i < count; ++i) {
        {
            std::lock_guard<std::recursive_mutex> lock(sendMutex(i));
            if (m_slots[i].handle) {
                m_table[i].store(m_slots[i].handle.get());
                qDebug() << "CamDevCtrl::openDevices():" << i << m_slots[i].handle.get();
            }
        }
        SendCommand(nullptr, CMD_STOP_TRACKING, 0, i, true);
        Clock::sleepMs(200);
        if (!versionExchange(i)) {
            qDebug() << "CamDevCtrl::openDevices(): no version from module" << i;
            result = false;
            break;
        }
        Clock::sleepMs(200);
        SendCommand(nullptr, CMD_SEND_OPTION, 0, i, true);
        Clock::sleepMs(200);
    }

    const QString fw = m_psDataMgr ? m_psDataMgr->getDeviceFwVersion(0) : QString();
    const int fwLower = fw.right(2).toInt();
    qDebug() << "request_get_mask check => device count :" << m_nNumDevice.load() << "FWLower :" << fwLower;
    if (m_nNumDevice.load() == 1 && fwLower >= 14) {
        m_maskReceived = 0;
        m_maskBuf[0] = 0;
        m_maskPartSeen.fill(false);
        request_get_mask(0);
    }
    return result;
}

void CamDevCtrl::closeSlot(int i, bool sendHandBack, int waitMs)
{
    if (sendHandBack) {
        const int32_t mode = 0;
        SendCommand(&mode, CMD_SET_TRANSFER_MODE, 4, i, false);
        Clock::sleepMs(waitMs);
        SendCommand(nullptr, CMD_START_TRACKING, 0, i, true);
        Clock::sleepMs(waitMs);
    }
    std::lock_guard<std::recursive_mutex> lock(sendMutex(i));
    releaseSlotHandle(i);
    m_table[i].store(nullptr);
}

void CamDevCtrl::abandonSlot(int i)
{
    qDebug() << "CamDevCtrl: the receive loop of module" << i << "did not end within" << kLoopStopBoundMs
             << "ms, the module is treated as gone";
    std::lock_guard<std::recursive_mutex> lock(sendMutex(i));
    m_table[i].store(nullptr);
    if (m_slots[i].handle) {
        // A handle set aside before is still read by the loop that outlived this
        // wait too (no loop starts beside it): it stays. The slot's newer handle
        // (the module opened again since) has no loop on it and is closed.
        if (m_abandoned[i])
            releaseSlotHandle(i);
        else
            m_abandoned[i] = std::move(m_slots[i].handle);
        m_slots[i].calibrated = false;
        std::memset(m_slots[i].serial, 0, sizeof m_slots[i].serial);
    }
}

void CamDevCtrl::reapAbandoned()
{
    for (int i = 0; i < kMaxDevices; ++i) {
        if (!m_abandoned[i] || isReceiving(i))
            continue;
        m_abandoned[i]->releaseInterface(2);
        m_abandoned[i]->releaseInterface(3);
        m_abandoned[i].reset();
    }
}

void CamDevCtrl::releaseSlotHandle(int i)
{
    DeviceSlot &s = m_slots[i];
    if (!s.handle)
        return;
    for (int iface : codec::kModuleInterfaces)
        s.handle->releaseInterface(iface);
    // The table may still point at this handle; clear it before the close.
    if (m_table[i].load() == s.handle.get())
        m_table[i].store(nullptr);
    s.handle.reset();
}

bool CamDevCtrl::Close(int nDevNum)
{
    if (nDevNum < 0 || nDevNum > 1)
        return false;
    qDebug() << "CamDevCtrl::Close() - nDevNum =" << nDevNum;
    if (!m_slots[nDevNum].handle)
        return true;
    // Closing under a running loop would pull the handle from under its read.
    if (isReceiving(nDevNum)) {
        qDebug() << "CamDevCtrl::Close(): stopping the receive loops first";
        m_bRecvStop = true;
        waitForReceiveLoops();
    }
    closeSlot(nDevNum, true, 200);
    return true;
}

void CamDevCtrl::exchangeDeviceSlots()
{
    std::lock_guard<std::recursive_mutex> lock0(sendMutex(0));
    std::lock_guard<std::recursive_mutex> lock1(sendMutex(1));
    std::swap(m_slots[0].calibrated, m_slots[1].calibrated);
    std::swap(m_slots[0].handle, m_slots[1].handle);
    // A table entry is its own slot's handle or null, never the other slot's:
    // the entries move with the handles. Left behind, an index would talk to the
    // other module until a reopen reached it, and keep the other slot's handle
    // after that slot closed it (a reopen can stop before the second index).
    UsbAccess::Handle *t0 = m_table[0].load();
    m_table[0].store(m_table[1].load());
    m_table[1].store(t0);
    char tmp[kSerialBytes];
    std::memcpy(tmp, m_slots[0].serial, kSerialBytes);
    std::memcpy(m_slots[0].serial, m_slots[1].serial, kSerialBytes);
    std::memcpy(m_slots[1].serial, tmp, kSerialBytes);
    qDebug() << "CamDevCtrl::exchangeDeviceSlots():" << m_slots[0].serial << m_slots[1].serial;
}

const char *CamDevCtrl::serialNumber(int nDevNum) const
{
    if (nDevNum < 0 || nDevNum >= m_nNumDevice.load() || nDevNum >= kMaxDevices)
        return nullptr;
    return m_slots[nDevNum].serial;
}

bool CamDevCtrl::isCalibrated(int nDevNum) const
{
    return validIndex(nDevNum) && m_slots[nDevNum].calibrated;
}

void CamDevCtrl::markCalibrated(int nDevNum)
{
    if (validIndex(nDevNum))
        m_slots[nDevNum].calibrated = true;
}

} // namespace tl
