#include "core/errors.h"
#include "core/loginprompt.h"
#include "ui/dialogs.h"
#include "ui/logindialog.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <stdexcept>

using Kind = TDialogs::Kind;
using Button = TDialogs::Button;

Q_DECLARE_METATYPE(Kind)
Q_DECLARE_METATYPE(Button)

class TestDialogs : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void messageBoxAnswers_data();
    void messageBoxAnswers();
    void answersComeInQueueOrder();
    void browsersReturnPresetOrEmpty();
    void loginPresets();
    void wrongKindOfAnswerFails_data();
    void wrongKindOfAnswerFails();
    void unexpectedDialogInTestModeFails();
    void refusedOffTheUserInterfaceThread();
    void showErrorTakesTheMessage_data();
    void showErrorTakesTheMessage();
    void loginHandlerAsksForTheDatabase();
    void realConfirmationBox_data();
    void realConfirmationBox();
    void realLoginDialog_data();
    void realLoginDialog();

private:
    QStringList m_failures;
};

void TestDialogs::init()
{
    TDialogs::Reset();
    TDialogs::SetTestMode(true);
    m_failures.clear();
    TDialogs::SetFailureHandler([this](const QString &d) { m_failures << d; });
}

void TestDialogs::cleanup()
{
    QCOMPARE(TDialogs::PendingAnswers(), 0);
    TDialogs::SetFailureHandler({});
    TDialogs::Reset();
}

// Asks the question of the given kind; the result in the terms of that kind.
static bool ask(Kind kind, const QString &text)
{
    switch (kind) {
    case Kind::Error:
        TDialogs::Error(text);
        return true;
    case Kind::Information:
        TDialogs::Information(text);
        return true;
    case Kind::Question:
        return TDialogs::Question(text);
    case Kind::PlainQuestion:
        return TDialogs::PlainQuestion(text);
    case Kind::Confirmation:
        return TDialogs::Confirmation(text);
    default:
        return false;
    }
}

void TestDialogs::messageBoxAnswers_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<Button>("button");
    QTest::addColumn<bool>("result");
    QTest::newRow("error OK") << Kind::Error << Button::Ok << true;
    QTest::newRow("information OK") << Kind::Information << Button::Ok << true;
    QTest::newRow("question yes") << Kind::Question << Button::Yes << true;
    QTest::newRow("question no") << Kind::Question << Button::No << false;
    QTest::newRow("plain question yes") << Kind::PlainQuestion << Button::Yes << true;
    QTest::newRow("plain question no") << Kind::PlainQuestion << Button::No << false;
    QTest::newRow("confirmation OK") << Kind::Confirmation << Button::Ok << true;
    QTest::newRow("confirmation cancel") << Kind::Confirmation << Button::Cancel << false;
}

void TestDialogs::messageBoxAnswers()
{
    QFETCH(Kind, kind);
    QFETCH(Button, button);
    QFETCH(bool, result);
    TDialogs::SetNextAnswer(button);
    QCOMPARE(ask(kind, QStringLiteral("Текст вопроса")), result);
    const auto asked = TDialogs::AskedSoFar();
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked[0].kind, kind);
    QCOMPARE(asked[0].text, QStringLiteral("Текст вопроса"));
    QVERIFY(m_failures.isEmpty());
}

void TestDialogs::answersComeInQueueOrder()
{
    TDialogs::SetNextAnswer(Button::Cancel);
    TDialogs::SetNextAnswer(Button::Ok);
    TDialogs::SetNextAnswer(Button::No);
    QVERIFY(!TDialogs::Confirmation(QStringLiteral("первый")));
    QVERIFY(TDialogs::Confirmation(QStringLiteral("второй")));
    QVERIFY(!TDialogs::Question(QStringLiteral("третий")));
    const auto asked = TDialogs::AskedSoFar();
    QCOMPARE(asked.size(), 3);
    QCOMPARE(asked[1].text, QStringLiteral("второй"));
    QCOMPARE(asked[2].kind, Kind::Question);
}

void TestDialogs::browsersReturnPresetOrEmpty()
{
    TDialogs::SetNextFolder(QStringLiteral("/data/import"));
    TDialogs::SetNextFolder(QString());
    TDialogs::SetNextFileName(QStringLiteral("/data/pkg.w2s"));
    QCOMPARE(TDialogs::BrowseFolder(QStringLiteral("Папка")), QStringLiteral("/data/import"));
    QCOMPARE(TDialogs::BrowseFolder(QStringLiteral("Ещё")), QString());
    QCOMPARE(TDialogs::OpenFile(QStringLiteral("Пакет"), QStringLiteral("*.w2s")),
             QStringLiteral("/data/pkg.w2s"));
    const auto asked = TDialogs::AskedSoFar();
    QCOMPARE(asked.size(), 3);
    QCOMPARE(asked[0].kind, Kind::FolderBrowser);
    QCOMPARE(asked[1].text, QStringLiteral("Ещё"));
    QCOMPARE(asked[2].kind, Kind::FileOpen);
    QCOMPARE(asked[2].detail, QStringLiteral("*.w2s"));
}

void TestDialogs::loginPresets()
{
    TDialogs::SetNextLogin(QStringLiteral("petrov"), QStringLiteral("secret"));
    TDialogs::SetNextLoginCancel();
    QString user = QStringLiteral("ivanov");
    QString password;
    QVERIFY(TDialogs::Login(QStringLiteral("KZCenter"), user, password));
    QCOMPARE(user, QStringLiteral("petrov"));
    QCOMPARE(password, QStringLiteral("secret"));
    QString user2 = QStringLiteral("ivanov");
    QString password2;
    QVERIFY(!TDialogs::Login(QStringLiteral("KZCenter"), user2, password2));
    QCOMPARE(user2, QStringLiteral("ivanov"));
    const auto asked = TDialogs::AskedSoFar();
    QCOMPARE(asked[0].kind, Kind::Login);
    QCOMPARE(asked[0].text, QStringLiteral("KZCenter"));
    QCOMPARE(asked[0].detail, QStringLiteral("ivanov"));
}

void TestDialogs::wrongKindOfAnswerFails_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<Button>("button");
    QTest::newRow("yes for a confirmation") << Kind::Confirmation << Button::Yes;
    QTest::newRow("OK for a question") << Kind::Question << Button::Ok;
    QTest::newRow("cancel for an error") << Kind::Error << Button::Cancel;
    QTest::newRow("OK for a plain question") << Kind::PlainQuestion << Button::Ok;
}

void TestDialogs::wrongKindOfAnswerFails()
{
    QFETCH(Kind, kind);
    QFETCH(Button, button);
    TDialogs::SetNextAnswer(button);
    QVERIFY(!ask(kind, QStringLiteral("Вопрос")) || kind == Kind::Error);
    QCOMPARE(m_failures.size(), 1);
    QVERIFY(m_failures[0].contains(QStringLiteral("Вопрос")));
    // The mismatched answer stays queued for whoever it was meant for.
    QCOMPARE(TDialogs::PendingAnswers(), 1);
    TDialogs::Reset();
}

void TestDialogs::unexpectedDialogInTestModeFails()
{
    QVERIFY(!TDialogs::Confirmation(QStringLiteral("Удалить?")));
    QCOMPARE(TDialogs::BrowseFolder(QStringLiteral("Папка")), QString());
    QString user, password;
    QVERIFY(!TDialogs::Login(QStringLiteral("KZCenter"), user, password));
    QCOMPARE(m_failures.size(), 3);
    QVERIFY(m_failures[0].contains(QStringLiteral("Удалить?")));
    QVERIFY(m_failures[2].contains(QStringLiteral("log-in")));
}

void TestDialogs::refusedOffTheUserInterfaceThread()
{
    TDialogs::SetNextAnswer(Button::Ok);
    bool answer = true;
    std::unique_ptr<QThread> worker(
        QThread::create([&] { answer = TDialogs::Confirmation(QStringLiteral("Из потока")); }));
    worker->start();
    QVERIFY(worker->wait(10000));
    QVERIFY(!answer);
    QCOMPARE(m_failures.size(), 1);
    QVERIFY(m_failures[0].contains(QStringLiteral("Из потока")));
    // The queued answer is left for the user-interface thread.
    QCOMPARE(TDialogs::PendingAnswers(), 1);
    QVERIFY(TDialogs::AskedSoFar().isEmpty());
    TDialogs::Reset();
}

void TestDialogs::showErrorTakesTheMessage_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<QString>("expected");
    QTest::newRow("own exception") << 0 << QStringLiteral("Ключ не найден");
    QTest::newRow("engine error") << 1 << QStringLiteral("password authentication failed");
    QTest::newRow("standard exception") << 2 << QStringLiteral("Сбой");
    QTest::newRow("plain text") << 3 << QStringLiteral("Неверный псевдоним: X");
}

void TestDialogs::showErrorTakesTheMessage()
{
    QFETCH(int, which);
    QFETCH(QString, expected);
    TDialogs::SetNextAnswer(Button::Ok);
    switch (which) {
    case 0:
        ShowError(EAppInfoException(expected));
        break;
    case 1:
        ShowError(EDBEngineError(expected, QStringLiteral("SELECT 1")));
        break;
    case 2:
        ShowError(std::runtime_error(expected.toStdString()));
        break;
    default:
        ShowError(expected);
    }
    const auto asked = TDialogs::AskedSoFar();
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked[0].kind, Kind::Error);
    QCOMPARE(asked[0].text, expected);
}

void TestDialogs::loginHandlerAsksForTheDatabase()
{
    // The prompt that the database engine calls before a connection opens.
    TDialogs::InstallLoginHandler();
    const loginprompt::Handler prompt = loginprompt::Current();
    QVERIFY(prompt);
    QString user = QStringLiteral("sidorov");
    QString password;

    TDialogs::SetNextLoginCancel();
    QVERIFY(!prompt(QStringLiteral("KZCenter"), user, password));

    TDialogs::SetNextLogin(QStringLiteral("kozlov"), QStringLiteral("pw"));
    QVERIFY(prompt(QStringLiteral("KZCenter"), user, password));
    QCOMPARE(user, QStringLiteral("kozlov"));
    QCOMPARE(password, QStringLiteral("pw"));
    const auto asked = TDialogs::AskedSoFar();
    QCOMPARE(asked.size(), 2);
    QCOMPARE(asked[0].text, QStringLiteral("KZCenter"));
    QCOMPARE(asked[0].detail, QStringLiteral("sidorov"));
    loginprompt::Install({});
}

// A real box: its text, its icon (none for the plain question) and the answer of each button.
void TestDialogs::realConfirmationBox_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QMessageBox::StandardButton>("press");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QMessageBox::Icon>("icon");
    QTest::newRow("OK") << Kind::Confirmation << QMessageBox::Ok << true << QMessageBox::Question;
    QTest::newRow("Cancel") << Kind::Confirmation << QMessageBox::Cancel << false
                            << QMessageBox::Question;
    QTest::newRow("plain, no") << Kind::PlainQuestion << QMessageBox::No << false
                               << QMessageBox::NoIcon;
}

void TestDialogs::realConfirmationBox()
{
    QFETCH(Kind, kind);
    QFETCH(QMessageBox::StandardButton, press);
    QFETCH(bool, result);
    QFETCH(QMessageBox::Icon, icon);
    TDialogs::SetTestMode(false);
    QString seenText;
    QMessageBox::Icon seenIcon = QMessageBox::Critical;
    QTimer::singleShot(0, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        seenText = box->text();
        seenIcon = box->icon();
        box->button(press)->click();
    });
    // A watchdog, so that a box nobody answers cannot hang the test.
    QTimer::singleShot(5000, this, [] {
        if (QWidget *w = QApplication::activeModalWidget())
            w->close();
    });
    QCOMPARE(ask(kind, QStringLiteral("Подтверждаете?")), result);
    QCOMPARE(seenText, QStringLiteral("Подтверждаете?"));
    QCOMPARE(seenIcon, icon);
    TDialogs::SetTestMode(true);
}

void TestDialogs::realLoginDialog_data()
{
    QTest::addColumn<bool>("accept");
    QTest::newRow("OK") << true;
    QTest::newRow("Cancel") << false;
}

void TestDialogs::realLoginDialog()
{
    QFETCH(bool, accept);
    TDialogs::SetTestMode(false);
    QString shownName, shownUser, shownPassword;
    QTimer::singleShot(0, this, [&] {
        auto *dialog = qobject_cast<TLoginDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        shownName = dialog->findChild<QLabel *>(QStringLiteral("lblDatabaseName"))->text();
        shownUser = dialog->findChild<QLineEdit *>(QStringLiteral("edUserName"))->text();
        auto *password = dialog->findChild<QLineEdit *>(QStringLiteral("edPassword"));
        shownPassword = password->text();
        password->setText(QStringLiteral("typed"));
        if (accept)
            dialog->accept();
        else
            dialog->reject();
    });
    QTimer::singleShot(5000, this, [] {
        if (QWidget *w = QApplication::activeModalWidget())
            w->close();
    });
    QString user = QStringLiteral("ivanov");
    QString password;
    QCOMPARE(TDialogs::Login(QStringLiteral("KZCenter"), user, password), accept);
    QCOMPARE(shownName, QStringLiteral("KZCenter"));
    QCOMPARE(shownUser, QStringLiteral("ivanov"));
    QCOMPARE(shownPassword, QString());
    QCOMPARE(password, accept ? QStringLiteral("typed") : QString());
    TDialogs::SetTestMode(true);
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
