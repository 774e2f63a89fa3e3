// SPDX-License-Identifier: MIT
#pragma once

#include <QMetaType>
#include <QtGlobal>

// Client and task states reported to the server. The numbers are the wire values.
// clang-format off
enum STATUS : qint32 {
    STATUS_NONE = 0,
    STATUS_NO_TASKS = 1,             // no task list, failed check, reset, registration failed
    STATUS_TRANSCODE_PENDING = 2,    // first unfinished task is a transcode
    STATUS_TRANSCODING_NR = 3,
    STATUS_TRANSCODING_HD = 4,       // variant 2 or 3
    STATUS_TRANSCODE_NR_FAILED = 5,
    STATUS_TRANSCODE_HD_FAILED = 6,
    STATUS_TRANSCODED_NR = 7,
    STATUS_TRANSCODED_OTHER = 8,     // variant 2, 3 or 0
    STATUS_UPLOAD_PENDING = 9,       // first unfinished task is an upload
    STATUS_UPLOADING_ORIGINAL = 10,
    STATUS_UPLOADING_NR = 11,
    STATUS_UPLOADING_HD = 12,        // variant 2 or 3
    STATUS_UPLOAD_NO_PATH = 15,
    STATUS_UPLOADED_ORIGINAL = 16,
    STATUS_UPLOADED_NR = 17,
    STATUS_UPLOADED_HD = 18,
    STATUS_REGISTERED = 19,
    STATUS_UPLOAD_FAILED = 20,       // also the coordinator's initial status and a removed pipeline
    STATUS_CLIENT_EXIT = 21,         // final
};

enum TASK_ERROR : qint32 {
    TASK_ERROR_NONE = 0,
    TASK_ERROR_FILE = 1,        // file missing or unreadable
    TASK_ERROR_UPLOAD = 2,      // chunk refused after every attempt
    TASK_ERROR_TRANSCODE = 3,
    TASK_ERROR_REGISTER = 4,
};
// clang-format on

Q_DECLARE_METATYPE(STATUS)
Q_DECLARE_METATYPE(TASK_ERROR)

// Registers both under the names "STATUS" and "TASK_ERROR" so they travel in queued signals.
inline void registerStatusMetaTypes()
{
    qRegisterMetaType<STATUS>("STATUS");
    qRegisterMetaType<TASK_ERROR>("TASK_ERROR");
}
