#include "app/personschart.h"

#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QStackedBarSeries>
#include <QValueAxis>
#include <algorithm>
#include <memory>

namespace {

// Handed to a series, which takes it.
std::unique_ptr<QBarSet> barSet(const QString &name, const QList<qint64> &counts)
{
    auto set = std::make_unique<QBarSet>(name);
    for (qint64 c : counts)
        set->append(double(c));
    return set;
}

// Days between two labels of the date axis: a week, or whole weeks when a week would crowd
// more than about ten labels into the span.
qsizetype labelStep(qsizetype days)
{
    return 7 * std::max<qsizetype>(1, (days + 69) / 70);
}

// A whole-number step of the count axis (1, 2 or 5 times a power of ten) that gives at most
// eight intervals up to top.
qint64 countStep(qint64 top)
{
    for (qint64 power = 1;; power *= 10)
        for (qint64 factor : {1, 2, 5})
            if (top <= 8 * factor * power)
                return factor * power;
}

} // namespace

void ShowPersonsChart(QChart &chart, const QList<TChartStation> &stations,
                      const QMap<int, QList<qint64>> &perDay, const QDate &last)
{
    chart.removeAllSeries();
    // A removed axis is the caller's again: gone with the series it served.
    for (QAbstractAxis *axis : chart.axes()) {
        chart.removeAxis(axis);
        const std::unique_ptr<QAbstractAxis> gone(axis);
    }
    if (stations.isEmpty()) {
        chart.setTitle(QStringLiteral("Выберите рабочие станции, чтобы увидеть импорт персон по "
                                      "дням"));
        return;
    }
    const qsizetype days = perDay.isEmpty() ? 0 : perDay.first().size();
    chart.setTitle(QStringLiteral("Импортировано персон по дням за %1 дней").arg(days));
    auto owned = std::make_unique<QStackedBarSeries>();
    QStackedBarSeries *series = owned.get();
    if (stations.size() > MaxChartSets) {
        QList<qint64> sum(days, 0);
        for (const TChartStation &s : stations) {
            const QList<qint64> counts = perDay.value(s.WstGID);
            for (qsizetype d = 0; d < std::min(days, counts.size()); ++d)
                sum[d] += counts[d];
        }
        series->append(
            barSet(QStringLiteral("Выбрано станций: %1").arg(stations.size()), sum).release());
    } else {
        for (const TChartStation &s : stations)
            series->append(barSet(s.Name, perDay.value(s.WstGID)).release());
    }
    chart.addSeries(owned.release()); // the chart takes it

    // The bars stand at 0 .. days - 1 of a value axis that labels a day a week, "dd.MM",
    // counting back from the last day so that it is always labelled.
    auto x = std::make_unique<QCategoryAxis>();
    x->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    x->setRange(-0.5, double(days) - 0.5);
    const qsizetype step = labelStep(days);
    for (qsizetype d = (days - 1) % step; d < days; d += step)
        x->append(last.addDays(d - days + 1).toString(QStringLiteral("dd.MM")), double(d));
    x->setGridLineVisible(false);
    chart.addAxis(x.get(), Qt::AlignBottom);
    series->attachAxis(x.release()); // the chart holds it

    // The count axis: whole numbers from 0, at a whole-number interval.
    qint64 top = 0;
    for (qsizetype d = 0; d < days; ++d) {
        qint64 sum = 0;
        for (const QBarSet *set : series->barSets())
            sum += qint64(set->at(int(d)));
        top = std::max(top, sum);
    }
    const qint64 every = countStep(std::max<qint64>(top, 1));
    auto y = std::make_unique<QValueAxis>();
    y->setLabelFormat(QStringLiteral("%d"));
    y->setRange(0, double(every * ((std::max<qint64>(top, 1) + every - 1) / every)));
    y->setTickType(QValueAxis::TicksDynamic);
    y->setTickAnchor(0);
    y->setTickInterval(double(every));
    chart.addAxis(y.get(), Qt::AlignLeft);
    series->attachAxis(y.release()); // the chart holds it
}
