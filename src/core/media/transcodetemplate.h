// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

// The server's ffmpeg template for a transcode, checked before ffmpeg sees it. A template
// is accepted only when it reads exactly "{source}" through its one "-i", writes exactly
// "{target}" as its last argument, and every other argument is an encoding option from a
// fixed list whose value has the expected shape. So a template can name no other file,
// device or URL, and no filter that opens one.
class TranscodeTemplate final
{
public:
    TranscodeTemplate() = delete;

    struct Refusal
    {
        QString argument; // the first argument that is not allowed, with its value
        QString reason;
    };

    // ffmpeg's arguments with source and target filled in (a leading "{ffmpegPath}" is
    // dropped), or an empty list when the template is refused and *refusal says why.
    static QStringList build(const QString &text, const QString &source, const QString &target, Refusal *refusal);
};
