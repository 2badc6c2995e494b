#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The about box: product name, driver and firmware versions, the maker's web
// link. Built for each opening and run modally.
class AboutDlg : public QDialog
{
    Q_OBJECT
public:
    explicit AboutDlg(QWidget *parent = nullptr);
    ~AboutDlg() override;

    // Window title, the firmware line and the language's font (languageIndex
    // is the 0-based row of the language list).
    void setTexts(const QString &title, const QString &firmwareText, int languageIndex);

    double dpiRatio() const { return m_dpiRatio; }

    // The firmware text the about box shows: module 0's version with one
    // module, module 0's and module 1's joined by three spaces with two, empty
    // otherwise.
    static QString firmwareText(int deviceCount, const QString &first, const QString &second);

public slots:
    void clickOk();
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;

public:
    QLabel *IconLabel = nullptr;
    QLabel *labelAppName = nullptr;
    QLabel *labelSoftVer = nullptr;
    QLabel *labelHardVer = nullptr;
    QLabel *labelWeb = nullptr;
    QLabel *labelMaker = nullptr;
    QPushButton *pushOk = nullptr;

private:
    double m_dpiRatio = 1.0;
};
