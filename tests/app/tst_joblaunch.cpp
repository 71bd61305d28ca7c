// The menu's import in the progress window asks the user: the package in the open dialog and,
// when the import stops at a row the centre refuses, whether to go on past it.

#include "app/joblaunch.h"
#include "core/appinfo.h"
#include "demosite.h"
#include "jobtest.h"
#include "progressdriver.h"
#include "refusal.h"
#include "ui/dialogs.h"

#include <QSqlQuery>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestJobLaunch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TDialogs::SetTestMode(true); }
    void init() { TDialogs::Reset(); }

    void keepGoingQuestion_data()
    {
        QTest::addColumn<bool>("goOn");
        QTest::newRow("yes") << true;
        QTest::newRow("no, as by default") << false;
    }
    void keepGoingQuestion()
    {
        QFETCH(bool, goOn);
        DemoSite site;
        const QString error = site.Create(u"SQLITE"_s, {u"zoru-arc"_s});
        QVERIFY2(error.isEmpty(), qPrintable(error));
        TAppInfo info(site.folder + u"/zoru-admin"_s, site.Aliases());
        info.ImportPath = site.ImportFolder() + u'/';
        const std::unique_ptr<TDatabase> center = site.Connect();
        const QString package = site.Package(10);
        refusal::Refuse(*center, "INSERT", u"PERSON"_s, u"NEW.PRNLID = 3"_s);

        TDialogs::SetNextFileName(package);
        TDialogs::SetNextAnswer(goOn ? TDialogs::Button::Yes : TDialogs::Button::No);
        QObject owner;
        jobtest::Finished seen;
        jobtest::pressOkWhenDone(&owner, seen);
        QCOMPARE(ImportWorkstationPackage(info, *center), goOn);

        const QList<TDialogs::Asked> asked = TDialogs::AskedSoFar();
        QCOMPARE(asked.size(), 2);
        QCOMPARE(asked[0].kind, TDialogs::Kind::FileOpen);
        QCOMPARE(asked[1].kind, TDialogs::Kind::Question);
        QVERIFY2(asked[1].text.startsWith(u"Импорт остановлен на записи Person (PrnLID=3, "_s),
                 qPrintable(asked[1].text));
        QSqlQuery q(center->Sql());
        QVERIFY(q.exec(u"SELECT COUNT(*) FROM PERSON WHERE PRNLID <= 10"_s) && q.next());
        QCOMPARE(q.value(0).toInt(), goOn ? 9 : 2);
        QVERIFY(seen.lastLine.startsWith(goOn ? u"Импорт данных завершен с пропусками"_s
                                              : u"ОШИБКА!!! "_s));
    }
};

QTEST_MAIN(TestJobLaunch)
#include "tst_joblaunch.moc"
