#pragma once

#include "platform/Clock.h"
#include "tests/support/DriverSpin.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

// What a modal box looked like when it was answered.
struct ModalRecord
{
    bool seen = false;
    QString objectName;
    QString title;
    QString text;
    QStringList buttons;
    QString extra;       // filled by the inspector, if any
    bool stopped = false;
};

// Answers the next modal widget without blocking the test: polls for it from
// the event loop that its exec() runs, records it, then clicks the button
// whose text is `button` (a message box) or calls the inspector and closes
// it. A box without such a button is rejected. Gives up after `tries` polls,
// so a box that never comes leaves nothing behind.
//
// Only the pending timer owns the poll (the poll sees itself through a weak
// pointer): when the chain ends, or its timer is dropped without firing (the
// event dispatcher deletes pending single-shot timers when it goes), the poll
// and its record are freed. A poll that owned itself leaked in the second case.
inline std::shared_ptr<ModalRecord> answerNextModal(const QString &button,
                                                    std::function<QString(QWidget *)> inspect = {},
                                                    int tries = 300)
{
    using Poll = std::function<void(int)>;
    auto rec = std::make_shared<ModalRecord>();
    auto poll = std::make_shared<Poll>();
    std::weak_ptr<Poll> self = poll;
    *poll = [rec, button, inspect, self](int left) {
        if (rec->stopped)
            return;
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal) {
            // The timer running this call holds the poll, so the lock succeeds.
            if (left > 0)
                if (auto next = self.lock())
                    QTimer::singleShot(5, [next, left] { (*next)(left - 1); });
            return;
        }
        rec->seen = true;
        rec->objectName = modal->objectName();
        rec->title = modal->windowTitle();
        if (inspect)
            rec->extra = inspect(modal);
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            rec->text = box->text();
            for (QAbstractButton *b : box->buttons())
                rec->buttons << b->text();
            for (QAbstractButton *b : box->buttons())
                if (b->text() == button) {
                    b->click();
                    return;
                }
        }
        if (auto *dlg = qobject_cast<QDialog *>(modal)) {
            // The inspector may have closed it already.
            if (dlg->isVisible())
                dlg->reject();
        }
    };
    QTimer::singleShot(0, [poll, tries] { (*poll)(tries); });
    return rec;
}
