#include "centraldb.h"
#include "core/appinfo.h"
#include "core/clock.h"
#include "core/cp1251.h"
#include "core/strconst.h"
#include "engine/paradox/paradoxtable.h"
#include "engine/sqlscript.h"
#include "export/exportjob.h"
#include "exportsite.h"
#include "jobtest.h"
#include "package/archiver.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>

using exportsite::fill;
using exportsite::kAllTables;

namespace {

const QDateTime kMoment(QDate(2005, 6, 1), QTime(9, 30, 0));
const QString kStamp = QStringLiteral("20050601093000");

using jobtest::RecordingWindow;

// Rows of one package table as text, for comparison with the central ones.
QStringList packageRows(const QString &file)
{
    QStringList out;
    for (const paradox::Row &row : paradox::readAllRows(file)) {
        QStringList cells;
        for (const QVariant &v : row)
            cells << (v.isValid() ? v.toString() : QStringLiteral("<null>"));
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

QList<qint64> firstColumn(const QString &file)
{
    QList<qint64> ids;
    for (const paradox::Row &row : paradox::readAllRows(file))
        ids << row.at(0).toLongLong();
    return ids;
}

} // namespace

class TestExportJob : public QObject
{
    Q_OBJECT

    // Every export runs at the same moment, on whatever thread it runs.
    TFixedClock m_clock{kMoment};
    QTemporaryDir m_program;
    TAliasStore m_aliases;
    std::unique_ptr<TAppInfo> m_info;
    std::unique_ptr<CentralDb> m_central;
    QString m_backend;

    QString exportDir() const { return m_program.filePath(QStringLiteral("export")); }

    void configure(const QStringList &tables, bool isServer = true)
    {
        QString ini = QStringLiteral("[Settings]\r\nIsServer=%1\r\nAIS_RODE_EXPORT=%2\r\n\r\n["
                                     "Server-To-Workstation Replicated Tables]\r\n")
                          .arg(isServer ? 1 : 0)
                          .arg(exportDir() + QDir::separator());
        for (const QString &t : tables)
            ini += t + QStringLiteral("=\r\n");
        testsupport::writeFile(m_program.filePath(QStringLiteral("zoru-admin.ini")),
                               cp1251::encode(ini));
        m_info =
            std::make_unique<TAppInfo>(m_program.filePath(QStringLiteral("zoru-admin")), m_aliases);
        m_info->ExportPath = exportDir() + QDir::separator();
        AppInfo = m_info.get();
    }

    // The job's return code; what it did into result.
    int run(int wstGID, RecordingWindow &window, const QString &stopOn = {},
            TExportResult *result = nullptr)
    {
        return jobtest::runJob(
            window, stopOn,
            [&](const TJobContext &context) {
                return std::make_unique<TExServerToWorkstation>(context, *m_info, m_central->Db(),
                                                                wstGID);
            },
            [result](TRplThread &job) {
                if (result)
                    *result = static_cast<TExServerToWorkstation &>(job).Result();
            });
    }

    QStringList exportContents() const { return jobtest::folderContents(exportDir()); }

    QString unpack(const QString &archive, QTemporaryDir &into)
    {
        const int code = UnpackArchive(m_info->AppFolder(), into.path(), archive);
        return code == 0 ? into.path() : QString();
    }

private Q_SLOTS:
    void initTestCase_data() { jobtest::backendRows(); }
    void initTestCase() { QVERIFY(jobtest::installArchiver(m_program.path())); }
    void init()
    {
        QFETCH_GLOBAL(QString, backend);
        if (backend == QLatin1String("POSTGRESQL") && !testsupport::pgServer())
            QFAIL("ZORU_REQUIRE_PG is set but no PostgreSQL server is configured");
        if (m_backend != backend || !m_central) {
            m_central.reset();
            m_central = std::make_unique<CentralDb>(backend);
            fill(*m_central);
            m_backend = backend;
        }
        QDir(exportDir()).removeRecursively();
        QDir().mkpath(exportDir());
        configure(kAllTables);
    }
    void cleanupTestCase()
    {
        AppInfo = nullptr;
        m_central.reset();
    }

    // What each kind of workstation receives, table by table (first-column identifiers).
    void selection_data()
    {
        QTest::addColumn<int>("wst");
        QTest::addColumn<QString>("owner");
        QTest::addColumn<QList<qint64>>("hospitals");
        QTest::addColumn<QList<qint64>>("types");
        QTest::addColumn<QList<qint64>>("brigades");
        QTest::addColumn<QList<qint64>>("links");
        QTest::addColumn<QStringList>("notLogged");
        using L = QList<qint64>;
        QTest::newRow("hospital") << 1 << "Тарская ЦРБ" << L{10} << L{5} << L{} << L{}
                                  << QStringList{QStringLiteral("BRIGADE"),
                                                 QStringLiteral("BrigHsp")};
        QTest::newRow("brigade") << 2 << "Выездная бригада №1" << L{11, 12} << L{5, 6} << L{20}
                                 << L{11, 12} << QStringList{};
        QTest::newRow("brigade without hospitals")
            << 3 << "Бригада без ЛПУ" << L{} << L{} << L{21} << L{} << QStringList{};
        QTest::newRow("hospital without a type")
            << 7 << "ФАП без типа" << L{14} << L{} << L{} << L{}
            << QStringList{QStringLiteral("BRIGADE"), QStringLiteral("BrigHsp")};
        QTest::newRow("both") << 4 << "Тарская ЦРБ" << L{10} << L{5} << L{20} << L{11, 12}
                              << QStringList{};
    }
    void selection()
    {
        QFETCH(int, wst);
        QFETCH(QString, owner);
        QFETCH(QList<qint64>, hospitals);
        QFETCH(QList<qint64>, types);
        QFETCH(QList<qint64>, brigades);
        QFETCH(QList<qint64>, links);
        QFETCH(QStringList, notLogged);

        RecordingWindow w;
        TExportResult result;
        QCOMPARE(run(wst, w, {}, &result), 1);
        QCOMPARE(result.Result, ExportResultSucceeded);
        QStringList exported;
        for (const TTableRows &t : std::as_const(result.Tables))
            exported << t.Table;
        QStringList expected = kAllTables;
        expected.removeIf([&](const QString &t) { return notLogged.contains(t); });
        QCOMPARE(exported, expected);
        const qsizetype hospitalTable = exported.indexOf(QStringLiteral("HOSPITAL"));
        QCOMPARE(result.Tables.at(hospitalTable).Rows, hospitals.size());
        // Each table's line of the window is followed by its count and an empty line.
        const int hospitalLine =
            w.lines.indexOf(QStringLiteral("Экспорт данных из таблицы: HOSPITAL"));
        QCOMPARE(w.lines.mid(hospitalLine + 1, 2),
                 (QStringList{QString::number(hospitals.size()) + QStringLiteral(" записей"),
                              QString()}));
        const QString hospitalFolder = exportDir() + QDir::separator() + owner;
        QCOMPARE(result.Package.Folder, hospitalFolder + QDir::separator());

        // Only the archive remains: the package folder is gone.
        const QStringList contents = exportContents();
        QCOMPARE(contents.size(), 2);
        QCOMPARE(contents.at(0), owner);
        QVERIFY(contents.at(1).endsWith(QStringLiteral("_") + kStamp + QStringLiteral(".s2w")));

        QTemporaryDir out;
        const QString archive = exportDir() + QDir::separator() + contents.at(1);
        QVERIFY(!unpack(archive, out).isEmpty());
        QCOMPARE(QDir(out.path()).entryList(QDir::Files).size(),
                 20); // ten tables with their indexes
        const auto ids = [&](const char *t) {
            return firstColumn(out.filePath(QString::fromLatin1(t) + QStringLiteral(".db")));
        };
        QCOMPARE(ids("Workstation"), QList<qint64>{wst});
        QCOMPARE(ids("Hospital"), hospitals);
        QCOMPARE(ids("HospType"), types);
        QCOMPARE(ids("Brigade"), brigades);
        QCOMPARE(ids("Region"), (QList<qint64>{1, 2}));
        QCOMPARE(ids("Diagnosis").size(), 30);
        QList<qint64> linkHospitals;
        for (const paradox::Row &r :
             paradox::readAllRows(out.filePath(QStringLiteral("BrigHsp.db"))))
            linkHospitals << r.at(0).toLongLong();
        QCOMPARE(linkHospitals, links);
    }

    // The package holds the central rows column by column, and the archive comment is the label.
    void roundTrip()
    {
        RecordingWindow w;
        QCOMPARE(run(1, w), 1);
        const QString folder = exportDir() + QDir::separator() + QStringLiteral("Тарская ЦРБ");
        const QStringList archives = QDir(folder).entryList({QStringLiteral("*.s2w")}, QDir::Files);
        QCOMPARE(archives,
                 QStringList{QStringLiteral("Регистратура_") + kStamp + QStringLiteral(".s2w")});
        const QString archive = folder + QDir::separator() + archives.first();

        QTemporaryDir out;
        QVERIFY(!unpack(archive, out).isEmpty());
        QCOMPARE(packageRows(out.filePath(QStringLiteral("Region.db"))),
                 (QStringList{QStringLiteral("1|Омская область|52000000000"),
                              QStringLiteral("2|Тюменская область|71000000000")}));
        QCOMPARE(packageRows(out.filePath(QStringLiteral("MedPreparat.db"))),
                 QStringList{QStringLiteral("1|C02AC01|Клонидин|Clonidine|0.15|50|0.45|1")});
        QCOMPARE(packageRows(out.filePath(QStringLiteral("Workstation.db"))),
                 QStringList{QStringLiteral(
                     "1|Регистратура Тарской ЦРБ|2004-02-29T23:59:58.000|10|<null>")});
        const paradox::Row hospital =
            paradox::readAllRows(out.filePath(QStringLiteral("Hospital.db"))).at(0);
        QCOMPARE(hospital.at(2).toString(), QStringLiteral("Тарская ЦРБ"));
        QCOMPARE(hospital.at(3).toString(),
                 QStringLiteral("МУЗ «Тарская центральная районная больница»"));
        QCOMPARE(hospital.at(6), QVariant(true)); // OFFICE: number 1 -> boolean
        QCOMPARE(hospital.at(21), QVariant(12));  // HOUSE: small integer
        QVERIFY(!hospital.at(10).isValid());      // RSECNAME Null stays Null
        QCOMPARE(hospital.at(31), QVariant(1));   // REGGID
        const QStringList diagnoses = packageRows(out.filePath(QStringLiteral("Diagnosis.db")));
        QCOMPARE(diagnoses.at(2), QStringLiteral("3|Гипертоническая болезнь 3 ст.|1003"));

        const QString commentFile = out.filePath(QStringLiteral("comment.bin"));
        QCOMPARE(QProcess::execute(m_info->AppFolder() + QStringLiteral("zoru-arc"),
                                   {QStringLiteral("cw"), archive, commentFile}),
                 0);
        QCOMPARE(cp1251::decode(testsupport::readFile(commentFile)).trimmed(),
                 QStringLiteral("000001_") + kStamp + QStringLiteral("_на Тарская ЦРБ"));
    }

    void unsafeAndLongNames()
    {
        RecordingWindow w;
        QCOMPARE(run(6, w), 1);
        const QString owner = QStringLiteral("МУЗ Городская клиническая боль");
        QCOMPARE(exportContents(),
                 (QStringList{owner, owner + QDir::separator() + QStringLiteral("АРМ 1_2_3__") +
                                         kStamp + QStringLiteral(".s2w")}));
    }

    void failures_data()
    {
        QTest::addColumn<int>("wst");
        QTest::addColumn<QString>("message");
        QTest::newRow("no workstation") << 99 << "Рабочая станция не найдена: WstGID = 99";
        QTest::newRow("neither hospital nor brigade") << 5 << "Нарушена целостность базы данных";
    }
    void failures()
    {
        QFETCH(int, wst);
        QFETCH(QString, message);
        RecordingWindow w;
        TExportResult result;
        QCOMPARE(run(wst, w, {}, &result), 2);
        QCOMPARE(result.Result + u'|' + result.Error, ExportResultFailed + u'|' + message);
        QVERIFY(result.Package.Name.isEmpty());
        QVERIFY(exportContents().isEmpty());
    }

    // A row or a table file that cannot be written ends the export with the reason naming the
    // table, its file and the row; the failed table's count is not logged and no archive is made.
    void writeFailureEndsTheExport_data()
    {
        QTest::addColumn<QString>("diagName"); // of an extra DIAGNOSIS row 31; empty: none
        QTest::addColumn<bool>("limitFileSize");
        QTest::addColumn<QStringList>("said"); // parts of the error line
        QTest::newRow("file size limit")
            << QString() << true
            << QStringList{QStringLiteral("ОШИБКА!!! Не удаётся записать таблицу"),
                           QDir::separator() + QStringLiteral("Diagnosis.db")};
        QTest::newRow("character 0")
            << QStringLiteral("Гипер") + QChar(u'\0') + QStringLiteral("тония") << false
            << QStringList{QStringLiteral("ОШИБКА!!! Таблица Diagnosis.db, поле DiagName: текст "
                                          "содержит нулевой символ"),
                           QStringLiteral("=31)")};
        QTest::newRow("character outside 1251")
            << QStringLiteral("Гипертония ✓") << false
            << QStringList{QStringLiteral("ОШИБКА!!! Таблица Diagnosis.db, поле DiagName"),
                           QStringLiteral("1251"), QStringLiteral("=31)")};
    }
    void writeFailureEndsTheExport()
    {
        QFETCH_GLOBAL(QString, backend);
        QFETCH(QString, diagName);
        QFETCH(bool, limitFileSize);
        QFETCH(QStringList, said);
        if (diagName.contains(QChar(u'\0')) && backend == QLatin1String("POSTGRESQL"))
            QSKIP("PostgreSQL text holds no character 0");
        if (!diagName.isEmpty())
            m_central->Exec(QStringLiteral("INSERT INTO DIAGNOSIS VALUES (31, ?, 1031)"),
                            {diagName});
        struct RemoveRow
        {
            CentralDb &c;
            ~RemoveRow() { c.Exec(QStringLiteral("DELETE FROM DIAGNOSIS WHERE DIAGGID = 31")); }
        } removeRow{*m_central};

        // The log starts afresh, so that it stays below the limit.
        QFile::remove(m_info->AppFolder() + StrConst::LogFileName);
        // From that table on, writes past 3000 bytes fail with EFBIG (SIGXFSZ ignored); the
        // hard limit stays, so the old one comes back.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        RecordingWindow w;
        w.onLine = [&](const QString &line) {
            rlimit lowered = saved;
            lowered.rlim_cur = 3000;
            if (limitFileSize && line == QStringLiteral("Экспорт данных из таблицы: DIAGNOSIS"))
                setrlimit(RLIMIT_FSIZE, &lowered);
        };
        const int code = run(1, w);
        setrlimit(RLIMIT_FSIZE, &saved);
        QCOMPARE(code, 2);
        for (const QString &part : said)
            QVERIFY2(w.lines.last().contains(part), qPrintable(w.lines.last()));
        const int table = w.lines.indexOf(QStringLiteral("Экспорт данных из таблицы: DIAGNOSIS"));
        QVERIFY(table > 0);
        // Under the file size limit the journal's own database may not be written either.
        QStringList after = w.lines.mid(table + 1);
        after.removeIf([](const QString &line) {
            return line.startsWith(QStringLiteral("Журнал экспорта не записан: "));
        });
        QCOMPARE(after, (QStringList{StrConst::Separator, w.lines.last()}));
        QVERIFY(!w.lines.contains(QStringLiteral("Архивация...")));
        QCOMPARE(exportContents(), QStringList{QStringLiteral("Тарская ЦРБ")});
    }

    void packageFolderExists()
    {
        const QString packageFolder = exportDir() + QDir::separator() +
                                      QStringLiteral("Тарская ЦРБ") + QDir::separator() +
                                      QStringLiteral("Регистратура_") + kStamp;
        QDir().mkpath(packageFolder);
        testsupport::writeFile(packageFolder + QDir::separator() + QStringLiteral("keep.txt"),
                               "mine");
        RecordingWindow w;
        TExportResult result;
        QCOMPARE(run(1, w, {}, &result), 2);
        QCOMPARE(result.Error, QStringLiteral("Папка уже существует\r\n") + packageFolder);
        QCOMPARE(
            testsupport::readFile(packageFolder + QDir::separator() + QStringLiteral("keep.txt")),
            QByteArray("mine"));
    }

    void tableMissingFromPackageScript()
    {
        configure({QStringLiteral("REGION"), QStringLiteral("CITY"), QStringLiteral("DIAGNOSIS")});
        RecordingWindow w;
        QCOMPARE(run(1, w), 2);
        QVERIFY(w.lines.contains(QStringLiteral("Экспорт данных из таблицы: CITY")));
        QVERIFY(!w.lines.contains(QStringLiteral("Экспорт данных из таблицы: DIAGNOSIS")));
        QVERIFY(w.lines.last().startsWith(StrConst::ErrorPrefix));
        QVERIFY(!w.lines.contains(QStringLiteral("Архивация...")));
        // The hospital folder stays, empty: no archive, no package folder.
        QCOMPARE(exportContents(), QStringList{QStringLiteral("Тарская ЦРБ")});
    }

    void emptyTableListGivesTenEmptyTables()
    {
        configure({});
        RecordingWindow w;
        QCOMPARE(run(2, w), 1);
        QVERIFY(
            !w.lines.join(QLatin1Char('\n')).contains(QStringLiteral("Экспорт данных из таблицы")));
        const QString folder =
            exportDir() + QDir::separator() + QStringLiteral("Выездная бригада №1");
        const QStringList archives = QDir(folder).entryList({QStringLiteral("*.s2w")}, QDir::Files);
        QCOMPARE(archives.size(), 1);
        QTemporaryDir out;
        QVERIFY(!unpack(folder + QDir::separator() + archives.first(), out).isEmpty());
        const QStringList tables =
            QDir(out.path()).entryList({QStringLiteral("*.db")}, QDir::Files);
        QCOMPARE(tables.size(), 10);
        for (const QString &t : tables)
            QCOMPARE(paradox::TableReader(out.filePath(t)).recordCount(), 0);
    }

    // Every export is journaled on a connection of its own: the workstation, the package made
    // and its size, the result and the reason; a database made before the journal gets it.
    void journal_data()
    {
        QTest::addColumn<int>("wst");
        QTest::addColumn<QString>("stopOn");
        QTest::addColumn<bool>("olderDatabase");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("error");
        QTest::newRow("exported") << 1 << QString() << false << "успешно" << QString();
        QTest::newRow("older database") << 2 << QString() << true << "успешно" << QString();
        QTest::newRow("no such workstation") << 99 << QString() << false << "ошибка"
                                             << "Рабочая станция не найдена: WstGID = 99";
        QTest::newRow("stopped") << 1 << "Экспорт данных из таблицы: DIAGNOSIS" << false
                                 << "прервано"
                                 << "Прервано пользователем";
    }
    void journal()
    {
        QFETCH(int, wst);
        QFETCH(QString, stopOn);
        QFETCH(bool, olderDatabase);
        QFETCH(QString, result);
        QFETCH(QString, error);
        if (olderDatabase)
            engine::ExecuteScript(
                m_central->Db(),
                QStringLiteral("DROP TABLE EXPORTJOURNAL;") +
                    (m_central->Db().IsServer()
                         ? QStringLiteral("DROP SEQUENCE EXPORTJOURNAL_RUNGID_SEQ;")
                         : QString()));
        else
            m_central->Exec(QStringLiteral("DELETE FROM EXPORTJOURNAL"));
        RecordingWindow w;
        TExportResult made;
        run(wst, w, stopOn, &made);
        QCOMPARE(m_central->Scalar(QStringLiteral("SELECT COUNT(*) FROM EXPORTJOURNAL")).toInt(),
                 1);
        const auto value = [&](const char *column) {
            return m_central->Scalar(
                QStringLiteral("SELECT %1 FROM EXPORTJOURNAL").arg(QLatin1String(column)));
        };
        QCOMPARE(value("WSTGID").toInt(), wst);
        QCOMPARE(value("RESULT").toString(), result);
        QCOMPARE(value("ERRORTEXT").toString(), error);
        QCOMPARE(value("STARTTIME").toDateTime(), kMoment);
        QCOMPARE(value("ENDTIME").toDateTime(), kMoment);
        QDirIterator archives(exportDir(), {QStringLiteral("*.s2w")}, QDir::Files,
                              QDirIterator::Subdirectories);
        if (error.isEmpty()) {
            const QFileInfo archive(archives.next());
            QCOMPARE(value("PKGNAME").toString(), archive.fileName());
            QCOMPARE(value("PKGSIZE").toLongLong(), archive.size());
            QVERIFY(value("PKGLABEL").toString().startsWith(QStringLiteral("00000")));
            QCOMPARE(made.Package.Name + u'|' + QString::number(made.Package.Size) + u'|' +
                         made.Package.Label,
                     value("PKGNAME").toString() + u'|' + value("PKGSIZE").toString() + u'|' +
                         value("PKGLABEL").toString());
        } else {
            QVERIFY(!archives.hasNext());
            QVERIFY(value("PKGNAME").isNull());
        }
    }

    void cancellationRemovesPackageFolder()
    {
        RecordingWindow w;
        TExportResult result;
        QCOMPARE(run(1, w, QStringLiteral("Экспорт данных из таблицы: DIAGNOSIS"), &result), 2);
        QCOMPARE(result.Result + u'|' + result.Error,
                 ExportResultCancelled + u'|' + StrConst::Interrupted);
        QCOMPARE(exportContents(), QStringList{QStringLiteral("Тарская ЦРБ")});
    }

    // The job is plain work: made with its configuration and central connection, it runs on
    // the test's own thread, reporting to a recording window, and needs no global.
    void runsOnTheCallingThread()
    {
        AppInfo = nullptr;
        RecordingWindow w;
        TExServerToWorkstation job(w.Context(), *m_info, m_central->Db(), 2);
        const int code = job.Run();
        AppInfo = m_info.get();
        QCOMPARE(code, 1);
        QCOMPARE(w.caption, QStringLiteral("Экспорт справочников"));
        QCOMPARE(w.lines.last(), QStringLiteral("Экспорт данных завершен"));
        QCOMPARE(QDir(exportDir() + QDir::separator() + QStringLiteral("Выездная бригада №1"))
                     .entryList({QStringLiteral("*.s2w")}, QDir::Files)
                     .size(),
                 1);
    }
};

QTEST_MAIN(TestExportJob)
#include "test_exportjob.moc"
