#pragma once

// What the calibration tests share: the controller, the calibration window and
// the protocol code against emulated modules, with a user who answers message
// boxes.

#include "ControllerFixture.h"

#include "calibration/CalibDlg.h"
#include "control/nqmaincontrol.h"
#include "device/codec/Commands.h"
#include "platform/Clock.h"
#include "settings/ConfigFileRW.h"
#include "sim/EmulatedBus.h"
#include "sim/SimulatedUser.h"
#include "sim/SyntheticCamera.h"
#include "tests/support/PlatformInjection.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <functional>
#include <vector>

// Answers every message box the controller opens, remembering its text.
class BoxAnswerer
{
public:
    BoxAnswerer()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                m_texts << box->text();
                box->accept();
            }
        });
        m_timer.start();
    }
    QStringList texts() const { return m_texts; }

private:
    QTimer m_timer;
    QStringList m_texts;
};

class CalibrationFixture : public ControllerFixture
{
protected:
    // The mark's ring runs on the event loop while the module holds the target:
    // compress less than the other controller tests so that both keep their order
    // on a loaded machine.
    CalibrationFixture() : ControllerFixture(5) {}

    void TearDown() override
    {
        stopRefreshing();
        ControllerFixture::TearDown();
    }

    void start(int lensSelect = 0)
    {
        settings = std::make_unique<ConfigFileRW>(QList<QRect>{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1920, 1080)});
        settings->setLensSelect(lensSelect);
        control = std::make_unique<nqmaincontrol>(settings.get(), &language, &bus, &window, nullptr, nullptr,
                                                  nullptr, &tl::test::platformInjection());
        control->systemStateChange(esysCONNECTION_START, -1);
        QCoreApplication::processEvents();
    }

    // Runs the event loop until `done` or `rounds` steps of 20 ms driver time.
    static bool settleUntil(const std::function<bool()> &done, int rounds = 2000)
    {
        return tl::test::spinUntil(done, rounds * 20LL, 20);
    }

    // The module watches display `k` through a synthetic camera: what the
    // calibration window paints there, grabbed on the GUI thread.
    void watchDisplay(tl::sim::EmulatedModule &module, int k, tl::sim::ProjectedDisplay &display)
    {
        tl::sim::CameraSetup setup;
        setup.seed = 3 + k;
        auto camera = std::make_shared<tl::sim::SyntheticCamera>(setup);
        nqmaincontrol *c = control.get();
        QThread *gui = QThread::currentThread();
        module.setCamera(camera, [c, k, gui, &display]() -> QImage {
            if (QThread::currentThread() == gui) {
                CalibDlg *dlg = c->calibDialog();
                display.update(dlg->isVisible() && dlg->devNum() == k ? dlg->grab().toImage() : QImage());
            }
            return display.current();
        });
    }

    // The same with a display of the fixture's own, kept current from the GUI
    // thread while the test runs: a module's person (or touch) looks at it from
    // the host's threads and holds the pen until the window answers.
    void watchDisplay(tl::sim::EmulatedModule &module, int k)
    {
        ownDisplays.push_back(std::make_unique<tl::sim::ProjectedDisplay>());
        tl::sim::ProjectedDisplay *display = ownDisplays.back().get();
        watchDisplay(module, k, *display);
        nqmaincontrol *c = control.get();
        refreshers.push_back(std::make_unique<tl::ClockTimer>());
        tl::ClockTimer *refresher = refreshers.back().get();
        refresher->onTimeout([c, k, display] {
            CalibDlg *dlg = c->calibDialog();
            display->update(dlg->isVisible() && dlg->devNum() == k ? dlg->grab().toImage() : QImage());
        });
        // On driver time, as the person's looks are.
        refresher->start(50);
    }

    static std::vector<int> imageKindsRequested(const tl::sim::EmulatedModule &module)
    {
        std::vector<int> kinds;
        for (const auto &p : module.received(tl::codec::CMD_AC_SENDIMG))
            if (p.bytes[9] == 0)   // group 0 starts an image
                kinds.push_back(p.bytes[8]);
        return kinds;
    }

    // Camera points that a module would see for the window's manual targets:
    // a fixed perspective view of the window, index = the window's target index.
    void touchThroughView(tl::sim::EmulatedModule &module, int onlyBelow = 25)
    {
        const std::vector<cv::Point2f> win = {{0, 0}, {1919, 0}, {1919, 1079}, {0, 1079}};
        const std::vector<cv::Point2f> cam = {{180, 110}, {1110, 95}, {1135, 640}, {160, 620}};
        const cv::Mat h = cv::getPerspectiveTransform(win, cam);
        nqmaincontrol *c = control.get();
        module.setManualTouch([c, h, onlyBelow](int index) -> std::optional<tl::sim::CameraPoint> {
            if (index >= onlyBelow)
                return std::nullopt;
            std::vector<cv::Point2f> in{c->calibDialog()->getPoints()[index]}, out;
            cv::perspectiveTransform(in, out, h);
            return tl::sim::CameraPoint{out[0].x, out[0].y};
        });
    }

    // Stops every display's refresher.
    void stopRefreshing()
    {
        for (auto &r : refreshers)
            r->stop();
    }

    std::vector<std::unique_ptr<tl::ClockTimer>> refreshers;
    std::vector<std::unique_ptr<tl::sim::ProjectedDisplay>> ownDisplays;
};
