#include "input/ContactSlots.h"

#include "input/NqUtils.h"

#include <algorithm>
#include <cmath>

namespace tl::input {

int sensorDistance(int x0, int y0, int x1, int y1)
{
    const double dx = double(x1) - double(x0);
    const double dy = double(y1) - double(y0);
    return static_cast<int>(std::sqrt(dx * dx + dy * dy));
}

QPoint DisplayMap::toScreen(int x, int y) const
{
    int k = 0;
    if (x >= kSensorWidth) {
        k = 1;
        x -= kSensorWidth;
    }
    // A point on the half of a module whose display is missing (a contact
    // kept shown on the common edge) lands on the other display's edge.
    if (rect[k].isEmpty() && !rect[1 - k].isEmpty()) {
        k = 1 - k;
        x = k == 0 ? kSensorWidth - 1 : 0;
    }
    const QRect &r = rect[k];
    // Rounded by adding 0.5 and truncating, in double precision.
    int sx = r.left() + static_cast<int>(double(r.width()) * x / kSensorWidth + 0.5);
    int sy = r.top() + static_cast<int>(double(r.height()) * y / kSensorHeight + 0.5);
    // The last sensor column and row round to the pixel just past the
    // display (width * 4799 / 4800 + 0.5 = width), which is another monitor
    // or none: they stay on the display's last column and row.
    if (!r.isEmpty()) {
        sx = std::clamp(sx, r.left(), r.right());
        sy = std::clamp(sy, r.top(), r.bottom());
    }
    return QPoint(sx, sy);
}

DisplayMap selectDisplayRects(int numModules, int monitorSetting)
{
    DisplayMap map;
    if (numModules == 1) {
        NqUtils::getMonitorRect(map.rect[0], monitorSetting);
        map.rect[1] = QRect();
    } else {
        NqUtils::getWindowRect(map.rect);
    }
    return map;
}

} // namespace tl::input
