// Writes the seeds of the package fuzzer into a folder: the demo package's archive, and each of
// its tables on its own (see import_fixture.h for the input layout).
#include "arcerror.h"
#include "core/errors.h"
#include "import_fixture.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

namespace {

void write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        throw EFileError(QStringLiteral("cannot write ") + path);
}

QByteArray read(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw EFileError(QStringLiteral("cannot read ") + path);
    return f.readAll();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <seed folder>\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    try {
        QTemporaryDir root;
        const ImportFixture f = makeImportFixture(root.path(), app.applicationDirPath());
        write(out + QStringLiteral("/package.seed"), ArchiveInput + read(f.package));
        const auto &names = demo::PackageTableNames();
        for (size_t i = 0; i < names.size(); ++i) {
            QByteArray bytes;
            bytes += TableInput;
            bytes += char(i);
            bytes += read(f.tables + QLatin1Char('/') + names[i] + QStringLiteral(".DB"));
            write(out + QStringLiteral("/table-") + names[i] + QStringLiteral(".seed"), bytes);
        }
    } catch (const Exception &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.Message()));
        return 1;
    } catch (const arc::ArcError &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.Message()));
        return 1;
    }
    return 0;
}
