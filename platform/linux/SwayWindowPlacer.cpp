#include "platform/linux/SwayWindowPlacer.h"

#include "platform/Clock.h"
#include "platform/Screens.h"
#include "platform/linux/TouchMapping.h"

#include <QDebug>
#include <QGuiApplication>
#include <QPointer>
#include <QProcessEnvironment>
#include <QWindow>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace tl {

namespace {

constexpr quint32 kI3IpcGetTree = 4;
// sway's tree is root > outputs > workspaces > containers; a deeper nesting
// than this is not a tree sway writes.
constexpr int kMaxDepth = 64;

QRect rectOf(const QJsonObject &o, const char *key)
{
    const QJsonObject r = o.value(QLatin1String(key)).toObject();
    return QRect(r.value(QStringLiteral("x")).toInt(), r.value(QStringLiteral("y")).toInt(),
                 r.value(QStringLiteral("width")).toInt(), r.value(QStringLiteral("height")).toInt());
}

bool search(const QJsonObject &node, const QString &output, bool floating, int depth, qint64 pid,
            const QString &title, SwayWindowPlacer::TreeWindow *out)
{
    if (depth > kMaxDepth)
        return false;
    const QString type = node.value(QStringLiteral("type")).toString();
    const QString here = type == QLatin1String("output") ? node.value(QStringLiteral("name")).toString() : output;
    const QJsonValue nodePid = node.value(QStringLiteral("pid"));
    if (nodePid.isDouble() && qint64(nodePid.toDouble()) == pid &&
        node.value(QStringLiteral("name")).toString() == title && node.value(QStringLiteral("id")).isDouble()) {
        out->conId = qint64(node.value(QStringLiteral("id")).toDouble());
        out->output = here;
        out->outer = rectOf(node, "rect");
        const QRect inner = rectOf(node, "window_rect");
        out->content = QRect(out->outer.topLeft() + inner.topLeft(), inner.size());
        out->floating = floating || type == QLatin1String("floating_con");
        return true;
    }
    for (const QJsonValue &child : node.value(QStringLiteral("nodes")).toArray())
        if (search(child.toObject(), here, false, depth + 1, pid, title, out))
            return true;
    for (const QJsonValue &child : node.value(QStringLiteral("floating_nodes")).toArray())
        if (search(child.toObject(), here, true, depth + 1, pid, title, out))
            return true;
    return false;
}

QString describe(const QRect &r)
{
    return QStringLiteral("%1x%2+%3+%4").arg(r.width()).arg(r.height()).arg(r.x()).arg(r.y());
}

} // namespace

SwayWindowPlacer::SwayWindowPlacer(QString socketPath) : m_ipc(std::move(socketPath))
{
}

namespace {

bool findIn(const QJsonObject &root, qint64 pid, const QString &title, SwayWindowPlacer::TreeWindow *out)
{
    SwayWindowPlacer::TreeWindow found;
    if (!search(root, QString(), false, 0, pid, title, &found))
        return false;
    *out = found;
    return true;
}

} // namespace

bool SwayWindowPlacer::findWindow(const QByteArray &tree, qint64 pid, const QString &title, TreeWindow *out)
{
    const QJsonDocument doc = QJsonDocument::fromJson(tree);
    return doc.isObject() && findIn(doc.object(), pid, title, out);
}

QByteArray SwayWindowPlacer::moveCommand(const TreeWindow &window, const QPoint &topLeft)
{
    const QPoint corner = topLeft - (window.content.topLeft() - window.outer.topLeft());
    return "[con_id=" + QByteArray::number(window.conId) + "] move absolute position " +
           QByteArray::number(corner.x()) + ' ' + QByteArray::number(corner.y());
}

bool SwayWindowPlacer::readWindow(qint64 pid, const QString &title, TreeWindow *out, QString *error)
{
    QByteArray tree;
    if (!m_ipc.request(kI3IpcGetTree, QByteArray(), &tree, error))
        return false;
    const QJsonDocument doc = QJsonDocument::fromJson(tree);
    if (!doc.isObject()) {
        *error = QStringLiteral("sway's get_tree is not a tree: %1").arg(QString::fromUtf8(tree.left(200)));
        return false;
    }
    return findIn(doc.object(), pid, title, out);
}

SwayWindowPlacer::Result SwayWindowPlacer::place(qint64 pid, const QString &title, const QPoint &topLeft)
{
    Result result;
    // The output under the wanted position: sway would otherwise take the
    // command and leave the window on no output's area.
    QList<SwayOutputPinner::SwayOutput> outputs;
    if (!m_ipc.outputs(&outputs, &result.error))
        return result;
    QString target;
    for (const SwayOutputPinner::SwayOutput &o : outputs)
        if (o.active && o.rect.contains(topLeft))
            target = o.name;
    if (target.isEmpty()) {
        result.error = QStringLiteral("sway has no output at %1,%2").arg(topLeft.x()).arg(topLeft.y());
        return result;
    }
    TreeWindow window;
    if (!readWindow(pid, title, &window, &result.error)) {
        if (result.error.isEmpty()) {
            result.outcome = Outcome::NotListed;
            result.error = QStringLiteral("sway lists no window \"%1\" of process %2").arg(title).arg(pid);
        }
        return result;
    }
    result.output = window.output;
    result.rect = window.content;
    if (!window.floating) {
        result.error = QStringLiteral("sway tiles \"%1\" on %2: a tiled window has no position of its own")
                           .arg(title, window.output);
        return result;
    }
    if (!m_ipc.runAccepted(moveCommand(window, topLeft), &result.error))
        return result;
    // What sway did, from its own tree.
    if (!readWindow(pid, title, &window, &result.error)) {
        if (result.error.isEmpty())
            result.error = QStringLiteral("the window \"%1\" left sway's tree after the move").arg(title);
        return result;
    }
    result.output = window.output;
    result.rect = window.content;
    if (window.output != target || window.content.topLeft() != topLeft) {
        result.error = QStringLiteral("sway kept \"%1\" at %2 on %3 instead of %4,%5 on %6")
                           .arg(title, describe(window.content), window.output)
                           .arg(topLeft.x())
                           .arg(topLeft.y())
                           .arg(target);
        return result;
    }
    result.outcome = Outcome::Placed;
    return result;
}

namespace {

constexpr int kPlaceRetryMs = 200;
constexpr int kPlaceAttempts = 50;

void placeAttempt(QPointer<QWindow> window, QString what, QRect wanted, QString socketPath, int attempt)
{
    if (!window || !window->isVisible())
        return;
    SwayWindowPlacer placer(socketPath);
    const SwayWindowPlacer::Result r = placer.place(qint64(::getpid()), window->title(), wanted.topLeft());
    if (r.outcome == SwayWindowPlacer::Outcome::NotListed && attempt + 1 < kPlaceAttempts) {
        ClockTimer::singleShot(kPlaceRetryMs, window, [=] { placeAttempt(window, what, wanted, socketPath, attempt + 1); });
        return;
    }
    if (r.outcome == SwayWindowPlacer::Outcome::Placed) {
        qDebug().noquote() << QStringLiteral("placeShownWindow(): %1 placed at %2 on %3 through sway IPC")
                                  .arg(what, describe(r.rect), r.output);
        return;
    }
    qDebug().noquote() << QStringLiteral("placeShownWindow(): %1 stays where sway put it%2: %3")
                              .arg(what,
                                   r.output.isEmpty() ? QString()
                                                      : QStringLiteral(" (%1 on %2)").arg(describe(r.rect), r.output),
                                   r.error);
}

} // namespace

void placeShownWindow(QWindow *window, const QString &what, const QRect &wanted, const QString &socketPath)
{
    if (!window || wanted.isEmpty() || !placement::positionIgnored())
        return;
    const DesktopKind kind = detectDesktop(QGuiApplication::platformName(), QProcessEnvironment::systemEnvironment());
    if (kind != DesktopKind::Sway) {
        qDebug().noquote() << QStringLiteral("placeShownWindow(): %1 goes where %2 puts it (a Wayland client has no "
                                             "position of its own)")
                                  .arg(what, desktopName(kind));
        return;
    }
    placeAttempt(QPointer<QWindow>(window), what, wanted, socketPath, 0);
}

} // namespace tl
