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
//
// Readable at a glance: one line per row; when rows are loaded each column takes the width of its
// widest text (measured over the first rows, at most a bounded width) and never less than its
// caption; the main column takes the width the others leave free, and gives up width first when
// they need it; a cell whose text is cut shows the whole text as its tooltip.
class TDataSetGrid : public QTableView
{
    Q_OBJECT
public:
    explicit TDataSetGrid(QWidget *parent = nullptr);
    // Shows the model (not owned; give it a parent) and follows it.
    void SetDataSetModel(TDataSetModel *model);
    TDataSetModel *DataSetModel() const { return m_model; }

    // The column that takes the free width (the first unless told).
    void SetMainColumn(int column);
    int MainColumn() const { return m_mainColumn; }
    // The width of the whole grid that shows every column at its measured width (frame and
    // vertical scroll bar included): what a window needs to open without cutting a column.
    int FittedWidth();

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void selectCurrent();
    void rowsLoaded();
    // Measures the widths the columns want (a grid not on screen waits until it is shown).
    void measureColumns();
    // Gives the columns their widths within the width of the grid.
    void layOutColumns();

    QPointer<TDataSetModel> m_model;
    QMetaObject::Connection m_selectionFollow; // the selection model of m_model
    int m_mainColumn = 0;
    QList<int> m_wanted;   // width each column wants, bounded; empty until measured
    QList<int> m_least;    // width no column gets below: its caption
    bool m_stale = true;   // rows loaded since the columns were measured
    bool m_laying = false; // the columns are being given their widths
};
