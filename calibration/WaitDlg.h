#pragma once

#include <QDialog>

class QLabel;

// The white cover laid over every monitor while the controller connects modules,
// changes acquisition mode or calibrates. No buttons, no input, no signals.
class WaitDlg : public QDialog
{
    Q_OBJECT
public:
    explicit WaitDlg(QWidget *parent = nullptr);

    // Covers the union of all monitors and returns once the cover has been painted,
    // or after about 30 spins of 1 ms when no paint arrives.
    void showAllMonitors();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    static void spinWhile(const bool &flag);

    QLabel *m_labelGif = nullptr;
    bool m_bRepaintPending = false;
    bool m_bShowPending = false;
};
