// marker-compare: the markers of the pattern search's detector, level by
// level, on saved working images (tesselink-demo --save-images DIR writes
// DIR/normalized.png), beside a second opinion where one is built in.
//
//   marker-compare [--decimate F] [--sigma S] [--refine 0|1] [--sharpening D] [--repeat N]
//                  [--disagreements DIR] NORMALIZED.png...
//
// For each image: the threshold levels as the search makes them; at the raw
// image and at every level, the markers with pattern IDs found, those with
// other IDs, and those whose contour centroid lies more than 2 px from the
// median of all centroids of that ID in the image (a detection elsewhere).
// Then per image the sums, the detector's CPU time over all levels (median of
// --repeat runs) and a line per ID with the number of levels at which it was
// found. With OpenCV's aruco module present at build time (TL_SECOND_OPINION)
// the same is printed for its TAG16h5 detector (error correction 0, its
// default settings, the same contour tracing), and every level at which the
// two disagree about an ID is listed; with --disagreements the image of that
// level is saved there with both detections drawn (green: the search's
// detector, red: aruco).

#include "calibration/PatternGeometry.h"
#include "calibration/PatternRecognition.h"

#include <QImage>
#include <QtGlobal>
#include <QString>

#include <opencv2/imgproc.hpp>
#ifdef TL_SECOND_OPINION
#include <opencv2/aruco.hpp>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace {

using Detect = std::vector<tl::MarkerDetection> (*)(const cv::Mat &, int);

tl::MarkerDetectorSettings g_settings;

std::vector<tl::MarkerDetection> searchDetector(const cv::Mat &image, int t)
{
    return tl::PatternFinder::detectMarkers(image, t, g_settings);
}

#ifdef TL_SECOND_OPINION
std::vector<tl::MarkerDetection> arucoDetector(const cv::Mat &image, int t)
{
    cv::Mat work;
    if (!tl::markerLevelImage(image, t, work))
        return {};
    cv::Ptr<cv::aruco::DetectorParameters> params = cv::aruco::DetectorParameters::create();
    params->errorCorrectionRate = 0;
    const cv::Ptr<cv::aruco::Dictionary> dictionary = cv::aruco::getPredefinedDictionary(cv::aruco::DICT_APRILTAG_16h5);
    std::vector<int> ids;
    std::vector<std::vector<cv::Point2f>> corners;
    cv::aruco::detectMarkers(work, dictionary, corners, ids, params);
    std::vector<tl::MarkerDetection> reported;
    for (size_t i = 0; i < ids.size(); ++i)
        reported.push_back(tl::MarkerDetection{ ids[i], corners[i], {} });
    return tl::keptMarkers(work, t != -1, reported);
}
#endif

double cpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

struct Level
{
    int t;
    std::vector<tl::MarkerDetection> found;
};

struct Run
{
    std::vector<Level> levels;
    double ms = 0;
};

Run runAll(const cv::Mat &image, const std::vector<int> &levels, Detect detect, int repeat)
{
    Run run;
    std::vector<double> times;
    for (int r = 0; r < repeat; ++r) {
        Run one;
        const double t0 = cpuMs();
        for (int t : levels)
            one.levels.push_back(Level{ t, detect(image, t) });
        times.push_back(cpuMs() - t0);
        run = one;
    }
    std::sort(times.begin(), times.end());
    run.ms = times[times.size() / 2];
    return run;
}

cv::Point2d centroid(const tl::MarkerDetection &d)
{
    cv::Point2d c(-1, -1);
    tl::PatternFinder::polygonCentroid(d.contour, &c);
    return c;
}

// Median centroid per ID over every detection of the given runs.
std::map<int, cv::Point2d> medians(const std::vector<const Run *> &runs)
{
    std::map<int, std::vector<double>> xs, ys;
    for (const Run *r : runs)
        for (const Level &l : r->levels)
            for (const tl::MarkerDetection &d : l.found) {
                const cv::Point2d c = centroid(d);
                xs[d.id].push_back(c.x);
                ys[d.id].push_back(c.y);
            }
    std::map<int, cv::Point2d> out;
    for (auto &e : xs) {
        std::vector<double> &x = e.second, &y = ys[e.first];
        std::nth_element(x.begin(), x.begin() + x.size() / 2, x.end());
        std::nth_element(y.begin(), y.begin() + y.size() / 2, y.end());
        out[e.first] = cv::Point2d(x[x.size() / 2], y[y.size() / 2]);
    }
    return out;
}

void report(const char *name, const Run &run, const std::map<int, cv::Point2d> &mid)
{
    int pattern = 0, foreign = 0, astray = 0;
    std::map<int, int> levelsOf;
    std::string perLevel;
    for (const Level &l : run.levels) {
        int p = 0;
        std::map<int, int> seen;
        for (const tl::MarkerDetection &d : l.found) {
            if (!tl::isMarkerIndex(d.id)) {
                ++foreign;
                continue;
            }
            ++p;
            if (!seen[d.id]++)
                ++levelsOf[d.id];
            if (cv::norm(centroid(d) - mid.at(d.id)) > 2.0)
                ++astray;
        }
        pattern += p;
        perLevel += " " + std::to_string(l.t) + ":" + std::to_string(p);
    }
    std::printf("  %s: pattern markers %d, other IDs %d, more than 2 px from their ID's median %d, cpu_ms %.1f\n",
                name, pattern, foreign, astray, run.ms);
    std::printf("  %s per level:%s\n", name, perLevel.c_str());
    std::string ids;
    for (int k = 0; k < 25; ++k)
        if (tl::isMarkerIndex(k))
            ids += " " + std::to_string(k) + ":" + std::to_string(levelsOf[k]);
    std::printf("  %s levels per ID:%s\n", name, ids.c_str());
}

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

int main(int argc, char **argv)
{
    // The search's own log lines (the levels) are not this tool's output.
    qInstallMessageHandler(quiet);
    std::vector<std::string> images;
    std::string saveDir;
    int repeat = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> const char * {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--decimate")
            g_settings.decimate = static_cast<float>(std::atof(next()));
        else if (a == "--sigma")
            g_settings.sigma = static_cast<float>(std::atof(next()));
        else if (a == "--refine")
            g_settings.refineEdges = std::atoi(next()) != 0;
        else if (a == "--sharpening")
            g_settings.sharpening = std::atof(next());
        else if (a == "--repeat")
            repeat = std::max(1, std::atoi(next()));
        else if (a == "--disagreements")
            saveDir = next();
        else
            images.push_back(a);
    }
    std::printf("settings: decimate %.2f sigma %.2f refine %d sharpening %.2f\n", g_settings.decimate,
                g_settings.sigma, int(g_settings.refineEdges), g_settings.sharpening);
    for (const std::string &file : images) {
        const QImage q = QImage(QString::fromStdString(file)).convertToFormat(QImage::Format_Grayscale8);
        if (q.isNull()) {
            std::printf("%s: unreadable\n", file.c_str());
            continue;
        }
        cv::Mat image(q.height(), q.width(), CV_8UC1);
        for (int y = 0; y < q.height(); ++y)
            std::copy(q.constScanLine(y), q.constScanLine(y) + q.width(), image.ptr(y));
        std::vector<int> levels = tl::PatternFinder::makeThresholdList(image);
        levels.insert(levels.begin(), -1);
        std::printf("%s: %zu levels (raw image first)\n", file.c_str(), levels.size());
        const Run ours = runAll(image, levels, searchDetector, repeat);
#ifdef TL_SECOND_OPINION
        const Run theirs = runAll(image, levels, arucoDetector, repeat);
        const std::map<int, cv::Point2d> mid = medians({ &ours, &theirs });
        report("apriltag", ours, mid);
        report("aruco", theirs, mid);
        for (size_t i = 0; i < levels.size(); ++i) {
            std::map<int, int> a, b;
            for (const tl::MarkerDetection &d : ours.levels[i].found)
                ++a[d.id];
            for (const tl::MarkerDetection &d : theirs.levels[i].found)
                ++b[d.id];
            std::string diff;
            for (int id = 0; id < 30; ++id)
                if (a[id] != b[id])
                    diff += " id " + std::to_string(id) + " apriltag " + std::to_string(a[id]) + " aruco "
                        + std::to_string(b[id]) + ";";
            if (diff.empty())
                continue;
            std::printf("  disagree at level %d:%s\n", levels[i], diff.c_str());
            if (saveDir.empty())
                continue;
            cv::Mat work = image.clone();
            if (levels[i] != -1)
                cv::threshold(image, work, levels[i], 255, cv::THRESH_BINARY);
            cv::Mat shown;
            cv::cvtColor(work, shown, cv::COLOR_GRAY2BGR);
            auto draw = [&](const std::vector<tl::MarkerDetection> &found, cv::Scalar colour, int dy) {
                for (const tl::MarkerDetection &d : found) {
                    std::vector<cv::Point> poly;
                    for (const cv::Point2f &c : d.corners)
                        poly.emplace_back(cvRound(c.x), cvRound(c.y));
                    cv::polylines(shown, poly, true, colour, 1);
                    cv::putText(shown, std::to_string(d.id), poly[0] + cv::Point(0, dy), cv::FONT_HERSHEY_SIMPLEX,
                                0.5, colour, 1);
                }
            };
            draw(ours.levels[i].found, cv::Scalar(0, 200, 0), -4);
            draw(theirs.levels[i].found, cv::Scalar(0, 0, 255), 14);
            std::string base = file;
            std::replace(base.begin(), base.end(), '/', '_');
            const std::string out = saveDir + "/" + base + "-level" + std::to_string(levels[i]) + ".png";
            QImage(shown.data, shown.cols, shown.rows, int(shown.step), QImage::Format_BGR888)
                .save(QString::fromStdString(out));
        }
#else
        report("apriltag", ours, medians({ &ours }));
#endif
    }
    return 0;
}
