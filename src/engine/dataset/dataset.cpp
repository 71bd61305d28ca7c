// The dataset base: opening and closing, its fields, navigation, Locate, the row filter and
// reading rows through a cursor of their own.

#include "engine/dataset.h"

#include "core/errors.h"
#include "engine/database.h"
#include "engine/dataset/datasetparts.h"

using engine::DataSetLabel;
using engine::IsNullValue;
using engine::TRow;

namespace engine {

QStringList SplitFieldNames(const QString &names)
{
    QStringList result;
    for (const QString &n : names.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString t = n.trimmed();
        if (!t.isEmpty())
            result << t;
    }
    return result;
}

QString DataSetLabel(const TDataSet &ds)
{
    return ds.Name.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(ds.Name);
}

QList<int> FieldPositions(const QList<TColumn> &columns, const QStringList &names,
                          const TDataSet &ds)
{
    QList<int> positions;
    for (const QString &n : names) {
        const int found = engine::ColumnIndex(columns, n);
        if (found < 0)
            throw EDatabaseError(QStringLiteral("Поле '%1' не найдено%2").arg(n, DataSetLabel(ds)));
        positions << found;
    }
    return positions;
}

} // namespace engine

TDataSet::TDataSet() = default;

TDataSet::~TDataSet()
{
    if (m_groupInserts)
        m_groupInserts->ReleaseWrites(this);
    for (TDataSource *s : m_sources)
        s->m_dataSet = nullptr;
    if (m_cursor) {
        try {
            m_cursor->Close();
        } catch (...) {
        }
    }
}

void TDataSet::CheckActive() const
{
    if (!Active())
        throw EDatabaseError(QStringLiteral("Операция не применима к закрытому набору данных%1")
                                 .arg(DataSetLabel(*this)));
}

void TDataSet::CheckInactive() const
{
    if (Active())
        throw EDatabaseError(QStringLiteral("Операция не применима к открытому набору данных%1")
                                 .arg(DataSetLabel(*this)));
}

std::unique_ptr<engine::TCursor> TDataSet::CreateLookupCursor()
{
    throw EDatabaseError(QStringLiteral("Набор данных закрыт%1").arg(DataSetLabel(*this)));
}

engine::TRowFilter TDataSet::currentFilter() const
{
    if (!m_filtered || m_filterText.trimmed().isEmpty())
        return {};
    return engine::TRowFilter::Parse(m_filterText,
                                     m_filterOptions.testFlag(TFilterOption::foCaseInsensitive),
                                     !m_filterOptions.testFlag(TFilterOption::foNoPartialCompare));
}

void TDataSet::SetActive(bool active)
{
    if (active)
        Open();
    else
        Close();
}

void TDataSet::Open()
{
    if (Active())
        return;
    const engine::TRowFilter filter = currentFilter();
    std::unique_ptr<engine::TCursor> cursor = CreateCursor();
    cursor->Open(filter);
    m_cursor = std::move(cursor);
    m_lookupCursor.reset();
    forgetPlans();
    try {
        buildFields();
    } catch (...) {
        m_cursor->Close();
        m_cursor.reset();
        m_fields.clear();
        throw;
    }
    m_state = TDataSetState::dsBrowse;
    try {
        TRow row;
        const bool found = m_cursor->First(row);
        takeRow(found, row);
    } catch (...) {
        m_state = TDataSetState::dsInactive;
        m_cursor->Close();
        m_cursor.reset();
        m_fields.clear();
        throw;
    }
    if (AfterOpen)
        AfterOpen(*this);
    if (Active() && m_hasRow)
        NotifyScroll();
    else
        notifyMasterChange();
}

void TDataSet::Close()
{
    SetGroupInserts(false);
    m_lookupCursor.reset(); // a look-up after a change of table or SQL reads the new one
    m_lookupMemo.clear();
    forgetPlans();
    m_kept.clear();
    if (!Active())
        return;
    if (m_state == TDataSetState::dsEdit || m_state == TDataSetState::dsInsert)
        Cancel();
    if (BeforeClose)
        BeforeClose(*this);
    if (m_cursor) {
        // A folder table reaches its file here: when that fails the dataset stays open, so
        // that the caller sees the failure and a later Close is not taken for a success.
        m_cursor->Close();
        m_cursor.reset();
    }
    m_state = TDataSetState::dsInactive;
    m_fields.clear();
    m_row.clear();
    m_oldRow.clear();
    m_savedRow.clear();
    clearChanged();
    m_hasRow = false;
    m_eof = m_bof = true;
    if (AfterClose)
        AfterClose(*this);
}

void TDataSet::buildFields()
{
    m_fields.clear();
    const QList<TColumn> &columns = m_cursor->Columns();
    for (int i = 0; i < columns.size(); ++i) {
        auto f = std::make_unique<TField>(TField::Key(), this, columns.at(i), i, nullptr);
        f->m_storedIndex = i;
        m_fields.push_back(std::move(f));
    }
    for (int i = 0; i < m_lookupDefs.size(); ++i) {
        const TLookupFieldDef &def = m_lookupDefs.at(i);
        if (FindField(def.FieldName))
            throw EDatabaseError(QStringLiteral("Поле '%1' уже существует%2")
                                     .arg(def.FieldName, DataSetLabel(*this)));
        if (!def.LookupDataSet)
            throw EDatabaseError(
                QStringLiteral("Не задан набор данных для поля '%1'").arg(def.FieldName));
        TColumn c;
        c.Name = def.FieldName;
        c.ReadOnly = true;
        if (TField *r = def.LookupDataSet->FindField(def.LookupResultField)) {
            c.DataType = r->DataType();
            c.Size = r->Size();
        }
        m_fields.push_back(std::make_unique<TField>(
            TField::Key(), this, c, static_cast<int>(m_fields.size()), &m_lookupDefs.at(i)));
    }
    m_lookupCache = QList<QVariant>(m_lookupDefs.size());
    m_lookupCached = QList<bool>(m_lookupDefs.size(), false);
    m_derived.assign(size_t(m_lookupDefs.size()), DerivedKeys{});
}

void TDataSet::takeRow(bool found, TRow &row)
{
    forgetDerivedValues();
    if (found) {
        m_row = std::move(row);
        m_hasRow = true;
        m_eof = m_bof = false;
    } else {
        m_row.clear();
        m_hasRow = false;
        m_eof = m_bof = true;
    }
}

void TDataSet::ResetCursorPosition()
{
    CheckActive();
    TRow row;
    const bool found = m_cursor->First(row);
    takeRow(found, row);
}

void TDataSet::NotifyScroll()
{
    if (AfterScroll)
        AfterScroll(*this);
    notifyMasterChange();
}

void TDataSet::notifyMasterChange()
{
    if (m_disableCount > 0)
        return;
    const QList<TDataSource *> sources = m_sources;
    for (TDataSource *s : sources)
        if (m_sources.contains(s))
            s->masterChanged();
}

void TDataSet::EnableControls()
{
    if (m_disableCount > 0 && --m_disableCount == 0 && Active())
        notifyMasterChange();
}

void TDataSet::checkBrowse(const char *)
{
    if (m_state == TDataSetState::dsEdit || m_state == TDataSetState::dsInsert) {
        if (!m_changed.isEmpty())
            Post();
        else
            Cancel();
    }
}

void TDataSet::First()
{
    CheckActive();
    checkBrowse("First");
    TRow row;
    const bool found = m_cursor->First(row);
    takeRow(found, row);
    if (found)
        NotifyScroll();
}

void TDataSet::Next()
{
    CheckActive();
    checkBrowse("Next");
    if (!m_hasRow || m_eof) {
        m_eof = true;
        return;
    }
    TRow row;
    if (m_cursor->Next(row)) {
        m_row = std::move(row);
        forgetDerivedValues();
        m_bof = false;
        NotifyScroll();
    } else {
        m_eof = true;
    }
}

int TDataSet::RecordCount()
{
    CheckActive();
    return m_cursor->RecordCount();
}

TField *TDataSet::Fields(int index) const
{
    if (index < 0 || index >= FieldCount())
        throw EDatabaseError(QStringLiteral("Индекс поля %1 вне допустимых пределов%2")
                                 .arg(index)
                                 .arg(DataSetLabel(*this)));
    return m_fields.at(static_cast<size_t>(index)).get();
}

TField *TDataSet::FindField(const QString &name) const
{
    const QString n = name.trimmed();
    for (const auto &f : m_fields)
        if (f->FieldName().compare(n, Qt::CaseInsensitive) == 0)
            return f.get();
    return nullptr;
}

TField *TDataSet::FieldByName(const QString &name) const
{
    TField *f = FindField(name);
    if (!f)
        throw EDatabaseError(
            QStringLiteral("Поле '%1' не найдено%2").arg(name, DataSetLabel(*this)));
    return f;
}

QStringList TDataSet::FieldNames() const
{
    QStringList names;
    for (const auto &f : m_fields)
        names << f->FieldName();
    return names;
}

QList<TColumn> TDataSet::FieldDefs() const
{
    if (m_cursor)
        return m_cursor->Columns();
    return {};
}

bool TDataSet::CanModify() const
{
    return m_cursor && m_cursor->CanModify();
}

QVariant TDataSet::fieldValue(const TField &field) const
{
    if (field.m_lookup)
        return computeLookup(field);
    if (m_state == TDataSetState::dsInactive)
        return {};
    if (!m_hasRow && m_state == TDataSetState::dsBrowse)
        return {};
    return m_row.value(field.m_storedIndex);
}

bool TDataSet::Locate(const QString &keyFields, const QVariantList &values, TLocateOptions options)
{
    CheckActive();
    checkBrowse("Locate");
    // Names are resolved once: a walk locates by the same ones row after row.
    const QList<int> cols = resolvedPlan(LookupHandle(keyFields, QString())).keys;
    if (cols.isEmpty())
        return false;
    if (values.size() != cols.size())
        throw EDatabaseError(
            QStringLiteral("Число значений не совпадает с числом полей: %1").arg(keyFields));
    // loPartialKey is accepted and ignored: no caller locates by prefix.
    if (CacheLookups && !options.testFlag(TLocateOption::loCaseInsensitive)) {
        lookupMemoCurrent();
        if (const std::optional<TRow> *kept = keptRow(cols, {}, values)) {
            if (!*kept)
                return false;
            TRow row = **kept;
            if (m_cursor->Reposition(row)) {
                takeRow(true, row);
                NotifyScroll();
                return true;
            }
        }
    }
    TRow row;
    if (!m_cursor->Locate(cols, values, options.testFlag(TLocateOption::loCaseInsensitive), row))
        return false;
    takeRow(true, row);
    NotifyScroll();
    return true;
}

std::unique_ptr<engine::TCursor> TDataSet::OpenReader()
{
    std::unique_ptr<engine::TCursor> c = CreateLookupCursor();
    c->Open(currentFilter());
    return c;
}

void TDataSet::ScanRows(const std::function<bool(const QVariantList &)> &visit,
                        QList<TColumn> *columns)
{
    std::unique_ptr<engine::TCursor> c = OpenReader();
    if (columns)
        *columns = c->Columns();
    TRow row;
    bool ok = c->First(row);
    while (ok) {
        if (!visit(row))
            break;
        ok = c->Next(row);
    }
    c->Close();
}

void TDataSet::AddLookupField(const TLookupFieldDef &def)
{
    CheckInactive();
    m_lookupDefs << def;
}

void TDataSet::ClearLookupFields()
{
    CheckInactive();
    m_lookupDefs.clear();
}

void TDataSet::reapplyFilter()
{
    if (!Active())
        return;
    checkBrowse("Filter");
    const engine::TRowFilter filter = currentFilter();
    m_kept.clear();
    m_cursor->Close();
    m_cursor->Open(filter);
    TRow row;
    const bool found = m_cursor->First(row);
    takeRow(found, row);
    if (found)
        NotifyScroll();
    else
        notifyMasterChange();
}

void TDataSet::SetFilter(const QString &text)
{
    if (text == m_filterText)
        return;
    m_filterText = text;
    m_lookupCursor.reset();
    if (m_filtered)
        reapplyFilter();
}

void TDataSet::SetFiltered(bool on)
{
    if (on == m_filtered)
        return;
    m_filtered = on;
    m_lookupCursor.reset();
    reapplyFilter();
}

void TDataSet::SetFilterOptions(TFilterOptions options)
{
    if (options == m_filterOptions)
        return;
    m_filterOptions = options;
    m_lookupCursor.reset();
    if (m_filtered)
        reapplyFilter();
}
