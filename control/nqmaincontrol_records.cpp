// nqmaincontrol: the device records (which modules are connected, their
// serials, models and calibration) and the firmware parameters.
#include "control/nqmaincontrol.h"

#include "device/CamDevCtrl.h"
#include "settings/ConfigFileRW.h"

#include <QDebug>

#include <algorithm>

using tl::CamDevCtrl;

namespace {
// Model designations shown through "%1" of the tray texts, per model type 1 and 2.
const char *const kModelNames[] = {"TL-40", "TL-30"};

int decimalOrZero(const QString &text)
{
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    return ok ? v : 0;
}
} // namespace

int nqmaincontrol::GetNumberOfCameraDevices()
{
    return m_device->GetNumberOfCameraDevices();
}

bool nqmaincontrol::initDeviceCheck()
{
    // Device interface notifications come from the system event source that the
    // main window owns; nothing is registered here.
    qDebug() << "InitDeviceCheck()";
    const quint16 n = static_cast<quint16>(m_device->GetNumberOfCameraDevices());
    qDebug() << "InitDeviceCheck(): device count =" << n;
    m_psDataMgr->setNumOfCamDevice(0);
    if (n == 0 || n > 2)
        m_bConnectionStatus = false;
    else
        openDeviceSet(n);
    qDebug() << "InitDeviceCheck(): m_bConnectionStatus =" << m_bConnectionStatus;
    return m_bConnectionStatus;
}

bool nqmaincontrol::suspendDeviceCheck(int eState)
{
    const int stored = m_psDataMgr->getNumOfCamDevice();
    const int n = m_device->GetNumberOfCameraDevices();
    if (stored == n && eState == esysDEVICE_FOUND_OR_REMOVE)
        return false;

    qDebug() << "SuspendDeviceCheck()";
    if (m_psDataMgr->getDeviceActive(0)) {
        StopDevice();
        qDebug() << "SuspendDeviceCheck(): m_psDataMgr->getNumOfCamDevice() =" << stored;
        for (int i = 0; i < stored && i < 2; ++i) {
            if (n != 0)
                m_device->Close(i);
            m_psDataMgr->setDeviceActive(i, 0);
        }
        qDebug() << "SuspendDeviceCheck() - 2";
    }
    m_psDataMgr->setNumOfCamDevice(0);
    if (n == 1 || n == 2)
        openDeviceSet(n);
    else
        m_bConnectionStatus = false;
    m_psDataMgr->saveDeviceCount();
    return true;
}

void nqmaincontrol::openDeviceSet(int n)
{
    n = std::min(n, 2);
    if (!m_psDataMgr->getDeviceActive(0))
        for (int i = 0; i < n; ++i)
            m_psDataMgr->setDeviceActive(i, 1);

    const int opened = m_device->UpdateCameraInfo();
    if ((opened == 1 || opened == 2) && m_device->openDevices()) {
        for (int i = 0; i < n; ++i) {
            m_psDataMgr->setDeviceSerial(i, m_device->serialNumber(i));
            m_psDataMgr->incNumOfCamDevice();
            m_device->requestEeprom(i);
        }
    }
    const int count = m_psDataMgr->getNumOfCamDevice();
    if (m_psDataMgr->getDeviceActive(0) && count < 3)
        m_bConnectionStatus = count != 0;
    else
        m_bConnectionStatus = false;
}

void nqmaincontrol::copySerialsToRecords()
{
    for (int i = 0; i < m_psDataMgr->getNumOfCamDevice() && i < 2; ++i)
        m_psDataMgr->setDeviceSerial(i, m_device->serialNumber(i));
}

bool nqmaincontrol::allDevicesIdentified() const
{
    if (!m_bConnectionStatus)
        return false;
    const int count = m_psDataMgr->getNumOfCamDevice();
    if (count < 1 || count > 2)
        return false;
    for (int i = 0; i < count; ++i)
        if (m_modelType[i] == 0)
            return false;
    return true;
}

QString nqmaincontrol::deviceDisplayName() const
{
    if (allDevicesIdentified() && (m_modelType[0] == 1 || m_modelType[0] == 2))
        return QString::fromLatin1(kModelNames[m_modelType[0] - 1]);
    return QStringLiteral("Device");
}

bool nqmaincontrol::calibrationReady(int mode) const
{
    if (mode == 1)
        return m_device->isCalibrated(0);
    if (mode == 2)
        return m_device->isCalibrated(0) && m_device->isCalibrated(1);
    return false;
}

int nqmaincontrol::modelTypeIfIdentified() const
{
    return allDevicesIdentified() ? m_modelType[0] : 0;
}

int nqmaincontrol::modelType(int nDevNum) const
{
    return (nDevNum == 0 || nDevNum == 1) ? m_modelType[nDevNum] : 0;
}

int nqmaincontrol::modelSubType(int nDevNum) const
{
    return (nDevNum == 0 || nDevNum == 1) ? m_modelSubType[nDevNum] : 0;
}

void nqmaincontrol::slotSetFWVersion(QString sVersion, int nDevNum)
{
    qDebug() << "slotSetFWVersion:" << nDevNum << sVersion;
    // The index comes from the device layer's slot table; anything else is a
    // driver fault and must not write outside the two records.
    if (nDevNum != 0 && nDevNum != 1)
        return;
    m_modelType[nDevNum] = 0;
    if (sVersion.startsWith("40.")) {
        m_modelType[nDevNum] = 1;
    } else if (sVersion.startsWith("30.")) {
        m_modelType[nDevNum] = 2;
    } else if (sVersion.startsWith("50.")) {
        m_modelType[nDevNum] = 3;
    } else if (sVersion.startsWith("51.")) {
        m_modelType[nDevNum] = 3;
        const int param = decimalOrZero(sVersion.right(2));
        m_nFwParam = param < 10 ? 0 : param;
    } else if (sVersion.startsWith("100.")) {
        m_modelType[nDevNum] = 3;
    }
    if (m_modelType[nDevNum] == 2) {
        m_modelSubType[nDevNum] = 1;
        const int verMinor = decimalOrZero(sVersion.mid(sVersion.indexOf('.') + 1));
        qDebug() << "slotSetFWVersion: verMinor =" << verMinor;
        if (verMinor > 5)
            m_modelSubType[nDevNum] = 2;
    }
    m_psDataMgr->setDeviceFwVersion(nDevNum, sVersion);
}

void nqmaincontrol::FirmwareSave_Param()
{
    const int count = m_psDataMgr->getNumOfCamDevice();
    qDebug() << "FirmwareSave_Param:" << count;
    if (count > 0) {
        m_psDataMgr->saveParamAll(count);
        m_bCeilingInFile = m_psDataMgr->getCheckCeiling();
    }
}

void nqmaincontrol::saveParamKeepingTheFilesCeiling()
{
    if (!m_bWizardPending || !m_bParamRead) {
        FirmwareSave_Param();
        return;
    }
    const bool pending = m_psDataMgr->getCheckCeiling();
    m_psDataMgr->setCheckCeiling(m_bCeilingInFile);
    FirmwareSave_Param();
    m_psDataMgr->setCheckCeiling(pending);
}
