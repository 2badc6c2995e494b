#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "device/UsbAccess.h"
#include "device/ZeroedBuffer.h"
#include "device/codec/Image.h"
#include "device/codec/Packet.h"
#include "device/codec/Records.h"
#include "device/codec/UsbIds.h"

class ConfigFileRW;

namespace tl {

class TrackingSink;

// The device communication layer: packet protocol, discovery and connection,
// receive loops and dispatch, device records, image and mask transfer for at most
// two camera/touch modules (index nDevNum 0 = left, 1 = right).
//
// Threads: every public operation runs on the controller's thread, except what
// the receive loops do on their pool threads (dispatch, frame requests, register
// writes, resend requests). Each module's writes and response waits are
// serialised by that module's send mutex.
class CamDevCtrl : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxDevices = 2;
    static constexpr uint16_t kVendorId = codec::kVendorId;
    static constexpr uint16_t kProductId = codec::kProductId;
    static constexpr uint8_t kEpOut = codec::kEpOut;
    static constexpr uint8_t kEpIn = codec::kEpIn;            // answers and events
    static constexpr uint8_t kEpFrames = codec::kEpFrames;    // alignment frame stream
    static constexpr int kResponsePackets = 60;   // packets a response wait looks at
    static constexpr int kSerialBytes = 256;
    // The longest the controller's thread waits for receive loops to end (driver
    // time). A loop ends within it on its own: its reads time out after 1 s and
    // the frame drain after a stop is cut at kDrainBoundMs. A loop still running
    // after it has a module that no longer answers: the module is treated as gone.
    static constexpr int kLoopStopBoundMs = 4000;
    static constexpr int kDrainBoundMs = 1500;

    // `settings` is read for module 0's firmware version text (mask support);
    // `usb` is the bus (libusb or emulated) and must outlive this object.
    CamDevCtrl(ConfigFileRW *settings, UsbAccess *usb, QObject *parent = nullptr);
    ~CamDevCtrl() override;

    // ---- Discovery and connection ---------------------------------------------
    int GetNumberOfCameraDevices();
    int UpdateCameraInfo();
    bool openDevices();
    bool Close(int nDevNum);
    // Swaps the two module slots (calibrated flag, handle, serial, and the handle
    // table's entries with the handles) so that module indices follow the saved
    // serial order. The next openDevices() sets the modules up again.
    void exchangeDeviceSlots();
    // Serial text of a slot (a 256-byte NUL-padded buffer), or null outside
    // 0 .. m_nNumDevice - 1.
    const char *serialNumber(int nDevNum) const;
    bool isCalibrated(int nDevNum) const;
    // The module acknowledged storing an uploaded calibration.
    void markCalibrated(int nDevNum);
    int numDevices() const { return m_nNumDevice.load(); }
    bool hasHandle(int nDevNum) const;

    // ---- Packet protocol ------------------------------------------------------
    bool SendCommand(const void *payload, int cmd, int len, int nDevNum, bool wait);
    int ResponseCommand(int cmd, int nDevNum);

    // ---- Receive loops ---------------------------------------------------------
    bool StartRecvThread(int bDisplay, int reverseImage);
    bool StopRecvThread();
    void CreateRecvPacketThread();
    void DeleteThread();
    bool frameStreamStopped() const { return m_bFrameStopped.load(); }
    bool displayMode() const { return m_bDisplay.load(); }
    // True while a receive loop of the module has not ended.
    bool isReceiving(int nDevNum) const;
    // Waits until every receive loop has ended, at most kLoopStopBoundMs of driver
    // time (the stop flag must be set first, or the loops run on). False when a
    // loop still runs: its module is then treated as gone (no more sends, its
    // handle is set aside, never closed under the loop's read).
    bool waitForReceiveLoops();
    // What a receive loop does with one transfer it read from module nDevNum:
    // the packet is checked and handed to its receiver (tracking, image, mask,
    // calibration steps) on the calling thread. False when it was refused.
    // Called by the loops; a caller of its own (a test driving the receive path
    // without threads) must not run it beside a loop of the same module.
    bool receiveTransfer(const codec::PacketBuffer &buf, int transferred, int nDevNum);
    // Tracking payloads go here (may be null: tracking packets are then dropped).
    // Set it while the loops are stopped.
    void setTrackingSink(TrackingSink *sink) { m_trackingSink.store(sink); }
    void setMcPointCounts(int value, int mode);
    static int mcPointCount(int which);              // 0: the larger (20), 1: the smaller (16)
    // Of one module: its last RES_MC_PATTERN_END value, its last
    // DAT_MC_INPUT_POINT payload (200 bytes).
    static const int32_t *mcPatternEndValue(int nDevNum = 0);
    static const uint8_t *mcInputPoints(int nDevNum = 0);

    // ---- Device records --------------------------------------------------------
    void send_set_calib_parameter(const double *tp, int ceiling, int rear, int windowWidth, int windowHeight,
                                  int lensType, int imageReverse, bool tweak, int tweakCount,
                                  const float *tweakPairs, bool sensorSetting, int valueA, int valueB,
                                  int nDevNum, int fwMinor);
    void send_ac_black_start(int lensType, int nDevNum, int fwMinor);
    void addGainRegisters(uint16_t gain, int nDevNum);
    void sendIicWrite(uint16_t address, uint8_t value, int nDevNum);
    bool requestEeprom(int nDevNum);
    // Register writes queued for the module's next frame end.
    std::vector<codec::RegisterWrite> pendingRegisterWrites(int nDevNum) const;

    // ---- Image and mask transfer ------------------------------------------------
    // The GUI thread asks for the next frame once it has taken the last one
    // shown: until then a frame that arrives is not handed over.
    void requestFrame(int nDevNum);
    void sendAcImageRequest(uint8_t kind, int group, int nDevNum);
    void request_get_mask(int part);
    void sendSetMask(const unsigned char *mask, int len);
    // Copies every whole 512-byte image packet of `buf` to its place in `dest`.
    int PacketToImage16HID(const uint8_t *buf, uint8_t *dest, size_t destSize, int bytesRead);
    const uint8_t *frameBuffer(int nDevNum) const;
    int maskReceivedLength() const { return m_maskReceived; }
    const uint8_t *maskBuffer() const { return m_maskBuf.data(); }

    // Auto-calibration transfer statistics (since the last group-0 request).
    struct AcStats
    {
        int group = 0;
        int resendRequests = 0;   // CMD_AC_SENDIMG_PART sent
        int resendRounds = 0;     // times a group's missing runs were computed non-empty
        int missingPieces = 0;    // pieces found missing, summed over rounds
        int refused = 0;          // pieces refused by a bounds check
    };
    AcStats acStats() const;

signals:
    void sigSetFWVersion(QString sVersion, int nDevNum);
    void sigSetFWOption(uchar ceiling, uchar rear, uchar finger);
    void sigNewFrame(unsigned char *buf, int size, int nDevNum);
    void sigACNewFrame(unsigned char *buf, int size, int nDevNum);
    void sigACNextStep(int nDevNum);
    void sigMCDone();
    void sigMCNextStep(int *buf, int len, int nDevNum);
    void sigCalibReadyEnd(int nDevNum);
    void sigReceiveMask(unsigned char *mask, int len);
    void sigRequestMask(int idx);

private:
    struct DeviceSlot
    {
        bool calibrated = false;
        std::unique_ptr<UsbAccess::Handle> handle;
        char serial[kSerialBytes] = {};
    };

    // Packet I/O
    int hid_SendPacket(UsbAccess::Handle *h, const codec::PacketBuffer &buf);
    bool sendFragmented(int cmd, const uint8_t *payload, int len, int nDevNum);
    void tracePacket(int nDevNum, const codec::PacketView &p) const;
    void tracePacket(int nDevNum, const codec::PacketBuffer &buf) const;
    bool validIndex(int nDevNum) const { return nDevNum >= 0 && nDevNum < kMaxDevices; }
    UsbAccess::Handle *tableHandle(int nDevNum) const;
    void closeSlot(int i, bool sendHandBack, int waitMs);
    // A loop of module i outlived the wait: stop sending to it and keep its handle
    // (unclosed) until the loop has ended.
    void abandonSlot(int i);
    void reapAbandoned();
    void sendFrameRequest(int nDevNum);
    // Releases both interfaces and closes slot i's handle; the caller holds the slot's send mutex.
    void releaseSlotHandle(int i);
    bool versionExchange(int nDevNum);

    // Response-wait handlers
    void handleResponsePacket(const codec::PacketView &p, int bytesRead, int nDevNum, const codec::PacketBuffer &buf,
                              int *maskResult);
    void onVersion(const codec::PacketView &p, int nDevNum);
    void onOption(const codec::PacketView &p, int bytesRead);
    void onEeprom(const codec::PacketView &p, int nDevNum);
    int onMask(const codec::PacketView &p);

    // Receive loop
    // Read failures of one loop other than a time-out or an unplug. A stall
    // (LIBUSB_ERROR_PIPE) is cleared at once; a halt that is back at the next
    // read kStallLimit times in a row is no passing stall, and reading on would
    // cost a control transfer every 10 ms for ever without a report. Another
    // error is logged once per cause and retried; one that has lasted
    // kReadFailureBoundMs (two hundred retries) is no glitch. Either way the
    // module is treated as gone: the loop ends and the tracking sink is told,
    // so that what the module held down comes up and the other module goes on.
    struct ReadFailures
    {
        static constexpr int kStallLimit = 3;
        static constexpr qint64 kReadFailureBoundMs = 2000;
        int stalls = 0;     // in a row
        int failures = 0;   // reads failed since the last one that worked
        int error = 0;      // the error being retried (0: none)
        qint64 since = 0;
        // A read worked or timed out (the endpoint answers).
        void readWorked(int nDevNum);
        // False when the module is to be treated as gone.
        bool readFailed(UsbAccess::Handle *h, uint8_t ep, int rc, int nDevNum);
    };
    void checkSilence(int nDevNum);
    void RecvPacketProc(int nDevNum, bool bDisplay);
    void dispatch(const codec::PacketView &p, int bytesRead, int nDevNum, const codec::PacketBuffer &buf);
    void drainFrames(UsbAccess::Handle *h, uint8_t ep, int nDevNum);

    // Image receivers
    void ReceiveImgProcHID(const codec::PacketView &p, int bytesRead, int nDevNum, const codec::PacketBuffer &buf);
    void ReceiveACProcHID(const codec::PacketView &p, int bytesRead, int nDevNum, const codec::PacketBuffer &buf);
    void flushRegisterWrites(int nDevNum);
    void requestRun(int nDevNum);

    ConfigFileRW *m_psDataMgr;
    UsbAccess *m_usb;
    std::atomic<int> m_nNumDevice{0};
    std::array<DeviceSlot, kMaxDevices> m_slots;
    std::array<std::atomic<UsbAccess::Handle *>, kMaxDevices> m_table{};

    // Receive control
    std::atomic<bool> m_bRecvStop{false};
    std::atomic<bool> m_bFrameStopped{true};
    std::atomic<bool> m_bDisplay{false};
    std::array<QFutureWatcher<void>, kMaxDevices> m_watchers;
    // Set before a loop is started, cleared (release) as the loop's last act: what
    // the loop wrote is seen by whoever reads it false (acquire). A future's
    // running state is read without that ordering, so it cannot tell the GUI
    // thread that the object may be reused or deleted.
    std::array<std::atomic<bool>, kMaxDevices> m_loopActive{};
    std::array<std::atomic<qint64>, kMaxDevices> m_frameTimer{};
    std::atomic<TrackingSink *> m_trackingSink{nullptr};
    int m_mcValue = 0;

    // Frame stream
    // Zero-filled at construction; resident only once a frame or an image fills them.
    std::array<ZeroedBuffer, kMaxDevices> m_frameBuf{ZeroedBuffer(codec::kFrameBufferBytes),
                                                     ZeroedBuffer(codec::kFrameBufferBytes)};
    std::atomic<int> m_frameSize{0};
    std::array<std::atomic<bool>, kMaxDevices> m_frameComplete{};
    // What the GUI thread was handed (sigNewFrame), kept apart from the buffer the
    // loop fills; m_frameShown is set until the GUI thread asks for the next frame.
    std::array<std::vector<uint8_t>, kMaxDevices> m_shownBuf;
    std::array<std::atomic<bool>, kMaxDevices> m_frameShown{};
    std::array<std::unique_ptr<UsbAccess::Handle>, kMaxDevices> m_abandoned;

    // Register write queues
    mutable std::array<std::mutex, kMaxDevices> m_regMutex;
    std::array<std::vector<codec::RegisterWrite>, kMaxDevices> m_regList;
    std::array<bool, kMaxDevices> m_regPending{};

    // Auto-calibration image (always into module 0's buffer)
    enum class AcExpect { None, GroupEnd, PartEnd };
    mutable std::mutex m_acMutex;
    uint8_t m_acKind = 0;
    int m_acGroup = 0;
    std::vector<bool> m_acReceived;
    std::vector<codec::PieceRun> m_acRuns;
    int m_acRunIndex = 0;
    int m_acSize = 0;             // 0: none remembered
    AcExpect m_acExpect = AcExpect::None;
    AcStats m_acStats;

    // Mask download
    std::vector<uint8_t> m_maskBuf;
    std::array<bool, codec::kMaskParts> m_maskPartSeen{};
    int m_maskReceived = 0;
};

} // namespace tl
