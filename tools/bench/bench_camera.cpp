// The emulator's synthetic camera: building its render maps, a 1280 x 720
// capture and a 640 x 360 alignment frame of a 1920 x 1080 display.

#include "sim/SyntheticCamera.h"

#include <benchmark/benchmark.h>

#include <QPainter>

namespace {

tl::sim::CameraSetup setupFor(int lens)
{
    tl::sim::CameraSetup s;
    s.lens = lens;
    s.seed = 4;
    return s;
}

QImage pattern()
{
    QImage img(1920, 1080, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::black);
    for (int y = 100; y < 1080; y += 280)
        for (int x = 100; x < 1920; x += 430)
            p.drawEllipse(QPointF(x, y), 60, 60);
    return img;
}

void BM_CameraFirstCapture(benchmark::State &state)
{
    const QImage img = pattern();
    for (auto _ : state) {
        tl::sim::SyntheticCamera cam(setupFor(int(state.range(0))));
        benchmark::DoNotOptimize(cam.capture(img).data);
    }
}
BENCHMARK(BM_CameraFirstCapture)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_CameraCapture(benchmark::State &state)
{
    const QImage img = pattern();
    tl::sim::SyntheticCamera cam(setupFor(int(state.range(0))));
    cam.capture(img);
    for (auto _ : state)
        benchmark::DoNotOptimize(cam.capture(img).data);
}
BENCHMARK(BM_CameraCapture)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

void BM_CameraAlignmentFrame(benchmark::State &state)
{
    const QImage img = pattern();
    tl::sim::SyntheticCamera cam(setupFor(1));
    cam.frame(img, 256);
    for (auto _ : state)
        benchmark::DoNotOptimize(cam.frame(img, 256).data);
}
BENCHMARK(BM_CameraAlignmentFrame)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
