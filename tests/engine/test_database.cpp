#include "core/errors.h"
#include "engine/database.h"
#include "engine/databaselock.h"
#include "engine/fieldtypes.h"
#include "engine/transaction.h"
#include "testsupport.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <atomic>

namespace {

// Scripted answers of the log-in prompt, recording what it was offered.
struct LoginScript
{
    struct Answer
    {
        bool ok;
        QString password;
    };
    QList<Answer> answers;
    QStringList offeredUsers;
    QStringList databases;

    void install()
    {
        TDatabase::SetLoginHandler([this](const QString &db, QString &user, QString &password) {
            databases << db;
            offeredUsers << user;
            if (answers.isEmpty())
                return false;
            const Answer a = answers.takeFirst();
            password = a.password;
            return a.ok;
        });
    }
    ~LoginScript() { TDatabase::SetLoginHandler({}); }
};

QString makeSqliteFile(const QTemporaryDir &dir)
{
    const QString file = dir.filePath(QStringLiteral("центр.db"));
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("setup"));
        db.setDatabaseName(file);
        db.open();
        QSqlQuery(db).exec(
            QStringLiteral("CREATE TABLE T (ID INTEGER PRIMARY KEY, NAME VARCHAR(20))"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("setup"));
    return file;
}

int countRows(TDatabase &db)
{
    QSqlQuery q(db.Sql());
    q.exec(QStringLiteral("SELECT COUNT(*) FROM T"));
    q.next();
    return q.value(0).toInt();
}

} // namespace

class TestDatabase : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    // The stored times below are Omsk's (a day on which it skipped an hour).
    std::optional<testsupport::ScopedTimeZone> m_zone;

private Q_SLOTS:
    void initTestCase() { m_zone.emplace("Asia/Omsk"); }
    void cleanupTestCase() { m_zone.reset(); }

    void openFailures_data()
    {
        QTest::addColumn<QString>("driver");
        QTest::addColumn<QStringList>("params");
        QTest::newRow("sqlite file missing")
            << "SQLITE" << QStringList{QStringLiteral("DATABASE NAME=/no/such/file.db")};
        QTest::newRow("paradox folder missing")
            << "PARADOX" << QStringList{QStringLiteral("PATH=/no/such/folder/")};
        QTest::newRow("unknown driver") << "ORACLE" << QStringList{};
    }
    void openFailures()
    {
        QFETCH(QString, driver);
        QFETCH(QStringList, params);
        TAliasStore store;
        store.AddAlias(QStringLiteral("A"), driver, params);
        TDatabase db(QStringLiteral("KZCenter"), &store);
        db.AliasName = QStringLiteral("A");
        db.LoginPrompt = false;
        QVERIFY_THROWS_EXCEPTION(EDBEngineError, db.Open());
        QVERIFY(!db.Connected());
    }

    // A local date-time is bound as the same text the SQLite driver would write for it.
    void timestampBinding_data()
    {
        QTest::addColumn<QDateTime>("value");
        QTest::addColumn<bool>("asText");
        QTest::newRow("with ms") << QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58, 7)) << true;
        QTest::newRow("midnight") << QDateTime(QDate(1, 1, 1), QTime(0, 0)) << true;
        QTest::newRow("last year") << QDateTime(QDate(9999, 12, 31), QTime(1, 2, 3)) << true;
        QTest::newRow("beyond 9999") << QDateTime(QDate(10000, 1, 1), QTime(0, 0)) << false;
        QTest::newRow("UTC") << QDateTime(QDate(2024, 1, 1), QTime(12, 0), Qt::UTC) << false;
    }

    void timestampBinding()
    {
        QFETCH(QDateTime, value);
        QFETCH(bool, asText);
        const QString name = QStringLiteral("timestampBinding");
        const QSqlDatabase db = QSqlDatabase::contains(name)
                                    ? QSqlDatabase::database(name, false)
                                    : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        const QVariant bound = BindableValue(value, db.driver());
        QCOMPARE(bound.typeId() == QMetaType::QString, asText);
        QCOMPARE(bound.toString(), value.toString(Qt::ISODateWithMs));
    }

    // What a database gives for a timestamp column (a text from SQLite, a date-time from Qt's
    // driver for PostgreSQL) as the engine reads it: a text as Qt's own parser reads it, and a
    // text that names no day is not taken for one.
    void storedTimesReadBack_data()
    {
        QTest::addColumn<QVariant>("stored");
        // Where not given: as Qt's parser reads the text.
        QTest::addColumn<QDateTime>("expected");
        auto text = [](const char *t) { return QVariant(QString::fromLatin1(t)); };
        QTest::newRow("with ms") << text("2024-02-29T13:45:06.789") << QDateTime();
        QTest::newRow("seconds") << text("1950-12-31T23:59:59") << QDateTime();
        QTest::newRow("space") << text("2024-02-29 13:45:06") << QDateTime();
        QTest::newRow("date") << text("0001-01-01") << QDateTime();
        QTest::newRow("no such day") << text("2023-02-29T00:00:00.000") << QDateTime();
        QTest::newRow("no such month") << text("2024-13-01") << QDateTime();
        // Omsk skipped 02:00-03:00 that day: the fields come back whole, as UTC.
        const QDateTime skipped(QDate(2010, 3, 28), QTime(2, 30), Qt::UTC);
        QTest::newRow("skipped hour, text") << text("2010-03-28T02:30:00.000") << skipped;
        QTest::newRow("skipped hour, driver")
            << QVariant(QDateTime(QDate(2010, 3, 28), QTime(2, 30))) << skipped;
    }

    void storedTimesReadBack()
    {
        QFETCH(QVariant, stored);
        QFETCH(QDateTime, expected);
        // The skipped hour is Omsk's, the zone of the whole test (initTestCase).
        if (expected.timeSpec() == Qt::UTC && QDateTime(QDate(2010, 3, 28), QTime(2, 30)).isValid())
            QSKIP("no time-zone data for Asia/Omsk");
        const QString text = stored.toString();
        if (!expected.isValid())
            expected = QDateTime::fromString(text, Qt::ISODateWithMs);
        if (!expected.isValid())
            expected = QDateTime::fromString(text, Qt::ISODate);
        QVariant read;
        try {
            read = engine::ConvertValue(stored, TFieldType::ftDateTime, 0, QStringLiteral("F"));
        } catch (const EDatabaseError &) {
        }
        QCOMPARE(read.toDateTime(), expected);
        QCOMPARE(read.toDateTime().timeSpec(), expected.timeSpec());
    }

    void unknownAlias()
    {
        TAliasStore store;
        TDatabase db(QStringLiteral("KZCenter"), &store);
        db.AliasName = QStringLiteral("NOPE");
        QVERIFY_THROWS_EXCEPTION(EDBEngineError, db.Open());
    }

    // SQLite checks no password; the prompt is still offered with the configured user name.
    void sqlitePromptAndTransactions()
    {
        const QString file = makeSqliteFile(m_dir);
        TAliasStore store;
        store.AddAlias(QStringLiteral("KZ"), QStringLiteral("SQLITE"),
                       {QStringLiteral("DATABASE NAME=") + file});
        LoginScript login;
        login.answers = {{true, QStringLiteral("anything")}};
        login.install();

        TDatabase db(QStringLiteral("KZCenter"), &store);
        db.AliasName = QStringLiteral("kz");
        db.Params = {QStringLiteral("USER NAME=Иванов")};
        db.Open();
        QVERIFY(db.Connected());
        QCOMPARE(login.offeredUsers, QStringList{QStringLiteral("Иванов")});
        QCOMPARE(login.databases, QStringList{QStringLiteral("KZCenter")});

        db.StartTransaction();
        QSqlQuery(db.Sql()).exec(QStringLiteral("INSERT INTO T VALUES (1, 'a')"));
        db.Rollback();
        QCOMPARE(countRows(db), 0);
        db.StartTransaction();
        QSqlQuery(db.Sql()).exec(QStringLiteral("INSERT INTO T VALUES (1, 'a')"));
        db.Commit();
        QCOMPARE(countRows(db), 1);
        QVERIFY_THROWS_EXCEPTION(EDBEngineError, db.Commit());
    }

    void cancelledPromptIsNotAnEngineError()
    {
        const QString file = makeSqliteFile(m_dir);
        TAliasStore store;
        store.AddAlias(QStringLiteral("KZ"), QStringLiteral("SQLITE"),
                       {QStringLiteral("DATABASE NAME=") + file});
        LoginScript login;
        login.answers = {{false, {}}};
        login.install();
        TDatabase db(QStringLiteral("KZCenter"), &store);
        db.AliasName = QStringLiteral("KZ");
        try {
            db.Open();
            QFAIL("opened although the prompt was cancelled");
        } catch (const EDBEngineError &) {
            QFAIL("a cancelled prompt must not look like an engine error");
        } catch (const EDatabaseError &) {
        }
        QVERIFY(!db.Connected());
    }

    void readOnlyRefusesWrites()
    {
        const QString file = makeSqliteFile(m_dir);
        TAliasStore store;
        store.AddAlias(QStringLiteral("KZ"), QStringLiteral("SQLITE"),
                       {QStringLiteral("DATABASE NAME=") + file});
        TDatabase db(QStringLiteral("ImportFromWst"), &store);
        db.AliasName = QStringLiteral("KZ");
        db.LoginPrompt = false;
        db.ReadOnly = true;
        db.Open();
        QSqlQuery q(db.Sql());
        QVERIFY(!q.exec(QStringLiteral("INSERT INTO T VALUES (2, 'b')")));
    }

    // Each backend's driver answers for its database: a server aborts a transaction on a refusal
    // and reads one picture in a snapshot transaction; a lock keeps a second connection out
    // (a lock file, an advisory lock) until it is given back; a folder locks nobody out.
    void backendAnswers_data()
    {
        QTest::addColumn<QString>("driver");
        QTest::addColumn<bool>("server");
        QTest::addColumn<bool>("locks");
        QTest::newRow("sqlite") << "SQLITE" << false << true;
        QTest::newRow("postgresql") << "POSTGRESQL" << true << true;
        QTest::newRow("paradox") << "PARADOX" << false << false;
    }
    void backendAnswers()
    {
        QFETCH(QString, driver);
        QFETCH(bool, server);
        QFETCH(bool, locks);
        TAliasStore store;
        TDatabase db(QStringLiteral("KZCenter"), &store);
        db.AliasName = QStringLiteral("A");
        db.LoginPrompt = false;
        if (driver == QLatin1String("POSTGRESQL")) {
            ZORU_REQUIRE_PG_OR_SKIP(pg);
            store.AddAlias(QStringLiteral("A"), driver,
                           {QStringLiteral("SERVER NAME=") + pg.host,
                            QStringLiteral("PORT=%1").arg(pg.port),
                            QStringLiteral("DATABASE NAME=") + pg.database});
            db.Params = {QStringLiteral("USER NAME=") + pg.user,
                         QStringLiteral("PASSWORD=") + pg.password};
        } else {
            store.AddAlias(
                QStringLiteral("A"), driver,
                {(driver == QLatin1String("SQLITE") ? QStringLiteral("DATABASE NAME=")
                                                    : QStringLiteral("PATH=")) +
                 (driver == QLatin1String("SQLITE") ? makeSqliteFile(m_dir) : m_dir.path())});
        }
        db.Open();
        QCOMPARE(db.IsServer(), server);
        QCOMPARE(db.RefusalAbortsTransaction(), server);
        {
            TReadSnapshot snapshot(db);
            QCOMPARE(db.InTransaction(), server);
            snapshot.End();
        }
        QVERIFY(!db.InTransaction());

        const qint64 key = 7300421;
        const QString suffix = QStringLiteral(".test.lock");
        std::unique_ptr<TDatabaseLock> held = TDatabaseLock::TryAcquire(db, {key, suffix, {}});
        QVERIFY(held);
        std::unique_ptr<TDatabase> other = db.CloneForThread();
        other->Open();
        QCOMPARE(TDatabaseLock::TryAcquire(*other, {key, suffix, {}}) == nullptr, locks);
        held.reset();
        QVERIFY(TDatabaseLock::TryAcquire(*other, {key, suffix, {}}));

        // A commit the database refuses ends the transaction: its work is gone and the next
        // transaction begins as on a fresh connection.
        if (driver == QLatin1String("PARADOX"))
            return;
        const auto exec = [&](const char *sql) {
            QSqlQuery q(db.Sql());
            QVERIFY2(q.exec(QString::fromLatin1(sql)), qPrintable(q.lastError().text()));
        };
        if (!server)
            exec("PRAGMA foreign_keys = ON"); // SQLite checks no reference without it
        exec("CREATE TEMP TABLE P (ID INTEGER PRIMARY KEY)");
        exec("CREATE TEMP TABLE C (PID INTEGER REFERENCES P (ID) DEFERRABLE INITIALLY DEFERRED)");
        db.StartTransaction();
        exec("INSERT INTO C VALUES (5)");
        // One message, one line: a server's DETAIL line is joined on.
        QString refusal;
        try {
            db.Commit();
        } catch (const EDBEngineError &e) {
            refusal = e.Message();
        }
        QVERIFY2(!refusal.isEmpty() && !refusal.contains(u'\n'), qPrintable(refusal));
        if (server)
            QVERIFY2(
                refusal.contains(QRegularExpression(QStringLiteral("; (DETAIL|ПОДРОБНОСТИ):"))),
                qPrintable(refusal));
        QVERIFY(!db.InTransaction());
        db.StartTransaction();
        exec("INSERT INTO P VALUES (1)");
        db.Commit();
        QSqlQuery q(db.Sql());
        QVERIFY(
            q.exec(QStringLiteral("SELECT (SELECT COUNT(*) FROM P), (SELECT COUNT(*) FROM C)")));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toInt(), 1);
        QCOMPARE(q.value(1).toInt(), 0);
    }

    // An SQLite database's lock file locks only while its holder lives: a file left over by a
    // process killed at any moment (empty, or naming a dead process) locks nothing; a lock file
    // that cannot be made is named in the error.
    void lockFileOutlivesNoProcess_data()
    {
        QTest::addColumn<QByteArray>("leftOver"); // "dir": a folder where the file belongs
        QTest::newRow("none") << QByteArray();
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("a dead process's") << QByteArray("2147483646\nelsewhere\nzoru-admin\n");
        QTest::newRow("cannot be made") << QByteArray("dir");
    }
    void lockFileOutlivesNoProcess()
    {
        QFETCH(QByteArray, leftOver);
        TAliasStore store;
        const QString file = makeSqliteFile(m_dir);
        store.AddAlias(QStringLiteral("A"), QStringLiteral("SQLITE"),
                       {QStringLiteral("DATABASE NAME=") + file});
        TDatabase db(QStringLiteral("KZCenter"), &store);
        db.AliasName = QStringLiteral("A");
        db.LoginPrompt = false;
        db.Open();
        const QString lockPath = file + QStringLiteral(".import.lock");
        if (leftOver == "dir")
            QVERIFY(QDir().mkpath(lockPath));
        else if (!leftOver.isNull())
            testsupport::writeFile(lockPath, leftOver);
        if (leftOver == "dir") {
            try {
                TDatabaseLock::TryAcquire(db, {1, QStringLiteral(".import.lock"), {}});
                QFAIL("a lock without its file");
            } catch (const EFileError &e) {
                QVERIFY2(e.Message().contains(QDir::toNativeSeparators(lockPath)),
                         qPrintable(e.Message()));
            }
            QDir(lockPath).removeRecursively();
            return;
        }
        std::unique_ptr<TDatabaseLock> held =
            TDatabaseLock::TryAcquire(db, {1, QStringLiteral(".import.lock"), {}});
        QVERIFY(held);
        QVERIFY(!TDatabaseLock::TryAcquire(db, {1, QStringLiteral(".import.lock"), {}}));
        held.reset();
        QVERIFY(!QFileInfo::exists(lockPath));
    }

    // Two writers of one SQLite file take turns: a transaction holds the write lock from its
    // beginning, so that one that read before another's commit still writes; a writer that
    // finds the file busy waits up to its limit in the open, the wait told once and ended by a
    // stop; what ends a wait is never a refusal.
    void busyDatabase_data()
    {
        QTest::addColumn<QString>("other"); // what the other connection does meanwhile
        QTest::addColumn<QString>("error"); // of this connection's work; empty: it succeeds
        QTest::newRow("commits within the wait") << "commit" << QString();
        QTest::newRow("commits between read and write") << "between" << QString();
        QTest::newRow("holds past the limit") << "hold" << BusyTimeoutMessage(2);
        QTest::newRow("holds, the wait stopped")
            << "stop" << QStringLiteral("Прервано пользователем");
    }
    void busyDatabase()
    {
        QFETCH(QString, other);
        QFETCH(QString, error);
        TAliasStore store;
        const QTemporaryDir dir;
        const QString file = makeSqliteFile(dir);
        store.AddAlias(QStringLiteral("A"), QStringLiteral("SQLITE"),
                       {QStringLiteral("DATABASE NAME=") + file});
        const auto open = [&](TDatabase &db) {
            db.AliasName = QStringLiteral("A");
            db.LoginPrompt = false;
            db.Open();
        };
        TDatabase self(QStringLiteral("Self"), &store);
        std::atomic_int told{0};
        std::atomic_bool stop{false};
        TBusyWait wait;
        wait.Seconds = 2;
        wait.Waiting = [&] { ++told; };
        wait.Stopped = [&] { return stop.load(); };
        self.SetBusyWait(wait);
        open(self);
        const auto insert = [](TDatabase &db, int id) {
            QSqlQuery q(db.Sql());
            if (!q.exec(QStringLiteral("INSERT INTO T (ID, NAME) VALUES (%1, 'x')").arg(id)))
                throw EDBEngineError(engineMessage(q.lastError(), q.driver()));
        };
        // The other writer works on a thread of its own, on its own connection.
        std::atomic_bool holding{false};
        QString otherError;
        std::unique_ptr<QThread> thread(QThread::create([&] {
            try {
                TDatabase db(QStringLiteral("Other"), &store);
                open(db);
                if (other == QLatin1String("between")) {
                    // Waits for this connection's transaction, then writes.
                    insert(db, 2);
                    return;
                }
                db.StartTransaction();
                insert(db, 2);
                holding = true;
                QThread::msleep(other == QLatin1String("commit") ? 1600 : 3000);
                db.Commit();
            } catch (const Exception &e) {
                otherError = e.Message();
            }
        }));
        QString got;
        try {
            if (other == QLatin1String("between")) {
                self.StartTransaction();
                QCOMPARE(countRows(self), 0);
                thread->start();
                QThread::msleep(300);
                insert(self, 1);
                self.Commit();
            } else {
                thread->start();
                QTRY_VERIFY(holding.load());
                if (other == QLatin1String("stop"))
                    stop = true;
                self.StartTransaction();
                insert(self, 1);
                self.Commit();
            }
        } catch (const EDBEngineError &e) {
            got = e.Message();
            QVERIFY(!self.IsRefusal(got));
        }
        thread->wait();
        QCOMPARE(otherError, QString());
        QCOMPARE(got, error);
        QCOMPARE(countRows(self), error.isEmpty() ? 2 : 1);
        // A wait that lasted a moment was told once; a stopped one ended at once.
        QCOMPARE(told.load(),
                 other == QLatin1String("commit") || other == QLatin1String("hold") ? 1 : 0);
    }

    // PostgreSQL checks the password: a wrong one is an engine error, the right one connects,
    // and a job's connection on another thread reuses the credentials without asking.
    void postgresLogin()
    {
        ZORU_REQUIRE_PG_OR_SKIP(pg);
        TAliasStore store;
        store.SetConfigMode(TAliasStore::ConfigMode::RunOnly);
        store.AddAlias(QStringLiteral("PG"), QStringLiteral("POSTGRESQL"),
                       {QStringLiteral("SERVER NAME=") + pg.host,
                        QStringLiteral("PORT=%1").arg(pg.port),
                        QStringLiteral("DATABASE NAME=") + pg.database});
        LoginScript login;
        login.answers = {{true, QStringLiteral("wrong")}, {true, pg.password}};
        login.install();

        TDatabase db(QStringLiteral("KZCenter"), &store);
        db.AliasName = QStringLiteral("PG");
        db.Params = {QStringLiteral("USER NAME=") + pg.user};
        db.Exclusive = true;
        // The server's own refusal: a connection never made was not lost.
        try {
            db.Open();
            QFAIL("a wrong password connected");
        } catch (const EDBEngineError &e) {
            QVERIFY2(e.Message().contains(QLatin1String("password")) &&
                         !IsConnectionLost(e.Message()),
                     qPrintable(e.Message()));
        }
        QVERIFY(!db.Connected());
        db.Open();
        QVERIFY(db.Connected());
        QCOMPARE(login.offeredUsers, (QStringList{pg.user, pg.user}));

        bool workerOk = false;
        QString workerError;
        std::unique_ptr<TDatabase> clone = db.CloneForThread();
        std::unique_ptr<QThread> worker(QThread::create([&] {
            try {
                clone->Open();
                QSqlQuery q(clone->Sql());
                workerOk =
                    q.exec(QStringLiteral("SELECT 1")) && q.next() && q.value(0).toInt() == 1;
                clone->Close();
            } catch (const Exception &e) {
                workerError = e.Message();
            }
        }));
        worker->start();
        worker->wait();
        QVERIFY2(workerOk, qPrintable(workerError));
        QCOMPARE(login.offeredUsers.size(), 2); // no prompt for the job's connection
    }
};

QTEST_GUILESS_MAIN(TestDatabase)
#include "test_database.moc"
