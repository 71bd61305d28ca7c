#include "core/cp1251.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <archive.h>
#include <archive_entry.h>

namespace {

struct Result
{
    int code = -1;
    QString err;
    QByteArray out;
};

QString archiver()
{
    return QDir(qEnvironmentVariable("ZORU_PROGRAM_DIR"))
        .absoluteFilePath(QStringLiteral("zoru-arc"));
}

Result runArc(const QStringList &args)
{
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(archiver(), args);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit)
        return {};
    Result r{p.exitCode(), QString::fromUtf8(p.readAllStandardError()), p.readAllStandardOutput()};
    // Under the sanitizer build a report in the child must not pass for an expected failure.
    if (r.err.contains(QLatin1String("Sanitizer")) ||
        r.err.contains(QLatin1String("runtime error:")))
        qFatal("zoru-arc: %s", qPrintable(r.err));
    return r;
}

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator gen(seed);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(gen.generate() & 0xFF);
    return bytes;
}

quint32 crc32(const QByteArray &data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : data) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// Names of the volumes as the archiver writes them: x.s2w, x.s00, x.s01, ...
QString volumeName(const QString &first, int index)
{
    if (index == 0)
        return first;
    const qsizetype dot = first.lastIndexOf(QLatin1Char('.'));
    const QString base = first.left(dot);
    const QChar letter = first.at(dot + 1);
    const int n = index - 1;
    return base + QLatin1Char('.') + letter +
           (n < 100 ? QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')) : QString::number(n));
}

QStringList filesIn(const QString &folder)
{
    QStringList out;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(folder).relativeFilePath(it.next());
    out.sort();
    return out;
}

struct Entry
{
    QByteArray name;
    char kind = 'f'; // f file, d folder, l symbolic link, h hard link
    QByteArray data;
    QByteArray target;
};

// Writes the names exactly as given, so the archive can hold what a careful writer never would.
void buildArchive(const QString &path, const QList<Entry> &entries, bool sevenZip = false)
{
    archive *a = archive_write_new();
    if (sevenZip)
        archive_write_set_format_7zip(a);
    else
        archive_write_set_format_zip(a);
    QVERIFY(archive_write_open_filename(a, QFile::encodeName(path).constData()) == ARCHIVE_OK);
    for (const Entry &e : entries) {
        archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.name.constData());
        archive_entry_set_perm(entry, 0644);
        switch (e.kind) {
        case 'd':
            archive_entry_set_filetype(entry, AE_IFDIR);
            break;
        case 'l':
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_symlink(entry, e.target.constData());
            break;
        case 'h':
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_hardlink(entry, e.target.constData());
            break;
        default:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_size(entry, e.data.size());
        }
        QVERIFY2(archive_write_header(a, entry) == ARCHIVE_OK, archive_error_string(a));
        if (e.kind == 'f' && !e.data.isEmpty())
            QCOMPARE(archive_write_data(a, e.data.constData(), size_t(e.data.size())),
                     la_ssize_t(e.data.size()));
        archive_entry_free(entry);
    }
    QCOMPARE(archive_write_close(a), ARCHIVE_OK);
    archive_write_free(a);
}

} // namespace

Q_DECLARE_METATYPE(Entry)

class TestZoruArc : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void packCommandForms_data();
    void packCommandForms();

    void badCommandLines_data();
    void badCommandLines();

    void volumes_data();
    void volumes();

    void packRefusesExistingArchive();

    void comment_data();
    void comment();

    void rarSamples_data();
    void rarSamples();

    void foreignFormats_data();
    void foreignFormats();

    void hostileArchives_data();
    void hostileArchives();
    void linkInsideDestinationIsNotFollowed();
    void overwritesExistingFilesAndLinks();

    void damagedArchives_data();
    void damagedArchives();

private:
    // Makes m_src with the given files.
    void makeSource(const QMap<QString, QByteArray> &files);

    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_root;
    QString m_src;  // folder packed
    QString m_dest; // extraction destination
    QString m_outside;
};

void TestZoruArc::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
    m_root = m_tmp->path() + QStringLiteral("/корень с пробелами");
    m_src = m_root + QStringLiteral("/пакет 1");
    m_dest = m_root + QStringLiteral("/распаковка/work");
    m_outside = m_root + QStringLiteral("/распаковка");
    QVERIFY(QDir().mkpath(m_src));
    QVERIFY(QDir().mkpath(m_dest));
}

void TestZoruArc::cleanup()
{
    m_tmp.reset();
}

void TestZoruArc::makeSource(const QMap<QString, QByteArray> &files)
{
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        testsupport::writeFile(m_src + QLatin1Char('/') + it.key(), it.value());
}

void TestZoruArc::packCommandForms_data()
{
    QTest::addColumn<QString>("mask");
    QTest::newRow("slash star") << QStringLiteral("/*");
    QTest::newRow("slash star dot star") << QStringLiteral("/*.*");
    QTest::newRow("backslash star") << QStringLiteral("\\*");
    QTest::newRow("backslash star dot star") << QStringLiteral("\\*.*");
}

void TestZoruArc::packCommandForms()
{
    QFETCH(QString, mask);
    makeSource({{QStringLiteral("a.db"), "aaa"}, {QStringLiteral("без точки"), "b"}});
    QVERIFY(QDir().mkpath(m_src + QStringLiteral("/вложенная")));
    testsupport::writeFile(m_src + QStringLiteral("/вложенная/c.db"), "c");
    const QString archive = m_src + QStringLiteral("/../Пакет.s2w");
    const Result r =
        runArc({QStringLiteral("a"), QStringLiteral("-y"), QStringLiteral("-df"),
                QStringLiteral("-ep"), QStringLiteral("-v1400000b"), archive, m_src + mask});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(QDir(m_root).entryList(QDir::Files), QStringList{QStringLiteral("Пакет.s2w")});
    // Files of the folder are gone; subfolders are neither packed nor touched.
    QCOMPARE(filesIn(m_src), QStringList{QStringLiteral("вложенная/c.db")});

    const Result x = runArc({QStringLiteral("x"), QStringLiteral("-y"), QStringLiteral("-o+"),
                             m_root + QStringLiteral("/Пакет.s2w"), m_dest});
    QVERIFY2(x.code == 0, qPrintable(x.err));
    QCOMPARE(filesIn(m_dest), (QStringList{QStringLiteral("a.db"), QStringLiteral("без точки")}));
}

void TestZoruArc::badCommandLines_data()
{
    QTest::addColumn<QStringList>("args");
    const QString a = QStringLiteral("ARCHIVE");
    const QString f = QStringLiteral("FOLDER");
    QTest::newRow("nothing") << QStringList{};
    QTest::newRow("unknown command") << QStringList{QStringLiteral("d"), QStringLiteral("-y"), a};
    QTest::newRow("switches out of order")
        << QStringList{QStringLiteral("a"),     QStringLiteral("-df"),        QStringLiteral("-y"),
                       QStringLiteral("-ep"),   QStringLiteral("-v1400000b"), a,
                       f + QStringLiteral("/*")};
    QTest::newRow("volume size not a number")
        << QStringList{QStringLiteral("a"),     QStringLiteral("-y"),     QStringLiteral("-df"),
                       QStringLiteral("-ep"),   QStringLiteral("-v14kb"), a,
                       f + QStringLiteral("/*")};
    QTest::newRow("volume size zero")
        << QStringList{QStringLiteral("a"),     QStringLiteral("-y"),   QStringLiteral("-df"),
                       QStringLiteral("-ep"),   QStringLiteral("-v0b"), a,
                       f + QStringLiteral("/*")};
    QTest::newRow("folder without mask") << QStringList{QStringLiteral("a"),
                                                        QStringLiteral("-y"),
                                                        QStringLiteral("-df"),
                                                        QStringLiteral("-ep"),
                                                        QStringLiteral("-v1400000b"),
                                                        a,
                                                        f};
    QTest::newRow("comment without file")
        << QStringList{QStringLiteral("c"), QStringLiteral("-y"), QStringLiteral("-z"), a};
    QTest::newRow("extract without overwrite switch")
        << QStringList{QStringLiteral("x"), QStringLiteral("-y"), a, f};
    QTest::newRow("extra argument")
        << QStringList{QStringLiteral("x"), QStringLiteral("-y"), QStringLiteral("-o+"), a, f, f};
}

void TestZoruArc::badCommandLines()
{
    QFETCH(QStringList, args);
    QDir::setCurrent(m_root);
    const Result r = runArc(args);
    QVERIFY(r.code != 0 && r.code != -1);
    QVERIFY2(r.err.contains(QStringLiteral("неверная командная строка")), qPrintable(r.err));
    QCOMPARE(filesIn(m_root), QStringList{});
}

void TestZoruArc::volumes_data()
{
    QTest::addColumn<qint64>("volumeSize");
    QTest::addColumn<qsizetype>("payload");
    QTest::addColumn<int>("expected");
    QTest::newRow("fits in one volume") << qint64(1400000) << qsizetype(300000) << 1;
    QTest::newRow("5 MB incompressible") << qint64(1400000) << qsizetype(5000000) << 4;
    QTest::newRow("over a hundred volumes") << qint64(200) << qsizetype(25000) << 0;
}

void TestZoruArc::volumes()
{
    QFETCH(qint64, volumeSize);
    QFETCH(qsizetype, payload);
    QFETCH(int, expected);
    const QMap<QString, QByteArray> files{
        {QStringLiteral("ADDRESS.DB"), randomBytes(payload, 7)},
        {QStringLiteral("Улица с пробелом.DB"), QByteArray(5000, 'y')},
        {QStringLiteral("пусто.txt"), QByteArray()},
    };
    makeSource(files);
    const QString archive = m_root + QStringLiteral("/Станция_20050601093000.s2w");
    const Result r = runArc({QStringLiteral("a"), QStringLiteral("-y"), QStringLiteral("-df"),
                             QStringLiteral("-ep"), QStringLiteral("-v%1b").arg(volumeSize),
                             archive, m_src + QStringLiteral("/*.*")});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(filesIn(m_src), QStringList{});

    const int count = int(QDir(m_root).entryList(QDir::Files).size());
    if (expected > 0)
        QCOMPARE(count, expected);
    else
        QVERIFY(count > 101);
    for (int i = 0; i < count; ++i) {
        const QFileInfo fi(volumeName(archive, i));
        QVERIFY2(fi.isFile(), qPrintable(fi.filePath()));
        if (i + 1 < count)
            QCOMPARE(fi.size(), volumeSize);
        else
            QVERIFY(fi.size() > 0 && fi.size() <= volumeSize);
    }

    const Result x =
        runArc({QStringLiteral("x"), QStringLiteral("-y"), QStringLiteral("-o+"), archive, m_dest});
    QVERIFY2(x.code == 0, qPrintable(x.err));
    QCOMPARE(filesIn(m_dest), QStringList(files.keys()));
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        QCOMPARE(testsupport::readFile(m_dest + QLatin1Char('/') + it.key()), it.value());
}

void TestZoruArc::packRefusesExistingArchive()
{
    makeSource({{QStringLiteral("a.db"), "new"}});
    const QString archive = m_root + QStringLiteral("/p.s2w");
    testsupport::writeFile(archive, "older package");
    const Result r = runArc({QStringLiteral("a"), QStringLiteral("-y"), QStringLiteral("-df"),
                             QStringLiteral("-ep"), QStringLiteral("-v1400000b"), archive,
                             m_src + QStringLiteral("/*")});
    QVERIFY(r.code != 0);
    QVERIFY(!r.err.isEmpty());
    QCOMPARE(testsupport::readFile(archive), QByteArray("older package"));
    QCOMPARE(filesIn(m_src), QStringList{QStringLiteral("a.db")});

    // An empty folder is an error too, not an empty package.
    QVERIFY(QFile::remove(archive));
    QVERIFY(QFile::remove(m_src + QStringLiteral("/a.db")));
    const Result empty = runArc({QStringLiteral("a"), QStringLiteral("-y"), QStringLiteral("-df"),
                                 QStringLiteral("-ep"), QStringLiteral("-v1400000b"), archive,
                                 m_src + QStringLiteral("/*")});
    QVERIFY(empty.code != 0);
    QVERIFY(!QFileInfo::exists(archive));
}

void TestZoruArc::comment_data()
{
    QTest::addColumn<qint64>("volumeSize");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::newRow("single volume")
        << qint64(1400000) << QStringLiteral("000012_20050601093000_на ЦРБ")
        << QStringLiteral("другая метка");
    QTest::newRow("single volume, long comment spills into new volumes")
        << qint64(4000) << QString(2500, QChar(0x0416)) << QStringLiteral("коротко");
    // The end record straddles volumes; a long comment adds volumes, a short one removes them.
    QTest::newRow("comment grows and shrinks across volumes")
        << qint64(700) << QString(2500, QChar(0x0416)) << QStringLiteral("Ж");
}

void TestZoruArc::comment()
{
    QFETCH(qint64, volumeSize);
    QFETCH(QString, first);
    QFETCH(QString, second);
    makeSource({{QStringLiteral("a.db"), randomBytes(3000, 3)}, {QStringLiteral("б.db"), "b"}});
    const QString archive = m_root + QStringLiteral("/п.s2w");
    QCOMPARE(runArc({QStringLiteral("a"), QStringLiteral("-y"), QStringLiteral("-df"),
                     QStringLiteral("-ep"), QStringLiteral("-v%1b").arg(volumeSize), archive,
                     m_src + QStringLiteral("/*.*")})
                 .code,
             0);
    const QString commentFile = m_src + QStringLiteral("/comment.txt");
    const QString readBack = m_root + QStringLiteral("/прочитано.txt");
    QCOMPARE(runArc({QStringLiteral("cw"), archive, readBack}).code, 0);
    QCOMPARE(testsupport::readFile(readBack), QByteArray());
    QVERIFY(QFile::remove(readBack));
    for (const QString &text : {first, second}) {
        const QByteArray bytes = cp1251::encode(text) + "\r\n";
        testsupport::writeFile(commentFile, bytes);
        const Result c = runArc({QStringLiteral("c"), QStringLiteral("-y"),
                                 QStringLiteral("-z") + commentFile, archive});
        QVERIFY2(c.code == 0, qPrintable(c.err));
        const Result w = runArc({QStringLiteral("cw"), archive, readBack});
        QVERIFY2(w.code == 0, qPrintable(w.err));
        QCOMPARE(testsupport::readFile(readBack), bytes);
        QVERIFY(QFile::remove(readBack));
        const Result l = runArc({QStringLiteral("l"), archive});
        QCOMPARE(l.code, 0);
        QVERIFY(QString::fromUtf8(l.out).contains(text));

        const int count = int(QDir(m_root).entryList(QDir::Files).size());
        for (int i = 0; i + 1 < count; ++i)
            QCOMPARE(QFileInfo(volumeName(archive, i)).size(), volumeSize);
        QVERIFY(QFileInfo(volumeName(archive, count - 1)).size() <= volumeSize);
    }
    const Result x =
        runArc({QStringLiteral("x"), QStringLiteral("-y"), QStringLiteral("-o+"), archive, m_dest});
    QVERIFY2(x.code == 0, qPrintable(x.err));
    QCOMPARE(testsupport::readFile(m_dest + QStringLiteral("/a.db")), randomBytes(3000, 3));
}

void TestZoruArc::rarSamples_data()
{
    QTest::addColumn<QString>("sample");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("rar3, part names")
        << QStringLiteral("rar3")
        << QStringList{QStringLiteral("v.part1.rar"), QStringLiteral("v.part2.rar"),
                       QStringLiteral("v.part3.rar")};
    QTest::newRow("rar5, part names")
        << QStringLiteral("rar5")
        << QStringList{QStringLiteral("v.part1.rar"), QStringLiteral("v.part2.rar"),
                       QStringLiteral("v.part3.rar")};
    QTest::newRow("rar3, old names")
        << QStringLiteral("rar3")
        << QStringList{QStringLiteral("v.rar"), QStringLiteral("v.r00"), QStringLiteral("v.r01")};
    QTest::newRow("rar5, package extension")
        << QStringLiteral("rar5")
        << QStringList{QStringLiteral("пакет.w2s"), QStringLiteral("пакет.w00"),
                       QStringLiteral("пакет.w01")};
}

void TestZoruArc::rarSamples()
{
    QFETCH(QString, sample);
    QFETCH(QStringList, names);
    const QString dir = testsupport::testDataDir() + QStringLiteral("/rar/");
    for (int i = 0; i < names.size(); ++i) {
        QVERIFY(QFile::copy(dir + sample + QStringLiteral("-vols.part%1.rar").arg(i + 1),
                            m_root + QLatin1Char('/') + names[i]));
    }
    const Result x = runArc({QStringLiteral("x"), QStringLiteral("-y"), QStringLiteral("-o+"),
                             m_root + QLatin1Char('/') + names[0], m_dest});
    QVERIFY2(x.code == 0, qPrintable(x.err));

    // The listing names each file with its unpacked size and CRC-32.
    const QString exp = QString::fromUtf8(
        testsupport::readFile(dir + sample + QStringLiteral("-vols.part1.rar.exp")));
    const QStringList blocks = exp.split(QRegularExpression(QStringLiteral("\\n(?=\\S)")));
    QStringList expectedFiles;
    for (const QString &block : blocks) {
        const auto name = QRegularExpression(QStringLiteral("\\bname=(\\S+)")).match(block);
        if (!name.hasMatch())
            continue;
        const auto dec = QRegularExpression(QStringLiteral("\\bdec=(\\d+)")).match(block);
        const auto crc = QRegularExpression(QStringLiteral("\\bcrc=0x([0-9a-f]+)")).match(block);
        QVERIFY(dec.hasMatch() && crc.hasMatch());
        expectedFiles << name.captured(1);
        const QByteArray data = testsupport::readFile(m_dest + QLatin1Char('/') + name.captured(1));
        QCOMPARE(data.size(), dec.captured(1).toLongLong());
        QCOMPARE(crc32(data), crc.captured(1).toUInt(nullptr, 16));
    }
    QVERIFY(!expectedFiles.isEmpty());
    expectedFiles.sort();
    QCOMPARE(filesIn(m_dest), expectedFiles);
}

void TestZoruArc::foreignFormats_data()
{
    QTest::addColumn<bool>("sevenZip");
    QTest::newRow("zip with folders") << false;
    QTest::newRow("7z with folders") << true;
}

void TestZoruArc::foreignFormats()
{
    QFETCH(bool, sevenZip);
    const QString archive = m_root + QStringLiteral("/чужой архив");
    const QByteArray big = randomBytes(200000, 11);
    buildArchive(archive,
                 {{"Папка/", 'd', {}, {}},
                  {"Папка/Вложенная/данные.db", 'f', big, {}},
                  {"./корень.txt", 'f', "root", {}}},
                 sevenZip);
    const Result x =
        runArc({QStringLiteral("x"), QStringLiteral("-y"), QStringLiteral("-o+"), archive, m_dest});
    QVERIFY2(x.code == 0, qPrintable(x.err));
    QCOMPARE(testsupport::readFile(m_dest + QStringLiteral("/Папка/Вложенная/данные.db")), big);
    QCOMPARE(testsupport::readFile(m_dest + QStringLiteral("/корень.txt")), QByteArray("root"));
}

void TestZoruArc::hostileArchives_data()
{
    QTest::addColumn<QList<Entry>>("entries");
    QTest::addColumn<bool>("sevenZip");
    const Entry good{"good.txt", 'f', "good", {}};
    QTest::newRow("parent folder") << QList<Entry>{good, {"../evil.txt", 'f', "x", {}}} << false;
    QTest::newRow("parent folder deeper")
        << QList<Entry>{good, {"a/../../evil.txt", 'f', "x", {}}} << false;
    QTest::newRow("parent folder with backslashes")
        << QList<Entry>{good, {"a\\..\\..\\evil.txt", 'f', "x", {}}} << false;
    QTest::newRow("absolute path")
        << QList<Entry>{good, {"@OUTSIDE@/evil.txt", 'f', "x", {}}} << false;
    QTest::newRow("drive letter") << QList<Entry>{good, {"C:\\evil.txt", 'f', "x", {}}} << false;
    QTest::newRow("symbolic link")
        << QList<Entry>{good, {"link", 'l', {}, ".."}, {"link/evil.txt", 'f', "x", {}}} << false;
    QTest::newRow("file and folder of one name")
        << QList<Entry>{good, {"x", 'f', "x", {}}, {"x/y.txt", 'f', "y", {}}} << false;
    QTest::newRow("symbolic link in 7z") << QList<Entry>{good, {"link", 'l', {}, "/tmp"}} << true;
    QTest::newRow("parent folder in 7z")
        << QList<Entry>{good, {"../evil.txt", 'f', "x", {}}} << true;
}

void TestZoruArc::hostileArchives()
{
    QFETCH(QList<Entry>, entries);
    QFETCH(bool, sevenZip);
    // The destination's parent holds only the destination before and after.
    for (Entry &e : entries)
        e.name.replace("@OUTSIDE@", QFile::encodeName(m_outside));
    const QString archive = m_root + QStringLiteral("/hostile.zip");
    buildArchive(archive, entries, sevenZip);
    const Result x =
        runArc({QStringLiteral("x"), QStringLiteral("-y"), QStringLiteral("-o+"), archive, m_dest});
    QVERIFY(x.code != 0 && x.code != -1);
    QVERIFY2(x.err.contains(QStringLiteral("Архив отвергнут")), qPrintable(x.err));
    QCOMPARE(filesIn(m_outside), QStringList{});
    QCOMPARE(QDir(m_dest).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
             QStringList{});
    QVERIFY(!QFileInfo::exists(m_root + QStringLiteral("/evil.txt")));
}

void TestZoruArc::linkInsideDestinationIsNotFollowed()
{
    const QString elsewhere = m_root + QStringLiteral("/elsewhere");
    QVERIFY(QDir().mkpath(elsewhere));
    QVERIFY(QFile::link(elsewhere, m_dest + QStringLiteral("/sub")));
    const QString archive = m_root + QStringLiteral("/a.zip");
    buildArchive(archive, {{"sub/evil.txt", 'f', "x", {}}});
    const Result x =
        runArc({QStringLiteral("x"), QStringLiteral("-y"), QStringLiteral("-o+"), archive, m_dest});
    QVERIFY(x.code != 0);
    QVERIFY(!x.err.isEmpty());
    QCOMPARE(filesIn(elsewhere), QStringList{});
}

void TestZoruArc::overwritesExistingFilesAndLinks()
{
    const QString victim = m_root + QStringLiteral("/victim.txt");
    testsupport::writeFile(victim, "untouched");
    testsupport::writeFile(m_dest + QStringLiteral("/old.txt"), "old content, longer");
    QVERIFY(QFile::link(victim, m_dest + QStringLiteral("/link.txt")));
    const QString archive = m_root + QStringLiteral("/a.zip");
    buildArchive(archive, {{"old.txt", 'f', "new", {}}, {"link.txt", 'f', "replaced", {}}});
    const Result x =
        runArc({QStringLiteral("x"), QStringLiteral("-y"), QStringLiteral("-o+"), archive, m_dest});
    QVERIFY2(x.code == 0, qPrintable(x.err));
    QCOMPARE(testsupport::readFile(m_dest + QStringLiteral("/old.txt")), QByteArray("new"));
    QVERIFY(!QFileInfo(m_dest + QStringLiteral("/link.txt")).isSymLink());
    QCOMPARE(testsupport::readFile(m_dest + QStringLiteral("/link.txt")), QByteArray("replaced"));
    QCOMPARE(testsupport::readFile(victim), QByteArray("untouched"));
}

void TestZoruArc::damagedArchives_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("no such archive") << QStringLiteral("missing");
    QTest::newRow("middle volume missing") << QStringLiteral("middle");
    QTest::newRow("last volume missing") << QStringLiteral("last");
    QTest::newRow("last volume cut short") << QStringLiteral("truncate");
    QTest::newRow("last volume cut into the directory") << QStringLiteral("truncate-more");
    QTest::newRow("stored byte changed") << QStringLiteral("flip");
    QTest::newRow("not an archive") << QStringLiteral("garbage");
    QTest::newRow("rar volume missing") << QStringLiteral("rar");
}

void TestZoruArc::damagedArchives()
{
    QFETCH(QString, damage);
    const QString archive = m_root + QStringLiteral("/п.s2w");
    // Stored (incompressible) data, so a changed byte reaches the checksum.
    makeSource({{QStringLiteral("a.db"), randomBytes(5000, 5)},
                {QStringLiteral("b.db"), randomBytes(5000, 6)}});
    QCOMPARE(runArc({QStringLiteral("a"), QStringLiteral("-y"), QStringLiteral("-df"),
                     QStringLiteral("-ep"), QStringLiteral("-v2000b"), archive,
                     m_src + QStringLiteral("/*")})
                 .code,
             0);
    QString target = archive;
    if (damage == QLatin1String("missing")) {
        target = m_root + QStringLiteral("/нет.s2w");
    } else if (damage == QLatin1String("middle")) {
        QVERIFY(QFile::remove(volumeName(archive, 2)));
    } else if (damage == QLatin1String("last")) {
        QVERIFY(QFile::remove(volumeName(archive, 5)));
        QVERIFY(!QFileInfo::exists(volumeName(archive, 6)));
    } else if (damage == QLatin1String("truncate")) {
        QFile f(volumeName(archive, 5));
        QVERIFY(f.resize(f.size() - 10));
    } else if (damage == QLatin1String("truncate-more")) {
        QFile f(volumeName(archive, 5));
        QVERIFY(f.size() > 100);
        QVERIFY(f.resize(f.size() - 100));
    } else if (damage == QLatin1String("flip")) {
        QFile f(volumeName(archive, 1));
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        bytes[1000] = char(bytes[1000] ^ 0x55);
        QVERIFY(f.seek(0));
        QCOMPARE(f.write(bytes), qint64(bytes.size()));
    } else if (damage == QLatin1String("garbage")) {
        target = m_root + QStringLiteral("/мусор.w2s");
        testsupport::writeFile(target, randomBytes(10000, 9));
    } else if (damage == QLatin1String("rar")) {
        const QString dir = testsupport::testDataDir() + QStringLiteral("/rar/");
        target = m_root + QStringLiteral("/r.part1.rar");
        QVERIFY(QFile::copy(dir + QStringLiteral("rar5-vols.part1.rar"), target));
        QVERIFY(QFile::copy(dir + QStringLiteral("rar5-vols.part2.rar"),
                            m_root + QStringLiteral("/r.part2.rar")));
    }
    const Result x =
        runArc({QStringLiteral("x"), QStringLiteral("-y"), QStringLiteral("-o+"), target, m_dest});
    QVERIFY(x.code != 0 && x.code != -1);
    QVERIFY(!x.err.isEmpty());
    QCOMPARE(filesIn(m_dest), QStringList{});
}

QTEST_GUILESS_MAIN(TestZoruArc)
#include "tst_zoruarc.moc"
