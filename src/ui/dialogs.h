#pragma once

#include <QList>
#include <QString>
#include <exception>
#include <functional>

class QWidget;

// The one road by which the program asks the user something modally: message boxes, the folder
// browser, the file-open dialog and the database log-in dialog. Tests queue the answers in
// advance and read back what was asked; without a queued answer the real dialog is shown, unless
// test mode is on, in which case an unexpected dialog is a failure instead of a hang.
//
// User-interface thread only.
class TDialogs
{
public:
    enum class Kind
    {
        Error,
        Question,
        // A Yes/No question shown without an icon.
        PlainQuestion,
        Confirmation,
        Information,
        FolderBrowser,
        FileOpen,
        Login
    };
    enum class Button
    {
        Ok,
        Cancel,
        Yes,
        No
    };

    // One question as the user would have seen it.
    struct Asked
    {
        Kind kind;
        // The message, or the caption of a browser or file dialog, or the database name of a
        // log-in.
        QString text;
        // The file filter of a file dialog, or the user name offered by a log-in.
        QString detail;
    };

    // Modal error box with a single OK button.
    static void Error(const QString &message);
    // Yes/No question; true for Yes.
    static bool Question(const QString &message);
    // Yes/No question whose default button is No (Enter does not confirm); true for Yes.
    static bool QuestionDefaultNo(const QString &message);
    // Yes/No question without an icon (an offer rather than a warning); true for Yes.
    static bool PlainQuestion(const QString &message);
    // OK/Cancel confirmation; true for OK.
    static bool Confirmation(const QString &message);
    static void Information(const QString &message);
    // A folder chosen in the folder browser, or empty when cancelled.
    static QString BrowseFolder(const QString &caption);
    // A file chosen in the file-open dialog, or empty when cancelled.
    static QString OpenFile(const QString &caption, const QString &filter);
    // Database log-in: the user name comes filled in, the password empty; false when cancelled.
    static bool Login(const QString &databaseName, QString &userName, QString &password);

    // Makes every log-in prompt of the database engine go through Login().
    static void InstallLoginHandler();

    // --- For tests ---------------------------------------------------------------------------
    // Queues the answer of the next message box (OK for an error or information box; Yes/No for
    // a question; OK/Cancel for a confirmation).
    static void SetNextAnswer(Button button);
    // Queues the folder (empty: cancel) of the next folder browser.
    static void SetNextFolder(const QString &folder);
    // Queues the file (empty: cancel) of the next file-open dialog.
    static void SetNextFileName(const QString &fileName);
    static void SetNextLogin(const QString &userName, const QString &password);
    static void SetNextLoginCancel();
    // The next dialog, of whatever kind, is the real one, shown modally as the user sees it (the
    // test drives its widgets and closes it), also in test mode.
    static void SetNextReal();

    // In test mode a dialog without a queued answer, or with an answer of the wrong kind, goes
    // to the failure handler (by default a fatal error naming the dialog) instead of the screen.
    static void SetTestMode(bool on);
    static bool TestMode();
    using FailureHandler = std::function<void(const QString &description)>;
    static void SetFailureHandler(FailureHandler handler);

    static QList<Asked> AskedSoFar();
    static int PendingAnswers();
    // Forgets the queue and the record.
    static void Reset();
};

// Shows an error's message in a modal error box with one OK button.
void ShowError(const std::exception &error);
void ShowError(const QString &message);
