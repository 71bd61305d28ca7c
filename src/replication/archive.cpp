#include "replication/archive.h"

#include "core/cp1251.h"
#include "core/errors.h"
#include "core/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

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

QString program(const QString &appFolder)
{
    return paths::includeTrailing(appFolder) + ArchiverProgram();
}

QString archiveBeside(const QString &folder, const QString &archiveName)
{
    const QChar sep = paths::separator();
    return paths::excludeTrailing(folder) + sep + QStringLiteral("..") + sep + archiveName;
}

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

// Windows argument rules (the C runtime's, which the archiver's own start-up code applies).
QStringList splitArguments(const QString &line)
{
    QStringList args;
    qsizetype i = 0;
    const qsizetype n = line.size();
    for (;;) {
        while (i < n && isBlank(line[i]))
            ++i;
        if (i >= n)
            break;
        QString arg;
        bool inQuotes = false;
        while (i < n) {
            qsizetype backslashes = 0;
            while (i < n && line[i] == QLatin1Char('\\')) {
                ++backslashes;
                ++i;
            }
            if (i < n && line[i] == Quote) {
                arg += QString(backslashes / 2, QLatin1Char('\\'));
                if (backslashes % 2 == 1) {
                    arg += Quote;
                    ++i;
                } else if (inQuotes && i + 1 < n && line[i + 1] == Quote) {
                    arg += Quote;
                    i += 2;
                } else {
                    inQuotes = !inQuotes;
                    ++i;
                }
                continue;
            }
            arg += QString(backslashes, QLatin1Char('\\'));
            if (i >= n || (!inQuotes && isBlank(line[i])))
                break;
            arg += line[i];
            ++i;
        }
        args << arg;
    }
    return args;
}

bool isExecutableFile(const QString &path)
{
    const QFileInfo fi(path);
    return fi.isFile() && fi.isExecutable();
}

// Length of the program part at the start of the line.
qsizetype programLength(const QString &line)
{
    if (line.startsWith(Quote)) {
        const qsizetype close = line.indexOf(Quote, 1);
        return close < 0 ? line.size() : close + 1;
    }
    qsizetype end = line.indexOf(Quote);
    if (end < 0)
        end = line.size();
    qsizetype first = -1;
    for (qsizetype i = 0; i <= end; ++i) {
        if (i < end && !isBlank(line[i]))
            continue;
        if (i == 0 || isBlank(line[i - 1]))
            continue;
        if (first < 0)
            first = i;
        if (isExecutableFile(line.left(i)))
            return i;
    }
    return first < 0 ? end : first;
}

} // namespace

QString ArchiverProgram()
{
#ifdef Q_OS_WIN
    return QStringLiteral("rar.exe");
#else
    return QStringLiteral("zoru-arc");
#endif
}

QString PackCommandLine(const QString &appFolder, const QString &folder, const QString &archiveName)
{
    const QChar sep = paths::separator();
    return program(appFolder) + QStringLiteral(" a -y -df -ep -v") +
           QString::number(ArchiveVolumeSize) + QStringLiteral("b ") +
           quoted(archiveBeside(folder, archiveName)) + QLatin1Char(' ') +
           quoted(paths::excludeTrailing(folder) + sep + QStringLiteral("*.*"));
}

QString CommentCommandLine(const QString &appFolder, const QString &folder,
                           const QString &archiveName)
{
    const QChar sep = paths::separator();
    return program(appFolder) + QStringLiteral(" c -y -z") +
           quoted(paths::excludeTrailing(folder) + sep + CommentFileName) + QLatin1Char(' ') +
           quoted(archiveBeside(folder, archiveName));
}

QString UnpackCommandLine(const QString &appFolder, const QString &folder,
                          const QString &archiveName)
{
    return program(appFolder) + QStringLiteral(" x -y -o+ ") + quoted(archiveName) +
           QLatin1Char(' ') + quoted(paths::excludeTrailing(folder));
}

QStringList SplitCommandLine(const QString &commandLine)
{
    QString line = commandLine;
    while (!line.isEmpty() && isBlank(line.front()))
        line.remove(0, 1);
    if (line.isEmpty())
        return {};
    const qsizetype length = programLength(line);
    QString programPath = line.left(length);
    if (programPath.startsWith(Quote))
        programPath = programPath.mid(1, programPath.endsWith(Quote) && programPath.size() > 1
                                             ? programPath.size() - 2
                                             : programPath.size() - 1);
    return QStringList{programPath} + splitArguments(line.mid(length));
}

int RunArchiver(const QString &commandLine, QString *errorOutput)
{
    const QStringList parts = SplitCommandLine(commandLine);
    if (parts.isEmpty() || parts.constFirst().isEmpty())
        return 1;
    QProcess process;
    process.setProgram(parts.constFirst());
#ifdef Q_OS_WIN
    // Windows hands the program its command line as one string; pass the rest through unchanged
    // so the archiver parses exactly what was built, and keep its console window hidden.
    const QString trimmed = commandLine.trimmed();
    const qsizetype programEnd = programLength(trimmed);
    process.setNativeArguments(trimmed.mid(programEnd));
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *args) {
        args->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
        args->startupInfo->wShowWindow = SW_HIDE;
    });
#else
    process.setArguments(parts.mid(1));
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
    const int packed = RunArchiver(PackCommandLine(appFolder, folder, archiveName));
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
    return RunArchiver(CommentCommandLine(appFolder, folder, archiveName));
}

int UnpackArchive(const QString &appFolder, const QString &folder, const QString &archiveName)
{
    return RunArchiver(UnpackCommandLine(appFolder, folder, archiveName));
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

TWorkFolder::TWorkFolder(const QString &parentFolder, const QString &prefix)
{
    const QString parent =
        parentFolder.isEmpty() ? QDir::tempPath() : paths::excludeTrailing(parentFolder);
    m_dir = std::make_unique<QTemporaryDir>(parent + QLatin1Char('/') + prefix +
                                            QStringLiteral("-XXXXXX"));
    if (!m_dir->isValid())
        throw EFileError(QStringLiteral("Не удалось создать папку в ") + parent +
                         QStringLiteral(": ") + m_dir->errorString());
}

TWorkFolder::~TWorkFolder() = default;

QString TWorkFolder::Path() const
{
    return paths::includeTrailing(QDir::toNativeSeparators(m_dir->path()));
}
