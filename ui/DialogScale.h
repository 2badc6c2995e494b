#pragma once

#include <QFont>
#include <QString>

class LanguageTable;
class QWidget;

// Helpers the dialogs share: the pixel ratio their designer geometry is
// multiplied by, and the language's font and writing direction.
namespace DialogScale {

// Logical dots per inch of the primary screen divided by 96 (1.0 without a
// screen). The primary screen is the first monitor the screen source lists.
double pixelRatio();

// Rounds the way the dialogs round sizes: add 0.5 and truncate.
int scaled(int value, double ratio);

// Multiplies x, y, width and height of every named descendant widget of
// `root` by `ratio`. Widgets managed by a layout are left to it.
void scaleChildren(QWidget *root, double ratio);

// The language's dialog font in `pointSize` points on the primary screen,
// held as a whole number of pixels.
QFont dialogFont(const LanguageTable *language, int pointSize = 9);
// Gives `w` that font.
void applyLanguageFont(QWidget *w, const LanguageTable *language, int pointSize = 9);

// A dialog whose owner window is hidden (the driver's main window never
// shows) stands on its own on the desktop: a window manager would otherwise
// hide or minimise it together with that owner. Call it from showEvent.
void standAloneIfOwnerHidden(QWidget *dialog);

// A named child widget of `parent` at its designer geometry (which
// scaleChildren multiplies later).
template <typename W>
W *make(QWidget *parent, const char *name, int x, int y, int w, int h)
{
    auto *widget = new W(parent);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}

} // namespace DialogScale
