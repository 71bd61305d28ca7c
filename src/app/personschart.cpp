#include "app/personschart.h"

#include <QBarCategoryAxis>
#include <QBarSet>
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

    QStringList dates;
    for (qsizetype d = days - 1; d >= 0; --d)
        dates.prepend(last.addDays(-d).toString(QStringLiteral("dd.MM")));
    auto x = std::make_unique<QBarCategoryAxis>();
    x->append(dates);
    x->setLabelsAngle(-90);
    chart.addAxis(x.get(), Qt::AlignBottom);
    series->attachAxis(x.release()); // the chart holds it
    auto y = std::make_unique<QValueAxis>();
    y->setLabelFormat(QStringLiteral("%d"));
    chart.addAxis(y.get(), Qt::AlignLeft);
    series->attachAxis(y.get());
    y.release()->applyNiceNumbers(); // the chart holds it
}
