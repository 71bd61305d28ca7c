#include "../data/centraldb.h"
#include "../data/jobtest.h"
#include "core/errors.h"
#include "engine/sqlscript.h"
#include "import/importbatch.h"
#include "import/importjournal.h"
#include "import/packageinfo.h"
#include "jobcheck.h"
#include "replication/archive.h"

#include <QCryptographicHash>
#include <QDir>
#include <QRandomGenerator>
#include <QtTest>

namespace {

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

// The first row of a query, its values joined by '|', date-times as ISO text.
QString firstRow(TDatabase &db, const QString &sql, qint64 key)
{
    QSqlQuery q(db.Sql());
    q.prepare(sql);
    q.addBindValue(key);
    if (!q.exec() || !q.next())
        return q.lastError().text();
    QStringList values;
    for (int i = 0; i < q.record().count(); ++i) {
        const QDateTime t = q.value(i).toDateTime();
        values << (t.isValid() ? t.toString(Qt::ISODate) : q.value(i).toString());
    }
    return values.join(QLatin1Char('|'));
}

} // namespace

class TestImportJournal : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A database made before the journal gets its tables on first use, laid out as the creation
    // script lays them out, and nothing else of it changes. Start and end are the journal's
    // own: a rolled-back import keeps its run, a run that never ends stays "не завершён", and
    // the next run is recorded normally. A package counts as imported by its latest successful
    // run only.
    void journal_data() { jobtest::backendRows(); }
    void journal()
    {
        QFETCH(QString, backend);
        const auto c = std::make_unique<CentralDb>(backend);
        const QStringList head = columns(c->Db(), QStringLiteral("IMPORTJOURNAL"));
        const QStringList detail = columns(c->Db(), QStringLiteral("IMPORTJOURNALTABLE"));
        QVERIFY(head.contains(QStringLiteral("PKGSHA256")));
        engine::ExecuteScript(
            c->Db(), QStringLiteral("DROP TABLE IMPORTJOURNALTABLE; DROP TABLE IMPORTJOURNAL;") +
                         (c->Db().Driver() == QLatin1String("POSTGRESQL")
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

        qint64 killed = 0;
        {
            TImportJournal dying(c->Db());
            TJournaledRun run(dying, package(QStringLiteral("aa")));
            run.TableImported({QStringLiteral("City"), 1, 0, 0, 1, 1});
            killed = run.RunGID();
        }
        const QString resultOf =
            QStringLiteral("SELECT RESULT FROM IMPORTJOURNAL WHERE RUNGID = ?");
        QCOMPARE(c->Scalar(resultOf, {killed}).toString(), ImportResultUnfinished);

        const qint64 run = journal.Begin(package(QStringLiteral("bb")), kStart);
        QVERIFY(run > killed);
        c->Db().StartTransaction();
        c->Exec(QStringLiteral("INSERT INTO POST (POSNAME) VALUES (?)"), {QStringLiteral("Врач")});
        c->Db().Rollback();
        const QList<TImportTableCounts> tables = {{QStringLiteral("City"), 2, 0, 1, 3, 1},
                                                  {QStringLiteral("Person"), 5, 7, 0, 0, 0}};
        const QDateTime end = kStart.addSecs(90);
        journal.End(run, ImportResultFailed, QStringLiteral("Нарушено ограничение"), tables, end);

        QCOMPARE(c->Scalar(QStringLiteral("SELECT COUNT(*) FROM POST")).toInt(), 1);
        QCOMPARE(c->Scalar(resultOf, {run}).toString(), ImportResultFailed);
        QCOMPARE(c->Scalar(resultOf, {killed}).toString(), ImportResultUnfinished);
        QCOMPARE(firstRow(c->Db(),
                          QStringLiteral("SELECT PKGNAME, PKGSIZE, PKGSHA256, PKGLABEL, WSTGID, "
                                         "STARTTIME, ENDTIME, ERRORTEXT FROM IMPORTJOURNAL "
                                         "WHERE RUNGID = ?"),
                          run),
                 QStringLiteral("wst12.w2s|4096|bb|000012_20260301090000_на ЦРБ|12|"
                                "2026-03-01T10:00:00|2026-03-01T10:01:30|Нарушено ограничение"));
        QCOMPARE(journalCounts(c->Db(), run), countsText(tables));

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

    // Volume sets by name, and what a batch takes from a folder: the first volume of each set,
    // never a further one, oldest first ("name@minutes" gives a file's age), nothing else.
    void volumeNames_data()
    {
        QTest::addColumn<QString>("files");
        QTest::addColumn<QString>("volumes"); // of the first file
        QTest::addColumn<QString>("batch");
        QTest::newRow("letter") << "a.w2s a.w00 a.w01 a.w03 ab.w00"
                                << "a.w2s a.w00 a.w01"
                                << "a.w2s";
        QTest::newRow("part") << "b.part1.w2s b.part2.w2s b.part3.w2s"
                              << "b.part1.w2s b.part2.w2s b.part3.w2s"
                              << "b.part1.w2s";
        QTest::newRow("part, two digits") << "c.part01.w2s c.part02.w2s c.part2.w2s"
                                          << "c.part01.w2s c.part02.w2s"
                                          << "c.part01.w2s";
        QTest::newRow("batch") << "late.w2s@30 early.w2s@10 early.w00@11 set.part1.w2s@20 "
                                  "set.part2.w2s@1 same-b.w2s@25 same-a.w2s@25 notes.txt "
                                  "UPPER.W2S@40"
                               << "late.w2s"
                               << "early.w2s set.part1.w2s same-a.w2s same-b.w2s late.w2s "
                                  "UPPER.W2S";
    }
    void volumeNames()
    {
        QFETCH(QString, files);
        QFETCH(QString, volumes);
        QFETCH(QString, batch);
        QTemporaryDir dir;
        QDir(dir.path()).mkdir(QStringLiteral("folder.w2s"));
        const auto names = [](const QStringList &paths) {
            QStringList out;
            for (const QString &p : paths)
                out << QFileInfo(p).fileName();
            return out.join(QLatin1Char(' '));
        };
        QStringList paths;
        for (const QString &f : files.split(QLatin1Char(' '))) {
            paths << dir.filePath(f.section(QLatin1Char('@'), 0, 0));
            testsupport::writeFile(paths.last(), "x");
            QFile file(paths.last());
            QVERIFY(file.open(QIODevice::ReadWrite));
            const int minutes = f.section(QLatin1Char('@'), 1).toInt();
            QVERIFY(
                file.setFileTime(kStart.addSecs(60 * minutes), QFileDevice::FileModificationTime));
        }
        QCOMPARE(names(VolumeSet(paths.first())), volumes);
        QCOMPARE(names(ImportBatchPackages(dir.path())), batch);
    }

    void workstationOfLabel_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QVariant>("wst");
        QTest::newRow("export form")
            << QStringLiteral("000012_20050601093000_на ЦРБ") << QVariant(12);
        QTest::newRow("no number") << QStringLiteral("ЦРБ_12") << QVariant();
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
