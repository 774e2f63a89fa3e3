// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QtGlobal>

// The numbers of a task, named. Each underlying value is the value on the wire (the task
// list's "type" and "sign") or in the task row (the state), so a server's unknown number
// still fits and falls to a switch's default.

// Where a task stands in its pipeline's run.
enum class TaskState : qint32 {
    Failed = -1,
    Pending = 0, // as received
    Done = 1,
    Running = 2,
    Stopped = 3, // by the user
};

// Which executor runs a task.
enum class TaskType : qint32 {
    Transcode = 1,
    Upload = 2,
    TranscodeReplace = 4, // a transcode of the file as added whose result replaces it for later tasks
    Register = 99,        // appended by the pipeline itself
};

// Which file of a task: the one the user added or one of its transcoded variants.
enum class VariantSign : qint32 {
    Original = 0,
    Standard = 1,  // "NR"
    High = 2,      // "HD"
    SuperHigh = 3, // "SHD"
};

inline bool isTranscode(TaskType type)
{
    return type == TaskType::Transcode || type == TaskType::TranscodeReplace;
}

// "NR", "HD" or "SHD"; empty for the original and for unknown signs.
inline QString variantTag(VariantSign sign)
{
    switch (sign) {
    case VariantSign::Standard: return QStringLiteral("NR");
    case VariantSign::High: return QStringLiteral("HD");
    case VariantSign::SuperHigh: return QStringLiteral("SHD");
    case VariantSign::Original: break;
    }
    return QString();
}
