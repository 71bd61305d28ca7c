// The frame of every job: its log file, its gauge, the copy of rows between datasets.

#include "core/appinfo.h"
#include "core/clock.h"
#include "core/cp1251.h"
#include "core/strconst.h"
#include "engine/database.h"
#include "engine/memtable.h"
#include "engine/table.h"
#include "scriptedjob.h"
#include "testsupport.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <stop_token>

namespace {

// A window that remembers what it was shown.
class RecordingWindow : public TJobWindow
{
public:
    void PrepareForJob(std::stop_source) override {}
    void SetCaption(const QString &) override {}
    void ClearMessages() override {}
    void AddMessage(const QString &line) override { lines << line; }
    void SetGauge(int percent) override { gauge << percent; }
    void JobFinished(int) override {}
    QStringList lines;
    QList<int> gauge;
};

} // namespace

class TestJobFrame : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<TAppInfo> m_info;
    TAliasStore m_aliases;

    QString logPath() const { return m_info->AppFolder() + StrConst::LogFileName; }

private Q_SLOTS:
    void initTestCase()
    {
        testsupport::writeFile(m_dir.filePath(QStringLiteral("zoru-admin.ini")),
                               QByteArray("[Settings]\r\nIsServer=1\r\n"));
        m_info =
            std::make_unique<TAppInfo>(m_dir.filePath(QStringLiteral("zoru-admin")), m_aliases);
        AppInfo = m_info.get();
    }
    void cleanupTestCase() { AppInfo = nullptr; }

    void logFileAppendsInCp1251()
    {
        QFile::remove(logPath());
        testsupport::writeFile(logPath(), QByteArray("старое")); // bytes of an earlier run
        const TFixedClock clock(QDateTime(QDate(2026, 1, 15), QTime(10, 0, 5)));
        QByteArray whileRunning;
        const int code = runInConsole(([&](ScriptedJob &job) {
            job.Log(QStringLiteral("Проверка журнала"));
            // A server's error with its detail and hint: one message, one line.
            job.Log(QStringLiteral("ОШИБКА:  повторяющееся значение ключа\nDETAIL:  Ключ "
                                   "(IDMU)=(7) уже существует.\r\nHINT:  см. ЕСВС\n"));
            job.Log(QString());
            // Flushed at once: visible to a reader while the job still runs.
            whileRunning = testsupport::readFile(logPath());
        }));
        QCOMPARE(code, 1);
        const QByteArray expectedLine = cp1251::encode(QStringLiteral("> Проверка журнала\r\n"));
        QVERIFY(whileRunning.startsWith(QByteArray("старое\r\n\r\n")));
        QVERIFY(whileRunning.contains(expectedLine));
        QVERIFY(whileRunning.contains(cp1251::encode(
            QStringLiteral("> ОШИБКА:  повторяющееся значение ключа; DETAIL:  Ключ (IDMU)=(7) уже "
                           "существует.; HINT:  см. ЕСВС\r\n"))));
        QVERIFY(whileRunning.endsWith(QByteArray("> \r\n")));
        const QByteArray all = testsupport::readFile(logPath());
        QVERIFY(all.endsWith(cp1251::encode(QStringLiteral("> Задание завершено\r\n"))));
        // Every line starts with the local date and time.
        const QList<QByteArray> lines = all.mid(QByteArray("старое\r\n\r\n").size()).split('\n');
        for (const QByteArray &line : lines)
            QVERIFY2(line.isEmpty() || line.startsWith("15.01.2026 10:00:05> "), line.constData());
    }

    void logFileCreatedWithoutBlankLines()
    {
        QFile::remove(logPath());
        QCOMPARE(runInConsole(([](ScriptedJob &job) { job.Log(QStringLiteral("первая")); })), 1);
        const QByteArray all = testsupport::readFile(logPath());
        QVERIFY(!all.startsWith("\r\n"));
        QVERIFY(all.contains(cp1251::encode(QStringLiteral("> первая\r\n"))));
    }

    void progressPercent_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("percent");
        QTest::newRow("start") << 0 << 100 << 0;
        QTest::newRow("integer division") << 2 << 3 << 66;
        QTest::newRow("total zero") << 0 << 0 << 100;
        QTest::newRow("total zero, position moved") << 7 << 0 << 100;
        QTest::newRow("large") << 1500000 << 2000000 << 75;
    }
    void progressPercent()
    {
        QFETCH(int, position);
        QFETCH(int, total);
        QFETCH(int, percent);
        TConsoleJobWindow window;
        ScriptedJob job(TJobContext{window, {}}, {});
        job.Position = position;
        job.Total = total;
        QCOMPARE(job.ProgressPercent(), percent);
    }

    // The caller's filter applies only to a source with a LastUpdate column (in any case).
    void copyRecordsLastUpdateRule_data()
    {
        QTest::addColumn<QString>("dateColumn");
        QTest::addColumn<int>("copied");
        QTest::newRow("LastUpdate") << "LastUpdate" << 2;
        QTest::newRow("LASTUPDATE") << "LASTUPDATE" << 2;
        QTest::newRow("lastupdate") << "lastupdate" << 2;
        QTest::newRow("no such column") << "CrDate" << 3;
    }
    void copyRecordsLastUpdateRule()
    {
        QFETCH(QString, dateColumn);
        QFETCH(int, copied);
        TMemoryTable source;
        source.AddFieldDef(QStringLiteral("CityLID"), TFieldType::ftInteger);
        source.AddFieldDef(QStringLiteral("CityName"), TFieldType::ftString, 50);
        source.AddFieldDef(dateColumn, TFieldType::ftDateTime);
        source.Open();
        const QDateTime t(QDate(2005, 6, 1), QTime(9, 30));
        source.AppendRecord({1, QStringLiteral("Омск"), t});
        source.AppendRecord({2, QStringLiteral("Тара"), t});
        source.AppendRecord({3, QStringLiteral("Омутинск"), t});
        source.Close();
        source.SetFilter(QStringLiteral("CityName = 'ом*'"));
        source.SetFilterOptions(TFilterOption::foCaseInsensitive);
        source.SetFiltered(true);

        TMemoryTable dest;
        dest.AddFieldDef(QStringLiteral("CityLID"), TFieldType::ftInteger);
        dest.AddFieldDef(QStringLiteral("CityName"), TFieldType::ftString, 50);
        dest.AddFieldDef(QStringLiteral("Stamp"), TFieldType::ftDateTime);

        int result = -1;
        QCOMPARE(
            runInConsole(([&](ScriptedJob &job) { result = job.CopyRecords(source, dest, {}); })),
            1);
        QCOMPARE(result, copied);
        QVERIFY(!source.Active());
        QVERIFY(!dest.Active());
        dest.Open();
        QCOMPARE(dest.RecordCount(), copied);
        dest.First();
        QCOMPARE(dest.FieldByName(QStringLiteral("Stamp"))->AsDateTime(), t);
    }

    void copyRecordsEmptySource()
    {
        TMemoryTable source;
        source.AddFieldDef(QStringLiteral("A"), TFieldType::ftInteger);
        TMemoryTable dest;
        dest.AddFieldDef(QStringLiteral("A"), TFieldType::ftInteger);
        int result = -1;
        RecordingWindow window;
        QCOMPARE(RunJob(window, scripted([&](ScriptedJob &job) {
                            job.Position = 77;
                            job.UpdateGauge();
                            result = job.CopyRecords(source, dest, QStringLiteral("A"));
                        })),
                 1);
        QCOMPARE(result, 0);
        // The gauge was last set by the copy's start, to 0 %.
        QCOMPARE(window.gauge.mid(window.gauge.size() - 2), (QList<int>{77, 0}));
        QVERIFY(!source.Active());
        QVERIFY(!dest.Active());
    }

    void copyRecordsFewerSourceColumnsFails()
    {
        TMemoryTable source;
        source.AddFieldDef(QStringLiteral("A"), TFieldType::ftInteger);
        source.Open();
        source.AppendRecord({1});
        source.Close();
        TMemoryTable dest;
        dest.AddFieldDef(QStringLiteral("A"), TFieldType::ftInteger);
        dest.AddFieldDef(QStringLiteral("B"), TFieldType::ftInteger);
        QCOMPARE(runInConsole(([&](ScriptedJob &job) { job.CopyRecords(source, dest, {}); })), 2);
        QVERIFY(!source.Active());
        QVERIFY(!dest.Active());
    }

    // Cancelling stops after the row being written: that row is posted, no further one.
    void copyRecordsCancelAfterPostedRow()
    {
        TMemoryTable source;
        source.AddFieldDef(QStringLiteral("A"), TFieldType::ftInteger);
        source.Open();
        for (int i = 1; i <= 50; ++i)
            source.AppendRecord({i});
        source.Close();
        TMemoryTable dest;
        dest.AddFieldDef(QStringLiteral("A"), TFieldType::ftInteger);
        // On the test's own thread: the stop is requested while the third row is posted.
        RecordingWindow window;
        std::stop_source stop;
        int posted = 0;
        dest.AfterPost = [&](TDataSet &) {
            if (++posted == 3)
                stop.request_stop();
        };
        ScriptedJob job(TJobContext{window, stop.get_token()},
                        [&](ScriptedJob &j) { j.CopyRecords(source, dest, {}); });
        QCOMPARE(job.Run(), 2);
        QCOMPARE(job.Outcome().End, TJobOutcome::Cancelled);
        QCOMPARE(job.Outcome().Error, StrConst::Interrupted);
        dest.Open();
        QCOMPARE(dest.RecordCount(), 3);
        QVERIFY(!source.Active());
    }

    // Copy by name: the listed destination columns (any case) from the source columns of the
    // same name; other destination columns stay as they are; a name missing on either side
    // ends the job before any row is written.
    void copyRecordsByName_data()
    {
        QTest::addColumn<QString>("fields"); // comma-separated
        QTest::addColumn<QString>("keyFields");
        QTest::addColumn<QString>("rows");    // ID|A|B of the destination after the copy, by ";"
        QTest::addColumn<QString>("failure"); // last line when the job fails
        QTest::newRow("appended by name")
            << "b,A" << QString() << "7|1|старое;<null>|1|один;<null>|2|два" << QString();
        QTest::newRow("updated by key, identifier kept")
            << "B"
            << "A"
            << "7|1|один;<null>|<null>|два" << QString();
        QTest::newRow("missing in destination") << "A,Z" << QString() << "7|1|старое"
                                                << "ОШИБКА!!! В таблице mtDest нет поля Z";
        QTest::newRow("missing in source") << "ID" << QString() << "7|1|старое"
                                           << "ОШИБКА!!! В источнике данных mtSource нет поля ID";
    }
    void copyRecordsByName()
    {
        QFETCH(QString, fields);
        QFETCH(QString, keyFields);
        QFETCH(QString, rows);
        QFETCH(QString, failure);
        TMemoryTable source;
        source.Name = QStringLiteral("mtSource");
        source.AddFieldDef(QStringLiteral("B"), TFieldType::ftString, 10);
        source.AddFieldDef(QStringLiteral("C"), TFieldType::ftInteger);
        source.AddFieldDef(QStringLiteral("A"), TFieldType::ftInteger);
        source.Open();
        source.AppendRecord({QStringLiteral("один"), 100, 1});
        source.AppendRecord({QStringLiteral("два"), 200, 2});
        source.Close();
        TMemoryTable dest;
        dest.Name = QStringLiteral("mtDest");
        dest.AddFieldDef(QStringLiteral("ID"), TFieldType::ftInteger);
        dest.AddFieldDef(QStringLiteral("A"), TFieldType::ftInteger);
        dest.AddFieldDef(QStringLiteral("B"), TFieldType::ftString, 10);
        dest.Open();
        dest.AppendRecord({7, 1, QStringLiteral("старое")});
        dest.Close();

        RecordingWindow window;
        const int code =
            RunJob(window, scripted([&](ScriptedJob &job) {
                       job.CopyRecords(source, dest, keyFields, fields.split(QLatin1Char(',')));
                   }));
        QCOMPARE(code, failure.isEmpty() ? 1 : 2);
        if (!failure.isEmpty())
            QCOMPARE(window.lines.last(), failure);
        QStringList seen;
        dest.ScanRows([&](const QVariantList &row) {
            QStringList cells;
            for (const QVariant &v : row.mid(0, 3))
                cells << (v.isValid() ? v.toString() : QStringLiteral("<null>"));
            seen << cells.join(QLatin1Char('|'));
            return true;
        });
        QCOMPARE(seen.join(QLatin1Char(';')), rows);
    }

    // A destination row whose key differs only in letter case is updated, not duplicated; on
    // both database backends.
    void copyRecordsKeyedUpdate_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << "SQLITE";
        QTest::newRow("postgresql") << "POSTGRESQL";
    }
    void copyRecordsKeyedUpdate()
    {
        QFETCH(QString, backend);
        TAliasStore store;
        QString pgDatabase;
        std::optional<testsupport::PgServer> pg;
        if (backend == QLatin1String("SQLITE")) {
            const QString file = m_dir.filePath(QStringLiteral("copy.db"));
            QFile::remove(file);
            QFile(file).open(QIODevice::WriteOnly);
            store.AddAlias(QStringLiteral("DEST"), backend,
                           {QStringLiteral("DATABASE NAME=") + file});
        } else {
            ZORU_REQUIRE_PG_OR_SKIP(server);
            pg = server;
            pgDatabase = testsupport::createPgDatabase(server, QStringLiteral("zoru_copy"));
            store.AddAlias(QStringLiteral("DEST"), backend,
                           {QStringLiteral("SERVER NAME=") + server.host,
                            QStringLiteral("PORT=%1").arg(server.port),
                            QStringLiteral("DATABASE NAME=") + pgDatabase});
        }

        TMemoryTable source;
        source.AddFieldDef(QStringLiteral("POSNAME"), TFieldType::ftString, 50);
        source.AddFieldDef(QStringLiteral("POSCODE"), TFieldType::ftInteger);
        source.Open();
        source.AppendRecord({QStringLiteral("ВРАЧ"), 2});
        source.AppendRecord({QStringLiteral("Фельдшер"), 3});
        source.Close();

        QStringList names;
        QList<int> codes;
        QString failure;
        QCOMPARE(runInConsole(([&](ScriptedJob &job) {
                     TDatabase db(QStringLiteral("Dest"), &store);
                     db.AliasName = QStringLiteral("DEST");
                     db.LoginPrompt = false;
                     if (pg)
                         db.Params = {QStringLiteral("USER NAME=") + pg->user,
                                      QStringLiteral("PASSWORD=") + pg->password};
                     db.Open();
                     QSqlQuery q(db.Sql());
                     q.exec(QStringLiteral(
                         "CREATE TABLE POSTS (POSNAME VARCHAR(50) PRIMARY KEY, POSCODE INTEGER)"));
                     q.exec(QStringLiteral("INSERT INTO POSTS VALUES ('Врач', 1)"));
                     TTable dest(&db, QStringLiteral("POSTS"));
                     job.CopyRecords(source, dest, QStringLiteral("POSNAME"));
                     QSqlQuery r(db.Sql());
                     r.exec(QStringLiteral("SELECT POSNAME, POSCODE FROM POSTS ORDER BY POSCODE"));
                     while (r.next()) {
                         names << r.value(0).toString();
                         codes << r.value(1).toInt();
                     }
                 })),
                 1);
        QCOMPARE(names, (QStringList{QStringLiteral("ВРАЧ"), QStringLiteral("Фельдшер")}));
        QCOMPARE(codes, (QList<int>{2, 3}));
        if (pg)
            testsupport::dropPgDatabase(*pg, pgDatabase);
    }
};

QTEST_MAIN(TestJobFrame)
#include "test_jobframe.moc"
