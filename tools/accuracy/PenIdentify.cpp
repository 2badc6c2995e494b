// pen-identify: where the pen's light sits, per lens family and pen type.
//
// The product's tweak tables hold, per auto-pattern point, how far from the
// found pattern point a production camera sees the pen whose tip touches that
// point. This tool takes the emulator's cameras (their poses and lenses, seeds
// 1..N at one display) and finds by least squares the light's place (lift off
// the screen and offset along it, shares of the display width) that makes the
// emulated cameras see the same offsets, for each lens family and pen type.
// It prints, per table, what the light explains and what it leaves (RMS and
// largest, camera px), beside what a plane over the 20 points leaves, and
// writes the values as the emulator's data file.
//
//   pen-identify [--seeds N] [--display WxH] [--out sim/PenLightData.h]
//   pen-identify --rows-reversed [--seeds N] [--display WxH]
//
// --rows-reversed reads every table as a camera below the board would have
// measured it (its rows in the other order, its y offsets negated) and only
// prints: a check of which way up the tables were measured.
//
// The emulator itself never reads a host table: it reads the file written here.

#include "calibration/CalibWorkspace.h"
#include "calibration/PatternGeometry.h"
#include "sim/PenLight.h"
#include "sim/SyntheticCamera.h"

#include <QtGlobal>

#include <opencv2/core.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using tl::sim::CameraSetup;
using tl::sim::PenLight;
using tl::sim::SyntheticCamera;

// The 20 window positions of the pattern (row-major), as the window places them.
std::vector<cv::Point2f> patternPositions(int w, int h)
{
    const double d = tl::patternMargin(w, h, true, 16);
    const double e = (h - 1) - 2 * d, f = (w - 1) - 2 * d;
    std::vector<cv::Point2f> p(tl::kPatternPoints);
    const int columns[4] = { 0, 1, 3, 4 };
    for (int g = 0; g < tl::kPatternRows; ++g) {
        const float y = float(std::floor(g * e / 3 + d + 0.5));
        for (int i = 0; i < 4; ++i)
            p[5 * g + columns[i]] = cv::Point2f(float(std::floor(i * f / 3 + d + 0.5)), y);
        p[5 * g + 2] = cv::Point2f(float(w / 2), y);
    }
    return p;
}

struct Table
{
    const char *name;
    int lens;      // lens code the host chooses the table by
    int fwParam;
    int penType;
    int family;    // the emulator's lens family whose cameras are used
    bool written;  // whether it becomes the emulator's data
};

struct Sample
{
    const SyntheticCamera *cam;
    cv::Point2d window;     // element's middle as drawn
    cv::Point2d seen;       // where the camera sees the pattern element
    cv::Point2d tweak;      // the table's offset, camera px
};

cv::Point2d residual(const Sample &s, const PenLight &l)
{
    return s.cam->lightToCamera(s.window, l) - s.seen - s.tweak;
}

PenLight solve(const std::vector<Sample> &samples)
{
    double p[3] = { 0, 0, 0 };
    auto light = [](const double *q) { return PenLight{ q[0], q[1], q[2] }; };
    for (int it = 0; it < 30; ++it) {
        cv::Matx33d N = cv::Matx33d::zeros();
        cv::Vec3d b(0, 0, 0);
        for (const Sample &s : samples) {
            const cv::Point2d r0 = residual(s, light(p));
            cv::Point2d J[3];
            for (int i = 0; i < 3; ++i) {
                double q[3] = { p[0], p[1], p[2] };
                q[i] += 1e-6;
                J[i] = (residual(s, light(q)) - r0) / 1e-6;
            }
            for (int i = 0; i < 3; ++i) {
                b[i] -= J[i].x * r0.x + J[i].y * r0.y;
                for (int j = 0; j < 3; ++j)
                    N(i, j) += J[i].x * J[j].x + J[i].y * J[j].y;
            }
        }
        const cv::Vec3d step = N.solve(b, cv::DECOMP_SVD);
        for (int i = 0; i < 3; ++i)
            p[i] += step[i];
        if (std::fabs(step[0]) + std::fabs(step[1]) + std::fabs(step[2]) < 1e-12)
            break;
    }
    return light(p);
}

// What a plane (per camera and coordinate: a + b x + c y over the camera
// points) leaves of the table: the share no smooth field of offsets explains.
void planeResidual(const std::vector<Sample> &samples, double *rms, double *largest)
{
    double sum = 0;
    int n = 0;
    *largest = 0;
    for (size_t first = 0; first < samples.size(); first += tl::kPatternPoints) {
        cv::Mat A(tl::kPatternPoints, 3, CV_64F), bx(tl::kPatternPoints, 1, CV_64F), by(tl::kPatternPoints, 1, CV_64F);
        for (int k = 0; k < tl::kPatternPoints; ++k) {
            const Sample &s = samples[first + k];
            A.at<double>(k, 0) = 1;
            A.at<double>(k, 1) = s.seen.x;
            A.at<double>(k, 2) = s.seen.y;
            bx.at<double>(k) = s.tweak.x;
            by.at<double>(k) = s.tweak.y;
        }
        cv::Mat cx, cy;
        cv::solve(A, bx, cx, cv::DECOMP_SVD);
        cv::solve(A, by, cy, cv::DECOMP_SVD);
        const cv::Mat rx = A * cx - bx, ry = A * cy - by;
        for (int k = 0; k < tl::kPatternPoints; ++k) {
            const double e = std::hypot(rx.at<double>(k), ry.at<double>(k));
            sum += e * e;
            ++n;
            *largest = std::max(*largest, e);
        }
    }
    *rms = n ? std::sqrt(sum / n) : 0;
}

} // namespace

int main(int argc, char **argv)
{
    // The workspace logs every table it loads; only this tool's report is wanted.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    int seeds = 8;
    int width = 1920, height = 1080;
    std::string out;
    bool rowsReversed = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seeds") && i + 1 < argc)
            seeds = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--display") && i + 1 < argc)
            std::sscanf(argv[++i], "%dx%d", &width, &height);
        else if (!std::strcmp(argv[i], "--out") && i + 1 < argc)
            out = argv[++i];
        else if (!std::strcmp(argv[i], "--rows-reversed"))
            rowsReversed = true;
        else {
            std::fprintf(stderr, "usage: pen-identify [--seeds N] [--display WxH] [--out FILE | --rows-reversed]\n");
            return 2;
        }
    }
    if (rowsReversed && !out.empty()) {
        std::fprintf(stderr, "pen-identify: --rows-reversed only prints\n");
        return 2;
    }

    const Table tables[] = {
        { "lens 1 (other codes), pen 0", 1, 10, 0, 1, true },
        { "lens 1 (other codes), pen 1", 1, 10, 1, 1, true },
        { "lens 2, pen 0", 2, 10, 0, 2, true },
        { "lens 2, pen 1", 2, 10, 1, 2, true },
        { "lens 3 fwParam >= 10, pen 0", 3, 10, 0, 3, true },
        { "lens 3 fwParam >= 10, pen 1", 3, 10, 1, 3, true },
        { "lens 3 fwParam < 10 (both pens)", 3, 9, 0, 3, false },
    };

    // The emulator's cameras of each family, front mounting (a mounted
    // camera's view of the screen is the same, turned with it).
    std::vector<std::vector<std::unique_ptr<SyntheticCamera>>> cameras(3);
    for (int family = 1; family <= 3; ++family)
        for (int s = 1; s <= seeds; ++s) {
            CameraSetup cs;
            cs.displayWidth = width;
            cs.displayHeight = height;
            cs.lens = family;
            cs.seed = uint64_t(s);
            cameras[size_t(family - 1)].push_back(std::make_unique<SyntheticCamera>(cs));
        }
    const std::vector<cv::Point2f> positions = patternPositions(width, height);

    PenLight result[3][tl::sim::kPenTypes];
    std::string report;
    std::printf("pen-identify: %d cameras per lens family at %dx%d, front mounting%s\n", seeds, width, height,
                rowsReversed ? "; tables read rows reversed, y negated" : "");
    std::printf("%-32s %9s %9s %9s | %6s %6s | %6s %6s | %6s %6s\n", "table", "lift", "alongX", "alongY",
                "tbl", "tblmax", "rms", "max", "plane", "plmax");
    for (const Table &t : tables) {
        tl::resetCalibWorkspace();
        tl::setCalibPointCounts(t.lens);
        const cv::Point2f noPoints[25] = {};
        tl::setCalibInformation(noPoints, 0, 0, 0, width, height, t.lens, t.fwParam, t.penType);
        const tl::CalibWorkspace &ws = tl::calibWorkspace();

        std::vector<Sample> samples;
        double tableSq = 0, tableMax = 0;
        for (const std::unique_ptr<SyntheticCamera> &camera : cameras[size_t(t.family - 1)]) {
            const SyntheticCamera &cam = *camera;
            for (int k = 0; k < tl::kPatternPoints; ++k) {
                Sample s;
                s.cam = &cam;
                tl::patternDrawnPoint(&positions[0].x, k, width, height, false, false, &s.window.x, &s.window.y);
                s.seen = cam.windowToCamera(s.window);
                if (rowsReversed) {
                    const int j = tl::kPatternColumns * (tl::kPatternRows - 1 - k / tl::kPatternColumns)
                        + k % tl::kPatternColumns;
                    s.tweak = cv::Point2d(ws.ac_tweak[j].x, -ws.ac_tweak[j].y);
                } else {
                    s.tweak = cv::Point2d(ws.ac_tweak[k].x, ws.ac_tweak[k].y);
                }
                samples.push_back(s);
            }
        }
        for (int k = 0; k < tl::kPatternPoints; ++k) {
            const double e = std::hypot(ws.ac_tweak[k].x, ws.ac_tweak[k].y);
            tableSq += e * e;
            tableMax = std::max(tableMax, e);
        }
        const PenLight l = solve(samples);
        double sum = 0, largest = 0;
        for (const Sample &s : samples) {
            const cv::Point2d r = residual(s, l);
            const double e = std::hypot(r.x, r.y);
            sum += e * e;
            largest = std::max(largest, e);
        }
        const double rms = std::sqrt(sum / samples.size());
        double planeRms = 0, planeMax = 0;
        planeResidual(samples, &planeRms, &planeMax);
        char line[256];
        std::snprintf(line, sizeof line, "%-32s %9.6f %9.6f %9.6f | %6.2f %6.2f | %6.2f %6.2f | %6.2f %6.2f",
                      t.name, l.lift, l.alongX, l.alongY, std::sqrt(tableSq / tl::kPatternPoints), tableMax, rms,
                      largest, planeRms, planeMax);
        std::printf("%s%s\n", line, t.written ? "" : "   (not written: the emulator's lens 3 is fwParam >= 10)");
        if (t.written) {
            result[t.family - 1][t.penType] = l;
            report += std::string("//   ") + line + "\n";
        }
    }
    std::printf("columns: the light (shares of the display width); the table's own size (RMS, largest);\n"
                "what the light leaves of it (RMS, largest); what a plane per camera leaves (camera px)\n");

    if (out.empty())
        return 0;
    FILE *f = std::fopen(out.c_str(), "w");
    if (!f) {
        std::perror(out.c_str());
        return 1;
    }
    std::fprintf(f, "#pragma once\n\n");
    std::fprintf(f, "// Written by pen-identify (tools/accuracy/PenIdentify.cpp); do not edit. Made with\n");
    std::fprintf(f, "//   build/bin/pen-identify --seeds %d --display %dx%d --out sim/PenLightData.h\n", seeds, width,
                 height);
    std::fprintf(f, "// from the emulator's cameras of seeds 1..%d and the product's tweak tables. Per table: the\n",
                 seeds);
    std::fprintf(f, "// light (lift, along x, along y: shares of the display width); the table's RMS and largest\n");
    std::fprintf(f, "// offset; what the light leaves unexplained (RMS, largest); what a plane leaves (camera px).\n");
    std::fprintf(f, "%s\n", report.c_str());
    std::fprintf(f, "#include \"sim/PenLight.h\"\n\nnamespace tl::sim {\n\n");
    std::fprintf(f, "// Lens family 1, 2, 3 (rows) x pen type 0, 1: lift, along x, along y.\n");
    std::fprintf(f, "inline constexpr PenLight kPenLightTable[3][kPenTypes] = {\n");
    for (int fam = 0; fam < 3; ++fam) {
        std::fprintf(f, "    {");
        for (int p = 0; p < tl::sim::kPenTypes; ++p) {
            const PenLight &l = result[fam][p];
            std::fprintf(f, " { %.9g, %.9g, %.9g }%s", l.lift, l.alongX, l.alongY,
                         p + 1 < tl::sim::kPenTypes ? "," : " ");
        }
        std::fprintf(f, "},\n");
    }
    std::fprintf(f, "};\n\n} // namespace tl::sim\n");
    std::fclose(f);
    std::printf("wrote %s\n", out.c_str());
    return 0;
}
