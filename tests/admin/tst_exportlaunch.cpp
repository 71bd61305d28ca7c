// The wizard's launcher of the export: the job in the progress window, and a refusal shown
// without one.

#include "admin/exportlaunch.h"
#include "core/appinfo.h"
#include "core/cp1251.h"
#include "exportsite.h"
#include "jobtest.h"
#include "progressdriver.h"
#include "ui/dialogs.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

class TestExportLaunch : public QObject
{
    Q_OBJECT

    QTemporaryDir m_program;
    TAliasStore m_aliases;
    std::unique_ptr<TAppInfo> m_info;
    std::unique_ptr<CentralDb> m_central;

    QString exportDir() const { return m_program.filePath(QStringLiteral("export")); }

    void configure(bool isServer)
    {
        QString ini = QStringLiteral("[Settings]\r\nIsServer=%1\r\nAIS_RODE_EXPORT=%2\r\n\r\n["
                                     "Server-To-Workstation Replicated Tables]\r\n")
                          .arg(isServer ? 1 : 0)
                          .arg(exportDir() + QDir::separator());
        for (const QString &t : exportsite::kAllTables)
            ini += t + QStringLiteral("=\r\n");
        testsupport::writeFile(m_program.filePath(QStringLiteral("zoru-admin.ini")),
                               cp1251::encode(ini));
        m_info =
            std::make_unique<TAppInfo>(m_program.filePath(QStringLiteral("zoru-admin")), m_aliases);
        m_info->ExportPath = exportDir() + QDir::separator();
    }

private Q_SLOTS:
    void initTestCase_data() { jobtest::backendRows(); }
    void initTestCase()
    {
        QVERIFY(jobtest::installArchiver(m_program.path()));
        TDialogs::SetTestMode(true);
    }
    void init()
    {
        QFETCH_GLOBAL(QString, backend);
        m_central = std::make_unique<CentralDb>(backend);
        exportsite::fill(*m_central);
        QDir(exportDir()).removeRecursively();
        QDir().mkpath(exportDir());
        configure(true);
        TDialogs::Reset();
    }
    void cleanup() { m_central.reset(); }

    // The launcher runs the export in the progress window; the user presses "OK" at the end.
    void launcherInProgressWindow()
    {
        QObject owner;
        jobtest::Finished seen;
        jobtest::pressOkWhenDone(&owner, seen);
        QVERIFY(ExportToWorkstation(*m_info, m_central->Db(), 2));
        QCOMPARE(seen.caption, QStringLiteral("Экспорт справочников"));
        QCOMPARE(seen.lastLine, QStringLiteral("Экспорт данных завершен"));
        QVERIFY(Replicator == nullptr);
        QCOMPARE(QDir(exportDir() + QDir::separator() + QStringLiteral("Выездная бригада №1"))
                     .entryList({QStringLiteral("*.s2w")}, QDir::Files)
                     .size(),
                 1);
    }

    // Not the server: the launcher shows the refusal and no progress window opens.
    void refusedOffServer()
    {
        configure(false);
        TDialogs::SetNextAnswer(TDialogs::Button::Ok);
        QVERIFY(!ExportToWorkstation(*m_info, m_central->Db(), 1));
        QCOMPARE(TDialogs::AskedSoFar().size(), 1);
        QCOMPARE(TDialogs::AskedSoFar().first().text, QStringLiteral("Функция недоступна"));
        QVERIFY(QDir(exportDir()).isEmpty());
    }
};

QTEST_MAIN(TestExportLaunch)
#include "tst_exportlaunch.moc"
