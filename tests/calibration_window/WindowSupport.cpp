#include "WindowSupport.h"

#include "calibration/CalibWorkspace.h"
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"

#include <opencv2/imgproc.hpp>

WindowRig::WindowRig(int width, int height, bool ceiling, bool rear, int monitors)
{
    QList<tl::MonitorInfo> list;
    for (int i = 0; i < monitors; ++i)
        list.append({QRect(i * width, 0, width, height), 96.0});
    tl::FixedScreens::install(list);
    settings = std::make_unique<ConfigFileRW>();
    settings->setNumOfCamDevice(monitors);
    settings->setMonitor(0);
    settings->setCheckCeiling(ceiling);
    settings->setCheckRear(rear);
    settings->setPenSelect(0);
    language.loadLanguageData(LanguageTable::kEnglishIndex + 1);
    tl::resetCalibWorkspace();
    tl::setCalibPointCounts(2);
    dlg = std::make_unique<CalibDlg>(settings.get(), &language);
}

WindowRig::~WindowRig()
{
    dlg.reset();
    tl::FixedScreens::uninstall();
}

QImage WindowRig::showPattern()
{
    dlg->showOnMonitor(0, CalibDlg::ModeBlack);
    dlg->prepareAutoPattern();
    dlg->showDisplay();
    dlg->setDisplayMode(CalibDlg::ModePattern);
    return dlg->grab().toImage();
}

cv::Mat toGrey(const QImage &image)
{
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    cv::Mat m(grey.height(), grey.width(), CV_8UC1);
    for (int y = 0; y < grey.height(); ++y)
        std::memcpy(m.ptr(y), grey.constScanLine(y), grey.width());
    return m;
}

cv::Mat cameraView(const cv::Mat &window, bool ceiling, bool rear)
{
    cv::Mat out = window.clone();
    if (rear)
        cv::flip(out, out, 1);
    if (ceiling)
        cv::flip(out, out, -1);
    return out;
}

cv::Point2f cameraViewPoint(const cv::Point2f &p, int width, int height, bool ceiling, bool rear)
{
    cv::Point2f q = p;
    if (rear)
        q.x = (width - 1) - q.x;
    if (ceiling)
        q = cv::Point2f((width - 1) - q.x, (height - 1) - q.y);
    return q;
}
