// The synchronisation with ЕСВС on a demo installation at a given scale (scale 10: about 20,000
// hospitals), a first run and a repeat run (every row found and edited), against the floor of the
// same work: the rows of the three ЕСВС queries, already in memory, upserted into the central
// tables by prepared statements in one transaction.
//
//   sync_bench [--scale 10] [--postgres host:port:dbname --user U --password P]
//
// With --postgres both the central and the ЕСВС database are on the server (zoru-demo puts ЕСВС
// into dbname_esvs). Prints the times, their ratio to the floor and the peak memory of each phase.

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

} // namespace

int main(int argc, char *argv[])
{
    // As the program starts.
    PinLocalTimeZone();
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const DemoOptions options(parser);
    parser.process(app);
    QTextStream &out = Out();

    try {
        QTemporaryDir dir;
        const QString folder = dir.path();
        QStringList demoArgs = options.DemoArgs(folder);
        if (options.Postgres())
            demoArgs << QStringLiteral("--force");
        const double demoSeconds = MakeDemo(demoArgs);
        out << "demo installation at scale " << options.Scale() << ": " << demoSeconds << " s"
            << Qt::endl;

        const QString password = options.Password();
        TDatabase::SetLoginHandler([password](const QString &, QString &, QString &p) {
            p = password;
            return true;
        });
        DemoCentral demo(folder, options.User(), password);
        TDatabase &center = demo.center;

        const auto runJob = [&out, &demo](const char *what) {
            ResetPeak();
            QElapsedTimer timer;
            timer.start();
            SilentWindow window;
            const int result = RunJob(window, [&demo](const TJobContext &context) {
                return std::make_unique<TImExternalToServer>(context, demo.info, demo.center);
            });
            const double seconds = timer.elapsed() / 1000.0;
            if (result != 1)
                throw Exception(QStringLiteral("synchronisation failed: ") +
                                window.lines.join(QLatin1Char('\n')));
            out << what << seconds << " s, peak " << PeakMiB() << " MiB ("
                << window.lines.filter(QStringLiteral(" записей")).join(QStringLiteral(", ")) << ")"
                << Qt::endl;
            return seconds;
        };
        out << Qt::endl << "backend            " << center.Driver() << Qt::endl;
        const double first = runJob("first run          ");
        const double repeat = runJob("repeat run         ");

        // The same rows in memory (not timed), then the floor.
        TDatabase esvs(QStringLiteral("ESVS"), &demo.aliases);
        esvs.AliasName = demo.info.ESVSDBAlias();
        esvs.LoginPrompt = false;
        esvs.Params = center.Params;
        esvs.Open();
        const auto regions = readAll(esvs.Sql(), TImExternalToServer::RegionSQL());
        const auto types = readAll(esvs.Sql(), TImExternalToServer::HospTypeSQL());
        const auto hospitals = readAll(esvs.Sql(), TImExternalToServer::HospitalSQL());
        ResetPeak();
        QElapsedTimer timer;
        timer.start();
        floorRun(center, regions, types, hospitals);
        const double floor = timer.elapsed() / 1000.0;
        out << "floor (upserts)    " << floor << " s, peak " << PeakMiB() << " MiB ("
            << hospitals.size() << " hospitals, rows already in memory)" << Qt::endl
            << "ratio first/floor  " << (floor > 0 ? first / floor : 0) << Qt::endl
            << "ratio repeat/floor " << (floor > 0 ? repeat / floor : 0) << Qt::endl;
    } catch (const Exception &e) {
        QTextStream(stderr) << e.Message() << Qt::endl;
        return 1;
    }
    return 0;
}
