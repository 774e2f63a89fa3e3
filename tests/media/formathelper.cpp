// SPDX-License-Identifier: MIT
// A client that runs one FFMpegTools::format() with the arguments in NUV_FORMAT_ARGUMENTS
// (one per line) and nothing else: the process a test kills in the middle of a transcode.
#include "core/media/ffmpegtools.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    FFMpegTools tools;
    return tools.format(qEnvironmentVariable("NUV_FORMAT_ARGUMENTS").split(QLatin1Char('\n')));
}
