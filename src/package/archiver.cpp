#include "package/archiver.h"

#include "core/cp1251.h"
#include "core/errors.h"
#include "core/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif
#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>
#endif

namespace {

const QChar Quote = QLatin1Char('"');

QString quoted(const QString &s)
{
    return Quote + s + Quote;
}

// The archiver beside the executable; else the one on PATH (an installed program whose
// archiver lies elsewhere); else the one beside the executable, so that the error names it.
QString program(const QString &appFolder)
{
    const QString beside = paths::includeTrailing(appFolder) + ArchiverProgram();
    if (QFileInfo(beside).isExecutable())
        return beside;
    const QString onPath = QStandardPaths::findExecutable(ArchiverProgram());
    return onPath.isEmpty() ? beside : onPath;
}

QString archiveBeside(const QString &folder, const QString &archiveName)
{
    const QChar sep = paths::separator();
    return paths::excludeTrailing(folder) + sep + QStringLiteral("..") + sep + archiveName;
}

// Builds a call and its command line together, a word at a time.
class CallBuilder
{
public:
    explicit CallBuilder(const QString &appFolder)
    {
        m_call.Program = program(appFolder);
        m_call.CommandLine = m_call.Program;
    }
    CallBuilder &word(const QString &w)
    {
        m_call.Arguments << w;
        m_call.CommandLine += QLatin1Char(' ') + w;
        return *this;
    }
    // A path, quoted on the command line, after an optional switch prefix ("-z").
    CallBuilder &path(const QString &p, const QString &prefix = {})
    {
        m_call.Arguments << prefix + p;
        m_call.CommandLine += QLatin1Char(' ') + prefix + quoted(p);
        return *this;
    }
    TArchiverCall take() { return std::move(m_call); }

private:
    TArchiverCall m_call;
};

} // namespace

QString ArchiverProgram()
{
#ifdef Q_OS_WIN
    return QStringLiteral("rar.exe");
#else
    return QStringLiteral("zoru-arc");
#endif
}

TArchiverCall PackCall(const QString &appFolder, const QString &folder, const QString &archiveName)
{
    const QChar sep = paths::separator();
    return CallBuilder(appFolder)
        .word(QStringLiteral("a"))
        .word(QStringLiteral("-y"))
        .word(QStringLiteral("-df"))
        .word(QStringLiteral("-ep"))
        .word(QStringLiteral("-v") + QString::number(ArchiveVolumeSize) + QLatin1Char('b'))
        .path(archiveBeside(folder, archiveName))
        .path(paths::excludeTrailing(folder) + sep + QStringLiteral("*.*"))
        .take();
}

TArchiverCall CommentCall(const QString &appFolder, const QString &folder,
                          const QString &archiveName)
{
    const QChar sep = paths::separator();
    return CallBuilder(appFolder)
        .word(QStringLiteral("c"))
        .word(QStringLiteral("-y"))
        .path(paths::excludeTrailing(folder) + sep + CommentFileName, QStringLiteral("-z"))
        .path(archiveBeside(folder, archiveName))
        .take();
}

TArchiverCall UnpackCall(const QString &appFolder, const QString &folder,
                         const QString &archiveName)
{
    return CallBuilder(appFolder)
        .word(QStringLiteral("x"))
        .word(QStringLiteral("-y"))
        .word(QStringLiteral("-o+"))
        .path(archiveName)
        .path(paths::excludeTrailing(folder))
        .take();
}

TArchiverCall CommentReadCall(const QString &appFolder, const QString &firstVolume,
                              const QString &commentFile)
{
    return CallBuilder(appFolder)
        .word(QStringLiteral("cw"))
        .path(firstVolume)
        .path(commentFile)
        .take();
}

int RunArchiver(const TArchiverCall &call, QString *errorOutput)
{
    if (call.Program.isEmpty())
        return 1;
    QProcess process;
    process.setProgram(call.Program);
#ifdef Q_OS_WIN
    // Windows hands the program its command line as one string: the one built, so that the
    // archiver parses exactly the documented line; its console window stays hidden.
    process.setNativeArguments(call.CommandLine.mid(call.Program.size()));
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *args) {
        args->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
        args->startupInfo->wShowWindow = SW_HIDE;
    });
#else
    process.setArguments(call.Arguments);
#endif
#ifdef Q_OS_LINUX
    // The archiver ends with the program: a program that is killed would otherwise leave it
    // writing into a work folder that the next run finds and refuses. (The signal follows the
    // thread that started the archiver, which waits for it below.)
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
    });
#endif
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(-1))
        return 1;
    process.waitForFinished(-1);
    if (errorOutput)
        *errorOutput = QString::fromLocal8Bit(process.readAllStandardError());
    if (process.exitStatus() != QProcess::NormalExit)
        return 1;
    return process.exitCode();
}

int PackFolder(const QString &appFolder, const QString &folder, const QString &comment,
               const QString &archiveName)
{
    const int packed = RunArchiver(PackCall(appFolder, folder, archiveName));
    if (packed != 0)
        return packed;

    const QString commentPath =
        paths::excludeTrailing(folder) + paths::separator() + CommentFileName;
    QFile file(commentPath);
    const QByteArray bytes = cp1251::encode(comment) + QByteArrayLiteral("\r\n");
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered) ||
        file.write(bytes) != bytes.size() || !file.flush()) {
        throw EFileError(QStringLiteral("Не удалось записать файл ") + commentPath +
                         QStringLiteral(": ") + file.errorString());
    }
    file.close();
    return RunArchiver(CommentCall(appFolder, folder, archiveName));
}

int UnpackArchive(const QString &appFolder, const QString &folder, const QString &archiveName)
{
    return RunArchiver(UnpackCall(appFolder, folder, archiveName));
}

QString SafeFileName(const QString &s)
{
    QString result;
    result.reserve(s.size());
    for (const QChar c : s) {
        if (c == QLatin1Char('/') || c == QLatin1Char(':') || c == QLatin1Char('\\'))
            result += QLatin1Char('_');
        else if (c != Quote)
            result += c;
    }
    return result;
}
