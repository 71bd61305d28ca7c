// Writes and reads a 10-column table of 100,000 rows with our Paradox module and with pxlib
// called directly, each run in a child process so that its peak memory is its own.
//   paradox_bench [rows]
// pxlib writes an unkeyed table (its index writer is limited to two levels and needs a second
// pass); ours writes a keyed table with its primary index, so ours does strictly more work.
#include "benchsupport.h"
#include "core/cp1251.h"
#include "core/errors.h"
#include "engine/paradox/paradoxtable.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTime>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <paradox.h>
}

using namespace paradox;

namespace {

Schema benchSchema()
{
    Schema s;
    s.fields = {Field(QStringLiteral("ID"), FieldType::Long),
                Field(QStringLiteral("Surname"), FieldType::Alpha, 30),
                Field(QStringLiteral("Address"), FieldType::Alpha, 50),
                Field(QStringLiteral("Sex"), FieldType::Short),
                Field(QStringLiteral("Mass"), FieldType::Number),
                Field(QStringLiteral("Born"), FieldType::Date),
                Field(QStringLiteral("CrDate"), FieldType::Timestamp),
                Field(QStringLiteral("Smoker"), FieldType::Logical),
                Field(QStringLiteral("WstGID"), FieldType::Long),
                Field(QStringLiteral("Growth"), FieldType::Number)};
    s.keyFieldCount = 1;
    return s;
}

Row benchRow(int i)
{
    return {i + 1,
            QStringLiteral("Иванов-%1").arg(i % 977),
            QStringLiteral("ул. Ленина, д. %1").arg(i % 211),
            i % 2,
            50.0 + (i % 50) / 3.0,
            QDate(1950, 1, 1).addDays(i % 20000),
            QDateTime(QDate(2005, 6, 1), QTime(9, 30)).addSecs(i),
            (i % 3) == 0,
            12,
            150.0 + (i % 40)};
}

void ourWrite(const QString &path, int rows)
{
    TableWriter w(path, benchSchema());
    for (int i = 0; i < rows; ++i)
        w.append(benchRow(i));
    w.finish();
}

void ourRead(const QString &path, int rows)
{
    TableReader r(path);
    Row row;
    int n = 0;
    while (r.next(row))
        ++n;
    if (n != rows)
        std::abort();
}

void pxWrite(const QString &path, int rows)
{
    pxdoc_t *doc = PX_new();
    const Schema s = benchSchema();
    auto *fields =
        static_cast<pxfield_t *>(doc->malloc(doc, sizeof(pxfield_t) * s.fields.size(), "f"));
    for (size_t i = 0; i < s.fields.size(); ++i) {
        const QByteArray name = s.fields[i].name.toLatin1();
        fields[i].px_fname = static_cast<char *>(doc->malloc(doc, size_t(name.size()) + 1, "n"));
        std::memcpy(fields[i].px_fname, name.constData(), size_t(name.size()) + 1);
        fields[i].px_ftype = static_cast<char>(s.fields[i].type);
        fields[i].px_flen = s.fields[i].storedSize();
        fields[i].px_fdc = 0;
    }
    if (PX_create_file(doc, fields, int(s.fields.size()), path.toLocal8Bit().constData(),
                       pxfFileTypNonIndexDB) < 0)
        std::abort();
    std::vector<char> rec(size_t(PX_get_recordsize(doc)));
    for (int i = 0; i < rows; ++i) {
        const Row r = benchRow(i);
        char *p = rec.data();
        std::memset(p, 0, rec.size());
        PX_put_data_long(doc, p, 4, r[0].toInt());
        p += 4;
        QByteArray a = cp1251::encode(r[1].toString());
        PX_put_data_alpha(doc, p, 30, a.data());
        p += 30;
        a = cp1251::encode(r[2].toString());
        PX_put_data_alpha(doc, p, 50, a.data());
        p += 50;
        PX_put_data_short(doc, p, 2, short(r[3].toInt()));
        p += 2;
        PX_put_data_double(doc, p, 8, r[4].toDouble());
        p += 8;
        PX_put_data_long(doc, p, 4, int(r[5].toDate().toJulianDay() - 1721425));
        p += 4;
        const QDateTime dt = r[6].toDateTime();
        PX_put_data_double(doc, p, 8,
                           double((dt.date().toJulianDay() - 1721425) * 86400000LL +
                                  dt.time().msecsSinceStartOfDay()));
        p += 8;
        PX_put_data_byte(doc, p, 1, r[7].toBool() ? 1 : 0);
        p += 1;
        PX_put_data_long(doc, p, 4, r[8].toInt());
        p += 4;
        PX_put_data_double(doc, p, 8, r[9].toDouble());
        PX_put_record(doc, rec.data());
    }
    PX_close(doc);
    PX_delete(doc);
}

void pxRead(const QString &path, int rows)
{
    pxdoc_t *doc = PX_new();
    if (PX_open_file(doc, path.toLocal8Bit().constData()) < 0)
        std::abort();
    std::vector<char> rec(size_t(PX_get_recordsize(doc)));
    const int n = PX_get_num_records(doc);
    long l;
    short sh;
    double d;
    char b;
    char *text;
    for (int i = 0; i < n; ++i) {
        PX_get_record(doc, i, rec.data());
        char *p = rec.data();
        PX_get_data_long(doc, p, 4, &l);
        p += 4;
        if (PX_get_data_alpha(doc, p, 30, &text) > 0) {
            volatile QString s = cp1251::decode(text, qsizetype(std::strlen(text)));
            doc->free(doc, text);
        }
        p += 30;
        if (PX_get_data_alpha(doc, p, 50, &text) > 0) {
            volatile QString s = cp1251::decode(text, qsizetype(std::strlen(text)));
            doc->free(doc, text);
        }
        p += 50;
        PX_get_data_short(doc, p, 2, &sh);
        p += 2;
        PX_get_data_double(doc, p, 8, &d);
        p += 8;
        PX_get_data_long(doc, p, 4, &l);
        p += 4;
        PX_get_data_double(doc, p, 8, &d);
        p += 8;
        PX_get_data_byte(doc, p, 1, &b);
        p += 1;
        PX_get_data_long(doc, p, 4, &l);
        p += 4;
        PX_get_data_double(doc, p, 8, &d);
    }
    if (n != rows)
        std::abort();
    PX_close(doc);
    PX_delete(doc);
}

// Runs one phase in a child process; prints rows/s and the child's peak resident memory, and
// returns the seconds. Throws when the phase failed.
double phase(const char *label, void (*fn)(const QString &, int), const QString &path, int rows)
{
    const bench::ChildPhase done = bench::RunInChild([&] {
        QElapsedTimer t;
        t.start();
        fn(path, rows);
        return double(t.nsecsElapsed()) / 1e9;
    });
    std::printf("%-28s %10.0f rows/s  %7.3f s  peak RSS %6ld KiB\n", label, rows / done.seconds,
                done.seconds, done.peakKiB);
    return done.seconds;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Paradox tables of 10 columns written and read by our module and by pxlib."));
    parser.addPositionalArgument(QStringLiteral("rows"), QStringLiteral("Rows (100000)."),
                                 QStringLiteral("[rows]"));
    parser.addHelpOption();
    bench::ParseCommandLine(parser, app.arguments(), 1);
    const int rows = bench::PositiveNumber(
        parser, parser.positionalArguments().value(0, QStringLiteral("100000")),
        QStringLiteral("rows"));
    QTemporaryDir dir;
    const QString ours = dir.filePath(QStringLiteral("ours.db"));
    const QString theirs = dir.filePath(QStringLiteral("pxlib.db"));
    std::printf("%d rows, 10 columns\n", rows);
    try {
        const double write = phase("zoru_paradox write (keyed)", ourWrite, ours, rows);
        const double read = phase("zoru_paradox read", ourRead, ours, rows);
        const double pxlibWrite = phase("pxlib write (unkeyed)", pxWrite, theirs, rows);
        const double pxlibRead = phase("pxlib read", pxRead, theirs, rows);
        phase("zoru_paradox read of pxlib", ourRead, theirs, rows);
        bench::PrintRatio(QStringLiteral("write / pxlib write"), write, pxlibWrite);
        bench::PrintRatio(QStringLiteral("read / pxlib read"), read, pxlibRead);
    } catch (const Exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
