#include "statusview/statemodel.h"

#include "status/statetable.h"

#include <QColor>
#include <QFont>
#include <QMap>

TWorkstationStateModel::TWorkstationStateModel(QObject *parent) : QAbstractTableModel(parent) {}

void TWorkstationStateModel::SetStates(QList<TWorkstationState> states)
{
    beginResetModel();
    m_states = std::move(states);
    endResetModel();
}

void TWorkstationStateModel::SetSilentDays(const QDateTime &now, int silentDays)
{
    for (TWorkstationState &s : m_states)
        s.Silent = IsSilent(s, now, silentDays);
    if (!m_states.isEmpty())
        Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

int TWorkstationStateModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_states.size());
}

int TWorkstationStateModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(StateColumns().size());
}

QVariant TWorkstationStateModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_states.size() || index.column() >= columnCount())
        return {};
    const TWorkstationState &s = m_states[index.row()];
    const TStateColumnInfo &column = StateColumns()[index.column()];
    switch (role) {
    case Qt::DisplayRole:
        return StateCellText(s, column.Column);
    case Qt::ToolTipRole:
        if (column.Column == TStateColumn::DaysSinceSuccess && s.DaysSinceSuccess < 0)
            return QStringLiteral("Пакеты этой станции ещё не импортировались");
        return StateCellText(s, column.Column);
    case Qt::UserRole:
        return StateCellValue(s, column.Column);
    case WstGIDRole:
        return s.WstGID;
    case Qt::TextAlignmentRole:
        return column.Numeric ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    case Qt::BackgroundRole:
        return s.Silent ? QVariant(QColor(255, 214, 214)) : QVariant();
    case Qt::FontRole:
        if (s.Silent && column.Column == TStateColumn::Silent) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return {};
    default:
        return {};
    }
}

QVariant TWorkstationStateModel::headerData(int section, Qt::Orientation orientation,
                                            int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= columnCount())
        return QAbstractTableModel::headerData(section, orientation, role);
    return StateColumns()[section].Title;
}

TWorkstationStateFilter::TWorkstationStateFilter(QObject *parent) : QSortFilterProxyModel(parent)
{
    setSortRole(Qt::UserRole);
}

void TWorkstationStateFilter::SetRegion(const QVariant &regGID)
{
    m_region = regGID;
    invalidateRowsFilter();
}

void TWorkstationStateFilter::SetSilentOnly(bool silentOnly)
{
    m_silentOnly = silentOnly;
    invalidateRowsFilter();
}

bool TWorkstationStateFilter::filterAcceptsRow(int sourceRow, const QModelIndex &) const
{
    const auto *model = qobject_cast<const TWorkstationStateModel *>(sourceModel());
    if (!model || sourceRow >= model->States().size())
        return false;
    const TWorkstationState &s = model->States()[sourceRow];
    if (m_silentOnly && !s.Silent)
        return false;
    if (!m_region.isValid())
        return true;
    const bool none = !s.RegGID.isValid() || s.RegGID.isNull();
    return none ? m_region.toLongLong() == NoRegion
                : s.RegGID.toLongLong() == m_region.toLongLong();
}

QList<QPair<QVariant, QString>> RegionsOf(const QList<TWorkstationState> &states)
{
    QMap<QString, QVariant> byName;
    bool none = false;
    for (const TWorkstationState &s : states) {
        if (!s.RegGID.isValid() || s.RegGID.isNull())
            none = true;
        else
            byName.insert(s.Region + QLatin1Char('\x1f') + s.RegGID.toString(), s.RegGID);
    }
    QList<QPair<QVariant, QString>> regions;
    for (auto it = byName.cbegin(); it != byName.cend(); ++it)
        regions.append({it.value(), it.key().section(QLatin1Char('\x1f'), 0, 0)});
    if (none)
        regions.append({TWorkstationStateFilter::NoRegion, QStringLiteral("Без региона")});
    return regions;
}
