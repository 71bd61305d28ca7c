#pragma once

#include <QString>
#include <QStringList>
#include <memory>

class QTemporaryDir;

// Packages travel as archives made by the external archiver in the program folder. These
// functions build its command lines, run it and return its exit code (0 is success; 1 also
// stands for an archiver that could not be started or crashed). They block the calling thread
// until the archiver ends and keep no state, so any thread may call them.

// File name of the archiver inside the program folder.
QString ArchiverProgram();

// Every volume of a package is at most this many bytes.
inline constexpr qint64 ArchiveVolumeSize = 1400000;

// Name of the file holding the archive comment, written into the packed folder.
inline const QString CommentFileName = QStringLiteral("comment.txt");

// Command lines. appFolder ends with a separator; one trailing separator of `folder` is ignored.
// The program path is deliberately left unquoted (see SplitCommandLine).
QString PackCommandLine(const QString &appFolder, const QString &folder,
                        const QString &archiveName);
QString CommentCommandLine(const QString &appFolder, const QString &folder,
                           const QString &archiveName);
QString UnpackCommandLine(const QString &appFolder, const QString &folder,
                          const QString &archiveName);

// Splits a command line into program and arguments the way Windows starts it: an unquoted
// program path may contain blanks, so the shortest blank-delimited prefix naming an existing
// executable file is the program (the first token when none does); the rest follows the
// Windows argument rules (double quotes group, "" inside quotes and \" are literal quotes,
// 2n backslashes before a quote give n).
QStringList SplitCommandLine(const QString &commandLine);

// Starts the whole command line as a hidden process with no input, waits without a time limit
// and returns its exit code; 1 when it cannot start or crashed. The archiver's error output is
// placed in *errorOutput when given.
int RunArchiver(const QString &commandLine, QString *errorOutput = nullptr);

// Packs the files of `folder` (which are deleted) into the archive `archiveName` (a bare file
// name) beside the folder, in volumes of ArchiveVolumeSize bytes, and sets `comment` as the
// archive comment (through comment.txt, which stays in the folder). Returns the first non-zero
// exit code. Raises EFileError when comment.txt cannot be written.
int PackFolder(const QString &appFolder, const QString &folder, const QString &comment,
               const QString &archiveName);

// Extracts every file of the archive (all its volumes; archivePath names the first) into
// `folder`, overwriting.
int UnpackArchive(const QString &appFolder, const QString &folder, const QString &archiveName);

// A text made fit for a file name: "/", ":" and "\" become "_", double quotes are dropped.
QString SafeFileName(const QString &s);

// A uniquely named folder that is removed with everything in it when the object goes away.
class TWorkFolder
{
public:
    // Created under parentFolder (the system's temporary folder when empty), its name starting
    // with `prefix`. Raises EFileError when it cannot be created.
    explicit TWorkFolder(const QString &parentFolder = {},
                         const QString &prefix = QStringLiteral("zoru"));
    ~TWorkFolder();
    TWorkFolder(const TWorkFolder &) = delete;
    TWorkFolder &operator=(const TWorkFolder &) = delete;

    // With a trailing separator, as folders are held in the program.
    QString Path() const;

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};
