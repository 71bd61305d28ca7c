#pragma once

// A read-only grid over a dataset of the engine. The model shows the rows of the dataset (as its
// filter passes them) in chosen columns and follows the dataset's current row both ways: the
// view's current row moves the dataset (a locate, which fires its after-scroll handling), and a
// move of the dataset (scroll, locate, reopen, filter, rebuild) moves the view's selection.

#include <QAbstractTableModel>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTableView>
#include <QVariantList>
#include <memory>

class TDataSet;
class TDataSource;
class TDataSetProbe;

struct TGridColumn
{
    QString FieldName;
    QString Caption;
};

class TDataSetModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    // keyFields (";"-joined) find a row of the model in the dataset again; empty: the first
    // shown column. The dataset is not owned and may be destroyed first.
    TDataSetModel(TDataSet &dataSet, const QList<TGridColumn> &columns,
                  const QString &keyFields = {}, QObject *parent = nullptr);
    ~TDataSetModel() override;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // The model row of the dataset's current row; -1 when closed or empty.
    int CurrentRow() const { return m_current; }
    // Makes model row `row` the dataset's current row (nothing when it already is).
    void SetCurrentRow(int row);
    // Reads the rows again from the dataset. Done by itself after opening, closing, posting, a
    // change of filter and a move to a row it has not read; a memory table refilled while open
    // (LoadFromDataSet without closing) that stays on an unchanged first row needs this call.
    void Reload();
    // The dataset; nullptr once it was destroyed.
    TDataSet *DataSet() const;

Q_SIGNALS:
    // The dataset's current row is now model row `row` (-1: none).
    void CurrentRowChanged(int row);

private:
    friend class TDataSetProbe;
    void datasetChanged();
    void datasetClosed();
    int findCurrent() const;

    QList<TGridColumn> m_columns;
    QString m_keyFields;
    QList<int> m_shown;   // position of each shown column in the scanned rows
    QList<int> m_keys;    // positions of the key columns in the scanned rows
    int m_stored = 0;     // stored columns of the dataset
    QString m_filter;     // the filter the rows were read with
    bool m_dirty = false; // opened or posted since the rows were read
    QList<QVariantList> m_rows;
    int m_current = -1;
    std::unique_ptr<TDataSource> m_source;
    std::unique_ptr<TDataSetProbe> m_probe;
    std::shared_ptr<TDataSetModel *> m_alive; // cleared on destruction; seen by the close hook
};

// A table view for a TDataSetModel: read-only, whole rows, one row selected, the selection shown
// also without focus, following the model's current row.
class TDataSetGrid : public QTableView
{
    Q_OBJECT
public:
    explicit TDataSetGrid(QWidget *parent = nullptr);
    // Shows the model (not owned; give it a parent) and follows it.
    void SetDataSetModel(TDataSetModel *model);
    TDataSetModel *DataSetModel() const { return m_model; }

private:
    void selectCurrent();
    QPointer<TDataSetModel> m_model;
    QMetaObject::Connection m_selectionFollow; // the selection model of m_model
};
