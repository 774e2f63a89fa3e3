// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

// The command line of nuvupload-cli:
//   nuvupload-cli [--no-probe] "<launch command>" FILE...
//   nuvupload-cli --probe FILE
//   nuvupload-cli --help | --version
struct CliArguments
{
    enum class Mode { Upload, Probe, Help, Version, Invalid };

    static CliArguments parse(const QStringList &arguments);
    static QString helpText();
    static QString versionText();

    Mode mode = Mode::Invalid;
    QString launchCommand;
    QStringList files;
    // Sends the file check with empty media facts instead of probing with ffmpeg: for raw
    // uploads and benchmarks of files that are not video.
    bool noProbe = false;
    // Why the arguments were refused (Mode::Invalid).
    QString error;
};
