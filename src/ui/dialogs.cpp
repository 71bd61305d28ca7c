#include "ui/dialogs.h"

#include "core/errors.h"
#include "core/loginprompt.h"
#include "ui/logindialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QThread>
#include <atomic>
#include <deque>

namespace {

struct Preset
{
    enum class Type
    {
        Button,
        Folder,
        FileName,
        Login,
        LoginCancel,
        Real
    } type;
    TDialogs::Button button = TDialogs::Button::Ok;
    QString value;
    QString password;
};

struct State
{
    std::deque<Preset> queue;
    QList<TDialogs::Asked> asked;
    std::atomic<bool> testMode = false;
    TDialogs::FailureHandler failure;
};

State &state()
{
    static State s;
    return s;
}

QString kindName(TDialogs::Kind kind)
{
    switch (kind) {
    case TDialogs::Kind::Error:
        return QStringLiteral("error box");
    case TDialogs::Kind::Question:
        return QStringLiteral("question");
    case TDialogs::Kind::PlainQuestion:
        return QStringLiteral("plain question");
    case TDialogs::Kind::Confirmation:
        return QStringLiteral("confirmation");
    case TDialogs::Kind::Information:
        return QStringLiteral("information box");
    case TDialogs::Kind::FolderBrowser:
        return QStringLiteral("folder browser");
    case TDialogs::Kind::FileOpen:
        return QStringLiteral("file-open dialog");
    case TDialogs::Kind::Login:
        return QStringLiteral("log-in dialog");
    }
    return {};
}

void fail(const QString &description)
{
    if (state().failure)
        state().failure(description);
    else
        qFatal("%s", qPrintable(description));
}

bool fits(const Preset &p, TDialogs::Kind kind)
{
    using K = TDialogs::Kind;
    using B = TDialogs::Button;
    switch (p.type) {
    case Preset::Type::Button:
        switch (kind) {
        case K::Error:
        case K::Information:
            return p.button == B::Ok;
        case K::Question:
        case K::PlainQuestion:
            return p.button == B::Yes || p.button == B::No;
        case K::Confirmation:
            return p.button == B::Ok || p.button == B::Cancel;
        default:
            return false;
        }
    case Preset::Type::Folder:
        return kind == K::FolderBrowser;
    case Preset::Type::FileName:
        return kind == K::FileOpen;
    case Preset::Type::Login:
    case Preset::Type::LoginCancel:
        return kind == K::Login;
    case Preset::Type::Real:
        return true;
    }
    return false;
}

// Records the question and hands out the queued answer, if any. Without one in test mode the
// failure handler runs and the caller gets the answer that changes nothing (cancel, no, empty).
enum class Source
{
    Preset,
    Real,
    Refused
};
Source take(TDialogs::Kind kind, const QString &text, const QString &detail, Preset &answer)
{
    // Widgets exist only on the user-interface thread; a job must ask through its window.
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) {
        const QString description = QStringLiteral("%1 \"%2\" asked off the user-interface thread")
                                        .arg(kindName(kind), text);
        if (state().testMode)
            fail(description);
        else
            qCritical("%s", qPrintable(description));
        return Source::Refused;
    }
    State &s = state();
    s.asked.push_back({kind, text, detail});
    if (!s.queue.empty()) {
        if (!fits(s.queue.front(), kind)) {
            fail(QStringLiteral("Unexpected %1 \"%2\": the queued answer is for another kind of "
                                "dialog")
                     .arg(kindName(kind), text));
            return Source::Refused;
        }
        answer = s.queue.front();
        s.queue.pop_front();
        return answer.type == Preset::Type::Real ? Source::Real : Source::Preset;
    }
    if (s.testMode) {
        fail(QStringLiteral("Unexpected %1 \"%2\" without a queued answer")
                 .arg(kindName(kind), text));
        return Source::Refused;
    }
    return Source::Real;
}

QWidget *dialogParent()
{
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    return QApplication::activeWindow();
}

QMessageBox::StandardButton realBox(QMessageBox::Icon icon, const QString &title,
                                    const QString &message, QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, title, message, buttons, dialogParent());
    box.setDefaultButton(defaultButton);
    if (QAbstractButton *b = box.button(QMessageBox::Cancel))
        b->setText(QStringLiteral("Отмена"));
    if (QAbstractButton *b = box.button(QMessageBox::Yes))
        b->setText(QStringLiteral("Да"));
    if (QAbstractButton *b = box.button(QMessageBox::No))
        b->setText(QStringLiteral("Нет"));
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

// A message with a single OK button.
void tell(TDialogs::Kind kind, QMessageBox::Icon icon, const QString &title, const QString &message)
{
    Preset answer;
    if (take(kind, message, {}, answer) == Source::Real)
        realBox(icon, title, message, QMessageBox::Ok, QMessageBox::Ok);
}

// A question with two buttons; true for the first (affirmative) one, preset or pressed.
bool ask(TDialogs::Kind kind, const QString &message, TDialogs::Button affirmative,
         QMessageBox::StandardButton yes, QMessageBox::StandardButton no,
         QMessageBox::Icon icon = QMessageBox::Question, bool defaultNo = false)
{
    Preset answer;
    switch (take(kind, message, {}, answer)) {
    case Source::Preset:
        return answer.button == affirmative;
    case Source::Refused:
        return false;
    case Source::Real:
        break;
    }
    return realBox(icon, QStringLiteral("Подтверждение"), message, yes | no,
                   defaultNo ? no : yes) == yes;
}

} // namespace

void TDialogs::Error(const QString &message)
{
    tell(Kind::Error, QMessageBox::Critical, QStringLiteral("Ошибка"), message);
}

bool TDialogs::Question(const QString &message)
{
    return ask(Kind::Question, message, Button::Yes, QMessageBox::Yes, QMessageBox::No);
}

bool TDialogs::QuestionDefaultNo(const QString &message)
{
    return ask(Kind::Question, message, Button::Yes, QMessageBox::Yes, QMessageBox::No,
               QMessageBox::Question, true);
}

bool TDialogs::PlainQuestion(const QString &message)
{
    return ask(Kind::PlainQuestion, message, Button::Yes, QMessageBox::Yes, QMessageBox::No,
               QMessageBox::NoIcon);
}

bool TDialogs::Confirmation(const QString &message)
{
    return ask(Kind::Confirmation, message, Button::Ok, QMessageBox::Ok, QMessageBox::Cancel);
}

void TDialogs::Information(const QString &message)
{
    tell(Kind::Information, QMessageBox::Information, QStringLiteral("Информация"), message);
}

QString TDialogs::BrowseFolder(const QString &caption)
{
    Preset answer;
    switch (take(Kind::FolderBrowser, caption, {}, answer)) {
    case Source::Preset:
        return answer.value;
    case Source::Refused:
        return {};
    case Source::Real:
        break;
    }
    return QFileDialog::getExistingDirectory(dialogParent(), caption, QDir::rootPath(),
                                             QFileDialog::ShowDirsOnly);
}

QString TDialogs::OpenFile(const QString &caption, const QString &filter)
{
    Preset answer;
    switch (take(Kind::FileOpen, caption, filter, answer)) {
    case Source::Preset:
        return answer.value;
    case Source::Refused:
        return {};
    case Source::Real:
        break;
    }
    return QFileDialog::getOpenFileName(dialogParent(), caption, QString(), filter);
}

bool TDialogs::Login(const QString &databaseName, QString &userName, QString &password)
{
    Preset answer;
    switch (take(Kind::Login, databaseName, userName, answer)) {
    case Source::Preset:
        if (answer.type == Preset::Type::LoginCancel)
            return false;
        userName = answer.value;
        password = answer.password;
        return true;
    case Source::Refused:
        return false;
    case Source::Real:
        break;
    }
    TLoginDialog dialog(databaseName, userName, dialogParent());
    if (dialog.exec() != QDialog::Accepted)
        return false;
    userName = dialog.UserName();
    password = dialog.Password();
    return true;
}

void TDialogs::InstallLoginHandler()
{
    loginprompt::Install([](const QString &databaseName, QString &userName, QString &password) {
        return Login(databaseName, userName, password);
    });
}

void TDialogs::SetNextAnswer(Button button)
{
    state().queue.push_back({Preset::Type::Button, button, {}, {}});
}

void TDialogs::SetNextFolder(const QString &folder)
{
    state().queue.push_back({Preset::Type::Folder, Button::Ok, folder, {}});
}

void TDialogs::SetNextFileName(const QString &fileName)
{
    state().queue.push_back({Preset::Type::FileName, Button::Ok, fileName, {}});
}

void TDialogs::SetNextLogin(const QString &userName, const QString &password)
{
    state().queue.push_back({Preset::Type::Login, Button::Ok, userName, password});
}

void TDialogs::SetNextLoginCancel()
{
    state().queue.push_back({Preset::Type::LoginCancel, Button::Cancel, {}, {}});
}

void TDialogs::SetNextReal()
{
    state().queue.push_back({Preset::Type::Real, Button::Ok, {}, {}});
}

void TDialogs::SetTestMode(bool on)
{
    state().testMode = on;
}

bool TDialogs::TestMode()
{
    return state().testMode;
}

void TDialogs::SetFailureHandler(FailureHandler handler)
{
    state().failure = std::move(handler);
}

QList<TDialogs::Asked> TDialogs::AskedSoFar()
{
    return state().asked;
}

int TDialogs::PendingAnswers()
{
    return static_cast<int>(state().queue.size());
}

void TDialogs::Reset()
{
    state().queue.clear();
    state().asked.clear();
}

void ShowError(const std::exception &error)
{
    if (const auto *own = dynamic_cast<const Exception *>(&error))
        TDialogs::Error(own->Message());
    else
        TDialogs::Error(QString::fromUtf8(error.what()));
}

void ShowError(const QString &message)
{
    TDialogs::Error(message);
}
