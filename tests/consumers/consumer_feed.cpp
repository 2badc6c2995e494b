// Writes the feed of one scenario (FeedRecorder.h) for the scripts that play
// it to a consumer. Run under umockdev-wrapper.
//   consumer_feed DIR SCENARIO MONITORS BOARD
// SCENARIO: stroke-pinch (a pen stroke, then a two-finger spread), stroke,
// pinch, hold. MONITORS: WxH+X+Y,... (the first is the primary). BOARD: the
// index of the board's monitor. The sensor path of each contact is written to
// DIR/sensor.txt.
#include "FeedRecorder.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <cmath>
#include <cstdio>

namespace {

std::vector<QPoint> line(QPoint from, QPoint to, int reports)
{
    std::vector<QPoint> out;
    for (int k = 0; k < reports; ++k)
        out.push_back(from + (to - from) * k / (reports - 1));
    return out;
}

void append(std::vector<QPoint> &to, const std::vector<QPoint> &more)
{
    to.insert(to.end(), more.begin(), more.end());
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: consumer_feed DIR SCENARIO WxH+X+Y,... BOARD\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const QString scenario = QString::fromLocal8Bit(argv[2]);
    feed::Script s;
    const QRegularExpression geometry(QStringLiteral("^(\\d+)x(\\d+)\\+(-?\\d+)\\+(-?\\d+)$"));
    for (const QString &m : QString::fromLocal8Bit(argv[3]).split(',')) {
        const QRegularExpressionMatch g = geometry.match(m);
        if (!g.hasMatch()) {
            std::fprintf(stderr, "consumer_feed: not a monitor: %s\n", qPrintable(m));
            return 2;
        }
        s.monitors << QRect(g.captured(3).toInt(), g.captured(4).toInt(), g.captured(1).toInt(), g.captured(2).toInt());
    }
    s.boardMonitor = QString::fromLocal8Bit(argv[4]).toInt();
    // Leave the consumer time to open the node before the first report.
    s.leadSeconds = qEnvironmentVariableIntValue("FEED_LEAD_SECONDS") > 0
                        ? qEnvironmentVariableIntValue("FEED_LEAD_SECONDS") : 1;

    std::vector<QPoint> pen, second;
    const std::vector<QPoint> none(1, QPoint(-1, -1));
    if (scenario == QLatin1String("stroke") || scenario == QLatin1String("stroke-pinch")) {
        // A wave across the middle of the board, as a teacher underlines.
        for (int k = 0; k < 60; ++k)
            pen.push_back(QPoint(900 + 50 * k, 1500 + int(300 * std::sin(k / 6.0))));
        second.assign(pen.size(), QPoint(-1, -1));
    }
    if (scenario == QLatin1String("stroke-pinch")) {
        // A pause with nothing on the board, then two fingers that spread.
        for (int k = 0; k < 50; ++k) {
            pen.push_back(QPoint(-1, -1));
            second.push_back(QPoint(-1, -1));
        }
    }
    if (scenario == QLatin1String("pinch") || scenario == QLatin1String("stroke-pinch")) {
        append(pen, line(QPoint(2100, 1500), QPoint(1000, 1500), 40));
        append(second, line(QPoint(2700, 1500), QPoint(3800, 1500), 40));
        // Held apart for a moment before lifting.
        append(pen, std::vector<QPoint>(20, QPoint(1000, 1500)));
        append(second, std::vector<QPoint>(20, QPoint(3800, 1500)));
    }
    if (scenario == QLatin1String("hold"))
        pen.assign(100, QPoint(2400, 1500));
    if (pen.empty()) {
        std::fprintf(stderr, "consumer_feed: unknown scenario %s\n", qPrintable(scenario));
        return 2;
    }
    s.contacts = {{pen}};
    if (!second.empty())
        s.contacts.push_back({second});

    const feed::Feed f = feed::record(s);
    if (!f.error.isEmpty()) {
        std::fprintf(stderr, "consumer_feed: %s\n", qPrintable(f.error));
        return 1;
    }
    QString error;
    if (!feed::write(f, dir, &error)) {
        std::fprintf(stderr, "consumer_feed: %s\n", qPrintable(error));
        return 1;
    }
    QFile sensor(dir + "/sensor.txt");
    if (sensor.open(QIODevice::WriteOnly)) {
        for (size_t c = 0; c < s.contacts.size(); ++c)
            for (const QPoint &p : s.contacts[c].path)
                sensor.write(QByteArray::number(int(c)) + ' ' + QByteArray::number(p.x()) + ' ' +
                             QByteArray::number(p.y()) + '\n');
    }
    std::printf("node %s board %d,%d %dx%d desktop %dx%d end %.3f\n", qPrintable(f.device.node), f.board.x(),
                f.board.y(), f.board.width(), f.board.height(), f.desktop.width(), f.desktop.height(), f.endSeconds);
    return 0;
}
