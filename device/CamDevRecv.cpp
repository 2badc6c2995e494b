// CamDevCtrl: the receive loops (one pool task per module) and packet dispatch.
#include "device/CamDevCtrl.h"

#include "device/CamDevShared.h"
#include "device/TrackingSink.h"
#include "device/codec/Commands.h"
#include "device/codec/Trace.h"
#include "platform/Clock.h"

#include <QDebug>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <libusb.h>

#include <algorithm>
#include <cstring>

namespace tl {

using namespace codec;

namespace {
// Manual calibration values: the calibration display and model read the
// counts (process-wide); the signals carry pointers to the stored values, one
// store per module, written only by that module's receive loop, so that one
// module's answer never overwrites what a receiver reads of the other's.
std::atomic<int> s_mcCount[2] = {{0}, {0}};
// RES_MC_PATTERN_END is one int32; room for a full DAT_MC_INPUT_POINT payload
// keeps a receiver that trusts the signalled length (at most 200) inside it.
int32_t s_mcPatternEnd[CamDevCtrl::kMaxDevices][kMcPointBytes / 4] = {};
int32_t s_mcInputPoints[CamDevCtrl::kMaxDevices][kMcPointBytes / 4] = {};
std::atomic<bool> s_firstTracking[CamDevCtrl::kMaxDevices] = {{false}, {false}};

// A frame is 480 pieces and an end; a drain that sees more than two frames' worth
// is being fed by a module that does not stop, and gives up.
constexpr int kDrainPacketLimit = 2 * 481;
} // namespace

void CamDevCtrl::setMcPointCounts(int value, int mode)
{
    m_mcValue = value;
    const bool on = mode >= 1 && mode <= 4;
    s_mcCount[0] = on ? 20 : 0;
    s_mcCount[1] = on ? 16 : 0;
}

int CamDevCtrl::mcPointCount(int which)
{
    return s_mcCount[which == 1 ? 1 : 0].load();
}

const int32_t *CamDevCtrl::mcPatternEndValue(int nDevNum)
{
    return s_mcPatternEnd[nDevNum == 1 ? 1 : 0];
}

const uint8_t *CamDevCtrl::mcInputPoints(int nDevNum)
{
    return reinterpret_cast<const uint8_t *>(s_mcInputPoints[nDevNum == 1 ? 1 : 0]);
}

bool CamDevCtrl::isReceiving(int nDevNum) const
{
    // The loop's own end mark orders its accesses before ours; the future stays
    // running a little longer, until the pool has let go of the task.
    return validIndex(nDevNum)
        && (m_loopActive[nDevNum].load(std::memory_order_acquire) || m_watchers[nDevNum].isRunning());
}

bool CamDevCtrl::waitForReceiveLoops()
{
    const qint64 end = Clock::nowMs() + kLoopStopBoundMs;
    while (isReceiving(0) || isReceiving(1)) {
        if (Clock::nowMs() >= end) {
            for (int i = 0; i < kMaxDevices; ++i)
                if (isReceiving(i))
                    abandonSlot(i);
            return false;
        }
        Clock::sleepMs(10);
    }
    return true;
}

bool CamDevCtrl::StartRecvThread(int bDisplay, int reverseImage)
{
    qDebug() << "CamDevCtrl::StartRecvThread(): bDisplay =" << bDisplay << "reverseImage =" << reverseImage;
    m_bFrameStopped = false;
    m_bDisplay = bDisplay != 0;
    Clock::sleepMs(500);
    CreateRecvPacketThread();
    if (bDisplay) {
        for (int i = 0; i < std::min(m_nNumDevice.load(), int(kMaxDevices)); ++i) {
            const int32_t reverse = reverseImage;
            SendCommand(&reverse, CMD_SET_IMAGE_REVERSE, 4, i, false);
            Clock::sleepMs(200);
            requestFrame(i);
        }
    }
    return true;
}

bool CamDevCtrl::StopRecvThread()
{
    qDebug() << "CamDevCtrl::StopRecvThread()";
    m_bFrameStopped = true;
    DeleteThread();
    if (!m_bDisplay.load()) {
        for (int i = 0; i < std::min(m_nNumDevice.load(), int(kMaxDevices)); ++i) {
            SendCommand(nullptr, CMD_STOP_TRACKING, 0, i, true);
            Clock::sleepMs(200);
        }
        Clock::sleepMs(500);
    }
    return true;
}

void CamDevCtrl::CreateRecvPacketThread()
{
    // Never two loops for one module: a loop that outlived DeleteThread's 1.5 s
    // (a read in progress, a drain) is stopped and waited for before the flag is
    // cleared, or it would run on beside its successor.
    if (isReceiving(0) || isReceiving(1)) {
        qDebug() << "CreateRecvPacketThread: waiting for the previous loops to end";
        m_bRecvStop = true;
        waitForReceiveLoops();
    }
    reapAbandoned();
    m_bRecvStop = false;
    // The frame timer belongs to the requests: the first one may go out before a
    // loop has started, and its time must stand.
    for (int i = 0; i < kMaxDevices; ++i)
        if (!isReceiving(i))
            m_frameTimer[i] = -1;
    QThreadPool *pool = QThreadPool::globalInstance();
    qDebug() << "CreateRecvPacketThread:" << pool->activeThreadCount() << pool->maxThreadCount();
    const int loops = m_nNumDevice.load() > 1 ? 2 : 1;
    // Each loop holds a pool thread for as long as it runs; a pool sized to the
    // cores could leave a loop queued behind other work, and its module unread.
    if (pool->maxThreadCount() < pool->activeThreadCount() + loops)
        pool->setMaxThreadCount(pool->activeThreadCount() + loops);
    const bool display = m_bDisplay.load();
    for (int i = 0; i < loops; ++i) {
        // A loop that outlived its bound (its module treated as gone) stays watched
        // until it ends: the destructor waits for it, and no second loop starts.
        if (isReceiving(i)) {
            qDebug() << "CreateRecvPacketThread: module" << i << "still has its old loop, none started";
            continue;
        }
        m_loopActive[i].store(true, std::memory_order_relaxed);
        m_watchers[i].setFuture(QtConcurrent::run(pool, [this, display, i] {
            RecvPacketProc(i, display);
            m_loopActive[i].store(false, std::memory_order_release);
        }));
    }
    qDebug() << "CreateRecvPacketThread:" << pool->activeThreadCount() << pool->maxThreadCount();
}

void CamDevCtrl::DeleteThread()
{
    m_bRecvStop = true;
    int steps = 0;
    while (steps < 15) {
        Clock::sleepMs(100);
        ++steps;
        if (!isReceiving(0) && !isReceiving(1))
            break;
    }
    QThreadPool *pool = QThreadPool::globalInstance();
    qDebug() << "DeleteThread:" << steps;
    qDebug() << "DeleteThread:" << pool->activeThreadCount() << pool->maxThreadCount();
}

void CamDevCtrl::RecvPacketProc(int nDevNum, bool bDisplay)
{
    const uint8_t ep = static_cast<uint8_t>(kEpIn + (bDisplay ? 1 : 0));
    UsbAccess::Handle *h = tableHandle(nDevNum);
    if (!h) {
        qDebug() << "RecvPacketProc: no handle for nDevNum =" << nDevNum;
        return;
    }
    h->touchConfigDescriptor();
    qDebug().noquote() << QString::asprintf("RecvPacketProc: nDevNum = %d, dEpAddress = 0x%02X", nDevNum, ep);
    PacketBuffer buf;
    qDebug() << "RecvPacketProc Start ======================>" << nDevNum << QThread::currentThreadId();

    bool gone = false;
    ReadFailures failures;
    // A module treated as gone (its handle taken from the table) is read no more,
    // even when a new start has cleared the stop flag.
    while (!m_bRecvStop.load() && tableHandle(nDevNum) == h) {
        buf.fill(0);
        int transferred = 0;
        const int rc = h->interruptRead(ep, buf.data(), kPacketSize, &transferred, 1000);
        if (rc == 0 || rc == LIBUSB_ERROR_TIMEOUT)
            failures.readWorked(nDevNum);
        if (rc == 0) {
            receiveTransfer(buf, transferred, nDevNum);
            checkSilence(nDevNum);
            continue;
        }
        if (rc == LIBUSB_ERROR_NO_DEVICE || h->gone()) {
            // An unplugged module fails every read at once; reading on would spin.
            qDebug() << "RecvPacketProc: device gone, nDevNum =" << nDevNum;
            gone = true;
            break;
        }
        if (rc != LIBUSB_ERROR_TIMEOUT && !failures.readFailed(h, ep, rc, nDevNum)) {
            gone = true;
            break;
        }
        const qint64 timer = m_frameTimer[nDevNum].load();
        if (bDisplay && timer != -1) {
            const qint64 now = Clock::nowMs();
            qDebug() << "RecvPacketProc:" << nDevNum << timer << timer + 2000 << now;
            if (now - timer >= 2000) {
                qDebug() << "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~Resend SendFrame:" << nDevNum;
                sendFrameRequest(nDevNum);
            }
        }
        // A read that fails at once for another reason would also spin.
        if (rc != LIBUSB_ERROR_TIMEOUT)
            Clock::sleepMs(10);
        checkSilence(nDevNum);
    }
    // What the module held down must not wait for a removal event that may
    // never come (a module treated as gone is still on the bus).
    if (gone)
        if (TrackingSink *sink = m_trackingSink.load())
            sink->moduleGone(nDevNum);

    if (bDisplay && !gone && tableHandle(nDevNum) == h)
        drainFrames(h, ep, nDevNum);
    qDebug() << "<============================RecvPacketProc End" << nDevNum << QThread::currentThreadId();
}

void CamDevCtrl::checkSilence(int nDevNum)
{
    if (TrackingSink *sink = m_trackingSink.load())
        sink->checkSilence(nDevNum);
}

void CamDevCtrl::ReadFailures::readWorked(int nDevNum)
{
    if (failures > 0)
        qDebug().noquote() << QString::asprintf("RecvPacketProc: reads work again after %d failed reads (%s), nDevNum = %d",
                                                failures, UsbError::name(error), nDevNum);
    stalls = 0;
    failures = 0;
    error = 0;
}

bool CamDevCtrl::ReadFailures::readFailed(UsbAccess::Handle *h, uint8_t ep, int rc, int nDevNum)
{
    if (rc == LIBUSB_ERROR_PIPE) {
        // A halted endpoint fails every transfer until the host clears the halt.
        ++stalls;
        const int cleared = h->clearHalt(ep);
        qDebug().noquote() << QString::asprintf(
            "RecvPacketProc: endpoint 0x%02X stalled (%d in a row), libusb_clear_halt = %d %s, nDevNum = %d", ep,
            stalls, cleared, UsbError::name(cleared), nDevNum);
        if (stalls >= kStallLimit) {
            qDebug().noquote() << QString::asprintf(
                "RecvPacketProc: endpoint 0x%02X stalled %d times in a row, the module is treated as gone, nDevNum = %d",
                ep, stalls, nDevNum);
            return false;
        }
        return true;
    }
    const qint64 now = Clock::nowMs();
    if (rc != error) {
        // One line per cause, not one per read.
        qDebug().noquote() << QString::asprintf("RecvPacketProc: read failed: %s (%s), nDevNum = %d; retried every 10 ms",
                                                UsbError::name(rc), UsbError::text(rc), nDevNum);
        error = rc;
        since = now;
    }
    ++failures;
    if (now - since >= kReadFailureBoundMs) {
        qDebug().noquote() << QString::asprintf(
            "RecvPacketProc: reads have failed with %s for %lld ms (%d reads), the module is treated as gone, nDevNum = %d",
            UsbError::name(rc), static_cast<long long>(now - since), failures, nDevNum);
        return false;
    }
    return true;
}

bool CamDevCtrl::receiveTransfer(const PacketBuffer &buf, int transferred, int nDevNum)
{
    if (!validIndex(nDevNum))
        return false;
    PacketView p;
    const PacketError err = parsePacket(buf, transferred, p);
    if (err != PacketError::None) {
        qDebug() << "RecvPacketProc: refused packet" << Qt::hex << p.code << Qt::dec << "len" << p.rawLength
                 << "read" << transferred << "-" << packetErrorText(err) << "nDevNum =" << nDevNum;
        return false;
    }
    dispatch(p, transferred, nDevNum, buf);
    return true;
}

void CamDevCtrl::drainFrames(UsbAccess::Handle *h, uint8_t ep, int nDevNum)
{
    // The module finishes the frame it is sending; read it away so that the next
    // reader of the endpoint starts at a packet boundary of a fresh exchange.
    // A module that keeps talking is not read for longer than kDrainBoundMs.
    PacketBuffer buf;
    int timeouts = 0;
    const qint64 end = Clock::nowMs() + kDrainBoundMs;
    for (int packets = 0; packets < kDrainPacketLimit; ++packets) {
        if (Clock::nowMs() >= end) {
            qDebug() << "RecvPacketProc: drain time limit reached, nDevNum =" << nDevNum;
            return;
        }
        buf.fill(0);
        int transferred = 0;
        const int rc = h->interruptRead(ep, buf.data(), kPacketSize, &transferred, 500);
        if (rc != 0) {
            qDebug() << "nTimeoutCount =" << timeouts << nDevNum;
            if (++timeouts >= 2 || rc == LIBUSB_ERROR_NO_DEVICE || h->gone())
                return;
            continue;
        }
        PacketView p;
        if (parsePacket(buf, transferred, p) != PacketError::None)
            continue;
        if (p.code == DAT_IMG) {
            timeouts = 0;
        } else if (p.code == DAT_IMGEND) {
            qDebug() << "DAT_IMGEND:" << nDevNum;
            return;
        }
    }
    qDebug() << "RecvPacketProc: drain limit reached, nDevNum =" << nDevNum;
}

void CamDevCtrl::dispatch(const PacketView &p, int bytesRead, int nDevNum, const PacketBuffer &buf)
{
    switch (p.code) {
    case DAT_IMG:
    case DAT_IMGEND:
        ReceiveImgProcHID(p, bytesRead, nDevNum, buf);
        break;
    case RES_AC_BLACK_END:
    case RES_AC_WHITE_END:
    case RES_AC_PATTERN_END:
        emit sigACNextStep(nDevNum);
        tracePacket(nDevNum, p);
        break;
    case DAT_AC_IMAGE:
    case DAT_AC_IMGEND:
    case DAT_AC_IMAGE_PART:
    case DAT_AC_IMAGE_PART_END:
        ReceiveACProcHID(p, bytesRead, nDevNum, buf);
        break;
    case RES_MC_PATTERN_DONE:
        tracePacket(nDevNum, p);
        emit sigMCDone();
        break;
    case RES_MC_PATTERN_END: {
        tracePacket(nDevNum, p);
        // Only what the length field covers: an end without an index (length 0)
        // is handed on as such, never with the bytes that follow the header.
        const int copy = std::clamp<int>(p.length, 0, kMcPointBytes);
        int32_t *value = s_mcPatternEnd[nDevNum];
        std::memset(value, 0, sizeof s_mcPatternEnd[0]);
        if (copy > 0)
            std::memcpy(value, p.payload, static_cast<size_t>(copy));
        emit sigMCNextStep(value, copy, nDevNum);
        break;
    }
    case RES_DEBUG:
        if (p.length == 24)
            qDebug().noquote() << QString::asprintf("RES_DEBUG : %f, %f, size[%d]", payloadF64(p, 0),
                                                    payloadF64(p, 8), payloadI32(p, 16));
        break;
    case DAT_TC_DUAL_MODE: {
        if (!s_firstTracking[nDevNum].exchange(true))
            qDebug() << "CamDevCtrl: nDevNum =" << nDevNum << "thread id =" << QThread::currentThreadId();
        if (trackingRecordCount(p.length) < 0) {
            qDebug() << "CamDevCtrl: DAT_TC_DUAL_MODE refused, length" << p.length << "is not a multiple of"
                     << kTrackingRecordSize << "nDevNum =" << nDevNum;
            break;
        }
        // A transfer that ended inside its payload would hand on the buffer's
        // zeros as spots at the sensor's corner: it is no report.
        if (bytesRead < kHeaderSize + p.length) {
            qDebug() << "CamDevCtrl: DAT_TC_DUAL_MODE refused, read" << bytesRead << "of" << kHeaderSize + p.length
                     << "nDevNum =" << nDevNum;
            break;
        }
        if (TrackingSink *sink = m_trackingSink.load())
            sink->trackingPacket(p.payload, p.length, nDevNum);
        break;
    }
    case RES_AC_READY_END:
        tracePacket(nDevNum, p);
        emit sigCalibReadyEnd(nDevNum);
        break;
    case DAT_MC_INPUT_POINT:
        tracePacket(nDevNum, p);
        // A transfer shorter than its length field would leave points the module
        // never sent (the buffer's zeros) in the list: it is no list.
        if (p.length == kMcPointBytes && bytesRead < kHeaderSize + kMcPointBytes) {
            qDebug() << "CamDevCtrl: DAT_MC_INPUT_POINT refused, read" << bytesRead << "nDevNum =" << nDevNum;
            break;
        }
        if (p.length == kMcPointBytes) {
            qDebug() << "--------";
            const int n = std::min(std::max(mcPointCount(0), mcPointCount(1)), kMcPoints);
            for (int i = 0; i < n; ++i)
                qDebug().noquote() << QString::asprintf("%d: %.2f, %.2f", i, double(payloadF32(p, 8 * i)),
                                                        double(payloadF32(p, 8 * i + 4)));
            std::memcpy(s_mcInputPoints[nDevNum], p.payload, kMcPointBytes);
            emit sigMCNextStep(s_mcInputPoints[nDevNum], kMcPointBytes, nDevNum);
        }
        break;
    default:
        tracePacket(nDevNum, p);
        break;
    }
}

} // namespace tl
