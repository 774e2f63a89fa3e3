// SPDX-License-Identifier: MIT
#include "gui/pages/itemtaskwidgetstatus.h"

QString statusText(ItemTaskWidgetStatus status)
{
    switch (status) {
    case ItemTaskWidgetStatus::Analysing:
    case ItemTaskWidgetStatus::Waiting: return QStringLiteral("等待上传");
    case ItemTaskWidgetStatus::Failed: return QStringLiteral("上传失败");
    case ItemTaskWidgetStatus::Completed: return QStringLiteral("上传完成");
    case ItemTaskWidgetStatus::Uploading: return QStringLiteral("正在上传");
    case ItemTaskWidgetStatus::Paused: return QStringLiteral("暂停上传");
    }
    return QString();
}
