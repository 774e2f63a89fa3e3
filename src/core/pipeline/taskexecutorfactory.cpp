// SPDX-License-Identifier: MIT
#include "core/pipeline/taskexecutorfactory.h"

#include "core/pipeline/addvideotaskexecutor.h"
#include "core/pipeline/transformtaskexecutor.h"
#include "core/pipeline/uploadtaskexecutor.h"

std::unique_ptr<ITaskExecutor> TaskExecutorFactory::create(int type)
{
    switch (type) {
    case 1:
    case 4: return std::make_unique<TransformTaskExecutor>();
    case 2: return std::make_unique<UploadTaskExecutor>();
    case 99: return std::make_unique<AddVideoTaskExecutor>();
    default: throw QStringLiteral("未知的任务类型(%1)，请升级客户端后重试").arg(type);
    }
}
