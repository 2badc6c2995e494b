// nqmaincontrol: the alignment view's frame path.
#include "control/nqmaincontrol.h"

#include "device/CamDevCtrl.h"

#include <QDebug>
#include <QElapsedTimer>

namespace {
constexpr int kAlignWidth = 640;
constexpr int kAlignHeight = 360;
constexpr int kAlignFrameBytes = kAlignWidth * kAlignHeight;
constexpr int kKeptFigures = 100000;
} // namespace

void nqmaincontrol::slotNewFrameReceived(unsigned char *buf, int size, int nDevNum)
{
    // Only a whole 640 x 360 frame of a known module is shown. Anything else ends
    // that module's stream: no image, and no request for the next frame.
    if (size != kAlignFrameBytes || !buf || (nDevNum != 0 && nDevNum != 1)) {
        ++m_alignStats.refused;
        qDebug() << "nqmaincontrol::slotNewFrameReceived(): frame refused, size" << size << "nDevNum =" << nDevNum;
        return;
    }
    QElapsedTimer timer;
    timer.start();
    // The device layer's buffer fills again as soon as the next frame is asked
    // for; the copy keeps this frame whole while it is converted.
    const QByteArray copy(reinterpret_cast<const char *>(buf), size);
    if (m_alignRgb.isEmpty())
        m_alignRgb.resize(kAlignFrameBytes * 3);
    uchar *rgb = reinterpret_cast<uchar *>(m_alignRgb.data());
    const uchar *grey = reinterpret_cast<const uchar *>(copy.constData());
    for (int i = 0; i < size; ++i)
        rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = grey[i];
    emit updateAlignImage(QImage(rgb, kAlignWidth, kAlignHeight, kAlignWidth * 3, QImage::Format_RGB888), nDevNum);
    ++m_alignStats.shown[nDevNum];
    // The view may stay open for hours: keep the latest figures only.
    if (m_alignStats.guiNs.size() >= kKeptFigures)
        m_alignStats.guiNs.remove(0, kKeptFigures / 2);
    m_alignStats.guiNs.append(timer.nsecsElapsed());
    // A frame delivered after the view closed asks for none in the next mode.
    if (m_threadState == etaDISPLAY && !m_device->frameStreamStopped())
        m_device->requestFrame(nDevNum);
}
