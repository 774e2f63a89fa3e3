// SPDX-License-Identifier: MIT
#pragma once

#include <memory>

class ITaskExecutor;

// Maps a task's type (TaskType's wire value) to the executor that runs it. Any other type
// throws a message that names the type.
class TaskExecutorFactory final
{
public:
    TaskExecutorFactory() = delete;

    static std::unique_ptr<ITaskExecutor> create(int type);
};
