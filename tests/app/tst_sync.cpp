#include "../data/centraldb.h"
#include "app/commonform.h"
#include "app/srvmainform.h"
#include "core/strconst.h"
#include "data/srvrplthread.h"
#include "replication/replicator.h"
#include "shellfixture.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QPushButton>
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

void copyAlias(TAliasStore &to, const QString &name, CentralDb &db)
{
    to.AddAlias(name, db.Aliases().GetAliasDriverName(QStringLiteral("CENTER")),
                db.Aliases().GetAliasParams(QStringLiteral("CENTER")));
}

} // namespace

// The menu command of the synchronisation: the log-in to ЕСВС, the progress window, and what a
// refused start looks like.
class TestSync : public QObject
{
    Q_OBJECT

    // A main window connected to a fresh central database (SQLite), with ЕСВС on a backend.
    struct Setup
    {
        ShellFixture fx;
        CentralDb central{QStringLiteral("SQLITE")};
        std::unique_ptr<CentralDb> esvs;
        std::unique_ptr<TSrvMainForm> form;

        Setup(const QString &esvsBackend, bool isServer, const QString &esvsKey,
              const QString &esvsUser)
            : esvs(std::make_unique<CentralDb>(esvsBackend, SchemaKind::Esvs))
        {
            fx.aliases.SetConfigMode(TAliasStore::ConfigMode::RunOnly);
            copyAlias(fx.aliases, QStringLiteral("CENTER"), central);
            copyAlias(fx.aliases, QStringLiteral("ESVS"), *esvs);
            const QString &s = StrConst::SettingsSection;
            fx.info->WriteInteger(s, StrConst::IsServerKey, isServer ? 1 : 0);
            fx.info->WriteString(s, StrConst::SrvDBKey, QStringLiteral("CENTER"));
            fx.info->WriteString(s, StrConst::UserNameKey, QStringLiteral("admin"));
            if (!esvsKey.isNull())
                fx.info->WriteString(s, StrConst::ESVSDBKey, esvsKey);
            fx.info->WriteString(s, StrConst::UserNameESVSKey, esvsUser);
            esvs->Exec(QStringLiteral("INSERT INTO ADRES VALUES (1, 'Омская область', "
                                      "'52000000000  ', 1)"));
            TDialogs::SetNextLogin(QStringLiteral("admin"), QString());
            form = std::make_unique<TSrvMainForm>();
            SetCentralDatabase(&form->KZCenter());
        }
        ~Setup() { SetCentralDatabase(nullptr); }

        int regions()
        {
            return central.Scalar(QStringLiteral("SELECT COUNT(*) FROM REGION")).toInt();
        }
        void clickSync() { form->findChild<QAction *>(QStringLiteral("SyncItem"))->trigger(); }
    };

private Q_SLOTS:
    void initTestCase()
    {
        TDialogs::SetTestMode(true);
        TDialogs::InstallLoginHandler();
        TCommonForm::SetScreenKeySource([] { return QStringLiteral("1024x768"); });
    }
    void init() { TDialogs::Reset(); }
    void cleanup() { QCOMPARE(TDialogs::PendingAnswers(), 0); }

    // The job runs in the progress window after the log-in, which names ESVS and offers the
    // configured user; "OK" closes it.
    void runsInProgressWindow()
    {
        Setup s(QStringLiteral("SQLITE"), true, QStringLiteral("ESVS"), QStringLiteral("reader"));
        TDialogs::SetNextLogin(QStringLiteral("reader"), QStringLiteral("secret"));
        QString caption;
        QString lastLine;
        auto *timer = new QTimer;
        timer->setInterval(10);
        QObject::connect(timer, &QTimer::timeout, timer, [&, timer] {
            auto *button = Replicator
                               ? Replicator->findChild<QPushButton *>(QStringLiteral("Button"))
                               : nullptr;
            if (!button || !Replicator->isVisible() || button->text() != StrConst::BtnOK)
                return;
            caption = Replicator->windowTitle();
            lastLine = Replicator->findChild<QPlainTextEdit *>(QStringLiteral("MsgMemo"))
                           ->toPlainText()
                           .section(QLatin1Char('\n'), -1);
            timer->stop();
            timer->deleteLater();
            button->click();
        });
        timer->start();
        s.clickSync();
        QCOMPARE(caption, QStringLiteral("Импорт внешних справочников из БД \"DidoZorer\""));
        QCOMPARE(lastLine, QStringLiteral("Импорт данных завершен"));
        QVERIFY(Replicator == nullptr);
        const auto asked = TDialogs::AskedSoFar();
        QCOMPARE(asked.size(), 2); // the central log-in, then ЕСВС's
        QCOMPARE(asked[1].kind, Kind::Login);
        QCOMPARE(asked[1].text, QStringLiteral("ESVS"));
        QCOMPARE(asked[1].detail, QStringLiteral("reader"));
        QCOMPARE(s.regions(), 1);
    }

    // A start that fails: one error box, no progress window, nothing written.
    void refusedStart_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<bool>("isServer");
        QTest::addColumn<QString>("esvsKey");
        QTest::addColumn<int>("login"); // 0 not asked, 1 cancelled, 2 wrong password
        QTest::addColumn<QString>("message");
        const QString sqlite = QStringLiteral("SQLITE");
        const QString esvs = QStringLiteral("ESVS");
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
    void refusedStart()
    {
        QFETCH(QString, backend);
        QFETCH(bool, isServer);
        QFETCH(QString, esvsKey);
        QFETCH(int, login);
        QFETCH(QString, message);
        if (backend == QLatin1String("POSTGRESQL") && !testsupport::pgServer())
            QFAIL("ZORU_REQUIRE_PG is set but no PostgreSQL server is configured");
        const QString user =
            backend == QLatin1String("POSTGRESQL") ? testsupport::pgServer()->user : QString();
        Setup s(backend, isServer, esvsKey, user);
        if (login == 1)
            TDialogs::SetNextLoginCancel();
        else if (login == 2)
            TDialogs::SetNextLogin(user, QStringLiteral("wrong-password"));
        TDialogs::SetNextAnswer(TDialogs::Button::Ok);
        ShowSpy spy(QStringLiteral("Replicator"));
        s.clickSync();
        QVERIFY(!spy.shown);
        QList<Kind> kinds;
        for (const auto &a : TDialogs::AskedSoFar().mid(1))
            kinds << a.kind;
        QCOMPARE(kinds, login ? (QList<Kind>{Kind::Login, Kind::Error}) : QList<Kind>{Kind::Error});
        const QString shown = TDialogs::AskedSoFar().last().text;
        QVERIFY2(shown.contains(message, Qt::CaseInsensitive) ||
                     (login == 2 && shown.contains(QStringLiteral("парол"))),
                 qPrintable(shown));
        QCOMPARE(s.regions(), 0);
    }
};

QTEST_MAIN(TestSync)
#include "tst_sync.moc"
