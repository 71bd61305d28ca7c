#include "admin/datasetgrid.h"

#include "engine/filter.h"
#include "engine/query.h"

// Hears every move and change of the dataset: it is attached to it as a detail query (never
// opened), which the dataset tells after each scroll, locate, open, post and filter change.
class TDataSetProbe : public TQuery
{
public:
    explicit TDataSetProbe(TDataSetModel *model) : m_model(model) {}

protected:
    void MasterChanged() override { m_model->datasetChanged(); }

private:
    TDataSetModel *m_model;
};

namespace {

QString filterSignature(const TDataSet &ds)
{
    return ds.Filter() + QLatin1Char('\n') + QString::number(ds.Filtered() ? 1 : 0) +
           QString::number(int(ds.FilterOptions()));
}

// Adds `extra` before or after whatever handler the slot holds; extra is skipped once the model
// is gone.
void chain(TDataSet::TNotifyEvent &slot, const std::weak_ptr<TDataSetModel *> &alive,
           void (*extra)(TDataSetModel &), bool first)
{
    TDataSet::TNotifyEvent previous = slot;
    slot = [previous, alive, extra, first](TDataSet &ds) {
        const auto run = [&] {
            if (const auto model = alive.lock(); model && *model)
                extra(**model);
        };
        if (first)
            run();
        if (previous)
            previous(ds);
        if (!first)
            run();
    };
}

} // namespace

TDataSetModel::TDataSetModel(TDataSet &dataSet, const QList<TGridColumn> &columns,
                             const QString &keyFields, QObject *parent)
    : QAbstractTableModel(parent), m_columns(columns), m_keyFields(keyFields),
      m_source(std::make_unique<TDataSource>(&dataSet)),
      m_probe(std::make_unique<TDataSetProbe>(this)),
      m_alive(std::make_shared<TDataSetModel *>(this))
{
    m_probe->SetDataSource(m_source.get());
    // Opening, posting and closing change the rows even when the current row stays the same.
    // Marked before the other handlers run, which may move the dataset on the new rows.
    chain(
        dataSet.AfterOpen, m_alive, [](TDataSetModel &m) { m.m_dirty = true; }, true);
    chain(
        dataSet.AfterPost, m_alive, [](TDataSetModel &m) { m.m_dirty = true; }, true);
    chain(
        dataSet.AfterClose, m_alive, [](TDataSetModel &m) { m.datasetClosed(); }, false);
    Reload();
}

TDataSetModel::~TDataSetModel()
{
    *m_alive = nullptr;
    m_probe->SetDataSource(nullptr);
}

TDataSet *TDataSetModel::DataSet() const
{
    // The source forgets a dataset that was destroyed.
    return m_source->DataSet();
}

int TDataSetModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int TDataSetModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant TDataSetModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role != Qt::DisplayRole)
        return {};
    const int at = m_shown.at(index.column());
    if (at < 0)
        return {};
    const QVariant v = m_rows.at(index.row()).value(at);
    if (engine::IsNullValue(v))
        return QString();
    if (v.typeId() == QMetaType::Double) {
        const double d = v.toDouble();
        if (d == static_cast<double>(static_cast<qint64>(d)))
            return QString::number(static_cast<qint64>(d));
    }
    if (v.typeId() == QMetaType::QDateTime)
        return v.toDateTime().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
    if (v.typeId() == QMetaType::QDate)
        return v.toDate().toString(QStringLiteral("dd.MM.yyyy"));
    return v.toString();
}

QVariant TDataSetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= m_columns.size())
        return {};
    return m_columns.at(section).Caption;
}

Qt::ItemFlags TDataSetModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void TDataSetModel::Reload()
{
    TDataSet *ds = DataSet();
    beginResetModel();
    m_rows.clear();
    m_shown.clear();
    m_keys.clear();
    m_current = -1;
    m_dirty = false;
    if (ds && ds->Active()) {
        m_filter = filterSignature(*ds);
        QList<TColumn> columns;
        QList<QVariantList> rows;
        try {
            ds->ScanRows(
                [&rows](const QVariantList &row) {
                    rows << row;
                    return true;
                },
                &columns);
        } catch (...) {
            rows.clear();
            endResetModel();
            throw;
        }
        const auto position = [&columns](const QString &name) {
            for (int i = 0; i < columns.size(); ++i)
                if (columns.at(i).Name.compare(name, Qt::CaseInsensitive) == 0)
                    return i;
            return -1;
        };
        m_stored = static_cast<int>(columns.size());
        for (const TGridColumn &c : std::as_const(m_columns))
            m_shown << position(c.FieldName);
        const QStringList keys = m_keyFields.split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (const QString &k : keys)
            if (const int p = position(k.trimmed()); p >= 0)
                m_keys << p;
        if (m_keys.isEmpty() && !columns.isEmpty())
            m_keys << 0;
        for (QVariantList &r : rows)
            r = r.mid(0, m_stored);
        m_rows = std::move(rows);
        m_current = findCurrent();
    } else {
        m_filter.clear();
        for (int i = 0; i < m_columns.size(); ++i)
            m_shown << -1;
    }
    endResetModel();
    Q_EMIT CurrentRowChanged(m_current);
}

int TDataSetModel::findCurrent() const
{
    TDataSet *ds = DataSet();
    if (!ds || !ds->Active() || ds->IsEmpty())
        return -1;
    QVariantList current;
    for (int i = 0; i < m_stored && i < ds->FieldCount(); ++i)
        current << ds->Fields(i)->AsVariant();
    const auto matches = [&](int r) {
        const QVariantList &row = m_rows.at(r);
        for (int i = 0; i < current.size(); ++i)
            if (!engine::ValuesEqual(row.value(i), current.at(i), false))
                return false;
        return true;
    };
    // Usually the row after or at the last one.
    const int n = static_cast<int>(m_rows.size());
    const int start = m_current < 0 ? 0 : m_current;
    for (int k = 0; k < n; ++k) {
        const int r = (start + k) % n;
        if (matches(r))
            return r;
    }
    return -1;
}

void TDataSetModel::datasetChanged()
{
    TDataSet *ds = DataSet();
    if (!ds)
        return;
    if (m_dirty || filterSignature(*ds) != m_filter ||
        (ds->Active() && m_rows.isEmpty() && !ds->IsEmpty())) {
        Reload();
        return;
    }
    const int row = findCurrent();
    if (row < 0 && ds->Active() && !ds->IsEmpty()) {
        // A row the model has not seen: the rows changed under it.
        Reload();
        return;
    }
    if (row != m_current) {
        m_current = row;
        Q_EMIT CurrentRowChanged(m_current);
    }
}

void TDataSetModel::datasetClosed()
{
    if (m_rows.isEmpty() && m_current < 0)
        return;
    Reload();
}

void TDataSetModel::SetCurrentRow(int row)
{
    TDataSet *ds = DataSet();
    if (!ds || !ds->Active() || row < 0 || row >= m_rows.size() || row == m_current)
        return;
    const QVariantList &r = m_rows.at(row);
    QStringList names;
    QVariantList values;
    const QStringList all = ds->FieldNames();
    for (int k : std::as_const(m_keys)) {
        names << all.value(k);
        values << r.value(k);
    }
    // A key shared by another row would find that one: then all columns are compared.
    for (int other = 0; other < m_rows.size(); ++other) {
        if (other == row)
            continue;
        bool same = true;
        for (int k : std::as_const(m_keys))
            same = same && engine::ValuesEqual(m_rows.at(other).value(k), r.value(k), false);
        if (same) {
            names = all.mid(0, m_stored);
            values = r;
            break;
        }
    }
    if (!ds->Locate(names.join(QLatin1Char(';')), values))
        Reload();
}
