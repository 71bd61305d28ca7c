#include "app/commonform.h"
#include "app/mainwindow.h"
#include "centraldb.h"
#include "core/strconst.h"
#include "jobs/serverjob.h"
#include "jobtest.h"
#include "progressdriver.h"
#include "shellfixture.h"
#include "ui/progresswindow.h"

#include <QAction>
#include <QtTest>

using Kind = TDialogs::Kind;

namespace {

// Notes whether a window of the given name was ever shown.
class ShowSpy : public QObject
{
public:
    explicit ShowSpy(QString name) : m_name(std::move(name)) { qApp->installEventFilter(this); }
    ~ShowSpy() override { qApp->removeEventFilter(this); }
    bool shown = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->objectName() == m_name)
            shown = true;
        return false;
    }

private:
    QString m_name;
};

} // namespace

// The menu command of the synchronisation: the log-in to ЕСВС, the progress window, and what a
// refused start looks like.
class TestSync : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        TDialogs::SetTestMode(true);
        TDialogs::InstallLoginHandler();
        TCommonForm::SetScreenKeySource([] { return QStringLiteral("1024x768"); });
    }
    void init() { TDialogs::Reset(); }
    void cleanup() { QCOMPARE(TDialogs::PendingAnswers(), 0); }

    // The job runs in the progress window once the log-in, which names ESVS and offers the
    // configured user, is answered; "OK" closes the window. A start that fails shows one error
    // box and no progress window, and writes nothing.
    void start_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<bool>("isServer");
        QTest::addColumn<QString>("esvsKey");
        QTest::addColumn<int>("login"); // 0 not asked, 1 cancelled, 2 wrong password, 3 answered
        QTest::addColumn<QString>("message"); // the error shown, or the last line of the job
        const QString sqlite = QStringLiteral("SQLITE");
        const QString esvs = QStringLiteral("ESVS");
        QTest::newRow("runs") << sqlite << true << esvs << 3 << "Импорт данных завершен";
        QTest::newRow("not the server") << sqlite << false << esvs << 0 << "Функция недоступна";
        QTest::newRow("missing key")
            << sqlite << true << QString() << 0 << "Ключ 'Settings\\AIS_RODE_ESVS_DB' не найден";
        QTest::newRow("unknown alias")
            << sqlite << true << QStringLiteral("NOSUCH") << 0 << "Неизвестный псевдоним: NOSUCH";
        QTest::newRow("cancelled log-in") << sqlite << true << esvs << 1 << "ESVS";
        if (testsupport::pgServer() || testsupport::pgRequired())
            QTest::newRow("wrong password")
                << QStringLiteral("POSTGRESQL") << true << esvs << 2 << "password";
    }
    void start()
    {
        QFETCH(QString, backend);
        QFETCH(bool, isServer);
        QFETCH(QString, esvsKey);
        QFETCH(int, login);
        QFETCH(QString, message);
        if (backend == QLatin1String("POSTGRESQL") && !testsupport::pgServer())
            QFAIL("ZORU_REQUIRE_PG is set but no PostgreSQL server is configured");
        const bool runs = login == 3;
        const QString user = backend == QLatin1String("POSTGRESQL") ? testsupport::pgServer()->user
                                                                    : QStringLiteral("reader");
        // A main window on a central database of its own (SQLite), ЕСВС on the backend.
        ShellFixture fx;
        CentralDb central(QStringLiteral("SQLITE"));
        CentralDb esvs(backend, SchemaKind::Esvs);
        fx.aliases.SetConfigMode(TAliasStore::ConfigMode::RunOnly);
        for (CentralDb *db : {&central, &esvs})
            fx.aliases.AddAlias(db == &central ? QStringLiteral("CENTER") : QStringLiteral("ESVS"),
                                db->Aliases().GetAliasDriverName(QStringLiteral("CENTER")),
                                db->Aliases().GetAliasParams(QStringLiteral("CENTER")));
        const QString &section = StrConst::SettingsSection;
        fx.info->WriteInteger(section, StrConst::IsServerKey, isServer ? 1 : 0);
        fx.info->WriteString(section, StrConst::SrvDBKey, QStringLiteral("CENTER"));
        fx.info->WriteString(section, StrConst::UserNameKey, QStringLiteral("admin"));
        if (!esvsKey.isNull())
            fx.info->WriteString(section, StrConst::ESVSDBKey, esvsKey);
        fx.info->WriteString(section, StrConst::UserNameESVSKey, user);
        esvs.Exec(
            QStringLiteral("INSERT INTO ADRES VALUES (1, 'Омская область', '52000000000  ', 1)"));
        TDialogs::SetNextLogin(QStringLiteral("admin"), QString());
        TSrvMainForm form;
        if (login == 1)
            TDialogs::SetNextLoginCancel();
        else if (login > 1)
            TDialogs::SetNextLogin(user, login == 2 ? QStringLiteral("wrong") : QString());
        if (!runs)
            TDialogs::SetNextAnswer(TDialogs::Button::Ok);
        jobtest::Finished seen;
        QTimer *timer = jobtest::pressOkWhenDone(&form, seen);
        ShowSpy spy(QStringLiteral("Replicator"));
        form.findChild<QAction *>(QStringLiteral("SyncItem"))->trigger();
        timer->stop();
        QCOMPARE(spy.shown, runs);
        QVERIFY(Replicator == nullptr);
        const auto asked = TDialogs::AskedSoFar().mid(1); // after the central log-in
        QList<Kind> kinds;
        for (const auto &a : asked)
            kinds << a.kind;
        QList<Kind> expected;
        if (login)
            expected << Kind::Login;
        if (!runs)
            expected << Kind::Error;
        QCOMPARE(kinds, expected);
        if (login) {
            QCOMPARE(asked[0].text, QStringLiteral("ESVS"));
            QCOMPARE(asked[0].detail, user);
        }
        if (runs)
            QCOMPARE(seen.caption,
                     QStringLiteral("Импорт внешних справочников из БД \"DidoZorer\""));
        const QString shown = runs ? seen.lastLine : asked.last().text;
        QVERIFY2(shown.contains(message, Qt::CaseInsensitive) ||
                     (login == 2 && shown.contains(QStringLiteral("парол"))),
                 qPrintable(shown));
        QCOMPARE(central.Scalar(QStringLiteral("SELECT COUNT(*) FROM REGION")).toInt(),
                 runs ? 1 : 0);
    }
};

QTEST_MAIN(TestSync)
#include "tst_sync.moc"
