#pragma once

#include <QDialog>
#include <QList>

class QLabel;

// The white cover laid over every monitor while the controller connects modules,
// changes acquisition mode or calibrates. No buttons, no input, no signals.
class WaitDlg : public QDialog
{
    Q_OBJECT
public:
    explicit WaitDlg(QWidget *parent = nullptr);

    // Covers the union of all monitors and returns once the cover has been painted,
    // or after about 30 spins of 1 ms when no paint arrives. Where the window
    // system does not let a client place its windows (native Wayland), one
    // window cannot span two outputs: this window then covers the first
    // monitor full screen and a plain white window of its own covers each other one.
    void showAllMonitors();

    // The extra covers of the monitors after the first (empty where one window covers all).
    const QList<QWidget *> &extraCovers() const { return m_extraCovers; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    static void spinWhile(const bool &flag);

    QLabel *m_labelGif = nullptr;
    bool m_bRepaintPending = false;
    bool m_bShowPending = false;
    QList<QWidget *> m_extraCovers;
};
