// SPDX-License-Identifier: MIT
#include "core/pipeline/taskexecutorfactory.h"

#include "core/api/taskenums.h"
#include "core/pipeline/addvideotaskexecutor.h"
#include "core/pipeline/transformtaskexecutor.h"
#include "core/pipeline/uploadtaskexecutor.h"

std::unique_ptr<ITaskExecutor> TaskExecutorFactory::create(int type)
{
    switch (static_cast<TaskType>(type)) {
    case TaskType::Transcode:
    case TaskType::TranscodeReplace: return std::make_unique<TransformTaskExecutor>();
    case TaskType::Upload: return std::make_unique<UploadTaskExecutor>();
    case TaskType::Register: return std::make_unique<AddVideoTaskExecutor>();
    }
    throw QStringLiteral("未知的任务类型(%1)，请升级客户端后重试").arg(type);
}
