#include "status/statetable.h"

#include <algorithm>
#include <limits>

namespace {

QString timeText(const QDateTime &t)
{
    return t.isValid() ? t.toString(QStringLiteral("dd.MM.yyyy HH:mm")) : QString();
}

QString csvField(QString s)
{
    if (!s.contains(QLatin1Char(',')) && !s.contains(QLatin1Char('"')) &&
        !s.contains(QLatin1Char('\n')) && !s.contains(QLatin1Char('\r')))
        return s;
    s.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + s + QLatin1Char('"');
}

QString csvCell(const TWorkstationState &s, TStateColumn column)
{
    const auto iso = [](const QDateTime &t) {
        return t.isValid() ? t.toString(Qt::ISODate) : QString();
    };
    switch (column) {
    case TStateColumn::LastExport:
        return iso(s.LastExport);
    case TStateColumn::LastImport:
        return iso(s.LastImport);
    case TStateColumn::Silent:
        return s.Silent ? QStringLiteral("1") : QStringLiteral("0");
    default:
        return StateCellText(s, column);
    }
}

} // namespace

const QList<TStateColumnInfo> &StateColumns()
{
    static const QList<TStateColumnInfo> columns = {
        {TStateColumn::WstGID, QStringLiteral("Станция"), QStringLiteral("wstgid"), true},
        {TStateColumn::WstName, QStringLiteral("Название"), QStringLiteral("wstname"), false},
        {TStateColumn::Owner, QStringLiteral("ЛПУ / бригада"), QStringLiteral("owner"), false},
        {TStateColumn::Region, QStringLiteral("Регион"), QStringLiteral("region"), false},
        {TStateColumn::LastExport, QStringLiteral("Последний экспорт"),
         QStringLiteral("last_export"), false},
        {TStateColumn::LastExportResult, QStringLiteral("Результат экспорта"),
         QStringLiteral("last_export_result"), false},
        {TStateColumn::LastImport, QStringLiteral("Последний импорт"),
         QStringLiteral("last_import"), false},
        {TStateColumn::Label, QStringLiteral("Пакет"), QStringLiteral("last_import_label"), false},
        {TStateColumn::LastImportResult, QStringLiteral("Результат импорта"),
         QStringLiteral("last_import_result"), false},
        {TStateColumn::Persons, QStringLiteral("Персон за %1 дней").arg(PersonDays),
         QStringLiteral("persons_%1d").arg(PersonDays), true},
        {TStateColumn::DaysSinceSuccess, QStringLiteral("Дней без импорта"),
         QStringLiteral("days_since_import"), true},
        {TStateColumn::Silent, QStringLiteral("Молчит"), QStringLiteral("silent"), false},
    };
    return columns;
}

QString StateCellText(const TWorkstationState &s, TStateColumn column)
{
    switch (column) {
    case TStateColumn::WstGID:
        return QString::number(s.WstGID);
    case TStateColumn::WstName:
        return s.WstName;
    case TStateColumn::Owner:
        return s.Owner;
    case TStateColumn::Region:
        return s.Region;
    case TStateColumn::LastExport:
        return timeText(s.LastExport);
    case TStateColumn::LastExportResult:
        return s.LastExportResult;
    case TStateColumn::LastImport:
        return timeText(s.LastImport);
    case TStateColumn::Label:
        return s.LastImportLabel;
    case TStateColumn::LastImportResult:
        return s.LastImportResult;
    case TStateColumn::Persons:
        return QString::number(s.Persons);
    case TStateColumn::DaysSinceSuccess:
        return s.DaysSinceSuccess < 0 ? QString() : QString::number(s.DaysSinceSuccess);
    case TStateColumn::Silent:
        return s.Silent ? QStringLiteral("да") : QString();
    }
    return {};
}

QVariant StateCellValue(const TWorkstationState &s, TStateColumn column)
{
    switch (column) {
    case TStateColumn::WstGID:
        return s.WstGID;
    case TStateColumn::LastExport:
        return s.LastExport;
    case TStateColumn::LastImport:
        return s.LastImport;
    case TStateColumn::Persons:
        return s.Persons;
    case TStateColumn::DaysSinceSuccess:
        // Never imported sorts as the longest silence.
        return s.DaysSinceSuccess < 0 ? std::numeric_limits<int>::max() : s.DaysSinceSuccess;
    default:
        return StateCellText(s, column);
    }
}

QString StateSummary(const QList<TWorkstationState> &states, int silentDays)
{
    const auto silent = std::count_if(states.begin(), states.end(),
                                      [](const TWorkstationState &s) { return s.Silent; });
    return QStringLiteral("Рабочих станций: %1, молчат дольше %2 дн.: %3")
        .arg(states.size())
        .arg(silentDays)
        .arg(silent);
}

QStringList StateTableText(const QList<TWorkstationState> &states, int silentDays)
{
    const QList<TStateColumnInfo> &columns = StateColumns();
    QList<QStringList> cells{{}};
    for (const TStateColumnInfo &c : columns)
        cells.first() << c.Title;
    for (const TWorkstationState &s : states) {
        QStringList row;
        for (const TStateColumnInfo &c : columns)
            row << StateCellText(s, c.Column);
        cells << row;
    }
    QList<qsizetype> widths(columns.size(), 0);
    for (const QStringList &row : std::as_const(cells))
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    QStringList lines;
    for (const QStringList &row : std::as_const(cells)) {
        QStringList padded;
        for (qsizetype i = 0; i < row.size(); ++i)
            padded << (columns[i].Numeric ? row[i].rightJustified(widths[i])
                                          : row[i].leftJustified(widths[i]));
        QString line = padded.join(QStringLiteral("  "));
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        lines << line;
    }
    lines << StateSummary(states, silentDays);
    return lines;
}

QStringList StateTableCsv(const QList<TWorkstationState> &states)
{
    QStringList header;
    for (const TStateColumnInfo &c : StateColumns())
        header << c.CsvName;
    QStringList lines{header.join(QLatin1Char(','))};
    for (const TWorkstationState &s : states) {
        QStringList row;
        for (const TStateColumnInfo &c : StateColumns())
            row << csvField(csvCell(s, c.Column));
        lines << row.join(QLatin1Char(','));
    }
    return lines;
}
