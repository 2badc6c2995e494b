// pen-identify: where the pen's light sits, per lens family and pen type.
//
// The product's tweak tables hold, per auto-pattern point, how far from the
// found pattern point a production camera sees the pen whose tip touches that
// point. This tool takes the emulator's cameras (their poses and lenses, seeds
// 1..N at one display) and finds by least squares the light's place (lift off
// the screen and offset along it, shares of the display width, per pen type)
// and how the lens passes the infrared light against the visible pattern (its
// scale and radial term, per lens family: one lens for both pen types) that
// make the emulated cameras see the same offsets. The fit makes small the
// miss where the pointer lands, on the screen (each offset turned into window
// px by the camera's own scale at its point), not the offset in camera px.
// The lift is held on the camera's side of the screen (a light behind the
// board is no pen). It prints, per table, what the light explains and what it
// leaves (RMS and largest, camera px and window px), beside what a plane over
// the 20 points leaves, and writes the values as the emulator's data file.
//
//   pen-identify [--seeds N] [--display WxH] [--out sim/PenLightData.h]
//   pen-identify --rows-reversed [--seeds N] [--display WxH]
//   pen-identify --visible-light [--seeds N] [--display WxH] [--points]
//
// --rows-reversed reads every table as a camera below the board would have
// measured it (its rows in the other order, its y offsets negated) and only
// prints: a check of which way up the tables were measured. --visible-light
// leaves the lens's infrared terms out (the light imaged as the pattern is)
// and only prints: what those terms explain. --points prints, per pattern
// point, the table and what the light leaves of it, averaged over the cameras.
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
    cv::Matx22d toWindow;   // window px per camera px there (the camera's inverse Jacobian)
};

// What the light leaves of the table at a sample, camera px.
cv::Point2d residual(const Sample &s, const PenLight &l)
{
    return s.cam->lightToCamera(s.window, l) - s.seen - s.tweak;
}

// The same as the pointer misses on the screen: window px.
cv::Point2d windowResidual(const Sample &s, const PenLight &l)
{
    const cv::Point2d r = residual(s, l);
    return cv::Point2d(s.toWindow(0, 0) * r.x + s.toWindow(0, 1) * r.y, s.toWindow(1, 0) * r.x + s.toWindow(1, 1) * r.y);
}

// What the fit makes small: the miss on the screen, where the pointer lands
// (a camera pixel at the far edge of a wide lens's view spans several window
// pixels).
cv::Point2d fitResidual(const Sample &s, const PenLight &l)
{
    return windowResidual(s, l);
}

// One lens family's unknowns: the lens's infrared scale and radial term, and
// per pen type (table) the light's lift and offsets along the screen.
struct FamilyFit
{
    double irScale = 0, irRadial = 0;
    std::vector<cv::Vec3d> pens;   // lift, along x, along y per table of the family

    PenLight light(size_t pen) const
    {
        return PenLight{ pens[pen][0], pens[pen][1], pens[pen][2], irScale, irRadial };
    }
};

// Gauss-Newton over a family's tables (samples[t] the samples of its table t).
// Terms marked held stay as they are.
void solveFamily(const std::vector<std::vector<Sample>> &samples, bool withIr, const std::vector<bool> &liftHeld,
                 FamilyFit *fit)
{
    const size_t tables = samples.size();
    // Parameter layout: irScale, irRadial, then lift, alongX, alongY per table.
    const size_t n = 2 + 3 * tables;
    auto get = [&](const FamilyFit &f, size_t i) -> double {
        if (i == 0)
            return f.irScale;
        if (i == 1)
            return f.irRadial;
        return f.pens[(i - 2) / 3][int((i - 2) % 3)];
    };
    auto set = [&](FamilyFit &f, size_t i, double v) {
        if (i == 0)
            f.irScale = v;
        else if (i == 1)
            f.irRadial = v;
        else
            f.pens[(i - 2) / 3][int((i - 2) % 3)] = v;
    };
    std::vector<size_t> freeTerms;
    for (size_t i = 0; i < n; ++i) {
        if (i < 2 && !withIr)
            continue;
        if (i >= 2 && (i - 2) % 3 == 0 && liftHeld[(i - 2) / 3])
            continue;
        freeTerms.push_back(i);
    }
    const int m = int(freeTerms.size());
    for (int it = 0; it < 30; ++it) {
        cv::Mat N = cv::Mat::zeros(m, m, CV_64F), b = cv::Mat::zeros(m, 1, CV_64F);
        for (size_t t = 0; t < tables; ++t)
            for (const Sample &s : samples[t]) {
                const cv::Point2d r0 = fitResidual(s, fit->light(t));
                std::vector<cv::Point2d> J(static_cast<size_t>(m));
                for (int i = 0; i < m; ++i) {
                    const size_t term = freeTerms[size_t(i)];
                    // Only the family's terms and this table's move its residual.
                    if (term >= 2 && (term - 2) / 3 != t)
                        continue;
                    FamilyFit moved = *fit;
                    set(moved, term, get(*fit, term) + 1e-6);
                    J[size_t(i)] = (fitResidual(s, moved.light(t)) - r0) / 1e-6;
                }
                for (int i = 0; i < m; ++i) {
                    b.at<double>(i) -= J[size_t(i)].x * r0.x + J[size_t(i)].y * r0.y;
                    for (int j = 0; j < m; ++j)
                        N.at<double>(i, j) += J[size_t(i)].x * J[size_t(j)].x + J[size_t(i)].y * J[size_t(j)].y;
                }
            }
        cv::Mat step;
        cv::solve(N, b, step, cv::DECOMP_SVD);
        double size = 0;
        for (int i = 0; i < m; ++i) {
            const size_t term = freeTerms[size_t(i)];
            set(*fit, term, get(*fit, term) + step.at<double>(i));
            size += std::fabs(step.at<double>(i));
        }
        if (size < 1e-12)
            break;
    }
}

// The family's fit with every lift on the camera's side: a table whose light
// the free fit puts behind the screen has its lift held at 0, and the rest
// fitted again.
FamilyFit identify(const std::vector<std::vector<Sample>> &samples, bool withIr)
{
    FamilyFit fit;
    fit.pens.assign(samples.size(), cv::Vec3d(0, 0, 0));
    std::vector<bool> held(samples.size(), false);
    for (int round = 0; round <= int(samples.size()); ++round) {
        FamilyFit next;
        next.pens.assign(samples.size(), cv::Vec3d(0, 0, 0));
        solveFamily(samples, withIr, held, &next);
        bool again = false;
        for (size_t t = 0; t < samples.size(); ++t)
            if (!held[t] && next.pens[t][0] < 0) {
                held[t] = true;
                again = true;
            }
        fit = next;
        if (!again)
            break;
    }
    return fit;
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
    bool visibleLight = false;
    bool points = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seeds") && i + 1 < argc)
            seeds = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--display") && i + 1 < argc)
            std::sscanf(argv[++i], "%dx%d", &width, &height);
        else if (!std::strcmp(argv[i], "--out") && i + 1 < argc)
            out = argv[++i];
        else if (!std::strcmp(argv[i], "--rows-reversed"))
            rowsReversed = true;
        else if (!std::strcmp(argv[i], "--visible-light"))
            visibleLight = true;
        else if (!std::strcmp(argv[i], "--points"))
            points = true;
        else {
            std::fprintf(stderr, "usage: pen-identify [--seeds N] [--display WxH] [--points]"
                                 " [--out FILE | --rows-reversed | --visible-light]\n");
            return 2;
        }
    }
    if ((rowsReversed || visibleLight) && !out.empty()) {
        std::fprintf(stderr, "pen-identify: --rows-reversed and --visible-light only print\n");
        return 2;
    }

    // `group`: the tables fitted together, with one lens (the same infrared
    // terms); the emulator's lens 3 is fwParam >= 10, the older table its own.
    const Table tables[] = {
        { "lens 1 (other codes), pen 0", 1, 10, 0, 1, true },
        { "lens 1 (other codes), pen 1", 1, 10, 1, 1, true },
        { "lens 2, pen 0", 2, 10, 0, 2, true },
        { "lens 2, pen 1", 2, 10, 1, 2, true },
        { "lens 3 fwParam >= 10, pen 0", 3, 10, 0, 3, true },
        { "lens 3 fwParam >= 10, pen 1", 3, 10, 1, 3, true },
        { "lens 3 fwParam < 10 (both pens)", 3, 9, 0, 3, false },
    };
    constexpr size_t kTables = sizeof tables / sizeof tables[0];
    const int group[kTables] = { 0, 0, 1, 1, 2, 2, 3 };
    constexpr int kGroups = 4;

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

    // Every table's samples over the family's cameras, and the table's own size.
    std::vector<std::vector<Sample>> samples(kTables);
    double tableRms[kTables] = {}, tableMax[kTables] = {};
    for (size_t ti = 0; ti < kTables; ++ti) {
        const Table &t = tables[ti];
        tl::resetCalibWorkspace();
        tl::setCalibPointCounts(t.lens);
        const cv::Point2f noPoints[25] = {};
        tl::setCalibInformation(noPoints, 0, 0, 0, width, height, t.lens, t.fwParam, t.penType);
        const tl::CalibWorkspace &ws = tl::calibWorkspace();
        for (const std::unique_ptr<SyntheticCamera> &camera : cameras[size_t(t.family - 1)]) {
            const SyntheticCamera &cam = *camera;
            for (int k = 0; k < tl::kPatternPoints; ++k) {
                Sample s;
                s.cam = &cam;
                tl::patternDrawnPoint(&positions[0].x, k, width, height, false, false, &s.window.x, &s.window.y);
                s.seen = cam.windowToCamera(s.window);
                {
                    const cv::Point2d dx = cam.windowToCamera(s.window + cv::Point2d(0.5, 0))
                        - cam.windowToCamera(s.window - cv::Point2d(0.5, 0));
                    const cv::Point2d dy = cam.windowToCamera(s.window + cv::Point2d(0, 0.5))
                        - cam.windowToCamera(s.window - cv::Point2d(0, 0.5));
                    s.toWindow = cv::Matx22d(dx.x, dy.x, dx.y, dy.y).inv();
                }
                if (rowsReversed) {
                    const int j = tl::kPatternColumns * (tl::kPatternRows - 1 - k / tl::kPatternColumns)
                        + k % tl::kPatternColumns;
                    s.tweak = cv::Point2d(ws.ac_tweak[j].x, -ws.ac_tweak[j].y);
                } else {
                    s.tweak = cv::Point2d(ws.ac_tweak[k].x, ws.ac_tweak[k].y);
                }
                samples[ti].push_back(s);
            }
        }
        double sq = 0;
        for (int k = 0; k < tl::kPatternPoints; ++k) {
            const double e = std::hypot(ws.ac_tweak[k].x, ws.ac_tweak[k].y);
            sq += e * e;
            tableMax[ti] = std::max(tableMax[ti], e);
        }
        tableRms[ti] = std::sqrt(sq / tl::kPatternPoints);
    }

    // Each group's tables fitted together.
    PenLight lights[kTables];
    for (int g = 0; g < kGroups; ++g) {
        std::vector<size_t> members;
        std::vector<std::vector<Sample>> groupSamples;
        for (size_t ti = 0; ti < kTables; ++ti)
            if (group[ti] == g) {
                members.push_back(ti);
                groupSamples.push_back(samples[ti]);
            }
        const FamilyFit fit = identify(groupSamples, !visibleLight);
        for (size_t m = 0; m < members.size(); ++m)
            lights[members[m]] = fit.light(m);
    }

    PenLight result[3][tl::sim::kPenTypes];
    std::string report;
    std::printf("pen-identify: %d cameras per lens family at %dx%d, front mounting%s%s\n", seeds, width, height,
                rowsReversed ? "; tables read rows reversed, y negated" : "",
                visibleLight ? "; the light imaged as the visible pattern (no infrared terms)" : "");
    std::printf("%-32s %9s %9s %9s | %6s %6s | %6s %6s | %6s %6s | %8s %8s | %6s %6s\n", "table", "lift", "alongX",
                "alongY", "tbl", "tblmax", "rms", "max", "plane", "plmax", "irScale", "irRadial", "winrms", "winmax");
    for (size_t ti = 0; ti < kTables; ++ti) {
        const Table &t = tables[ti];
        const PenLight &l = lights[ti];
        double sum = 0, largest = 0;
        for (const Sample &s : samples[ti]) {
            const cv::Point2d r = residual(s, l);
            const double e = std::hypot(r.x, r.y);
            sum += e * e;
            largest = std::max(largest, e);
        }
        const double rms = std::sqrt(sum / samples[ti].size());
        double wsum = 0, wmax = 0;
        for (const Sample &s : samples[ti]) {
            const cv::Point2d r = windowResidual(s, l);
            wsum += r.dot(r);
            wmax = std::max(wmax, std::hypot(r.x, r.y));
        }
        double planeRms = 0, planeMax = 0;
        planeResidual(samples[ti], &planeRms, &planeMax);
        char line[320];
        std::snprintf(line, sizeof line,
                      "%-32s %9.6f %9.6f %9.6f | %6.2f %6.2f | %6.2f %6.2f | %6.2f %6.2f | %8.5f %8.5f | %6.2f %6.2f",
                      t.name, l.lift, l.alongX, l.alongY, tableRms[ti], tableMax[ti], rms, largest, planeRms, planeMax,
                      l.irScale, l.irRadial, std::sqrt(wsum / samples[ti].size()), wmax);
        std::printf("%s%s\n", line, t.written ? "" : "   (not written: the emulator's lens 3 is fwParam >= 10)");
        if (points) {
            for (int k = 0; k < tl::kPatternPoints; ++k) {
                cv::Point2d mean(0, 0);
                double sq = 0;
                int n = 0;
                for (size_t i = size_t(k); i < samples[ti].size(); i += tl::kPatternPoints, ++n) {
                    const cv::Point2d r = residual(samples[ti][i], l);
                    mean += r;
                    sq += r.dot(r);
                }
                mean /= std::max(1, n);
                std::printf("  point %2d  table %6.2f %6.2f  left %6.2f %6.2f  (rms over cameras %5.2f)\n", k,
                            samples[ti][size_t(k)].tweak.x, samples[ti][size_t(k)].tweak.y, mean.x, mean.y,
                            std::sqrt(sq / std::max(1, n)));
            }
        }
        if (t.written) {
            result[t.family - 1][t.penType] = l;
            report += std::string("//   ") + line + "\n";
        }
    }
    std::printf("columns: the light (shares of the display width); the table's own size (RMS, largest);\n"
                "what the light leaves of it (RMS, largest); what a plane per camera leaves (camera px);\n"
                "the lens's infrared scale and radial term (one per lens family); what the light leaves\n"
                "as the pointer misses on the screen (RMS, largest, window px: what the fit makes small)\n");

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
    std::fprintf(f, "// offset; what the light leaves unexplained (RMS, largest); what a plane leaves (camera px);\n");
    std::fprintf(f, "// the lens's infrared scale and radial term; what the light leaves in window px (RMS, largest).\n");
    std::fprintf(f, "%s\n", report.c_str());
    std::fprintf(f, "#include \"sim/PenLight.h\"\n\nnamespace tl::sim {\n\n");
    std::fprintf(f, "// Lens family 1, 2, 3 (rows) x pen type 0, 1: lift, along x, along y, infrared scale,\n"
                    "// infrared radial term.\n");
    std::fprintf(f, "inline constexpr PenLight kPenLightTable[3][kPenTypes] = {\n");
    for (int fam = 0; fam < 3; ++fam) {
        std::fprintf(f, "    {");
        for (int p = 0; p < tl::sim::kPenTypes; ++p) {
            const PenLight &l = result[fam][p];
            std::fprintf(f, "\n      { %.9g, %.9g, %.9g, %.9g, %.9g }%s", l.lift, l.alongX, l.alongY, l.irScale,
                         l.irRadial, p + 1 < tl::sim::kPenTypes ? "," : "");
        }
        std::fprintf(f, " },\n");
    }
    std::fprintf(f, "};\n\n} // namespace tl::sim\n");
    std::fclose(f);
    std::printf("wrote %s\n", out.c_str());
    return 0;
}
