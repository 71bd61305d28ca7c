// Changing rows: fields written in edit or insert state, Post through the cursor (or held back
// with group inserts), Cancel, Delete and Refresh.

#include "core/errors.h"
#include "engine/database.h"
#include "engine/dataset.h"
#include "engine/dataset/datasetparts.h"

using engine::DataSetLabel;
using engine::IsNullValue;
using engine::TRow;

namespace {

// The value a variant of a known type holds.
template <typename T> const T &held(const QVariant &v)
{
    return *static_cast<const T *>(v.constData());
}

// The same stored value: both Null, or of one type and equal.
bool sameValue(const QVariant &a, const QVariant &b)
{
    const bool an = IsNullValue(a), bn = IsNullValue(b);
    if (an || bn)
        return an == bn;
    const int type = a.typeId();
    if (type != b.typeId())
        return false;
    // The common types compare in place: a row written again compares every column.
    switch (type) {
    case QMetaType::Int:
        return held<int>(a) == held<int>(b);
    case QMetaType::LongLong:
        return held<qlonglong>(a) == held<qlonglong>(b);
    case QMetaType::Bool:
        return held<bool>(a) == held<bool>(b);
    case QMetaType::QString:
        return held<QString>(a) == held<QString>(b);
    case QMetaType::QDateTime:
        // The same instant held as local time and as UTC (or with an offset) is stored as two
        // texts.
        return held<QDateTime>(a).timeSpec() == held<QDateTime>(b).timeSpec() &&
               held<QDateTime>(a) == held<QDateTime>(b);
    default:
        return a == b;
    }
}

} // namespace

void TDataSet::setFieldValue(TField &field, const QVariant &value)
{
    if (m_state != TDataSetState::dsEdit && m_state != TDataSetState::dsInsert)
        throw EDatabaseError(QStringLiteral("Набор данных не находится в режиме редактирования%1")
                                 .arg(DataSetLabel(*this)));
    if (field.m_lookup || field.m_storedIndex < 0)
        throw EDatabaseError(QStringLiteral("Поле '%1' нельзя изменить").arg(field.FieldName()));
    const QVariant converted =
        engine::ConvertValue(value, field.DataType(), field.Size(), field.FieldName());
    while (m_row.size() <= field.m_storedIndex)
        m_row << QVariant();
    m_row[field.m_storedIndex] = converted;
    // An edit that gives a field the value it had changes nothing: a row written again with
    // its own values (an import of the same package) costs no write.
    const bool same = m_state == TDataSetState::dsEdit && field.m_storedIndex < m_oldRow.size() &&
                      sameValue(m_oldRow.at(field.m_storedIndex), converted);
    if (!same) {
        const auto at = size_t(field.m_storedIndex);
        if (m_changedMark.size() <= at)
            m_changedMark.resize(at + 1, false);
        if (!m_changedMark[at]) {
            m_changedMark[at] = true;
            m_changed << field.m_storedIndex;
        }
    }
    forgetDerivedValues();
}

void TDataSet::Append()
{
    CheckActive();
    checkBrowse("Append");
    if (!CanModify())
        throw EDatabaseError(
            QStringLiteral("Набор данных только для чтения%1").arg(DataSetLabel(*this)));
    m_savedRow = m_row;
    m_savedHasRow = m_hasRow;
    m_row = TRow(static_cast<qsizetype>(m_cursor->Columns().size()));
    clearChanged();
    m_state = TDataSetState::dsInsert;
    forgetDerivedValues();
}

void TDataSet::Edit()
{
    CheckActive();
    if (m_state == TDataSetState::dsEdit || m_state == TDataSetState::dsInsert)
        return;
    if (!CanModify())
        throw EDatabaseError(
            QStringLiteral("Набор данных только для чтения%1").arg(DataSetLabel(*this)));
    if (!m_hasRow) {
        Append();
        return;
    }
    m_oldRow = m_row;
    clearChanged();
    m_state = TDataSetState::dsEdit;
}

void TDataSet::Post()
{
    CheckActive();
    if (m_state != TDataSetState::dsEdit && m_state != TDataSetState::dsInsert)
        throw EDatabaseError(QStringLiteral("Набор данных не находится в режиме редактирования%1")
                                 .arg(DataSetLabel(*this)));
    if (BeforePost)
        BeforePost(*this);
    TRow row = m_row;
    m_lookupMemo.clear();
    const bool inserting = m_state == TDataSetState::dsInsert;
    if (inserting) {
        if (!m_groupInserts || !m_groupInserts->InTransaction() || !m_cursor->HoldInsert(row))
            m_cursor->Insert(row);
    } else
        m_cursor->Update(m_oldRow, m_changed, row);
    if (!m_kept.empty() && (inserting || !m_changed.isEmpty()))
        keepTrue(inserting ? nullptr : &m_oldRow, &row, inserting);
    m_row = std::move(row);
    m_hasRow = true;
    m_eof = m_bof = false;
    m_state = TDataSetState::dsBrowse;
    clearChanged();
    m_oldRow.clear();
    m_savedRow.clear();
    forgetDerivedValues();
    if (AfterPost)
        AfterPost(*this);
    notifyMasterChange();
}

void TDataSet::Cancel()
{
    if (m_state == TDataSetState::dsInsert) {
        m_row = m_savedRow;
        m_hasRow = m_savedHasRow;
        m_eof = m_bof = !m_hasRow;
    } else if (m_state == TDataSetState::dsEdit) {
        m_row = m_oldRow;
    } else {
        return;
    }
    m_state = TDataSetState::dsBrowse;
    clearChanged();
    m_oldRow.clear();
    m_savedRow.clear();
    forgetDerivedValues();
}

void TDataSet::Delete()
{
    CheckActive();
    if (m_state == TDataSetState::dsInsert) {
        Cancel();
        return;
    }
    if (m_state == TDataSetState::dsEdit)
        Cancel();
    if (!m_hasRow)
        throw EDatabaseError(QStringLiteral("Нет текущей записи%1").arg(DataSetLabel(*this)));
    if (!CanModify())
        throw EDatabaseError(
            QStringLiteral("Набор данных только для чтения%1").arg(DataSetLabel(*this)));
    m_lookupMemo.clear();
    m_cursor->Delete(m_row);
    keepTrue(&m_row, nullptr, false);
    TRow row;
    if (m_cursor->Next(row)) {
        takeRow(true, row);
    } else {
        const bool found = m_cursor->First(row);
        takeRow(found, row);
    }
    if (m_hasRow)
        NotifyScroll();
}

void TDataSet::AppendRecord(const QVariantList &values)
{
    Append();
    try {
        const int stored = static_cast<int>(m_cursor->Columns().size());
        for (int i = 0; i < values.size() && i < stored; ++i)
            Fields(i)->SetAsVariant(values.at(i));
        Post();
    } catch (...) {
        Cancel();
        throw;
    }
}

void TDataSet::Refresh()
{
    CheckActive();
    checkBrowse("Refresh");
    TRow row = m_row;
    if (m_hasRow && m_cursor->Refresh(row)) {
        takeRow(true, row);
        return;
    }
    const bool found = m_cursor->First(row);
    takeRow(found, row);
}
