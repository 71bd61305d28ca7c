#include "admin/datasetgrid.h"

#include "engine/query.h"

class TDataSetProbe : public TQuery
{
};

TDataSetModel::TDataSetModel(TDataSet &dataSet, const QList<TGridColumn> &columns,
                             const QString &keyFields, QObject *parent)
    : QAbstractTableModel(parent), m_dataSet(&dataSet), m_columns(columns), m_keyFields(keyFields)
{
}
TDataSetModel::~TDataSetModel() = default;
int TDataSetModel::rowCount(const QModelIndex &) const
{
    return 0;
}
int TDataSetModel::columnCount(const QModelIndex &) const
{
    return 0;
}
QVariant TDataSetModel::data(const QModelIndex &, int) const
{
    return {};
}
QVariant TDataSetModel::headerData(int, Qt::Orientation, int) const
{
    return {};
}
Qt::ItemFlags TDataSetModel::flags(const QModelIndex &) const
{
    return {};
}
void TDataSetModel::SetCurrentRow(int) {}
void TDataSetModel::Reload() {}

TDataSetGrid::TDataSetGrid(QWidget *parent) : QTableView(parent) {}
void TDataSetGrid::SetDataSetModel(TDataSetModel *model)
{
    m_model = model;
    setModel(model);
}
