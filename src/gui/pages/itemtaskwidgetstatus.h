// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QtGlobal>

// The task row's state. 0, 1, 2, 3 and -1 are also the states of a pipeline's tasks, so a
// task's state is shown unchanged.
enum class ItemTaskWidgetStatus : qint32 {
    Analysing = -99, // file being probed or task list being fetched
    Waiting = 0,
    Failed = -1,
    Completed = 1,
    Uploading = 2,
    Paused = 3,
};

// The status text a row shows; empty for values outside the enumeration.
QString statusText(ItemTaskWidgetStatus status);
