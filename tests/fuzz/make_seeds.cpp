// Writes the seed tables of the Paradox fuzzer into a folder: small valid tables of every
// writable type, keyed and unkeyed, empty and several blocks long.
#include "core/errors.h"
#include "engine/paradox/paradoxtable.h"
#include "fuzz_fixture.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTime>
#include <cstdio>

using namespace paradox;

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s <table seed folder> [<index seed folder>]\n", argv[0]);
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(dir.path());
    try {
        Schema all;
        all.fields = {Field(QStringLiteral("ID"), FieldType::Long),
                      Field(QStringLiteral("Имя"), FieldType::Alpha, 20),
                      Field(QStringLiteral("S"), FieldType::Short),
                      Field(QStringLiteral("N"), FieldType::Number),
                      Field(QStringLiteral("L"), FieldType::Logical),
                      Field(QStringLiteral("D"), FieldType::Date),
                      Field(QStringLiteral("TS"), FieldType::Timestamp),
                      Field(QStringLiteral("M"), FieldType::Money),
                      Field(QStringLiteral("T"), FieldType::Time),
                      Field(QStringLiteral("A"), FieldType::AutoInc),
                      Field(QStringLiteral("B"), FieldType::Bytes, 3)};
        all.keyFieldCount = 1;
        std::vector<Row> rows = {{1, QStringLiteral("Пётр"), 5, 1.5, true, QDate(2005, 6, 1),
                                  QDateTime(QDate(2005, 6, 1), QTime(9, 30)), 10.25, QTime(8, 0), 1,
                                  QByteArray("ab")},
                                 {2, QVariant(), QVariant(), QVariant(), QVariant(), QVariant(),
                                  QVariant(), QVariant(), QVariant(), QVariant(), QVariant()},
                                 {-3, QStringLiteral("ascii"), -7, -2.5, false, QDate(1, 1, 1),
                                  QDateTime(QDate(1970, 1, 1), QTime(0, 0)), -1.0,
                                  QTime(23, 59, 59), 3, QByteArray("\xff")}};
        const auto fresh = [&](const QString &name) {
            const QString path = dir.filePath(name);
            QFile::remove(path);
            QFile::remove(primaryIndexPath(path));
            return path;
        };
        writeTable(fresh(QStringLiteral("alltypes.db")), all, rows);
        createEmptyTable(fresh(QStringLiteral("empty.db")), all);

        Schema unkeyed;
        unkeyed.fields = {Field(QStringLiteral("V"), FieldType::Alpha, 5)};
        writeTable(fresh(QStringLiteral("unkeyed.db")), unkeyed,
                   {{QStringLiteral("a")}, {QVariant()}, {QStringLiteral("яяяяя")}});

        Schema blocks;
        blocks.fields = {Field(QStringLiteral("K"), FieldType::Short),
                         Field(QStringLiteral("Text"), FieldType::Alpha, 200)};
        blocks.keyFieldCount = 1;
        std::vector<Row> many;
        for (int i = 0; i < 40; ++i)
            many.push_back({i, QStringLiteral("строка %1").arg(i)});
        writeTable(fresh(QStringLiteral("blocks.db")), blocks, many);

        if (argc == 3) {
            // The index fuzzer's seed: the fixture's own .PX.
            const QDir indexDir(QString::fromLocal8Bit(argv[2]));
            QDir().mkpath(indexDir.path());
            const QString db = indexDir.filePath(QStringLiteral("fixture.db"));
            QFile::remove(db);
            QFile::remove(primaryIndexPath(db));
            writeIndexFixture(db);
            QFile::remove(db);
        }
    } catch (const Exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
