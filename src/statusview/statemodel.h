#pragma once

#include "status/workstationstate.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>

// The state of workstations as a table for a view: the columns of StateColumns(), silent rows
// standing out (their background and the silent column), the sort values of StateCellValue
// under Qt::UserRole and the workstation's identifier under WstGIDRole.
class TWorkstationStateModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    static constexpr int WstGIDRole = Qt::UserRole + 1;

    explicit TWorkstationStateModel(QObject *parent = nullptr);

    void SetStates(QList<TWorkstationState> states);
    // Marks the silent workstations again for another limit (the rows and their order stay).
    void SetSilentDays(const QDateTime &now, int silentDays);
    const QList<TWorkstationState> &States() const { return m_states; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QList<TWorkstationState> m_states;
};

// The rows of one region (or of all), of silent workstations only when asked, sorted by the
// values of Qt::UserRole.
class TWorkstationStateFilter : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    explicit TWorkstationStateFilter(QObject *parent = nullptr);

    // Stands for the workstations without a region.
    static constexpr qint64 NoRegion = -1;

    // An invalid region shows every region; NoRegion the workstations without one.
    void SetRegion(const QVariant &regGID);
    void SetSilentOnly(bool silentOnly);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    QVariant m_region;
    bool m_silentOnly = false;
};

// The regions of the states, each once, by name: (REGGID, name), and last (NoRegion, "Без
// региона") when some workstation has none.
QList<QPair<QVariant, QString>> RegionsOf(const QList<TWorkstationState> &states);
