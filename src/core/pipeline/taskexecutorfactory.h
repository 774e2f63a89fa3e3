// SPDX-License-Identifier: MIT
#pragma once

#include <memory>

class ITaskExecutor;

// Maps a task's type to the executor that runs it: 1 and 4 transcode, 2 upload,
// 99 registration. Any other type throws a message that names the type.
class TaskExecutorFactory final
{
public:
    TaskExecutorFactory() = delete;

    static std::unique_ptr<ITaskExecutor> create(int type);
};
