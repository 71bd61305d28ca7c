// zoru-arc: the archiver that the replication jobs run by command line. It understands exactly
// the command lines the jobs build (plus two for reading comments back):
//
//   zoru-arc a -y -df -ep -v<size>b <archive> <folder>/*      (or <folder>/*.*, "/" or "\")
//   zoru-arc c -y -z<comment file> <archive>
//   zoru-arc x -y -o+ <archive> <folder>
//   zoru-arc l <archive>                 list the comment and the entries
//   zoru-arc cw <archive> <file>         write the comment's bytes to a file
//
// Volume format written by "a": one ordinary ZIP stream (UTF-8 names, deflate) cut into pieces
// of exactly <size> bytes, the last one shorter. The first piece is named <archive>; the others
// follow the naming of volumes.h (x.s2w, x.s00, x.s01, ...). Joined in order they are a plain ZIP
// file. The archive comment is the ZIP end-of-central-directory comment, bytes kept as given;
// until "c" sets one, the field holds a marker with the volume size (read back as no comment),
// so that "c" keeps every volume within that size even when the comment adds a volume.
// "x" reads ZIP sets of this kind as well as ZIP, 7z and RAR (multi-volume too) archives.

#include "arcerror.h"
#include "commands.h"

#include <QCoreApplication>
#include <QDir>
#include <QStringList>
#include <clocale>
#include <cstdio>
#include <cstring>
#ifndef Q_OS_WIN
#include <langinfo.h>
#endif

namespace {

using arc::ArcError;

void printError(const QString &message)
{
    const QByteArray bytes =
        (QStringLiteral("zoru-arc: ") + message + QLatin1Char('\n')).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

ArcError usageError()
{
    return ArcError(arc::ExitUsage,
                    QStringLiteral("неверная командная строка. Допустимы:\n"
                                   "  zoru-arc a -y -df -ep -v<размер>b <архив> <папка>/*.*\n"
                                   "  zoru-arc c -y -z<файл комментария> <архив>\n"
                                   "  zoru-arc x -y -o+ <архив> <папка>\n"
                                   "  zoru-arc l <архив>\n"
                                   "  zoru-arc cw <архив> <файл>"));
}

bool is(const QString &arg, const char *expected)
{
    return arg.compare(QLatin1String(expected), Qt::CaseInsensitive) == 0;
}

// Paths are taken lexically, as the command lines were built: "<folder>/../<name>" is the file
// beside the folder even when the folder is a symbolic link.
QString cleanPath(const QString &path)
{
    return QDir::cleanPath(path);
}

// "<folder>/*" or "<folder>\*.*" -> "<folder>".
QString folderOfMask(const QString &mask)
{
    for (const char *suffix : {"/*.*", "\\*.*", "/*", "\\*"}) {
        const QLatin1String s(suffix);
        if (mask.endsWith(s)) {
            const QString folder = mask.left(mask.size() - s.size());
            return folder.isEmpty() ? QStringLiteral("/") : cleanPath(folder);
        }
    }
    throw usageError();
}

qint64 volumeSizeOf(const QString &key)
{
    // -v<digits>b
    if (key.size() < 4 || !key.startsWith(QLatin1String("-v"), Qt::CaseInsensitive) ||
        !key.endsWith(QLatin1Char('b'), Qt::CaseInsensitive))
        throw usageError();
    const QString digits = key.mid(2, key.size() - 3);
    for (const QChar c : digits) {
        if (!c.isDigit() || c.unicode() > '9')
            throw usageError();
    }
    bool ok = false;
    const qint64 size = digits.toLongLong(&ok);
    if (!ok || size < 1)
        throw usageError();
    return size;
}

int run(const QStringList &args)
{
    const qsizetype n = args.size();
    if (n == 7 && is(args[0], "a") && is(args[1], "-y") && is(args[2], "-df") &&
        is(args[3], "-ep")) {
        arc::Pack(cleanPath(args[5]), folderOfMask(args[6]), volumeSizeOf(args[4]));
        return arc::ExitOk;
    }
    if (n == 4 && is(args[0], "c") && is(args[1], "-y") &&
        args[2].startsWith(QLatin1String("-z"), Qt::CaseInsensitive) && args[2].size() > 2) {
        arc::SetComment(cleanPath(args[3]), cleanPath(args[2].mid(2)));
        return arc::ExitOk;
    }
    if (n == 5 && is(args[0], "x") && is(args[1], "-y") && is(args[2], "-o+")) {
        arc::Extract(cleanPath(args[3]), cleanPath(args[4]));
        return arc::ExitOk;
    }
    if (n == 2 && is(args[0], "l")) {
        arc::List(cleanPath(args[1]));
        return arc::ExitOk;
    }
    if (n == 3 && is(args[0], "cw")) {
        arc::WriteCommentToFile(cleanPath(args[1]), cleanPath(args[2]));
        return arc::ExitOk;
    }
    throw usageError();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
#ifndef Q_OS_WIN
    // libarchive converts entry names through the C locale; names are UTF-8 whatever the
    // environment says, so the conversions must be UTF-8 too.
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0)
        std::setlocale(LC_CTYPE, "C.UTF-8");
#endif
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    try {
        return run(args);
    } catch (const ArcError &e) {
        printError(e.Message());
        return e.Code();
    } catch (const std::exception &e) {
        printError(QStringLiteral("внутренняя ошибка: ") + QString::fromLocal8Bit(e.what()));
        return arc::ExitFatal;
    }
}
