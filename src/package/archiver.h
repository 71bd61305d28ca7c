#pragma once

#include <QString>
#include <QStringList>
#include <memory>

// Packages travel as archives made by the external archiver in the program folder (else the
// one found on PATH). These functions build its command lines, run it and return its exit code
// (0 is success; 1 also stands for an archiver that could not be started or crashed). They
// block the calling thread until the archiver ends and keep no state, so any thread may call
// them.

// File name of the archiver inside the program folder.
QString ArchiverProgram();

// Every volume of a package is at most this many bytes.
inline constexpr qint64 ArchiveVolumeSize = 1400000;

// Name of the file holding the archive comment, written into the packed folder.
inline const QString CommentFileName = QStringLiteral("comment.txt");

// One run of the archiver: its program (the full path), its arguments, and the command line they
// make as the archiver is documented (the program path unquoted, paths in double quotes).
struct TArchiverCall
{
    QString Program;
    QStringList Arguments;
    QString CommandLine;
};

// The archiver's calls; every one is built here. appFolder ends with a separator; one trailing
// separator of `folder` is ignored.
//   pack:          a -y -df -ep -v1400000b "<folder>/../<archive>" "<folder>/*.*"
//   comment:       c -y -z"<folder>/comment.txt" "<folder>/../<archive>"
//   unpack:        x -y -o+ "<archive path>" "<folder>"
//   read comment:  cw "<first volume>" "<comment file>"
TArchiverCall PackCall(const QString &appFolder, const QString &folder, const QString &archiveName);
TArchiverCall CommentCall(const QString &appFolder, const QString &folder,
                          const QString &archiveName);
TArchiverCall UnpackCall(const QString &appFolder, const QString &folder,
                         const QString &archiveName);
TArchiverCall CommentReadCall(const QString &appFolder, const QString &firstVolume,
                              const QString &commentFile);

// Runs the archiver as a hidden process with no input, waits without a time limit and returns
// its exit code; 1 when it cannot start or crashed. Its error output is placed in *errorOutput
// when given.
int RunArchiver(const TArchiverCall &call, QString *errorOutput = nullptr);

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
