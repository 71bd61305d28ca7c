// An import killed at random moments (inside a window of rows, inside a registration, while
// unpacking or deleting) must leave the central database in a state from which importing the
// package again gives what a clean import gives: compared by the workstation's keys (local
// identifier and workstation), the natural keys of the dictionaries and the mappings, never by the
// identifiers the centre assigned. Forward references between persons are filled by one more
// import on both sides before the comparison.

#include "core/aliases.h"
#include "core/strconst.h"
#include "engine/database.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>
#include <optional>

namespace {

const QString kBin = qEnvironmentVariable("ZORU_PROGRAM_DIR");

bool copyFolderFiles(const QString &from, const QString &to)
{
    for (const QFileInfo &fi : QDir(from).entryInfoList(QDir::Files)) {
        const QString target = to + QLatin1Char('/') + fi.fileName();
        QFile::remove(target);
        if (!QFile::copy(fi.filePath(), target))
            return false;
    }
    return true;
}

// One demo installation with the program and the archiver beside its ini file.
struct Installation
{
    QString folder;
    QString pgDatabase;

    QString importDir() const { return folder + QStringLiteral("/import"); }

    QProcess *startImport(const QString &package) const
    {
        auto *p = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("ZORU_PASSWORD"),
                   qEnvironmentVariable("ZORU_TEST_PGPASSWORD", QStringLiteral("x")));
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(folder + QStringLiteral("/zoru-admin"),
                 {QStringLiteral("--import"),
                  importDir() + QLatin1Char('/') + QFileInfo(package).fileName(),
                  QStringLiteral("--force")}); // the same package, again and again
        return p;
    }

    // Runs an import to its end; the exit code, or -1 when it did not end normally.
    int import(const QString &package, QString *output = nullptr) const
    {
        std::unique_ptr<QProcess> p(startImport(package));
        p->waitForFinished(120000);
        if (output)
            *output = QString::fromUtf8(p->readAll());
        return p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1;
    }
};

std::optional<Installation> makeInstallation(const QString &folder,
                                             const std::optional<testsupport::PgServer> &pg)
{
    Installation inst{folder, {}};
    QDir().mkpath(folder);
    for (const QString &tool : {QStringLiteral("zoru-admin"), QStringLiteral("zoru-arc")}) {
        if (!QFile::copy(kBin + QLatin1Char('/') + tool, folder + QLatin1Char('/') + tool))
            return std::nullopt;
        QFile::setPermissions(folder + QLatin1Char('/') + tool,
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QStringList args{QStringLiteral("--folder"), folder,
                     QStringLiteral("--scale"),  QStringLiteral("0.01"),
                     QStringLiteral("--seed"),   QStringLiteral("4")};
    if (pg) {
        inst.pgDatabase = testsupport::createPgDatabase(*pg, QStringLiteral("zoru_crash"));
        args << QStringLiteral("--postgres")
             << QStringLiteral("%1:%2:%3").arg(pg->host).arg(pg->port).arg(inst.pgDatabase)
             << QStringLiteral("--user") << pg->user << QStringLiteral("--password")
             << pg->password;
    }
    QProcess demo;
    demo.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    demo.start(kBin + QStringLiteral("/zoru-demo"), args);
    if (!demo.waitForFinished(120000) || demo.exitCode() != 0)
        return std::nullopt;
    return inst;
}

// The central rows an import writes, each identified by what the workstation and the natural
// keys say, with the references among them followed to those keys.
QStringList canonicalDump(const Installation &inst, const std::optional<testsupport::PgServer> &pg)
{
    TAliasStore aliases(inst.folder + QLatin1Char('/') + StrConst::AliasFileName);
    TDatabase db(QStringLiteral("Dump"), &aliases);
    db.AliasName = QStringLiteral("ZORU_CENTER");
    db.LoginPrompt = false;
    if (pg)
        db.Params << QStringLiteral("USER NAME=") + pg->user
                  << QStringLiteral("PASSWORD=") + pg->password;
    db.Open();
    struct Part
    {
        const char *name;
        const char *sql;
        const char *assigned; // columns holding identifiers the centre assigned
    };
    // clang-format off
    const Part parts[] = {
        {"CITY", "SELECT CITYNAME, CITYSOATO, CITYOKATO, REGGID FROM CITY", ""},
        {"STREET", "SELECT c.CITYSOATO, s.STRNAME FROM STREET s LEFT JOIN CITY c ON c.CITYGID = s.CITYGID", ""},
        {"POST", "SELECT POSNAME FROM POST", ""},
        {"AREA", "SELECT AREACODE, HSPGID FROM REGISTRATIONAREA", ""},
        {"AUXCITY", "SELECT a.CITYLID, a.WSTGID, c.CITYSOATO FROM AUXCITY a LEFT JOIN CITY c ON c.CITYGID = a.CITYGID", ""},
        {"AUXSTREET", "SELECT a.STRLID, a.WSTGID, c.CITYSOATO, s.STRNAME FROM AUXSTREET a LEFT JOIN STREET s ON s.STRGID = a.STRGID LEFT JOIN CITY c ON c.CITYGID = s.CITYGID", ""},
        {"AUXPOST", "SELECT a.POSLID, a.WSTGID, p.POSNAME FROM AUXPOST a LEFT JOIN POST p ON p.POSGID = a.POSGID", ""},
        {"AUXAREA", "SELECT a.AREALID, a.WSTGID, r.AREACODE, r.HSPGID FROM AUXREGISTRATIONAREA a LEFT JOIN REGISTRATIONAREA r ON r.AREAGID = a.AREAGID", ""},
        {"ADDRESS", "SELECT a.*, c.CITYSOATO AS K_CITY, s.STRNAME AS K_STREET FROM ADDRESS a LEFT JOIN CITY c ON c.CITYGID = a.CITYGID LEFT JOIN STREET s ON s.STRGID = a.STRGID", "ADRGID,CITYGID,STRGID"},
        {"PERSON", "SELECT p.*, r.AREACODE AS K_AREA, po.POSNAME AS K_POST, a.ADRLID AS K_ADR, rp.PRNLID AS K_REF FROM PERSON p LEFT JOIN REGISTRATIONAREA r ON r.AREAGID = p.AREAGID LEFT JOIN POST po ON po.POSGID = p.POSGID LEFT JOIN ADDRESS a ON a.ADRGID = p.ADRGID LEFT JOIN PERSON rp ON rp.PRNGID = p.PRNREFGID", "PRNGID,AREAGID,POSGID,ADRGID,PRNREFGID"},
        {"DOCUMENT", "SELECT d.*, p.PRNLID AS K_PRN FROM DOCUMENT d LEFT JOIN PERSON p ON p.PRNGID = d.PRNGID", "DOCGID,PRNGID"},
        {"PRIMARYINSPECTION", "SELECT x.*, d.DOCLID AS K_DOC FROM PRIMARYINSPECTION x LEFT JOIN DOCUMENT d ON d.DOCGID = x.DOCGID", "DOCGID"},
        {"SCRININGCARD", "SELECT x.*, d.DOCLID AS K_DOC, po.POSNAME AS K_POST FROM SCRININGCARD x LEFT JOIN DOCUMENT d ON d.DOCGID = x.DOCGID LEFT JOIN POST po ON po.POSGID = x.POSTGID", "DOCGID,POSTGID"},
        {"PRIMDIAG", "SELECT x.*, d.DOCLID AS K_DOC FROM PRIMDIAG x LEFT JOIN DOCUMENT d ON d.DOCGID = x.DOCGID", "DOCGID"},
        {"MAPDIAG", "SELECT x.*, d.DOCLID AS K_DOC FROM MAPDIAG x LEFT JOIN DOCUMENT d ON d.DOCGID = x.DOCGID", "DOCGID"},
        {"WORKSTATION", "SELECT WSTGID, WSTNAME, HSPGID, BRGGID FROM WORKSTATION", ""},
        {"OPERATOR", "SELECT * FROM OPERATOR", ""},
        {"HOSPITAL", "SELECT * FROM HOSPITAL", ""},
        {"HOSPTYPE", "SELECT * FROM HOSPTYPE", ""},
        {"REGION", "SELECT * FROM REGION", ""},
        {"BRIGADE", "SELECT * FROM BRIGADE", ""},
    };
    // clang-format on
    QStringList lines;
    for (const Part &part : parts) {
        const QStringList assigned = QString::fromLatin1(part.assigned).split(QLatin1Char(','));
        QSqlQuery q(db.Sql());
        if (!q.exec(QString::fromLatin1(part.sql)))
            qFatal("%s: %s", part.sql, qPrintable(q.lastError().text()));
        QStringList table;
        while (q.next()) {
            QStringList cells{QString::fromLatin1(part.name)};
            for (int i = 0; i < q.record().count(); ++i) {
                if (assigned.contains(q.record().fieldName(i), Qt::CaseInsensitive))
                    continue;
                cells << (q.isNull(i) ? QStringLiteral("<null>") : q.value(i).toString());
            }
            table << cells.join(QLatin1Char('|'));
        }
        table.sort();
        lines << table;
    }
    db.Close();
    return lines;
}

QString firstDifference(const QStringList &a, const QStringList &b)
{
    for (qsizetype i = 0; i < std::max(a.size(), b.size()); ++i)
        if (a.value(i) != b.value(i))
            return QStringLiteral("line %1 of %2/%3:\n  killed: %4\n  clean:  %5")
                .arg(i)
                .arg(a.size())
                .arg(b.size())
                .arg(a.value(i), b.value(i));
    return {};
}

} // namespace

class TestImportCrash : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void killedImportsThenOneMore_data();
    void killedImportsThenOneMore();
};

void TestImportCrash::killedImportsThenOneMore_data()
{
    QTest::addColumn<bool>("postgres");
    QTest::newRow("sqlite") << false;
    QTest::newRow("postgresql") << true;
}

void TestImportCrash::killedImportsThenOneMore()
{
    QFETCH(bool, postgres);
    std::optional<testsupport::PgServer> pg;
    if (postgres) {
        ZORU_REQUIRE_PG_OR_SKIP(server);
        pg = server;
    }
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const auto clean = makeInstallation(dir.filePath(QStringLiteral("clean")), pg);
    const auto killed = makeInstallation(dir.filePath(QStringLiteral("killed")), pg);
    QVERIFY(clean && killed);

    // A package of a workstation new to the centre, so that the import registers it.
    QProcess demo;
    demo.start(kBin + QStringLiteral("/zoru-demo"),
               {QStringLiteral("--folder"), clean->folder, QStringLiteral("--package"),
                QStringLiteral("80"), QStringLiteral("--new-workstation"), QStringLiteral("--seed"),
                QStringLiteral("4"), QStringLiteral("--password"),
                pg ? pg->password : QStringLiteral("x")});
    QVERIFY(demo.waitForFinished(120000) && demo.exitCode() == 0);
    const QString package = QString::fromUtf8(demo.readAllStandardOutput()).trimmed();
    const QString stash = dir.filePath(QStringLiteral("package"));
    QVERIFY(QDir().mkpath(stash));
    QVERIFY(copyFolderFiles(clean->importDir(), stash));
    QString workName = QFileInfo(package).fileName().left(36);
    workName.truncate(workName.lastIndexOf(QLatin1Char('.')));

    // The clean side: one import, timed, and one more.
    QElapsedTimer timer;
    timer.start();
    QString output;
    QVERIFY2(clean->import(package, &output) == 0, qPrintable(output));
    const qint64 cleanMs = timer.elapsed();
    QVERIFY(copyFolderFiles(stash, clean->importDir()));
    QCOMPARE(clean->import(package, &output), 0);

    // The killed side: at least twenty imports killed at random moments, the work folder each
    // leaves removed as the administrator would.
    const quint32 seed = QRandomGenerator::global()->generate();
    qInfo("kill moments from seed %u; a clean import takes %lld ms", seed, cleanMs);
    QRandomGenerator rnd(seed);
    int kills = 0;
    for (int attempt = 0; kills < 20 && attempt < 60; ++attempt) {
        QVERIFY(copyFolderFiles(stash, killed->importDir()));
        std::unique_ptr<QProcess> p(killed->startImport(package));
        QVERIFY(p->waitForStarted(30000));
        if (!p->waitForFinished(int(rnd.bounded(quint32(cleanMs) + 1)))) {
            p->kill();
            p->waitForFinished(30000);
            ++kills;
        }
        QDir(killed->importDir() + QLatin1Char('/') + workName).removeRecursively();
    }
    QCOMPARE(kills, 20);
    QVERIFY(copyFolderFiles(stash, killed->importDir()));
    QCOMPARE(killed->import(package, &output), 0);
    QVERIFY(copyFolderFiles(stash, killed->importDir()));
    QCOMPARE(killed->import(package, &output), 0);

    const QStringList expected = canonicalDump(*clean, pg);
    const QStringList actual = canonicalDump(*killed, pg);
    QCOMPARE(expected.filter(QRegularExpression(QStringLiteral("^PERSON\\|"))).size(), 80);
    QVERIFY2(actual == expected, qPrintable(firstDifference(actual, expected)));
    if (pg) {
        for (const Installation *inst : {&*clean, &*killed}) {
            testsupport::dropPgDatabase(*pg, inst->pgDatabase);
            testsupport::dropPgDatabase(*pg, inst->pgDatabase + QStringLiteral("_esvs"));
        }
    }
}

QTEST_GUILESS_MAIN(TestImportCrash)
#include "tst_importcrash.moc"
