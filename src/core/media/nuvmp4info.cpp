// SPDX-License-Identifier: MIT
#include "core/media/nuvmp4info.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <cstdio>

namespace {

// moov/trak/mdia/minf/stbl/stsd is the deepest path we look at; anything deeper is not a
// structure of a real file.
constexpr int MaxDepth = 8;
// Sample entries are a few hundred bytes; a bigger one is only searched at its start.
constexpr qint64 EntryReadCap = 64 * 1024;
constexpr qint64 HeaderSize = 8;
constexpr qint64 LargeHeaderSize = 16;
// stsd is a full box (version and flags) followed by an entry count.
constexpr qint64 StsdPreamble = 8;

bool readExactly(QFile &file, qint64 at, char *buffer, qint64 length)
{
    return file.seek(at) && file.read(buffer, length) == length;
}

} // namespace

bool NuvMp4Info::readBox(QFile &file, qint64 at, qint64 limit, Box *box)
{
    if (at < 0 || limit - at < HeaderSize)
        return false;
    uchar header[LargeHeaderSize];
    if (!readExactly(file, at, reinterpret_cast<char *>(header), HeaderSize))
        return false;

    quint64 size = qFromBigEndian<quint32>(header);
    qint64 headerSize = HeaderSize;
    if (size == 1) {
        if (limit - at < LargeHeaderSize
            || !readExactly(file, at + HeaderSize, reinterpret_cast<char *>(header + HeaderSize),
                            LargeHeaderSize - HeaderSize))
            return false;
        size = qFromBigEndian<quint64>(header + HeaderSize);
        headerSize = LargeHeaderSize;
    } else if (size == 0) {
        size = quint64(limit - at);
    }
    // A box smaller than its own header would make the walk stand still.
    if (size < quint64(headerSize))
        return false;

    box->type = QByteArray(reinterpret_cast<const char *>(header + 4), 4);
    box->begin = at;
    box->payload = at + headerSize;
    box->end = size > quint64(limit - at) ? limit : at + qint64(size);
    return true;
}

bool NuvMp4Info::entryHoldsSinf(QFile &file, const Box &entry)
{
    // Sample entries put their child boxes after a layout that differs per media kind, so
    // look for a "sinf" header whose size fits inside the entry instead of parsing each kind.
    const qint64 length = qMin(entry.end - entry.payload, EntryReadCap);
    if (length < HeaderSize || !file.seek(entry.payload))
        return false;
    const QByteArray body = file.read(length);
    const auto *bytes = reinterpret_cast<const uchar *>(body.constData());
    for (int at = body.indexOf("sinf", 4); at >= 4; at = body.indexOf("sinf", at + 1)) {
        const quint32 size = qFromBigEndian<quint32>(bytes + at - 4);
        if (size >= HeaderSize && size <= quint64(entry.end - entry.payload - (at - 4)))
            return true;
    }
    return false;
}

bool NuvMp4Info::sampleEntriesProtected(QFile &file, const Box &stsd)
{
    Box entry;
    for (qint64 at = stsd.payload + StsdPreamble; readBox(file, at, stsd.end, &entry); at = entry.end) {
        if (entry.type == "encv" || entry.type == "enca" || entryHoldsSinf(file, entry))
            return true;
    }
    return false;
}

bool NuvMp4Info::isProtected(QFile &file, const Box &container, int depth)
{
    if (depth > MaxDepth)
        return false;
    Box child;
    for (qint64 at = container.payload; readBox(file, at, container.end, &child); at = child.end) {
        if (child.type == "pssh")
            return true;
        if (child.type == "stsd") {
            if (sampleEntriesProtected(file, child))
                return true;
        } else if (child.type == "trak" || child.type == "mdia" || child.type == "minf" || child.type == "stbl") {
            if (isProtected(file, child, depth + 1))
                return true;
        }
    }
    return false;
}

int NuvMp4Info::get(const QString &path, bool *moovAheadMdat, bool *nuvMp4)
{
    QFile file(path);
    // A FIFO or device would block or never end; only regular files are probed.
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        std::fputs("open mp4info err\n", stdout);
        std::fflush(stdout);
        return -1;
    }

    bool moovFirst = false;
    bool isProtectedMovie = false;
    bool sawMdat = false;
    const qint64 fileSize = file.size();
    Box box;
    for (qint64 at = 0; readBox(file, at, fileSize, &box); at = box.end) {
        if (box.type == "mdat") {
            sawMdat = true;
        } else if (box.type == "moov") {
            moovFirst = !sawMdat;
            isProtectedMovie = isProtected(file, box, 0);
            break;
        }
    }

    qDebug().noquote() << QStringLiteral("NuvMp4Info::get: moovaheadmdat = %1, nuvmp4 = %2")
                              .arg(int(moovFirst))
                              .arg(int(isProtectedMovie));
    if (nuvMp4)
        *nuvMp4 = isProtectedMovie;
    if (moovAheadMdat)
        *moovAheadMdat = moovFirst;
    return 0;
}
