#include "centraldb.h"
#include "core/clock.h"
#include "core/errors.h"
#include "engine/sqlscript.h"
#include "import/importbatch.h"
#include "import/importjournal.h"
#include "jobcheck.h"
#include "jobtest.h"
#include "package/archiver.h"
#include "package/packageinfo.h"
#include "schema/schema.h"

#include <QCryptographicHash>
#include <QDir>
#include <QRandomGenerator>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QDateTime kStart(QDate(2026, 3, 1), QTime(10, 0, 0));

TImportPackageInfo package(const QString &sha)
{
    TImportPackageInfo p;
    p.FileName = u"wst12.w2s"_s;
    p.Size = 4096;
    p.Sha256 = sha;
    p.Label = u"000012_20260301090000_на ЦРБ"_s;
    p.WstGID = 12;
    return p;
}

QStringList columns(TDatabase &db, const QString &table)
{
    const QSqlRecord rec =
        db.Sql().record(db.Driver() == "POSTGRESQL"_L1 ? table.toLower() : table);
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
    return values.join(u'|');
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
        const auto layout = [&] {
            return columns(c->Db(), u"IMPORTJOURNAL"_s)
                   << u"/"_s << columns(c->Db(), u"IMPORTJOURNALTABLE"_s);
        };
        const QStringList tablesMade = layout();
        QVERIFY(tablesMade.contains(u"PKGSHA256"_s));
        engine::ExecuteScript(c->Db(),
                              u"DROP TABLE IMPORTJOURNALREFUSED; DROP TABLE IMPORTJOURNALTABLE; "
                              "DROP TABLE IMPORTJOURNAL;"_s +
                                  (c->Db().Driver() == "POSTGRESQL"_L1
                                       ? u"DROP SEQUENCE IMPORTJOURNAL_RUNGID_SEQ;"_s
                                       : QString()));
        c->Exec(u"INSERT INTO POST (POSNAME) VALUES (?)"_s, {u"Врач"_s});

        TImportJournal journal(c->Db());
        const qint64 first = journal.Begin(package(u"aa"_s), kStart);
        QVERIFY(first > 0);
        QVERIFY(journal.Begin(package(u"aa"_s), kStart) > first);
        QCOMPARE(layout(), tablesMade);
        QCOMPARE(c->Scalar(u"SELECT POSNAME FROM POST"_s).toString(), u"Врач"_s);
        UpgradeSchema(c->Db(), SchemaKind::Central); // a second time changes nothing
        QCOMPARE(c->Scalar(u"SELECT COUNT(*) FROM IMPORTJOURNAL"_s).toInt(), 2);

        qint64 killed = 0;
        {
            const TFixedClock clock(kStart.addSecs(30));
            TImportJournal dying(c->Db());
            TJournaledRun run(dying, package(u"aa"_s));
            killed = run.RunGID();
        }
        const QString resultOf = u"SELECT RESULT FROM IMPORTJOURNAL WHERE RUNGID = ?"_s;
        QCOMPARE(c->Scalar(resultOf, {killed}).toString(), ImportResultUnfinished);
        QCOMPARE(c->Scalar(u"SELECT STARTTIME FROM IMPORTJOURNAL WHERE RUNGID = ?"_s, {killed})
                     .toDateTime(),
                 kStart.addSecs(30));

        const qint64 run = journal.Begin(package(u"bb"_s), kStart);
        QVERIFY(run > killed);
        c->Db().StartTransaction();
        c->Exec(u"INSERT INTO POST (POSNAME) VALUES (?)"_s, {u"Врач"_s});
        c->Db().Rollback();
        const QList<TImportTableCounts> tables = {{u"City"_s, 2, 0, 1, 3, 1},
                                                  {u"Person"_s, 5, 7, 0, 0, 0}};
        const QDateTime end = kStart.addSecs(90);
        journal.End(run, ImportResultFailed, u"Нарушено ограничение"_s, tables, end);

        QCOMPARE(c->Scalar(u"SELECT COUNT(*) FROM POST"_s).toInt(), 1);
        QCOMPARE(c->Scalar(resultOf, {run}).toString(), ImportResultFailed);
        QCOMPARE(c->Scalar(resultOf, {killed}).toString(), ImportResultUnfinished);
        // clang-format off
        QCOMPARE(firstRow(c->Db(), u"SELECT PKGNAME, PKGSIZE, PKGSHA256, PKGLABEL, WSTGID, STARTTIME, ENDTIME, ERRORTEXT "
                                   "FROM IMPORTJOURNAL WHERE RUNGID = ?"_s, run),
                 u"wst12.w2s|4096|bb|000012_20260301090000_на ЦРБ|12|2026-03-01T10:00:00|2026-03-01T10:01:30|Нарушено ограничение"_s);
        // clang-format on
        QCOMPARE(journalCounts(c->Db(), run), countsText(tables));

        const QString sha = u"ab12"_s;
        const std::tuple<QString, QString, int> runs[] = {{sha, ImportResultSucceeded, 10},
                                                          {sha, ImportResultSucceeded, 30},
                                                          {sha, ImportResultFailed, 50},
                                                          {sha, ImportResultCancelled, 60},
                                                          {u"cd"_s, ImportResultSucceeded, 70}};
        for (const auto &[pkg, result, minutes] : runs)
            journal.End(journal.Begin(package(pkg), kStart), result, {}, {},
                        kStart.addSecs(60 * minutes));
        journal.Begin(package(sha), kStart.addSecs(3600 * 2)); // never ends
        QCOMPARE(journal.LastSuccess(sha), std::optional<QDateTime>(kStart.addSecs(60 * 30)));
        QCOMPARE(journal.LastSuccess(u"ef"_s), std::optional<QDateTime>());
        // A run past refused rows is no success; its rows are kept.
        const qint64 skipping = journal.Begin(package(u"sk"_s), kStart);
        journal.End(skipping, ImportResultSkipped, {}, {}, kStart.addSecs(60),
                    {{u"Person"_s, u"PrnLID"_s, 4, 12, u"отказано"_s}});
        QCOMPARE(journal.LastSuccess(u"sk"_s), std::optional<QDateTime>());
        QCOMPARE(firstRow(c->Db(),
                          u"SELECT TABLENAME, LOCALID, WSTGID, MESSAGE FROM IMPORTJOURNALREFUSED "
                          "WHERE RUNGID = ?"_s,
                          skipping),
                 u"Person|4|12|отказано"_s);

        // A service runs without USER: the account's own name is recorded.
        const QByteArray user = qgetenv("USER");
        const QByteArray userName = qgetenv("USERNAME");
        qunsetenv("USER");
        qunsetenv("USERNAME");
        const qint64 service = journal.Begin(package(u"sv"_s), kStart);
        qputenv("USER", user);
        if (!userName.isEmpty())
            qputenv("USERNAME", userName);
        QVERIFY(!c->Scalar(u"SELECT OSUSER FROM IMPORTJOURNAL WHERE RUNGID = ?"_s, {service})
                     .toString()
                     .isEmpty());
    }

    // Volumes are found in the archiver's order; the checksum covers them all in that order, and
    // the label is the archive comment with the workstation it names.
    void packageInfo()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(u"pkg"_s);
        QVERIFY(QDir().mkpath(folder));
        QByteArray noise(int(ArchiveVolumeSize) * 2, Qt::Uninitialized);
        QRandomGenerator gen(7);
        gen.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        testsupport::writeFile(folder + u"/Person.DB"_s, noise);
        const QString appFolder = qEnvironmentVariable("ZORU_PROGRAM_DIR");
        const QString label = u"000012_20260301090000_на ЦРБ"_s;
        QCOMPARE(PackFolder(appFolder, folder, label, u"wst12.w2s"_s), 0);
        const QString first = dir.filePath(u"wst12.w2s"_s);

        const TImportPackageInfo info = ReadPackageInfo(appFolder, first);
        QCOMPARE(info.Volumes,
                 (QStringList{first, dir.filePath(u"wst12.w00"_s), dir.filePath(u"wst12.w01"_s)}));
        QCryptographicHash hash(QCryptographicHash::Sha256);
        qint64 size = 0;
        for (const QString &v : info.Volumes) {
            const QByteArray bytes = testsupport::readFile(v);
            hash.addData(bytes);
            size += bytes.size();
        }
        QCOMPARE(info.Sha256, QString::fromLatin1(hash.result().toHex()));
        QCOMPARE(info.Size, size);
        QCOMPARE(info.FileName, u"wst12.w2s"_s);
        QCOMPARE(info.Label, label);
        QCOMPARE(info.WstGID, QVariant(12));

        QFile::remove(info.Volumes.at(1)); // a gap ends the set
        QCOMPARE(VolumeSet(first), QStringList{first});
        QVERIFY_THROWS_EXCEPTION(EFileError, ReadPackageInfo(appFolder, dir.filePath(u"x.w2s"_s)));
    }

    // Volume sets by name, and what a batch takes from a folder: the first volume of each set,
    // never a further one, oldest first ("name@minutes" gives a file's age), nothing else.
    void volumeNames_data()
    {
        QTest::addColumn<QString>("files");
        QTest::addColumn<QString>("volumes"); // of the first file
        QTest::addColumn<QString>("batch");
        // clang-format off
        QTest::newRow("letter") << "a.w2s a.w00 a.w01 a.w03 ab.w00" << "a.w2s a.w00 a.w01" << "a.w2s";
        QTest::newRow("part") << "b.part1.w2s b.part2.w2s b.part3.w2s" << "b.part1.w2s b.part2.w2s b.part3.w2s" << "b.part1.w2s";
        QTest::newRow("part, two digits") << "c.part01.w2s c.part02.w2s c.part2.w2s" << "c.part01.w2s c.part02.w2s" << "c.part01.w2s";
        QTest::newRow("batch") << "late.w2s@30 early.w2s@10 early.w00@11 set.part1.w2s@20 set.part2.w2s@1 same-b.w2s@25 "
                                  "same-a.w2s@25 notes.txt UPPER.W2S@40"
                               << "late.w2s" << "early.w2s set.part1.w2s same-a.w2s same-b.w2s late.w2s UPPER.W2S";
        // clang-format on
    }
    void volumeNames()
    {
        QFETCH(QString, files);
        QFETCH(QString, volumes);
        QFETCH(QString, batch);
        QTemporaryDir dir;
        QDir(dir.path()).mkdir(u"folder.w2s"_s);
        const auto names = [](const QStringList &paths) {
            QStringList out;
            for (const QString &p : paths)
                out << QFileInfo(p).fileName();
            return out.join(u' ');
        };
        QStringList paths;
        for (const QString &f : files.split(u' ')) {
            paths << dir.filePath(f.section(u'@', 0, 0));
            testsupport::writeFile(paths.last(), "x");
            QFile file(paths.last());
            const QDateTime age = kStart.addSecs(60 * f.section(u'@', 1).toInt());
            QVERIFY(file.open(QIODevice::ReadWrite) &&
                    file.setFileTime(age, QFileDevice::FileModificationTime));
        }
        QCOMPARE(names(VolumeSet(paths.first())), volumes);
        QCOMPARE(names(ImportBatchPackages(dir.path())), batch);
    }

    void workstationOfLabel_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QVariant>("wst");
        QTest::newRow("export form") << u"000012_20050601093000_на ЦРБ"_s << QVariant(12);
        QTest::newRow("no number") << u"ЦРБ_12"_s << QVariant();
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
