// The administration wizard on a demo central database at a given scale, offscreen: how long a
// region change takes (hospitals, settlements, brigades and workstations follow it), one
// keystroke in each filter box in the "Быстрый" mode, and one "Полный" query per box.
//
//   wizard_bench [--scale 10] [--postgres host:port:dbname --user U --password P]
//
// Prints the mean and the worst time of each step. Reports only; nothing is judged.

#include "admin/adminwizard.h"
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
#include <QTableView>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>

namespace {

using namespace bench;

struct Timing
{
    QString step;
    QList<double> ms;
    void report() const
    {
        if (ms.isEmpty())
            return;
        double sum = 0;
        for (double v : ms)
            sum += v;
        Out() << step.leftJustified(42) << QString::number(ms.size()).rightJustified(6)
              << " x  mean " << QString::number(sum / ms.size(), 'f', 2).rightJustified(9)
              << " ms  worst "
              << QString::number(*std::max_element(ms.begin(), ms.end()), 'f', 2).rightJustified(9)
              << " ms" << Qt::endl;
    }
};

template <typename F> double timed(F &&step)
{
    QElapsedTimer t;
    t.start();
    step();
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

template <typename T> T *child(QWidget *w, const QString &name)
{
    auto *c = w->findChild<T *>(name);
    if (!c)
        throw Exception(QStringLiteral("no ") + name);
    return c;
}

// Types a prefix key by key into a filter box, then empties it again (not timed).
void typePrefix(QLineEdit *edit, const QString &prefix, Timing &timing)
{
    for (const QChar c : prefix)
        timing.ms << timed([&] { edit->insert(QString(c)); });
    edit->clear();
}

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
        out << "central database: " << center.Driver() << ", demo scale " << options.Scale()
            << Qt::endl;

        Timing open{QStringLiteral("open the wizard"), {}};
        std::unique_ptr<TAdminWizard> wizard;
        open.ms << timed([&] { wizard = std::make_unique<TAdminWizard>(nullptr, center); });
        wizard->show();
        open.report();

        for (const QString &type : {QStringLiteral("rbHospital"), QStringLiteral("rbBrigade")}) {
            const bool hospital = type == QLatin1String("rbHospital");
            const QString kind = hospital ? QStringLiteral("hospital") : QStringLiteral("brigade");
            Timing choose{QStringLiteral("choose the type (%1)").arg(kind), {}};
            choose.ms << timed([&] { child<QRadioButton>(wizard.get(), type)->click(); });
            choose.report();

            auto *regions = child<QTableView>(wizard.get(), QStringLiteral("grdRegion"));
            Timing regionChange{QStringLiteral("region change (%1)").arg(kind), {}};
            for (int r = 0; r < qMin(regions->model()->rowCount(), 20); ++r)
                regionChange.ms << timed(
                    [&] { regions->setCurrentIndex(regions->model()->index(r, 0)); });
            regions->setCurrentIndex(regions->model()->index(0, 0));
            regionChange.report();

            const QString box = hospital ? QStringLiteral("Hospital") : QStringLiteral("City");
            for (const QString &b : {QStringLiteral("Region"), box}) {
                auto *grid = child<QTableView>(wizard.get(), QStringLiteral("grd") + b);
                auto *edit = child<QLineEdit>(wizard.get(), QStringLiteral("ed%1Filter").arg(b));
                const QStringList words = prefixes(grid, 5, 3);
                Timing quick{QStringLiteral("keystroke, %1 box, quick (%2)").arg(b, kind), {}};
                for (const QString &w : words)
                    typePrefix(edit, w, quick);
                child<QRadioButton>(wizard.get(), QStringLiteral("rb%1FilterFull").arg(b))->click();
                Timing full{QStringLiteral("\"Полный\" query, %1 box (%2)").arg(b, kind), {}};
                for (const QString &w : words)
                    full.ms << timed([&] { edit->setText(w.mid(1)); });
                edit->clear();
                child<QRadioButton>(wizard.get(), QStringLiteral("rb%1FilterQuick").arg(b))
                    ->click();
                quick.report();
                full.report();
            }
        }
        Timing close{QStringLiteral("close the wizard"), {}};
        close.ms << timed([&] { wizard.reset(); });

        close.report();
    } catch (const std::exception &e) {
        const auto *own = dynamic_cast<const Exception *>(&e);
        out << "wizard_bench: " << (own ? own->Message() : QString::fromUtf8(e.what())) << Qt::endl;
        return 1;
    }
    return 0;
}
