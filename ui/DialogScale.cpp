#include "ui/DialogScale.h"

#include "platform/Screens.h"
#include "settings/LanguageTable.h"

#include <QFont>
#include <QLayout>
#include <QWindow>

#include <algorithm>
#include <QWidget>

namespace DialogScale {

double pixelRatio()
{
    const QList<tl::MonitorInfo> monitors = tl::ScreenSource::monitors();
    if (monitors.isEmpty() || monitors.first().logicalDpi <= 0.0)
        return 1.0;
    return monitors.first().logicalDpi / 96.0;
}

int scaled(int value, double ratio)
{
    const double v = value * ratio;
    return v >= 0 ? static_cast<int>(v + 0.5) : -static_cast<int>(-v + 0.5);
}

namespace {
bool managedByLayout(const QWidget *w)
{
    const QWidget *parent = w->parentWidget();
    return parent && parent->layout() && parent->layout()->indexOf(const_cast<QWidget *>(w)) >= 0;
}
} // namespace

void scaleChildren(QWidget *root, double ratio)
{
    const QList<QWidget *> children = root->findChildren<QWidget *>();
    for (QWidget *w : children) {
        // Only the dialog's own, named controls: the parts that Qt's composite
        // widgets make for themselves ("qt_...") place themselves.
        if (w->isWindow() || managedByLayout(w) || w->objectName().isEmpty()
            || w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        const QRect g = w->geometry();
        w->setGeometry(scaled(g.x(), ratio), scaled(g.y(), ratio), scaled(g.width(), ratio),
                       scaled(g.height(), ratio));
    }
}

QFont dialogFont(const LanguageTable *language, int pointSize)
{
    QFont font = language ? language->dialogFont() : QFont();
    // A whole number of pixels: at a fractional size the styles measure the
    // texts of group titles and buttons a little narrower than they draw them,
    // and the last letter is cut.
    const QList<tl::MonitorInfo> monitors = tl::ScreenSource::monitors();
    const double dpi = monitors.isEmpty() || monitors.first().logicalDpi <= 0.0 ? 96.0 : monitors.first().logicalDpi;
    font.setPixelSize(std::max(1, static_cast<int>(pointSize * dpi / 72.0 + 0.5)));
    return font;
}

void applyLanguageFont(QWidget *w, const LanguageTable *language, int pointSize)
{
    w->setFont(dialogFont(language, pointSize));
}

void standAloneIfOwnerHidden(QWidget *dialog)
{
    const QWidget *owner = dialog->parentWidget();
    if (owner && !owner->window()->isVisible() && dialog->windowHandle())
        dialog->windowHandle()->setTransientParent(nullptr);
}

} // namespace DialogScale
