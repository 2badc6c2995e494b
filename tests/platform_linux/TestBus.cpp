#include "TestBus.h"

namespace testbus {
namespace {
QString g_address;
}

void setAddress(const QString &address)
{
    g_address = address;
}

QString address()
{
    return g_address;
}
} // namespace testbus
