#include "core/cp1251.h"
#include "core/errors.h"
#include "package/archiver.h"
#include "package/workfolder.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// Writes expected command lines with "/" and turns them into the platform's form.
QString native(QString s)
{
    return s.replace(QLatin1Char('/'), QDir::separator());
}

QString builtArchiver()
{
    return QDir(qEnvironmentVariable("ZORU_PROGRAM_DIR")).absoluteFilePath(ArchiverProgram());
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator gen(1234);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(gen.generate() & 0xFF);
    return bytes;
}

void writeScript(const QString &path, const QByteArray &body)
{
    testsupport::writeFile(path, "#!/bin/sh\n" + body + "\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

class TestArchive : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void commandLines_data();
    void commandLines();

    void safeFileName_data();
    void safeFileName();

    void runArchiverExitCodes_data();
    void runArchiverExitCodes();

    void packAndUnpack_data();
    void packAndUnpack();
    void packMissingFolderWritesNoComment();
    void commentFileUnwritableRaises();
    void unpackMissingArchiveFails();

    void workFolderRemovedWithContents();

private:
    std::unique_ptr<TWorkFolder> m_scratch;
    // A program folder with blanks and Cyrillic, holding a copy of the archiver.
    QString m_appFolder;
};

void TestArchive::initTestCase()
{
    m_scratch = std::make_unique<TWorkFolder>();
    m_appFolder =
        m_scratch->Path() + QStringLiteral("Программа ZORU с пробелами") + QDir::separator();
    QVERIFY(QDir().mkpath(m_appFolder));
    QVERIFY2(QFile::copy(builtArchiver(), m_appFolder + ArchiverProgram()),
             qPrintable(builtArchiver()));
}

void TestArchive::commandLines_data()
{
    QTest::addColumn<QString>("app");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("archive");
    QTest::addColumn<QString>("pack");
    QTest::addColumn<QString>("comment");
    QTest::addColumn<QString>("unpack");

    const QString arc = ArchiverProgram();
    const auto row = [&](const char *name, const QString &app, const QString &folder,
                         const QString &archive, const QString &pack, const QString &comment,
                         const QString &unpack) {
        QTest::newRow(name) << native(app) << native(folder) << archive << native(app + arc + pack)
                            << native(app + arc + comment) << native(app + arc + unpack);
    };
    row("folder without trailing separator", QStringLiteral("/opt/zoru/"),
        QStringLiteral("/exp/ЦРБ/Ст1_20050601093000"), QStringLiteral("Ст1_20050601093000.s2w"),
        QStringLiteral(" a -y -df -ep -v1400000b \"/exp/ЦРБ/Ст1_20050601093000/../"
                       "Ст1_20050601093000.s2w\" \"/exp/ЦРБ/Ст1_20050601093000/*.*\""),
        QStringLiteral(" c -y -z\"/exp/ЦРБ/Ст1_20050601093000/comment.txt\" "
                       "\"/exp/ЦРБ/Ст1_20050601093000/../Ст1_20050601093000.s2w\""),
        QStringLiteral(" x -y -o+ \"Ст1_20050601093000.s2w\" \"/exp/ЦРБ/Ст1_20050601093000\""));
    row("folder with trailing separator", QStringLiteral("/opt/zoru/"),
        QStringLiteral("/imp/work/"), QStringLiteral("a.s2w"),
        QStringLiteral(" a -y -df -ep -v1400000b \"/imp/work/../a.s2w\" \"/imp/work/*.*\""),
        QStringLiteral(" c -y -z\"/imp/work/comment.txt\" \"/imp/work/../a.s2w\""),
        QStringLiteral(" x -y -o+ \"a.s2w\" \"/imp/work\""));
    row("program folder with blanks stays unquoted",
        QStringLiteral("/opt/Program Files/ZORU admin/"), QStringLiteral("/w/p q"),
        QStringLiteral("x y.s2w"),
        QStringLiteral(" a -y -df -ep -v1400000b \"/w/p q/../x y.s2w\" \"/w/p q/*.*\""),
        QStringLiteral(" c -y -z\"/w/p q/comment.txt\" \"/w/p q/../x y.s2w\""),
        QStringLiteral(" x -y -o+ \"x y.s2w\" \"/w/p q\""));
}

void TestArchive::commandLines()
{
    QFETCH(QString, app);
    QFETCH(QString, folder);
    QFETCH(QString, archive);
    QFETCH(QString, pack);
    QFETCH(QString, comment);
    QFETCH(QString, unpack);
    QCOMPARE(PackCall(app, folder, archive).CommandLine, pack);
    QCOMPARE(CommentCall(app, folder, archive).CommandLine, comment);
    const TArchiverCall unpackCall = UnpackCall(app, folder, archive);
    QCOMPARE(unpackCall.CommandLine, unpack);
    // What runs is the program by its whole path and the arguments the line stands for.
    QCOMPARE(unpackCall.Program, app + ArchiverProgram());
    QCOMPARE(unpackCall.Arguments,
             (QStringList{u"x"_s, u"-y"_s, u"-o+"_s, archive,
                          folder.endsWith(QDir::separator()) ? folder.chopped(1) : folder}));
    QCOMPARE(CommentCall(app, folder, archive).Arguments.at(2),
             u"-z"_s + (folder.endsWith(QDir::separator()) ? folder.chopped(1) : folder) +
                 QDir::separator() + CommentFileName);
}

void TestArchive::safeFileName_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    QTest::newRow("quoted name with separators")
        << QStringLiteral("\"A/B: X\\Y\"") << QStringLiteral("A_B_ X_Y");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("other forbidden characters stay")
        << QStringLiteral("a*b?c<d>|") << QStringLiteral("a*b?c<d>|");
    QTest::newRow("cyrillic and blanks stay")
        << QStringLiteral(" ГБУЗ \"ЦРБ\" №1 ") << QStringLiteral(" ГБУЗ ЦРБ №1 ");
    QTest::newRow("only quotes") << QStringLiteral("\"\"\"") << QString();
}

void TestArchive::safeFileName()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(SafeFileName(input), expected);
}

void TestArchive::runArchiverExitCodes_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<int>("expected");
    QTest::newRow("success") << QByteArray("exit 0") << 0;
    QTest::newRow("exit code passed on") << QByteArray("exit 7") << 7;
    QTest::newRow("crash counts as 1") << QByteArray("kill -SEGV $$") << 1;
    QTest::newRow("arguments arrive split")
        << QByteArray("[ \"$1\" = x ] && [ \"$2\" = \"a b\" ] && [ \"$3\" = \"c\\\"d\" ] && exit "
                      "42; exit 9")
        << 42;
    QTest::newRow("input is closed, never waited for") << QByteArray("read line; exit 5") << 5;
}

void TestArchive::runArchiverExitCodes()
{
#ifdef Q_OS_WIN
    QSKIP("shell scripts stand in for the archiver");
#endif
    QFETCH(QByteArray, script);
    QFETCH(int, expected);
    const QString program = m_appFolder + QStringLiteral("fake arc");
    writeScript(program, script);
    QCOMPARE(RunArchiver({program, {u"x"_s, u"a b"_s, u"c\"d"_s}, {}}), expected);
}

void TestArchive::packAndUnpack_data()
{
    QTest::addColumn<qsizetype>("bigSize");
    QTest::addColumn<int>("volumes");
    QTest::newRow("under one volume") << qsizetype(100000) << 1;
    QTest::newRow("several volumes") << qsizetype(5000000) << 4;
}

void TestArchive::packAndUnpack()
{
    QFETCH(qsizetype, bigSize);
    QFETCH(int, volumes);

    TWorkFolder work(m_scratch->Path());
    const QString exportFolder = work.Path() + QStringLiteral("ЦРБ №1") + QDir::separator();
    const QString packageFolder =
        exportFolder + QStringLiteral("Станция 1_20050601093000") + QDir::separator();
    QVERIFY(QDir().mkpath(packageFolder));
    const QMap<QString, QByteArray> files{
        {QStringLiteral("ADDRESS.DB"), randomBytes(bigSize)},
        {QStringLiteral("Город.DB"), QByteArray(3000, 'x')},
        {QStringLiteral("пустой.PX"), QByteArray()},
    };
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        testsupport::writeFile(packageFolder + it.key(), it.value());

    const QString archiveName = QStringLiteral("Станция 1_20050601093000.s2w");
    const QString label = QStringLiteral("000012_20050601093000_на ЦРБ №1");
    QCOMPARE(PackFolder(m_appFolder, packageFolder, label, archiveName), 0);

    // Only the comment file is left in the folder; the volumes lie beside it.
    QCOMPARE(QDir(packageFolder).entryList(QDir::Files), QStringList{CommentFileName});
    QCOMPARE(QDir(exportFolder).entryList(QDir::Files).size(), volumes);
    for (int i = 0; i < volumes; ++i) {
        // Further volumes carry the archiver's own names, all starting with the base name.
        const QString name = i == 0 ? archiveName
                                    : QStringLiteral("Станция 1_20050601093000.s%1")
                                          .arg(i - 1, 2, 10, QLatin1Char('0'));
        const QFileInfo fi(exportFolder + name);
        QVERIFY2(fi.isFile(), qPrintable(name));
        if (i + 1 < volumes)
            QCOMPARE(fi.size(), ArchiveVolumeSize);
        else
            QVERIFY(fi.size() <= ArchiveVolumeSize);
    }

    QProcess reader;
    reader.start(m_appFolder + ArchiverProgram(), {QStringLiteral("cw"), exportFolder + archiveName,
                                                   work.Path() + QStringLiteral("c.bin")});
    QVERIFY(reader.waitForFinished(-1));
    QCOMPARE(reader.exitCode(), 0);
    QCOMPARE(testsupport::readFile(work.Path() + QStringLiteral("c.bin")),
             cp1251::encode(label) + "\r\n");

    const QString importFolder = work.Path() + QStringLiteral("импорт");
    QVERIFY(QDir().mkpath(importFolder));
    QCOMPARE(
        UnpackArchive(m_appFolder, importFolder + QDir::separator(), exportFolder + archiveName),
        0);
    QCOMPARE(QDir(importFolder).entryList(QDir::Files).size(), files.size());
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        QCOMPARE(testsupport::readFile(importFolder + QDir::separator() + it.key()), it.value());
}

void TestArchive::packMissingFolderWritesNoComment()
{
    TWorkFolder work(m_scratch->Path());
    const QString folder = work.Path() + QStringLiteral("нет такой");
    QVERIFY(PackFolder(m_appFolder, folder, QStringLiteral("x"), QStringLiteral("a.s2w")) != 0);
    QVERIFY(!QFileInfo::exists(folder));
    QCOMPARE(QDir(work.Path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
             QStringList{});
}

void TestArchive::commentFileUnwritableRaises()
{
    TWorkFolder work(m_scratch->Path());
    const QString folder = work.Path() + QStringLiteral("pkg");
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/") + CommentFileName));
    testsupport::writeFile(folder + QStringLiteral("/t.db"), "data");
    QVERIFY_THROWS_EXCEPTION(
        EFileError, PackFolder(m_appFolder, folder, QStringLiteral("x"), QStringLiteral("a.s2w")));
}

void TestArchive::unpackMissingArchiveFails()
{
    TWorkFolder work(m_scratch->Path());
    QVERIFY(UnpackArchive(m_appFolder, work.Path(), work.Path() + QStringLiteral("нет.w2s")) != 0);
    QVERIFY(UnpackArchive(work.Path() + QStringLiteral("без архиватора/"), work.Path(),
                          work.Path() + QStringLiteral("нет.w2s")) == 1);
}

void TestArchive::workFolderRemovedWithContents()
{
    QString path;
    {
        TWorkFolder work(m_scratch->Path(), QStringLiteral("импорт"));
        path = work.Path();
        QVERIFY(path.endsWith(QDir::separator()));
        QVERIFY(QDir().mkpath(path + QStringLiteral("sub")));
        testsupport::writeFile(path + QStringLiteral("sub/f.db"), "x");
    }
    QVERIFY(!QFileInfo::exists(path));
    QVERIFY_THROWS_EXCEPTION(EFileError,
                             TWorkFolder(m_scratch->Path() + QStringLiteral("нет/нет")));
}

QTEST_GUILESS_MAIN(TestArchive)
#include "tst_archiver.moc"
