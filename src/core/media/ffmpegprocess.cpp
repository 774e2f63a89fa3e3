// SPDX-License-Identifier: MIT
#include "core/media/ffmpegprocess.h"

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

FFMpegProcess::FFMpegProcess(QObject *parent)
    : QProcess(parent)
    , m_parentPid(::getpid())
{
}

void FFMpegProcess::setupChildProcess()
{
    // The signal follows the thread that forked; callers wait for ffmpeg on that thread,
    // so it outlives ffmpeg unless the whole program goes.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // We may have died between fork and prctl; then nobody would send the signal.
    if (::getppid() != pid_t(m_parentPid))
        ::_exit(127);
}
