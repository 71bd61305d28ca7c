#include "../data/centraldb.h"
#include "core/errors.h"
#include "engine/sqlscript.h"
#include "import/importbatch.h"
#include "import/importjournal.h"
#include "import/packageinfo.h"
#include "replication/archive.h"

#include <QCryptographicHash>
#include <QDir>
#include <QRandomGenerator>
#include <QSqlRecord>
#include <QtTest>

namespace {

const QStringList kBackends = {QStringLiteral("SQLITE"), QStringLiteral("POSTGRESQL")};
const QDateTime kStart(QDate(2026, 3, 1), QTime(10, 0, 0));

TImportPackageInfo package(const QString &sha)
{
    TImportPackageInfo p;
    p.FileName = QStringLiteral("wst12.w2s");
    p.Size = 4096;
    p.Sha256 = sha;
    p.Label = QStringLiteral("000012_20260301090000_на ЦРБ");
    p.WstGID = 12;
    return p;
}

QStringList columns(TDatabase &db, const QString &table)
{
    const QSqlRecord rec =
        db.Sql().record(db.Driver() == QLatin1String("POSTGRESQL") ? table.toLower() : table);
    QStringList names;
    for (int i = 0; i < rec.count(); ++i)
        names << rec.fieldName(i).toUpper();
    return names;
}

QDateTime asDateTime(const QVariant &v)
{
    QDateTime t = v.toDateTime();
    return t.isValid() ? t : QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
}

} // namespace

class TestImportJournal : public QObject
{
    Q_OBJECT

    std::unique_ptr<CentralDb> open(const QString &backend)
    {
        if (backend == QLatin1String("POSTGRESQL") && !testsupport::pgServer()) {
            if (testsupport::pgRequired())
                qFatal("ZORU_REQUIRE_PG is set but no PostgreSQL server is configured");
            return nullptr;
        }
        return std::make_unique<CentralDb>(backend);
    }

private Q_SLOTS:
    void backends_data()
    {
        QTest::addColumn<QString>("backend");
        for (const QString &b : kBackends)
            QTest::newRow(qPrintable(b)) << b;
    }

    // A database made before the journal gets its tables on first use, laid out as the creation
    // script lays them out, and nothing else of it changes.
    void tablesMadeOnFirstUse_data() { backends_data(); }
    void tablesMadeOnFirstUse()
    {
        QFETCH(QString, backend);
        auto c = open(backend);
        if (!c)
            QSKIP("no PostgreSQL server configured");
        const QStringList head = columns(c->Db(), QStringLiteral("IMPORTJOURNAL"));
        const QStringList detail = columns(c->Db(), QStringLiteral("IMPORTJOURNALTABLE"));
        QVERIFY(head.contains(QStringLiteral("PKGSHA256")));
        engine::ExecuteScript(
            c->Db(), QStringLiteral("DROP TABLE IMPORTJOURNALTABLE; DROP TABLE IMPORTJOURNAL;") +
                         (backend == QLatin1String("POSTGRESQL")
                              ? QStringLiteral("DROP SEQUENCE IMPORTJOURNAL_RUNGID_SEQ;")
                              : QString()));
        c->Exec(QStringLiteral("INSERT INTO POST (POSNAME) VALUES (?)"), {QStringLiteral("Врач")});

        TImportJournal journal(c->Db());
        const qint64 first = journal.Begin(package(QStringLiteral("aa")), kStart);
        QVERIFY(first > 0);
        QVERIFY(journal.Begin(package(QStringLiteral("aa")), kStart) > first);
        QCOMPARE(columns(c->Db(), QStringLiteral("IMPORTJOURNAL")), head);
        QCOMPARE(columns(c->Db(), QStringLiteral("IMPORTJOURNALTABLE")), detail);
        QCOMPARE(c->Scalar(QStringLiteral("SELECT POSNAME FROM POST")).toString(),
                 QStringLiteral("Врач"));
        TImportJournal::EnsureTables(c->Db()); // a second time changes nothing
        QCOMPARE(c->Scalar(QStringLiteral("SELECT COUNT(*) FROM IMPORTJOURNAL")).toInt(), 2);
    }

    // Start and end are the journal's own: a rolled-back import keeps its run, a run that never
    // ends stays "не завершён", and the next run is recorded normally.
    void runRecorded_data() { backends_data(); }
    void runRecorded()
    {
        QFETCH(QString, backend);
        auto c = open(backend);
        if (!c)
            QSKIP("no PostgreSQL server configured");
        qint64 killed = 0;
        {
            TImportJournal journal(c->Db());
            TJournaledRun run(journal, package(QStringLiteral("aa")));
            run.TableImported({QStringLiteral("City"), 1, 0, 0, 1, 1});
            killed = run.RunGID();
        }
        const QString resultOf =
            QStringLiteral("SELECT RESULT FROM IMPORTJOURNAL WHERE RUNGID = ?");
        QCOMPARE(c->Scalar(resultOf, {killed}).toString(), ImportResultUnfinished);

        TImportJournal journal(c->Db());
        const qint64 run = journal.Begin(package(QStringLiteral("bb")), kStart);
        QVERIFY(run > killed);
        c->Db().StartTransaction();
        c->Exec(QStringLiteral("INSERT INTO POST (POSNAME) VALUES (?)"), {QStringLiteral("Врач")});
        c->Db().Rollback();
        const QList<TImportTableCounts> tables = {{QStringLiteral("City"), 2, 0, 1, 3, 1},
                                                  {QStringLiteral("Person"), 5, 7, 0, 0, 0}};
        const QDateTime end = kStart.addSecs(90);
        journal.End(run, ImportResultFailed, QStringLiteral("Нарушено ограничение"), tables, end);

        QCOMPARE(c->Scalar(QStringLiteral("SELECT COUNT(*) FROM POST")).toInt(), 0);
        QCOMPARE(c->Scalar(resultOf, {run}).toString(), ImportResultFailed);
        QCOMPARE(c->Scalar(resultOf, {killed}).toString(), ImportResultUnfinished);
        QSqlQuery q(c->Db().Sql());
        QVERIFY(q.prepare(QStringLiteral(
            "SELECT PKGNAME, PKGSIZE, PKGSHA256, PKGLABEL, WSTGID, STARTTIME, ENDTIME, ERRORTEXT "
            "FROM IMPORTJOURNAL WHERE RUNGID = ?")));
        q.addBindValue(run);
        QVERIFY(q.exec() && q.next());
        QCOMPARE(q.value(0).toString(), QStringLiteral("wst12.w2s"));
        QCOMPARE(q.value(1).toLongLong(), 4096);
        QCOMPARE(q.value(2).toString(), QStringLiteral("bb"));
        QCOMPARE(q.value(3).toString(), QStringLiteral("000012_20260301090000_на ЦРБ"));
        QCOMPARE(q.value(4).toInt(), 12);
        QCOMPARE(asDateTime(q.value(5)), kStart);
        QCOMPARE(asDateTime(q.value(6)), end);
        QCOMPARE(q.value(7).toString(), QStringLiteral("Нарушено ограничение"));

        QVERIFY(q.prepare(QStringLiteral("SELECT STEPNO, TABLENAME, NEWROWS, EDITEDROWS, "
                                         "NEWMAPPINGS, REGISTRATIONS FROM IMPORTJOURNALTABLE "
                                         "WHERE RUNGID = ? ORDER BY STEPNO")));
        q.addBindValue(run);
        QVERIFY(q.exec());
        QStringList got;
        while (q.next())
            got << QStringLiteral("%1 %2 %3/%4/%5/%6")
                       .arg(q.value(0).toInt())
                       .arg(q.value(1).toString())
                       .arg(q.value(2).toInt())
                       .arg(q.value(3).toInt())
                       .arg(q.value(4).toInt())
                       .arg(q.value(5).toInt());
        QCOMPARE(got, (QStringList{QStringLiteral("1 City 2/0/3/1"),
                                   QStringLiteral("2 Person 5/7/0/0")}));
    }

    // Only a successful run counts, the latest of them.
    void lastSuccess_data() { backends_data(); }
    void lastSuccess()
    {
        QFETCH(QString, backend);
        auto c = open(backend);
        if (!c)
            QSKIP("no PostgreSQL server configured");
        TImportJournal journal(c->Db());
        const QString sha = QStringLiteral("ab12");
        const struct
        {
            QString sha;
            QString result;
            int minutes;
        } runs[] = {{sha, ImportResultSucceeded, 10},
                    {sha, ImportResultSucceeded, 30},
                    {sha, ImportResultFailed, 50},
                    {sha, ImportResultCancelled, 60},
                    {QStringLiteral("cd"), ImportResultSucceeded, 70}};
        for (const auto &r : runs) {
            const qint64 id = journal.Begin(package(r.sha), kStart);
            journal.End(id, r.result, {}, {}, kStart.addSecs(60 * r.minutes));
        }
        journal.Begin(package(sha), kStart.addSecs(3600 * 2)); // never ends
        QCOMPARE(journal.LastSuccess(sha), std::optional<QDateTime>(kStart.addSecs(60 * 30)));
        QCOMPARE(journal.LastSuccess(QStringLiteral("ef")), std::optional<QDateTime>());
    }

    // Volumes are found in the archiver's order; the checksum covers them all in that order, and
    // the label is the archive comment with the workstation it names.
    void packageInfo()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("pkg"));
        QVERIFY(QDir().mkpath(folder));
        QByteArray noise(int(ArchiveVolumeSize) * 2, Qt::Uninitialized);
        QRandomGenerator gen(7);
        gen.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        testsupport::writeFile(folder + QStringLiteral("/Person.DB"), noise);
        const QString appFolder = qEnvironmentVariable("ZORU_PROGRAM_DIR");
        const QString label = QStringLiteral("000012_20260301090000_на ЦРБ");
        QCOMPARE(PackFolder(appFolder, folder, label, QStringLiteral("wst12.w2s")), 0);
        const QString first = dir.filePath(QStringLiteral("wst12.w2s"));

        const TImportPackageInfo info = ReadPackageInfo(appFolder, first);
        QCOMPARE(info.Volumes, (QStringList{first, dir.filePath(QStringLiteral("wst12.w00")),
                                            dir.filePath(QStringLiteral("wst12.w01"))}));
        QCryptographicHash hash(QCryptographicHash::Sha256);
        qint64 size = 0;
        for (const QString &v : info.Volumes) {
            const QByteArray bytes = testsupport::readFile(v);
            hash.addData(bytes);
            size += bytes.size();
        }
        QCOMPARE(info.Sha256, QString::fromLatin1(hash.result().toHex()));
        QCOMPARE(info.Size, size);
        QCOMPARE(info.FileName, QStringLiteral("wst12.w2s"));
        QCOMPARE(info.Label, label);
        QCOMPARE(info.WstGID, QVariant(12));

        QFile::remove(info.Volumes.at(1)); // a gap ends the set
        QCOMPARE(VolumeSet(first), QStringList{first});
        QVERIFY_THROWS_EXCEPTION(EFileError,
                                 ReadPackageInfo(appFolder, dir.filePath(QStringLiteral("x.w2s"))));
    }

    void volumeNames_data()
    {
        QTest::addColumn<QString>("filesText");
        QTest::addColumn<QString>("expectedText"); // volumes of the first file
        QTest::addColumn<QString>("furtherText");  // names IsFurtherVolume accepts
        QTest::newRow("letter") << QStringLiteral("a.w2s a.w00 a.w01 a.w03 ab.w00")
                                << QStringLiteral("a.w2s a.w00 a.w01") << QString();
        QTest::newRow("part") << QStringLiteral("b.part1.w2s b.part2.w2s b.part3.w2s")
                              << QStringLiteral("b.part1.w2s b.part2.w2s b.part3.w2s")
                              << QStringLiteral("b.part2.w2s b.part3.w2s");
        QTest::newRow("part, two digits") << QStringLiteral("c.part01.w2s c.part02.w2s c.part2.w2s")
                                          << QStringLiteral("c.part01.w2s c.part02.w2s")
                                          << QStringLiteral("c.part02.w2s c.part2.w2s");
    }
    void volumeNames()
    {
        QFETCH(QString, filesText);
        QFETCH(QString, expectedText);
        QFETCH(QString, furtherText);
        const QStringList files = filesText.split(QLatin1Char(' '));
        const QStringList expected = expectedText.split(QLatin1Char(' '));
        const QStringList further = furtherText.split(QLatin1Char(' '));
        QTemporaryDir dir;
        QStringList expectedPaths;
        for (const QString &f : files)
            testsupport::writeFile(dir.filePath(f), "x");
        for (const QString &f : expected)
            expectedPaths << dir.filePath(f);
        QCOMPARE(VolumeSet(dir.filePath(files.first())), expectedPaths);
        for (const QString &f : files)
            QCOMPARE(IsFurtherVolume(dir.filePath(f)), further.contains(f));
    }

    // A batch takes the first volume of each set, oldest first, and nothing else.
    void batchPackages()
    {
        QTemporaryDir dir;
        const QDateTime t(QDate(2026, 3, 1), QTime(8, 0, 0));
        const struct
        {
            const char *name;
            int minutes;
        } files[] = {{"late.w2s", 30},      {"early.w2s", 10},    {"early.w00", 11},
                     {"set.part1.w2s", 20}, {"set.part2.w2s", 1}, {"same-b.w2s", 25},
                     {"same-a.w2s", 25},    {"notes.txt", 0},     {"UPPER.W2S", 40}};
        for (const auto &f : files) {
            const QString path = dir.filePath(QString::fromLatin1(f.name));
            testsupport::writeFile(path, "x");
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(t.addSecs(60 * f.minutes), QFileDevice::FileModificationTime));
        }
        QDir(dir.path()).mkdir(QStringLiteral("folder.w2s"));
        QStringList names;
        for (const QString &p : ImportBatchPackages(dir.path()))
            names << QFileInfo(p).fileName();
        QCOMPARE(names, QStringLiteral("early.w2s set.part1.w2s same-a.w2s same-b.w2s late.w2s "
                                       "UPPER.W2S")
                            .split(QLatin1Char(' ')));
    }

    void workstationOfLabel_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QVariant>("wst");
        QTest::newRow("export form")
            << QStringLiteral("000012_20050601093000_на ЦРБ") << QVariant(12);
        QTest::newRow("no number") << QStringLiteral("ЦРБ_12") << QVariant();
        QTest::newRow("no separator") << QStringLiteral("000012") << QVariant();
        QTest::newRow("empty") << QString() << QVariant();
    }
    void workstationOfLabel()
    {
        QFETCH(QString, label);
        QFETCH(QVariant, wst);
        QCOMPARE(WorkstationOfLabel(label), wst);
    }
};

QTEST_GUILESS_MAIN(TestImportJournal)
#include "test_importjournal.moc"
