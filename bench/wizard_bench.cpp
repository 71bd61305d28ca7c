// The administration wizard on a demo central database at a given scale, offscreen: how long a
// region change takes (hospitals, settlements, brigades and workstations follow it), one
// keystroke in each filter box in the "Быстрый" mode, and one "Полный" query per box; against
// the floor of each step: the rows it shows, read by a prepared statement of its own on the same
// connection (the hospitals or settlements of the region for a region change, the rows the
// box's text selects for a keystroke or a query).
//
//   wizard_bench [--scale 10] [--postgres host:port:dbname --user U --password P]
//
// Prints the mean and the worst time of each step, its mean CPU time (on a shared machine the
// wall time also holds the neighbours' work), the floor's mean and the ratio of the means, and
// the peak memory of the run.

#include "admin/adminwizard.h"
#include "admin/wizarddata.h"
#include "benchsupport.h"
#include "core/errors.h"
#include "core/localzone.h"
#include "ui/dialogs.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRadioButton>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>

namespace {

using namespace bench;

struct Timing
{
    QString step;
    QList<double> ms, cpu, floor;
    void report() const
    {
        if (ms.isEmpty())
            return;
        const auto mean = [](const QList<double> &v) {
            double sum = 0;
            for (double x : v)
                sum += x;
            return v.isEmpty() ? 0.0 : sum / static_cast<double>(v.size());
        };
        const auto number = [](double v, int width) {
            return QString::number(v, 'f', 2).rightJustified(width);
        };
        Out() << step.leftJustified(42) << QString::number(ms.size()).rightJustified(4)
              << " x  mean " << number(mean(ms), 7) << " ms  worst "
              << number(*std::max_element(ms.begin(), ms.end()), 7) << " ms  cpu "
              << number(mean(cpu), 7) << " ms";
        if (!floor.isEmpty()) {
            Out() << "  floor " << number(mean(floor), 6) << " ms  ratio "
                  << number(mean(ms) / qMax(mean(floor), 0.001), 6);
            measuredMs += mean(ms);
            floorMs += qMax(mean(floor), 0.001);
        }
        Out() << Qt::endl;
    }
    // The means of the steps that have a floor, and of their floors, reported so far.
    static inline double measuredMs = 0, floorMs = 0;
};

// Runs step, noting its wall and CPU milliseconds.
template <typename F> void timed(Timing &timing, F &&step)
{
    const double cpu = CpuSeconds();
    QElapsedTimer t;
    t.start();
    step();
    timing.ms << static_cast<double>(t.nsecsElapsed()) / 1e6;
    timing.cpu << (CpuSeconds() - cpu) * 1e3;
}

template <typename T> T *child(QWidget *w, const QString &name)
{
    auto *c = w->findChild<T *>(name);
    if (!c)
        throw Exception(QStringLiteral("no ") + name);
    return c;
}

// The floor of a step: the rows it shows, read whole by a statement prepared here.
class Floor
{
public:
    explicit Floor(const QSqlDatabase &db) : m_db(db) {}

    // The rows of table of a region (Null: without one) whose column matches pattern (LIKE,
    // upper case on both sides; empty: all), ordered by order; milliseconds taken.
    double Rows(const QString &table, const QVariant &region, const QString &column,
                const QString &pattern, const QString &order)
    {
        QString sql = QStringLiteral("SELECT * FROM %1 WHERE ").arg(table);
        if (table != QLatin1String("REGION"))
            sql += region.isNull() ? QStringLiteral("REGGID IS NULL AND ")
                                   : QStringLiteral("REGGID = :REGION AND ");
        sql += QStringLiteral("UPPER(%1) LIKE :PATTERN ORDER BY %2").arg(column, order);
        QElapsedTimer t;
        t.start();
        QSqlQuery q(m_db);
        q.setForwardOnly(true);
        if (!q.prepare(sql))
            throw Exception(q.lastError().text());
        if (!region.isNull() && table != QLatin1String("REGION"))
            q.bindValue(QStringLiteral(":REGION"), region);
        q.bindValue(QStringLiteral(":PATTERN"), pattern.isEmpty() ? QStringLiteral("%") : pattern);
        if (!q.exec())
            throw Exception(q.lastError().text());
        QVariantList row;
        while (q.next()) {
            row.clear();
            for (int i = 0; i < q.record().count(); ++i)
                row << q.value(i);
        }
        return static_cast<double>(t.nsecsElapsed()) / 1e6;
    }

private:
    QSqlDatabase m_db;
};

// What a filter box selects from and by which column.
struct Box
{
    QString name;  // Region, Hospital, City
    QString table; // its central table
    QString column;
    QString order;
};

// The first letters of the names in a grid's first column, for prefixes that find something.
QStringList prefixes(QTableView *grid, int count, int length)
{
    QStringList result;
    const QAbstractItemModel *m = grid->model();
    for (int r = 0; r < m->rowCount() && result.size() < count; r += qMax(1, m->rowCount() / count))
        result << m->index(r, 0).data().toString().left(length).toUpper();
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    // As the program starts.
    PinLocalTimeZone();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const DemoOptions options(parser);
    options.Parse(app.arguments());
    // An unexpected question ends the run instead of waiting for an answer nobody gives.
    TDialogs::SetTestMode(true);
    QTextStream &out = Out();

    try {
        QTemporaryDir dir;
        const QString folder = dir.path();
        MakeDemo(options.DemoArgs(folder));
        DemoCentral demo(folder, options.User(), options.Password());
        TDatabase &center = demo.center;
        Floor floor(center.Sql());
        out << "central database: " << center.Driver() << ", demo scale " << options.Scale()
            << Qt::endl;
        ResetPeak();

        Timing open{QStringLiteral("open the wizard"), {}, {}, {}};
        std::unique_ptr<TAdminWizard> wizard;
        timed(open, [&] { wizard = std::make_unique<TAdminWizard>(nullptr, center); });
        wizard->show();
        open.report();
        const auto region = [&] {
            return wizard->WWDM().itRegion.FieldByName(QStringLiteral("REGGID"))->AsVariant();
        };

        for (const QString &type : {QStringLiteral("rbHospital"), QStringLiteral("rbBrigade")}) {
            const bool hospital = type == QLatin1String("rbHospital");
            const QString kind = hospital ? QStringLiteral("hospital") : QStringLiteral("brigade");
            const Box regions{QStringLiteral("Region"), QStringLiteral("REGION"),
                              QStringLiteral("REGNAME"), QStringLiteral("REGNAME")};
            const Box shown = hospital
                                  ? Box{QStringLiteral("Hospital"), QStringLiteral("HOSPITAL"),
                                        QStringLiteral("MU"), QStringLiteral("MU, MUFL")}
                                  : Box{QStringLiteral("City"), QStringLiteral("CITY"),
                                        QStringLiteral("CITYNAME"), QStringLiteral("CITYNAME")};
            Timing choose{QStringLiteral("choose the type (%1)").arg(kind), {}, {}, {}};
            timed(choose, [&] { child<QRadioButton>(wizard.get(), type)->click(); });
            choose.report();

            auto *regionGrid = child<QTableView>(wizard.get(), QStringLiteral("grdRegion"));
            Timing regionChange{QStringLiteral("region change (%1)").arg(kind), {}, {}, {}};
            for (int r = 0; r < qMin(regionGrid->model()->rowCount(), 20); ++r) {
                timed(regionChange,
                      [&] { regionGrid->setCurrentIndex(regionGrid->model()->index(r, 0)); });
                regionChange.floor
                    << floor.Rows(shown.table, region(), shown.column, {}, shown.order);
            }
            regionGrid->setCurrentIndex(regionGrid->model()->index(0, 0));
            regionChange.report();

            for (const Box &b : {regions, shown}) {
                auto *grid = child<QTableView>(wizard.get(), QStringLiteral("grd") + b.name);
                auto *edit =
                    child<QLineEdit>(wizard.get(), QStringLiteral("ed%1Filter").arg(b.name));
                const QStringList words = prefixes(grid, 5, 3);
                const QVariant at = region();
                Timing quick{
                    QStringLiteral("keystroke, %1 box, quick (%2)").arg(b.name, kind), {}, {}, {}};
                for (const QString &w : words) {
                    for (const QChar c : w) {
                        timed(quick, [&] { edit->insert(QString(c)); });
                        quick.floor << floor.Rows(b.table, at, b.column,
                                                  edit->text() + QLatin1Char('%'), b.order);
                    }
                    edit->clear();
                }
                child<QRadioButton>(wizard.get(), QStringLiteral("rb%1FilterFull").arg(b.name))
                    ->click();
                Timing full{
                    QStringLiteral("\"Полный\" query, %1 box (%2)").arg(b.name, kind), {}, {}, {}};
                for (const QString &w : words) {
                    timed(full, [&] { edit->setText(w.mid(1)); });
                    full.floor << floor.Rows(b.table, at, b.column,
                                             QLatin1Char('%') + w.mid(1) + QLatin1Char('%'),
                                             b.order);
                }
                edit->clear();
                child<QRadioButton>(wizard.get(), QStringLiteral("rb%1FilterQuick").arg(b.name))
                    ->click();
                quick.report();
                full.report();
            }
        }
        Timing close{QStringLiteral("close the wizard"), {}, {}, {}};
        timed(close, [&] { wizard.reset(); });
        close.report();
        out << "peak memory of the run: " << QString::number(PeakMiB(), 'f', 1) << " MiB"
            << Qt::endl;
        PrintRatio(QStringLiteral("steps / their floors, in all"), Timing::measuredMs,
                   Timing::floorMs);
    } catch (const std::exception &e) {
        const auto *own = dynamic_cast<const Exception *>(&e);
        out << "wizard_bench: " << (own ? own->Message() : QString::fromUtf8(e.what())) << Qt::endl;
        return 1;
    }
    return 0;
}
