// SPDX-License-Identifier: MIT
#include "core/media/nuvmp4info.h"
#include "testvideos.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

namespace {

QByteArray be32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray be64(quint64 value)
{
    QByteArray bytes(8, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray box(const char *type, const QByteArray &payload = {})
{
    return be32(quint32(8 + payload.size())) + QByteArray(type, 4) + payload;
}

QByteArray boxWithSize(quint32 size, const char *type, const QByteArray &payload = {})
{
    return be32(size) + QByteArray(type, 4) + payload;
}

QByteArray largeBox(const char *type, const QByteArray &payload)
{
    return be32(1) + QByteArray(type, 4) + be64(quint64(16 + payload.size())) + payload;
}

const QByteArray Ftyp = box("ftyp", QByteArray("isom") + be32(512) + QByteArray("isomavc1"));
const QByteArray Mdat = box("mdat", QByteArray(64, '\x55'));

// A visual sample entry: 78 bytes of fixed fields before its child boxes.
QByteArray videoEntry(const char *type, const QByteArray &children = {})
{
    return box(type, QByteArray(78, '\0') + children);
}

// moov/trak/mdia/minf/stbl/stsd holding the given sample entries.
QByteArray movieWithEntries(const QByteArray &entries, int entryCount = 1)
{
    const QByteArray stsd = box("stsd", be32(0) + be32(quint32(entryCount)) + entries);
    const QByteArray stbl = box("stbl", stsd + box("stts", be32(0) + be32(0)));
    const QByteArray minf = box("minf", box("vmhd", QByteArray(12, '\0')) + stbl);
    const QByteArray mdia = box("mdia", box("mdhd", QByteArray(24, '\0')) + minf);
    return box("moov", box("mvhd", QByteArray(100, '\0')) + box("trak", box("tkhd", QByteArray(84, '\0')) + mdia));
}

QByteArray sinf()
{
    return box("sinf", box("frma", QByteArray("avc1")) + box("schm", be32(0) + QByteArray("cenc") + be32(0x10000)));
}

} // namespace

class TestNuvMp4Info final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void get_handMadeBoxes_answersLayoutAndProtection_data();
    void get_handMadeBoxes_answersLayoutAndProtection();
    void get_generatedFiles_answersLayout_data();
    void get_generatedFiles_answersLayout();
    void get_moovBeyond4GiB_isFound();
    void get_unopenable_returnsMinusOneAndLeavesFlags();

private:
    QString write(const QString &name, const QByteArray &content);

    QTemporaryDir m_dir;
};

void TestNuvMp4Info::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

QString TestNuvMp4Info::write(const QString &name, const QByteArray &content)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        return {};
    return path;
}

void TestNuvMp4Info::get_handMadeBoxes_answersLayoutAndProtection_data()
{
    // clang-format off
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("moovAheadMdat");
    QTest::addColumn<bool>("nuvMp4");

    const QByteArray plainMovie = movieWithEntries(videoEntry("avc1", box("avcC", QByteArray(20, '\1'))));

    QTest::newRow("moov first") << Ftyp + plainMovie + Mdat << true << false;
    QTest::newRow("mdat first") << Ftyp + Mdat + plainMovie << false << false;
    QTest::newRow("no moov") << Ftyp + Mdat << false << false;
    QTest::newRow("empty file") << QByteArray() << false << false;
    QTest::newRow("truncated header") << Ftyp.left(5) << false << false;
    QTest::newRow("truncated moov") << Ftyp + plainMovie.left(40) << true << false;
    QTest::newRow("last box runs to end of file")
        << Ftyp + plainMovie + boxWithSize(0, "mdat", QByteArray(32, '\x55')) << true << false;
    QTest::newRow("size 0 box swallows what follows")
        << Ftyp + boxWithSize(0, "free", QByteArray(8, '\0')) + plainMovie << false << false;
    QTest::newRow("size 1 with 64-bit size is skipped exactly")
        << Ftyp + largeBox("mdat", QByteArray(40, '\x55')) + movieWithEntries(videoEntry("encv"))
        << false << true;
    QTest::newRow("moov with 64-bit size")
        << Ftyp + largeBox("moov", box("mvhd", QByteArray(100, '\0')) + box("pssh", QByteArray(24, '\0')))
        << true << true;
    QTest::newRow("size 1 with 64-bit size below its header")
        << Ftyp + be32(1) + QByteArray("mdat") + be64(8) + plainMovie << false << false;
    QTest::newRow("size 1 without room for the 64-bit size") << Ftyp + be32(1) + QByteArray("mdat")
                                                             << false << false;
    QTest::newRow("size below header") << Ftyp + boxWithSize(4, "free") + plainMovie << false << false;
    QTest::newRow("huge 32-bit size") << Ftyp + boxWithSize(0xFFFFFFFFu, "mdat", QByteArray(16, '\0'))
                                      << false << false;
    QTest::newRow("huge 64-bit size")
        << Ftyp + be32(1) + QByteArray("mdat") + be64(~quint64(0)) + plainMovie << false << false;
    QTest::newRow("huge moov child sizes")
        << Ftyp + box("moov", boxWithSize(0xFFFFFFF0u, "trak", boxWithSize(0x7FFFFFFF, "mdia")))
        << true << false;

    QTest::newRow("encrypted video entry") << Ftyp + movieWithEntries(videoEntry("encv", sinf())) + Mdat
                                           << true << true;
    QTest::newRow("encrypted audio entry")
        << Ftyp + movieWithEntries(box("enca", QByteArray(28, '\0') + sinf())) + Mdat << true << true;
    QTest::newRow("second entry protected")
        << Ftyp + movieWithEntries(videoEntry("avc1") + videoEntry("avc1", sinf()), 2) << true << true;
    QTest::newRow("sinf text without a box around it")
        << Ftyp + movieWithEntries(videoEntry("avc1", box("avcC", be32(0x00FFFFFF) + QByteArray("sinf"))))
        << true << false;
    QTest::newRow("pssh in moov")
        << Ftyp + box("moov", box("mvhd", QByteArray(100, '\0')) + box("pssh", QByteArray(24, '\0'))) + Mdat
        << true << true;
    QTest::newRow("entry type outside a sample description")
        << Ftyp + box("moov", box("trak", box("encv", QByteArray(8, '\0')))) << true << false;
    // clang-format on
}

void TestNuvMp4Info::get_handMadeBoxes_answersLayoutAndProtection()
{
    QFETCH(QByteArray, content);
    const QString path = write(QStringLiteral("boxes.mp4"), content);
    QVERIFY(!path.isEmpty());

    QFETCH(bool, moovAheadMdat);
    QFETCH(bool, nuvMp4);

    // Start from the opposite answers so a flag that is never written shows.
    bool moovFlag = !moovAheadMdat;
    bool nuvFlag = !nuvMp4;
    QCOMPARE(NuvMp4Info::get(path, &moovFlag, &nuvFlag), 0);
    QCOMPARE(moovFlag, moovAheadMdat);
    QCOMPARE(nuvFlag, nuvMp4);
}

void TestNuvMp4Info::get_generatedFiles_answersLayout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("faststart");
    QTest::addColumn<bool>("moovAheadMdat");

    QTest::newRow("faststart mp4") << QStringLiteral("fast.mp4") << true << true;
    QTest::newRow("plain mp4") << QStringLiteral("plain.mp4") << false << false;
    QTest::newRow("matroska") << QStringLiteral("clip.mkv") << false << false;
}

void TestNuvMp4Info::get_generatedFiles_answersLayout()
{
    QFETCH(QString, name);
    QFETCH(bool, faststart);
    TestVideoOptions options;
    options.faststart = faststart;
    const QString path = m_dir.filePath(name);
    QVERIFY(TestVideos::make(path, options));

    bool moovAheadMdat = !faststart;
    bool nuvMp4 = true;
    QCOMPARE(NuvMp4Info::get(path, &moovAheadMdat, &nuvMp4), 0);
    QTEST(moovAheadMdat, "moovAheadMdat");
    QCOMPARE(nuvMp4, false);
}

void TestNuvMp4Info::get_moovBeyond4GiB_isFound()
{
    // A sparse file: a 5 GiB mdat announced with a 64-bit size, then a protected movie.
    const qint64 mdatSize = qint64(5) << 30;
    const QString path = m_dir.filePath(QStringLiteral("large.mp4"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QVERIFY(file.write(Ftyp + be32(1) + QByteArray("mdat") + be64(quint64(mdatSize))) > 0);
    QVERIFY(file.seek(Ftyp.size() + mdatSize));
    QVERIFY(file.write(movieWithEntries(videoEntry("encv"))) > 0);
    file.close();

    bool moovAheadMdat = true;
    bool nuvMp4 = false;
    QCOMPARE(NuvMp4Info::get(path, &moovAheadMdat, &nuvMp4), 0);
    QCOMPARE(moovAheadMdat, false);
    QCOMPARE(nuvMp4, true);
}

void TestNuvMp4Info::get_unopenable_returnsMinusOneAndLeavesFlags()
{
    // The complaint goes to stdout, as callers expect; capture it through a file.
    QTemporaryFile captured;
    QVERIFY(captured.open());
    std::fflush(stdout);
    const int savedStdout = ::dup(STDOUT_FILENO);
    QVERIFY(savedStdout >= 0);
    QVERIFY(::dup2(captured.handle(), STDOUT_FILENO) >= 0);

    bool moovAheadMdat = true;
    bool nuvMp4 = true;
    const int missing = NuvMp4Info::get(m_dir.filePath(QStringLiteral("missing.mp4")), &moovAheadMdat, &nuvMp4);
    const int folder = NuvMp4Info::get(m_dir.path(), &moovAheadMdat, &nuvMp4);

    std::fflush(stdout);
    ::dup2(savedStdout, STDOUT_FILENO);
    ::close(savedStdout);

    QCOMPARE(missing, -1);
    QCOMPARE(folder, -1);
    QCOMPARE(moovAheadMdat, true);
    QCOMPARE(nuvMp4, true);
    QVERIFY(captured.seek(0));
    QCOMPARE(captured.readAll(), QByteArray("open mp4info err\nopen mp4info err\n"));
}

QTEST_GUILESS_MAIN(TestNuvMp4Info)
#include "tst_nuvmp4info.moc"
