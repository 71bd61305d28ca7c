#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

// The options of zoru-admin's command line and its exit statuses, in one table: the parser
// takes its options from it, --help shows it, and the build makes the manual page's parameters
// and exit statuses from it (zoru-admin-manpage), so that the three cannot drift apart.
// Qt Core only: the generator of the manual page builds it without the rest of the program.

struct TCommandLineEntry
{
    QStringList Names; // the long name last ("h", "help")
    QString ValueName; // empty for a flag
    QString Help;
};

struct TExitStatusEntry
{
    QString Code; // "0", ..., "128+N"
    QString Meaning;
};

const QList<TCommandLineEntry> &CommandLineEntries();
const QList<TExitStatusEntry> &ExitStatusEntries();

// The option of the table by its long name. Throws std::out_of_range for a name it lacks.
QCommandLineOption CommandLineEntry(const QString &name);

// "Код выхода: 0 — успешно; 1 — ...", as --help ends its description.
QString ExitStatusText();

// The manual page's lines (roff) for the parameters, each ".TP" with its names and help, and
// for the exit statuses.
QStringList ManualOptionLines();
QStringList ManualExitStatusLines();
