// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QtGlobal>

class QFile;

// Answers two questions about an MP4 file that ffmpeg's text does not: does the index
// (moov) come before the media data (mdat), and is the movie protected with ISO Common
// Encryption. The file is walked box by box from disk; nothing is allocated by a size read
// from the file, so a hostile file costs at most a bounded amount of reading.
class NuvMp4Info final
{
    Q_DISABLE_COPY_MOVE(NuvMp4Info)

public:
    NuvMp4Info() = default;

    // 0 with both flags written, or -1 (flags untouched) when the file cannot be opened.
    static int get(const QString &path, bool *moovAheadMdat, bool *nuvMp4);

private:
    struct Box
    {
        QByteArray type;
        qint64 begin = 0;   // first byte of the header
        qint64 payload = 0; // first byte after the header
        qint64 end = 0;     // one past the last byte, clamped to the parent
    };

    static bool readBox(QFile &file, qint64 at, qint64 limit, Box *box);
    static bool isProtected(QFile &file, const Box &container, int depth);
    static bool sampleEntriesProtected(QFile &file, const Box &stsd);
    static bool entryHoldsSinf(QFile &file, const Box &entry);
};
