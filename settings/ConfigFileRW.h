#pragma once

#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>
#include <cstdint>

// Live state of one module slot, shared by the controller, wizard and dialogs.
struct DeviceRecord
{
    uint8_t active = 0;
    QString fwVersion;
    char serial[16] = {};
};

// Every persistent setting of the driver (config.ini: user preferences and the
// device count; param.ini: installation parameters and the paired serials) and
// the two module slots. One instance, owned by the main window, GUI thread only.
//
// Both files are read in layers: first the machine-wide copies an administrator
// put in the XDG configuration folders (/etc/xdg followed by the brand folder,
// or what XDG_CONFIG_DIRS names), then the user's own. A key the user's file
// holds wins; a key it lacks comes from the machine-wide file. Saves go only to
// the user's folder; the machine-wide files are never written.
class ConfigFileRW
{
public:
    // `displays` is the left-to-right monitor list used to pick the default
    // monitor (the one at (0, 0)); the main window passes NqUtils' list.
    explicit ConfigFileRW(const QList<QRect> &displays = {});
    ~ConfigFileRW();

    ConfigFileRW(const ConfigFileRW &) = delete;
    ConfigFileRW &operator=(const ConfigFileRW &) = delete;

    static QString settingsFolder();
    static QString configFilePath();
    static QString paramFilePath();
    // The machine-wide settings folders, most important first.
    static QStringList machineWideFolders();
    // Languages of the language list (LanguageID 1..kLanguageCount; 0 follows the system).
    static constexpr int kLanguageCount = 23;

    void loadConfig();
    void loadParam();
    void saveDeviceCount();
    void saveConfig();
    void savePenTouchMode();
    void saveParamAll(int mode);
    bool checkDeviceSwap();
    void swapDevices();

    int getNumOfCamDevice() const { return m_nDeviceCount; }
    void setNumOfCamDevice(int n) { m_nDeviceCount = n; }
    void incNumOfCamDevice() { ++m_nDeviceCount; }
    // 1 single display, 2 dual display, 0 none.
    int displayMode() const;

    bool getStartProgram() const { return m_bStartProgram; }
    void setStartProgram(bool on) { m_bStartProgram = on; }
    int getLanguageId() const { return m_nLanguageId; }
    void setLanguageId(int id) { m_nLanguageId = id; }
    int getPenSelect() const { return m_nPenSelect; }
    void setPenSelect(int v) { m_nPenSelect = v; }
    int getPenTouchMode() const { return m_nPenTouchMode; }
    void setPenTouchMode(int v) { m_nPenTouchMode = v; }
    int getLensSelect() const { return m_nLensSelect; }
    void setLensSelect(int v) { m_nLensSelect = v; }
    bool getCheckCeiling() const { return m_bCheckCeiling; }
    void setCheckCeiling(bool on) { m_bCheckCeiling = on; }
    bool getCheckRear() const { return m_bCheckRear; }
    void setCheckRear(bool on) { m_bCheckRear = on; }
    int getMonitor() const { return m_nMonitor; }
    void setMonitor(int v) { m_nMonitor = v; }

    // Saved serial of slot 0 or 1 (serial keys 1 and 2); empty outside.
    QString getSavedSerial(int slot) const;

    // Device records of slots 0 and 1. An index outside 0..1 reads as an empty
    // record and writes nothing.
    uint8_t getDeviceActive(int slot) const;
    void setDeviceActive(int slot, uint8_t active);
    QString getDeviceFwVersion(int slot) const;
    void setDeviceFwVersion(int slot, const QString &version);
    QString getDeviceSerial(int slot) const;
    // Copies at most 15 characters of a NUL-terminated 16-byte buffer; a null
    // buffer leaves the serial unchanged.
    void setDeviceSerial(int slot, const char *serial16);

private:
    static QStringList layeredPaths(const QString &fileName, const QString &ownPath);
    void applyConfig(const QString &path, bool machineWide);
    void applyParam(const QString &path, bool machineWide);
    static void copySerial(char dst[16], const char *src, int srcMax);

    int m_nDeviceCount = 0;
    bool m_bStartProgram = false;
    int m_nLanguageId = 0;
    int m_nPenSelect = 0;
    int m_nPenTouchMode = 0;
    int m_nLensSelect = 2;
    bool m_bCheckCeiling = true;
    bool m_bCheckRear = false;
    int m_nMonitor = 0;
    int m_nDisplays = 0;   // monitors known at construction (0: unknown)
    char m_savedSerial[2][16] = {};
    DeviceRecord *m_pDevices = nullptr;
};
