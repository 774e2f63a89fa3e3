// SPDX-License-Identifier: MIT
#include "gui/assets/guiresources.h"

#include <QtGlobal>

static void initAssets()
{
    Q_INIT_RESOURCE(assets);
    Q_INIT_RESOURCE(i18n);
    Q_INIT_RESOURCE(images);
}

void initGuiResources()
{
    initAssets();
}
