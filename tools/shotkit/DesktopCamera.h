#pragma once

// Emulated modules that photograph a projected desktop: each module on a bus
// gets a synthetic camera watching a desktop picture of its own, so the
// alignment view streams what a module on a board would see. Header only: the
// demo and the screenshot tools both use it.

#include "sim/EmulatedBus.h"
#include "sim/EmulatedModule.h"
#include "sim/SyntheticCamera.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>

#include <memory>
#include <vector>

namespace tl::shots {

namespace detail {

inline void paintWindow(QPainter &p, const QRect &r, const QString &title, bool dark)
{
    const int bar = r.height() / 12 + 18;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 70));   // shadow
    p.drawRoundedRect(r.translated(8, 10), 10, 10);
    p.setBrush(dark ? QColor(38, 40, 46) : QColor(246, 246, 242));
    p.drawRoundedRect(r, 10, 10);
    p.setBrush(dark ? QColor(62, 64, 72) : QColor(214, 218, 226));
    QPainterPath top;
    top.addRoundedRect(QRectF(r.x(), r.y(), r.width(), bar + 10), 10, 10);
    QPainterPath barArea;
    barArea.addRect(QRectF(r.x(), r.y(), r.width(), bar));
    p.drawPath(top.intersected(barArea));
    p.setPen(dark ? QColor(220, 220, 220) : QColor(40, 40, 48));
    QFont f = p.font();
    f.setPixelSize(bar / 2 + 2);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRect(r.x() + 20, r.y(), r.width() - 120, bar), Qt::AlignVCenter | Qt::AlignLeft, title);
    for (int i = 0; i < 3; ++i) {
        p.setPen(Qt::NoPen);
        p.setBrush(i == 0 ? QColor(210, 80, 70) : QColor(150, 150, 150));
        p.drawEllipse(QPoint(r.right() - 24 - 30 * i, r.y() + bar / 2), bar / 5, bar / 5);
    }
}

// Lines of text as grey bars, the way a page of notes looks from across a room.
inline void paintTextLines(QPainter &p, const QRect &area, int lineHeight, const QColor &ink, unsigned seed)
{
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    unsigned v = seed;
    for (int y = area.top(); y + lineHeight <= area.bottom(); y += lineHeight * 2) {
        v = v * 1103515245u + 12345u;
        const int w = area.width() * (55 + int((v >> 16) % 45)) / 100;
        p.drawRoundedRect(QRect(area.left(), y, w, lineHeight), 3, 3);
    }
}

} // namespace detail

// A desktop as the projector shows it on the board's monitor `index`: a
// wallpaper, a panel with the clock, icons, and windows (a lesson with a figure
// on it, notes; the second monitor a slide). RGB32 (what the camera reads without
// converting), painted on the calling thread: the GUI thread, for its fonts.
inline QImage desktopPicture(QSize size, int index)
{
    QImage img(size, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const int W = size.width(), H = size.height();
    const double s = H / 1080.0;
    auto R = [s](double x, double y, double w, double h) {
        return QRect(int(x * s), int(y * s), int(w * s), int(h * s));
    };

    QLinearGradient sky(0, 0, W, H);
    sky.setColorAt(0, index == 0 ? QColor(32, 86, 120) : QColor(70, 48, 104));
    sky.setColorAt(1, index == 0 ? QColor(10, 24, 48) : QColor(18, 16, 40));
    p.fillRect(img.rect(), sky);
    for (int i = 0; i < 5; ++i) {
        const QPointF c(W * (0.15 + 0.19 * i), H * (0.75 - 0.11 * ((i * 3) % 4)));
        QRadialGradient glow(c, H * 0.22);
        glow.setColorAt(0, QColor(255, 255, 255, 46));
        glow.setColorAt(1, QColor(255, 255, 255, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(glow);
        p.drawEllipse(c, H * 0.22, H * 0.22);
    }

    // The panel along the top, with the clock.
    p.fillRect(QRect(0, 0, W, int(36 * s)), QColor(24, 24, 28));
    p.setPen(QColor(235, 235, 235));
    QFont f = p.font();
    f.setPixelSize(int(20 * s));
    p.setFont(f);
    p.drawText(QRect(0, 0, W, int(36 * s)), Qt::AlignCenter, index == 0 ? "Tue 10:42" : "Tue 10:42  |  Room 2");
    for (int i = 0; i < 4; ++i) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(120 + 30 * i, 140, 170));
        p.drawEllipse(QPoint(W - int((30 + 34 * i) * s), int(18 * s)), int(9 * s), int(9 * s));
    }

    // Icons down the left edge.
    const char *const icons[] = {"Lessons", "Worksheets", "Board notes", "Recycle"};
    for (int i = 0; i < 4; ++i) {
        const QRect icon = R(40, 80 + 140 * i, 84, 84);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(230 - 25 * i, 190 + 12 * i, 90 + 40 * i));
        p.drawRoundedRect(icon, 14 * s, 14 * s);
        p.setBrush(QColor(255, 255, 255, 160));
        p.drawRect(icon.adjusted(int(20 * s), int(26 * s), int(-20 * s), int(-40 * s)));
        p.setPen(QColor(240, 240, 240));
        f.setPixelSize(int(17 * s));
        f.setBold(false);
        p.setFont(f);
        p.drawText(R(10, 170 + 140 * i, 144, 28), Qt::AlignCenter, icons[i]);
    }

    if (index == 0) {
        // A lesson with a figure on it, and a window of notes beside it.
        const QRect lesson = R(260, 120, 1040, 700);
        detail::paintWindow(p, lesson, "Geometry - lesson 4", false);
        p.setPen(QPen(QColor(30, 60, 150), 6 * s));
        p.setBrush(QColor(120, 170, 230));
        const QPolygonF triangle({QPointF(360 * s, 740 * s), QPointF(840 * s, 740 * s), QPointF(560 * s, 300 * s)});
        p.drawPolygon(triangle);
        p.setPen(QPen(QColor(200, 60, 40), 6 * s));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(1060 * s, 470 * s), 150 * s, 150 * s);
        p.drawLine(QPointF(1060 * s, 470 * s), QPointF(1210 * s, 470 * s));
        detail::paintTextLines(p, R(900, 660, 360, 130), int(14 * s), QColor(150, 150, 150), 7);

        const QRect notes = R(1360, 300, 500, 620);
        detail::paintWindow(p, notes, "Notes", true);
        detail::paintTextLines(p, notes.adjusted(int(30 * s), int(90 * s), int(-30 * s), int(-30 * s)),
                               int(16 * s), QColor(170, 175, 185), 3);
    } else {
        // A slide with a chart.
        const QRect slide = R(220, 110, 1500, 880);
        detail::paintWindow(p, slide, "Results - slide 3 of 12", false);
        p.setPen(QColor(30, 30, 40));
        f.setPixelSize(int(54 * s));
        f.setBold(true);
        p.setFont(f);
        p.drawText(R(300, 210, 1300, 90), Qt::AlignLeft | Qt::AlignVCenter, "Measured values");
        const int heights[] = {260, 420, 340, 520, 460, 600};
        for (int i = 0; i < 6; ++i) {
            p.setPen(Qt::NoPen);
            p.setBrush(i % 2 ? QColor(230, 120, 40) : QColor(40, 110, 190));
            p.drawRect(R(340 + 200 * i, 910 - heights[i], 120, heights[i]));
        }
        p.setPen(QPen(QColor(60, 60, 60), 4 * s));
        p.drawLine(R(300, 910, 1320, 0).topLeft(), R(300, 910, 1320, 0).topRight());
    }
    p.end();
    return img;
}

// A module that watches a desktop: its camera and the picture in front of it.
struct WatchedDesktop
{
    std::shared_ptr<sim::EmulatedModule> module;
    std::shared_ptr<sim::SyntheticCamera> camera;
    QImage picture;
};

// Gives every module on the bus a synthetic camera built from `setup` (module
// k's seed: setup.seed + 1000 k) that watches desktop picture k. The picture
// goes to the module's threads as a shared, never written copy. Call on the
// GUI thread.
inline std::vector<WatchedDesktop> watchDesktops(sim::EmulatedBus &bus, const sim::CameraSetup &setup)
{
    std::vector<WatchedDesktop> out;
    const auto modules = bus.devices();
    for (size_t k = 0; k < modules.size(); ++k) {
        sim::CameraSetup own = setup;
        own.seed = setup.seed + 1000 * k;
        WatchedDesktop w{modules[k], std::make_shared<sim::SyntheticCamera>(own),
                         desktopPicture(QSize(own.displayWidth, own.displayHeight), int(k))};
        const QImage picture = w.picture;
        w.module->setCamera(w.camera, [picture] { return picture; });
        out.push_back(std::move(w));
    }
    return out;
}

} // namespace tl::shots
