#include "resources/Resources.h"

#include <QtGlobal>
#include <QDir>

static void initCorvane() { Q_INIT_RESOURCE(corvane); }
static void initLanguage() { Q_INIT_RESOURCE(language); }

namespace tl {
void initResources()
{
    initCorvane();
    initLanguage();
}
}
