#include "sim/ImageSource.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QProcess>
#include <QScreen>

namespace tl::sim {

using codec::kAcImageBytes;
using codec::kAcImageHeight;
using codec::kAcImageWidth;
using codec::kFrameBytes;
using codec::kFrameHeight;
using codec::kFrameWidth;

std::vector<uint8_t> TestPatternSource::capture(const CaptureContext &ctx)
{
    return captureFor(ctx.kind);
}

std::vector<uint8_t> TestPatternSource::alignmentFrame(const CaptureContext &ctx)
{
    return frameFor(ctx.frameNumber);
}

std::vector<uint8_t> TestPatternSource::captureFor(int kind)
{
    std::vector<uint8_t> img(kAcImageBytes);
    for (int y = 0; y < kAcImageHeight; ++y)
        for (int x = 0; x < kAcImageWidth; ++x)
            img[y * kAcImageWidth + x] = static_cast<uint8_t>(x * 7 + y * 13 + (x >> 8) + kind * 31);
    return img;
}

std::vector<uint8_t> TestPatternSource::frameFor(uint64_t frameNumber)
{
    std::vector<uint8_t> img(kFrameBytes);
    for (int y = 0; y < kFrameHeight; ++y)
        for (int x = 0; x < kFrameWidth; ++x)
            img[y * kFrameWidth + x] = static_cast<uint8_t>(x * 3 + y * 5 + (y >> 8) + frameNumber * 17);
    return img;
}

OutputGrab::OutputGrab(const QString &name, const QRect &area, Method method)
    : m_name(name)
    , m_area(area)
    , m_method(method)
{
}

OutputGrab::Method OutputGrab::methodFor(const QString &platformName)
{
    if (platformName == QLatin1String("xcb"))
        return Method::RootWindow;
    if (platformName.startsWith(QLatin1String("wayland")))
        return Method::Screencopy;
    return Method::None;
}

QImage OutputGrab::grab()
{
    m_error.clear();
    QImage shot;
    if (m_method == Method::RootWindow) {
        // Window 0 is the root window; the rectangle is in root pixels.
        QScreen *screen = QGuiApplication::primaryScreen();
        if (!screen) {
            m_error = "no screen";
            return {};
        }
        shot = screen->grabWindow(0, m_area.x(), m_area.y(), m_area.width(), m_area.height()).toImage();
    } else if (m_method == Method::Screencopy) {
        QProcess grim;
        grim.start("grim", { "-t", "ppm", "-o", m_name, "-" });
        if (!grim.waitForFinished(10000) || grim.exitStatus() != QProcess::NormalExit || grim.exitCode() != 0) {
            m_error = "grim -o " + m_name + ": " + QString::fromLocal8Bit(grim.readAllStandardError()).trimmed()
                + (grim.error() == QProcess::FailedToStart ? " (not installed?)" : "");
            grim.kill();
            grim.waitForFinished(1000);
            return {};
        }
        shot = QImage::fromData(grim.readAllStandardOutput(), "PPM");
    } else {
        m_error = "no way to read this window system's outputs";
        return {};
    }
    if (shot.isNull()) {
        m_error = "empty picture of " + m_name;
        return {};
    }
    return shot;
}

} // namespace tl::sim
