#pragma once

#include <QString>

// The address of the private bus the test process runs on (set by main).
namespace testbus {
void setAddress(const QString &address);
QString address();
} // namespace testbus
