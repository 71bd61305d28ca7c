// The synchronisation with ЕСВС on a demo installation at a given scale (scale 10: about 20,000
// hospitals), a first run and a repeat run (every row found and edited), against the floor of the
// same work: the rows of the three ЕСВС queries, already in memory, upserted into the central
// tables by prepared statements in one transaction.
//
//   sync_bench [--scale 10] [--rounds 5] [--postgres host:port:dbname --user U --password P]
//
// With --postgres both the central and the ЕСВС database are on the server (zoru-demo puts ЕСВС
// into dbname_esvs). Each round makes the demo afresh. Prints the median time and CPU time of each
// phase (the CPU time is this process's: on a busy machine it says more than the time, but leaves
// out a server's work), their ratios to the floor and the peak memory.

#include "benchsupport.h"
#include "core/localzone.h"
#include "engine/database.h"
#include "jobs/jobrunner.h"
#include "sync/syncjob.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>

namespace {

using namespace bench;

std::vector<QVariantList> readAll(const QSqlDatabase &db, const QStringList &sql)
{
    QSqlQuery q = Exec(db, sql.join(QLatin1Char('\n')));
    std::vector<QVariantList> rows;
    while (q.next()) {
        QVariantList row;
        for (int i = 0; i < q.record().count(); ++i)
            row << q.value(i);
        rows.push_back(std::move(row));
    }
    return rows;
}

// One prepared upsert: UPDATE by key, INSERT when no row was there.
class Upsert
{
public:
    Upsert(const QSqlDatabase &db, const QString &table, const QStringList &columns,
           const QString &key)
        : m_update(db), m_insert(db), m_key(columns.indexOf(key))
    {
        QStringList sets, marks;
        for (const QString &c : columns) {
            sets << c + QStringLiteral(" = ?");
            marks << QStringLiteral("?");
        }
        prepare(m_update, QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?")
                              .arg(table, sets.join(QStringLiteral(", ")), key));
        prepare(m_insert, QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                              .arg(table, columns.join(QStringLiteral(", ")),
                                   marks.join(QStringLiteral(", "))));
    }
    void Run(const QVariantList &values)
    {
        for (int i = 0; i < values.size(); ++i)
            m_update.bindValue(i, BindableValue(values[i], m_update.driver()));
        m_update.bindValue(int(values.size()), values[m_key]);
        check(m_update);
        if (m_update.numRowsAffected() > 0)
            return;
        for (int i = 0; i < values.size(); ++i)
            m_insert.bindValue(i, BindableValue(values[i], m_insert.driver()));
        check(m_insert);
    }

private:
    static void prepare(QSqlQuery &q, const QString &sql)
    {
        if (!q.prepare(sql))
            throw EDBEngineError(engineMessage(q.lastError()), sql);
    }
    static void check(QSqlQuery &q)
    {
        if (!q.exec())
            throw EDBEngineError(engineMessage(q.lastError()), q.lastQuery());
    }
    QSqlQuery m_update;
    QSqlQuery m_insert;
    int m_key;
};

QString trimmedRight(QString s)
{
    while (!s.isEmpty() && s.back().isSpace())
        s.chop(1);
    return s;
}

// The floor: regions, types and hospitals upserted in one transaction, look-ups from memory.
void floorRun(TDatabase &center, const std::vector<QVariantList> &regions,
              const std::vector<QVariantList> &types, const std::vector<QVariantList> &hospitals)
{
    QSqlDatabase db = center.Sql();
    if (!db.transaction())
        throw EDBEngineError(engineMessage(db.lastError()));
    Upsert region(db, QStringLiteral("REGION"), TImExternalToServer::RegionFields(),
                  QStringLiteral("REGOKATO"));
    for (QVariantList row : regions) {
        row[1] = trimmedRight(row[1].toString());
        row[0] = row[0].toString().left(255);
        region.Run(row);
    }
    Upsert type(db, QStringLiteral("HOSPTYPE"), TImExternalToServer::HospTypeFields(),
                QStringLiteral("IDTMU"));
    for (QVariantList row : types) {
        row[1] = row[1].toString().left(250);
        row[2] = row[2].toString().left(10);
        row[4] = row[4].isNull() ? QVariant() : QVariant(row[4].toString().left(100));
        row[6] = row[6].isNull() ? QVariant() : QVariant(row[6].toString().left(100));
        type.Run(row);
    }
    QHash<QString, QVariant> regionByCode;
    for (QSqlQuery q = Exec(db, QStringLiteral("SELECT REGOKATO, REGGID FROM REGION")); q.next();)
        regionByCode.insert(q.value(0).toString(), q.value(1));
    QHash<qint64, QVariant> typeById;
    for (QSqlQuery q = Exec(db, QStringLiteral("SELECT IDTMU, HTPGID FROM HOSPTYPE")); q.next();)
        typeById.insert(q.value(0).toLongLong(), q.value(1));
    Upsert hospital(db, QStringLiteral("HOSPITAL"), TImExternalToServer::HospitalFields(),
                    QStringLiteral("IDMU"));
    for (const QVariantList &source : hospitals) {
        QVariantList row = source.mid(0, 21);
        row[5] = row[5].isNull() ? QVariant() : QVariant(row[5].toBool() ? 1 : 0);
        row[9] = row[9].isNull() ? QVariant() : QVariant(row[9].toBool() ? 1 : 0);
        row[15] = row[15].isNull() ? QVariant() : QVariant(row[15].toBool() ? 1 : 0);
        row[12] = row[12].isNull() ? QVariant() : QVariant(row[12].toString().left(32));
        row[13] = row[13].isNull() ? QVariant() : QVariant(row[13].toString());
        row[17] = row[17].isNull() ? QVariant() : QVariant(row[17].toString().left(100));
        row[19] = row[19].isNull() ? QVariant() : QVariant(row[19].toString().left(100));
        row << (row[4].isNull() ? QVariant() : typeById.value(row[4].toLongLong()));
        const QString code = TImExternalToServer::RegionCodeOf(source[21]);
        row << (code.isEmpty() ? QVariant() : regionByCode.value(code));
        hospital.Run(row);
    }
    if (!db.commit())
        throw EDBEngineError(engineMessage(db.lastError()));
}

// Seconds, CPU seconds and peak memory of the phases of the rounds.
struct Phase
{
    std::vector<double> seconds, cpu;
    double peak = 0;
    QString rows;

    template <typename Work> void Measure(Work work)
    {
        ResetPeak();
        QElapsedTimer timer;
        timer.start();
        const double cpu0 = CpuSeconds();
        work();
        cpu.push_back(CpuSeconds() - cpu0);
        seconds.push_back(timer.elapsed() / 1000.0);
        peak = std::max(peak, PeakMiB());
    }
    void Print(QTextStream &out, const char *what, const Phase *floor) const
    {
        out << what << Median(seconds) << " s, cpu " << Median(cpu) << " s, peak " << peak
            << " MiB (" << rows << ")";
        if (floor)
            out << ", ratio " << Median(seconds) / Median(floor->seconds) << " (cpu "
                << Median(cpu) / Median(floor->cpu) << ")";
        out << Qt::endl;
    }
};

// One round on a fresh demo installation: the first run, the repeat run, then the floor.
void runRound(const DemoOptions &options, Phase &first, Phase &repeat, Phase &floor,
              QString &backend)
{
    QTemporaryDir dir;
    const QString folder = dir.path();
    MakeDemo(options.DemoArgs(folder));
    DemoCentral demo(folder, options.User(), options.Password());
    TDatabase &center = demo.center;
    backend = center.Driver();
    for (Phase *phase : {&first, &repeat}) {
        SilentWindow window;
        int result = 0;
        phase->Measure([&] {
            result = RunJob(window, [&demo](const TJobContext &context) {
                return std::make_unique<TImExternalToServer>(context, demo.info, demo.center);
            });
        });
        if (result != 1)
            throw Exception(QStringLiteral("synchronisation failed: ") +
                            window.lines.join(QLatin1Char('\n')));
        phase->rows = window.lines.filter(QStringLiteral(" записей")).join(QStringLiteral(", "));
    }

    // The same rows in memory (not timed), then the floor.
    TDatabase esvs(QStringLiteral("ESVS"), &demo.aliases);
    esvs.AliasName = demo.info.ESVSDBAlias();
    esvs.LoginPrompt = false;
    esvs.Params = center.Params;
    esvs.Open();
    const auto regions = readAll(esvs.Sql(), TImExternalToServer::RegionSQL());
    const auto types = readAll(esvs.Sql(), TImExternalToServer::HospTypeSQL());
    const auto hospitals = readAll(esvs.Sql(), TImExternalToServer::HospitalSQL());
    floor.Measure([&] { floorRun(center, regions, types, hospitals); });
    floor.rows =
        QString::number(hospitals.size()) + QStringLiteral(" hospitals, rows already in memory");
}

} // namespace

int main(int argc, char *argv[])
{
    // As the program starts.
    PinLocalTimeZone();
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const DemoOptions options(parser);
    options.Parse(app.arguments());
    QTextStream &out = Out();

    try {
        const QString password = options.Password();
        TDatabase::SetLoginHandler([password](const QString &, QString &, QString &p) {
            p = password;
            return true;
        });
        // Each round on a demo installation of its own, the first run finding it as made; the
        // phases of a round follow each other, so that they see the same state of the machine.
        Phase first, repeat, floor;
        QString backend;
        for (int round = 0; round < options.Rounds(); ++round)
            runRound(options, first, repeat, floor, backend);
        out << "backend            " << backend << ", demo scale " << options.Scale() << ", "
            << options.Rounds() << " rounds (medians)" << Qt::endl;
        first.Print(out, "first run          ", &floor);
        repeat.Print(out, "repeat run         ", &floor);
        floor.Print(out, "floor (upserts)    ", nullptr);
        PrintRatio(QStringLiteral("first run / floor"), Median(first.seconds),
                   Median(floor.seconds));
    } catch (const Exception &e) {
        QTextStream(stderr) << e.Message() << Qt::endl;
        return 1;
    }
    return 0;
}
