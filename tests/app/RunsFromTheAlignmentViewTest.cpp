// A calibration run started from the tray while the alignment view is open:
// the run takes the modules out of the view's stream and the calibration
// window takes the display the module photographs, so the view closes before
// the run starts; it never stays over the desktop without frames.

#include "app/Corvane.h"
#include "app/CorvaneTray.h"
#include "calibration/CalibDlg.h"
#include "sim/EmulatedBus.h"
#include "tests/support/MainWindowFixture.h"
#include "ui/AlignmentDlg.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <gtest/gtest.h>

using tl::sim::ModuleVariant;

namespace {

class RunsFromTheAlignmentViewTest : public tl::test::MainWindowFixture
{
};

TEST_F(RunsFromTheAlignmentViewTest, TheViewClosesBeforeTheRunStarts)
{
    for (const auto entry : {CorvaneTray::ActAutoCalibration, CorvaneTray::ActManualCalibration}) {
        SCOPED_TRACE(entry == CorvaneTray::ActAutoCalibration ? "auto" : "manual");
        const auto module = bus.plug(ModuleVariant::calibrated("TLM-V"));
        ASSERT_TRUE(startWindow());
        window->StartAlignmentDisplay();
        settle(50);
        ASSERT_EQ(window->control()->threadState(), etaDISPLAY);
        ASSERT_TRUE(window->alignmentView()->isVisible());

        // Whether the view was still over the desktop when the calibration
        // window first showed (the module photographs what is shown).
        bool viewOverTheRun = false;
        QTimer watch;
        watch.setInterval(0);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (window->control()->calibDialog()->isVisible() && window->alignmentView()->isVisible())
                viewOverTheRun = true;
        });
        watch.start();
        window->tray()->action(entry)->trigger();
        settle(20);
        watch.stop();
        nqmaincontrol *c = window->control();
        EXPECT_NE(c->calState(), 0);
        EXPECT_TRUE(c->calibDialog()->isVisible());
        EXPECT_FALSE(window->alignmentView()->isVisible())
            << "the view is open in thread state " << c->threadState();
        EXPECT_FALSE(viewOverTheRun);

        // Escape ends the run in tracking; a later view opens and streams again.
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(c->calibDialog(), &key);
        ASSERT_TRUE(settleUntil([&] { return c->threadState() == etaTRACKING && c->calState() == 0; }));
        window->StartAlignmentDisplay();
        settle(50);
        EXPECT_EQ(c->threadState(), etaDISPLAY);
        EXPECT_TRUE(window->alignmentView()->isVisible());
        window.reset();
        bus.unplug(module);
        settle();
    }
}

} // namespace
