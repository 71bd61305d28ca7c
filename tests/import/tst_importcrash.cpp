// An import killed at random moments (inside a window of rows, inside a registration, while
// unpacking or deleting) must leave the central database in a state from which importing the
// package again gives what a clean import gives: compared by the workstation's keys (local
// identifier and workstation), the natural keys of the dictionaries and the mappings, never by the
// identifiers the centre assigned. Forward references between persons are filled by one more
// import on both sides before the comparison.

#include "demosite.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// Puts the package volumes kept aside into an import folder, replacing what is there.
bool putBack(const QString &kept, const QString &importDir)
{
    for (const QFileInfo &fi : QDir(kept).entryInfoList(QDir::Files)) {
        QFile::remove(importDir + u'/' + fi.fileName());
        if (!QFile::copy(fi.filePath(), importDir + u'/' + fi.fileName()))
            return false;
    }
    return true;
}

// zoru-admin --import of the site's copy of the package, started; --force imports it again and
// again.
std::unique_ptr<QProcess> startImport(const DemoSite &site, const QString &package)
{
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    env.insert(u"ZORU_PASSWORD"_s, site.Password().isEmpty() ? u"x"_s : site.Password());
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::MergedChannels);
    p->start(
        site.folder + u"/zoru-admin"_s,
        {u"--import"_s, site.ImportFolder() + u'/' + QFileInfo(package).fileName(), u"--force"_s});
    return p;
}

// Whether every program of the site's folder has ended within a few seconds: the archiver of a
// killed import must end with it, or it would write into the work folder removed after the kill.
bool orphansEnd(const DemoSite &site)
{
    const QByteArray folder = QFile::encodeName(site.folder);
    const auto running = [&] {
        for (const QString &pid : QDir(u"/proc"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile cmdline(u"/proc/"_s + pid + u"/cmdline"_s);
            if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(folder))
                return true;
        }
        return false;
    };
    for (QDeadlineTimer deadline(5000); running() && !deadline.hasExpired();)
        QThread::msleep(20);
    return !running();
}

// An import run to its end: empty when it exited with 0, else what it printed.
QString import(const DemoSite &site, const QString &package)
{
    const std::unique_ptr<QProcess> p = startImport(site, package);
    if (p->waitForFinished(120000) && p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0)
        return {};
    return u"exit %1: "_s.arg(p->exitCode()) + QString::fromUtf8(p->readAll());
}

// The central rows an import writes, each identified by what the workstation and the natural
// keys say, with the references among them followed to those keys.
QStringList canonicalDump(DemoSite &site)
{
    const std::unique_ptr<TDatabase> db = site.Connect();
    // By part: its name, its query and the columns holding identifiers the centre assigned.
    // clang-format off
    const char *parts[][3] = {
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
    for (const auto &[name, sql, ids] : parts) {
        const QStringList assigned = QString::fromLatin1(ids).split(u',');
        QSqlQuery q(db->Sql());
        if (!q.exec(QString::fromLatin1(sql)))
            qFatal("%s: %s", sql, qPrintable(q.lastError().text()));
        QStringList table;
        while (q.next()) {
            QStringList cells{QString::fromLatin1(name)};
            for (int i = 0; i < q.record().count(); ++i)
                if (!assigned.contains(q.record().fieldName(i), Qt::CaseInsensitive))
                    cells << (q.isNull(i) ? u"<null>"_s : q.value(i).toString());
            table << cells.join(u'|');
        }
        table.sort();
        lines << table;
    }
    return lines;
}

} // namespace

class TestImportCrash : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void killedImportsThenOneMore_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << "SQLITE";
        QTest::newRow("postgresql") << "POSTGRESQL";
    }
    void killedImportsThenOneMore()
    {
        QFETCH(QString, backend);
        if (backend == "POSTGRESQL"_L1) {
            ZORU_REQUIRE_PG_OR_SKIP(server);
            Q_UNUSED(server);
        }
        const QStringList programs = {u"zoru-admin"_s, u"zoru-arc"_s};
        DemoSite clean, killed;
        QCOMPARE(clean.Create(backend, programs), QString());
        QCOMPARE(killed.Create(backend, programs), QString());

        // A package of a workstation new to the centre, so that the import registers it.
        const QString package = clean.Package(80, true);
        const QString kept = clean.folder + u"/kept"_s;
        QString workName = QFileInfo(package).fileName().left(36);
        workName.truncate(workName.lastIndexOf(u'.'));

        // The clean side: one import, timed, and one more.
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(import(clean, package), QString());
        const qint64 cleanMs = timer.elapsed();
        QVERIFY(putBack(kept, clean.ImportFolder()));
        QCOMPARE(import(clean, package), QString());

        // The killed side: twenty imports killed at random moments, the work folder each leaves
        // removed as the administrator would; then two imports to their end.
        const quint32 seed = QRandomGenerator::global()->generate();
        qInfo("kill moments from seed %u; a clean import takes %lld ms", seed, cleanMs);
        QRandomGenerator rnd(seed);
        int kills = 0;
        for (int attempt = 0; kills < 20 && attempt < 60; ++attempt) {
            QVERIFY(putBack(kept, killed.ImportFolder()));
            const std::unique_ptr<QProcess> p = startImport(killed, package);
            QVERIFY(p->waitForStarted(30000));
            if (!p->waitForFinished(int(rnd.bounded(quint32(cleanMs) + 1)))) {
                p->kill();
                p->waitForFinished(30000);
                QVERIFY(orphansEnd(killed));
                ++kills;
            }
            QDir(killed.ImportFolder() + u'/' + workName).removeRecursively();
        }
        QCOMPARE(kills, 20);
        for (int i = 0; i < 2; ++i) {
            QVERIFY(putBack(kept, killed.ImportFolder()));
            QCOMPARE(import(killed, package), QString());
        }

        const QStringList expected = canonicalDump(clean);
        QCOMPARE(expected.filter(QRegularExpression(u"^PERSON\\|"_s)).size(), 80);
        QCOMPARE(canonicalDump(killed), expected);
    }
};

QTEST_GUILESS_MAIN(TestImportCrash)
#include "tst_importcrash.moc"
