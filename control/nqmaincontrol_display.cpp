// nqmaincontrol: display layout and module pairing, and the alignment view
// (camera gain, mask; its frame path is in nqmaincontrol_align.cpp).
#include "control/nqmaincontrol.h"

#include "device/CamDevCtrl.h"
#include "input/InputInjection.h"
#include "input/NqUtils.h"
#include "platform/Clock.h"
#include "settings/ConfigFileRW.h"

#include <QDebug>

#include <algorithm>

using tl::CamDevCtrl;

void nqmaincontrol::configureInjectorLayout()
{
    m_injection->selectDisplayLayout(m_psDataMgr->getNumOfCamDevice(), m_psDataMgr->getMonitor());
}

void nqmaincontrol::GetMonitorInf()
{
    qDebug() << "nqmaincontrol::GetMonitorInf()";
    if (!m_bConnectionStatus)
        return;
    const int count = std::clamp(m_psDataMgr->getNumOfCamDevice(), 0, 2);
    m_psDisplayInfo = QVector<DisplayInfo>(count);
    QRect rects[2];
    NqUtils::getWindowRect(rects);
    if (count == 1)
        NqUtils::getMonitorRect(rects[0], m_psDataMgr->getMonitor());
    for (int i = 0; i < count; ++i) {
        m_psDisplayInfo[i] = {i, rects[i]};
        qDebug() << "nqmaincontrol::GetMonitorInf() - m_psDisplayInfo[nDev].sDisplayRect =" << i << rects[i];
    }
    if (count == 2) {
        const QRect &a = rects[0];
        const QRect &b = rects[1];
        const bool sideBySide = a.width() == b.width() && a.height() == b.height() && a.top() == b.top()
            && b.left() == a.left() + a.width();
        if (!sideBySide)
            showMessage(QStringLiteral("Please check monitor resolution and alignment."));
    }
}

void nqmaincontrol::swapAndReopen()
{
    const Transition busy(this);
    if (!m_bConnectionStatus || m_psDataMgr->getNumOfCamDevice() != 2)
        return;
    NotifyWait(true);
    stopReceiveThreads();
    tl::Clock::sleepMs(1000);
    m_device->exchangeDeviceSlots();
    m_device->openDevices();
    copySerialsToRecords();
    saveParamKeepingTheFilesCeiling();
}

void nqmaincontrol::slotCamParamSend(int addr, int value)
{
    m_device->sendIicWrite(static_cast<uint16_t>(addr), static_cast<uint8_t>(value), 0);
    tl::Clock::sleepMs(50);
    m_device->sendIicWrite(static_cast<uint16_t>(addr), static_cast<uint8_t>(value), 1);
}

void nqmaincontrol::slotCamParamSendWait(unsigned short gain, unsigned int expo, int nDevNum)
{
    // The alignment view always sends exposure 0; the queued writes are the two
    // gain registers, sent at the module's next frame end.
    Q_UNUSED(expo);
    m_device->addGainRegisters(gain, nDevNum);
}

void nqmaincontrol::uploadMask(unsigned char *mask, int length)
{
    m_device->sendSetMask(mask, length);
}

void nqmaincontrol::slotReceiveMask(unsigned char *mask, int len)
{
    qDebug() << "nqmaincontrol::slotReceiveMask():" << len;
    emit sigReceiveMask(mask, len);
}

void nqmaincontrol::slotRequestMask(int idx)
{
    m_device->request_get_mask(idx);
}
