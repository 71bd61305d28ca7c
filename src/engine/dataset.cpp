#include "engine/dataset.h"

#include "core/errors.h"
#include "engine/database.h"
#include "engine/statement.h"

#include <QVarLengthArray>
#include <cmath>
#include <cstring>

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

QStringList splitNames(const QString &names)
{
    QStringList result;
    for (const QString &n : names.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString t = n.trimmed();
        if (!t.isEmpty())
            result << t;
    }
    return result;
}

QString datasetLabel(const TDataSet &ds)
{
    return ds.Name.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(ds.Name);
}

// Positions of the named columns (names compared without regard to case); a name that is not
// there is an error naming the dataset.
QList<int> columnPositions(const QList<TColumn> &columns, const QStringList &names,
                           const TDataSet &ds)
{
    QList<int> positions;
    for (const QString &n : names) {
        const int found = engine::ColumnIndex(columns, n);
        if (found < 0)
            throw EDatabaseError(QStringLiteral("Поле '%1' не найдено%2").arg(n, datasetLabel(ds)));
        positions << found;
    }
    return positions;
}

// Key values as bytes, the same for equal whole numbers whatever type holds them; false when a
// value is Null or no whole number.
bool keptKey(const QVariant *values, qsizetype count, QByteArray &key)
{
    key.resize(count * qsizetype(sizeof(qint64)));
    char *out = key.data();
    for (qsizetype i = 0; i < count; ++i) {
        const QVariant &v = values[i];
        qint64 n = 0;
        switch (engine::BoundKind(v)) {
        case engine::TBoundKind::Integer:
            n = v.toLongLong();
            break;
        case engine::TBoundKind::Float: {
            const double d = v.toDouble();
            if (!(std::fabs(d) < 9.0e15) || d != std::floor(d))
                return false;
            n = static_cast<qint64>(d);
            break;
        }
        default: // Null, or no number
            return false;
        }
        std::memcpy(out + i * qsizetype(sizeof n), &n, sizeof n);
    }
    return true;
}

bool keptKey(const QVariantList &values, QByteArray &key)
{
    return keptKey(values.constData(), values.size(), key);
}

bool keptKey(const TRow &row, const QList<int> &columns, QByteArray &key)
{
    QVarLengthArray<QVariant, 4> values;
    for (int c : columns)
        values.append(row.value(c));
    return keptKey(values.constData(), values.size(), key);
}

// The memo key of a look-up: the look-up's handle and its values, as bytes, written over key
// (whose room a look-up answered from memory reuses).
void memoKey(int handle, const QVariantList &values, QByteArray &key)
{
    key.resize(0);
    auto raw = [&key](const auto &v) {
        key.append(reinterpret_cast<const char *>(&v), qsizetype(sizeof v));
    };
    raw(handle);
    for (const QVariant &v : values) {
        switch (engine::BoundKind(v)) {
        case engine::TBoundKind::Integer:
            key.append('i');
            raw(v.toLongLong());
            break;
        case engine::TBoundKind::Float:
            key.append('f');
            raw(v.toDouble());
            break;
        default: {
            const QString text = v.toString();
            key.append('t');
            raw(v.typeId());
            raw(text.size());
            key.append(reinterpret_cast<const char *>(text.constData()),
                       text.size() * qsizetype(sizeof(QChar)));
        }
        }
    }
}

} // namespace

// ------------------------------------------------------------------------------------------
// TField

TField::TField(Key, TDataSet *dataSet, TColumn column, int index, const TLookupFieldDef *lookup)
    : m_dataSet(dataSet), m_column(std::move(column)), m_index(index), m_lookup(lookup)
{
}

QVariant TField::AsVariant() const
{
    return m_dataSet->fieldValue(*this);
}

bool TField::IsNull() const
{
    return IsNullValue(AsVariant());
}

QString TField::AsString() const
{
    const QVariant v = AsVariant();
    if (IsNullValue(v))
        return {};
    switch (v.typeId()) {
    case QMetaType::Double:
        return QString::number(v.toDouble(), 'g', 15);
    case QMetaType::QDateTime: {
        const QDateTime dt = v.toDateTime();
        return dt.time() == QTime(0, 0) ? dt.date().toString(QStringLiteral("dd.MM.yyyy"))
                                        : dt.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
    }
    case QMetaType::QDate:
        return v.toDate().toString(QStringLiteral("dd.MM.yyyy"));
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    default:
        return v.toString();
    }
}

QVariant TField::convertedTo(TFieldType type) const
{
    // Null reads as the type's empty value: 0, 0.0, an invalid date-time, false.
    const QVariant v = AsVariant();
    if (IsNullValue(v))
        return {};
    return engine::ConvertValue(v, type, 0, FieldName());
}

qint64 TField::AsLargeInt() const
{
    return convertedTo(TFieldType::ftLargeint).toLongLong();
}

int TField::AsInteger() const
{
    return convertedTo(TFieldType::ftInteger).toInt();
}

double TField::AsFloat() const
{
    return convertedTo(TFieldType::ftFloat).toDouble();
}

QDateTime TField::AsDateTime() const
{
    return convertedTo(TFieldType::ftDateTime).toDateTime();
}

bool TField::AsBoolean() const
{
    return convertedTo(TFieldType::ftBoolean).toBool();
}

void TField::SetAsVariant(const QVariant &value)
{
    m_dataSet->setFieldValue(*this, value);
}

// ------------------------------------------------------------------------------------------
// TDataSet

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
                                 .arg(datasetLabel(*this)));
}

void TDataSet::CheckInactive() const
{
    if (Active())
        throw EDatabaseError(QStringLiteral("Операция не применима к открытому набору данных%1")
                                 .arg(datasetLabel(*this)));
}

std::unique_ptr<engine::TCursor> TDataSet::CreateLookupCursor()
{
    throw EDatabaseError(QStringLiteral("Набор данных закрыт%1").arg(datasetLabel(*this)));
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

TCloseOnExit::~TCloseOnExit()
{
    for (TDataSet *ds : m_sets) {
        try {
            ds->Close();
        } catch (...) {
        }
    }
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
                                     .arg(def.FieldName, datasetLabel(*this)));
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
                                 .arg(datasetLabel(*this)));
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
            QStringLiteral("Поле '%1' не найдено%2").arg(name, datasetLabel(*this)));
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

QVariant TDataSet::computeLookup(const TField &field) const
{
    if (!Active())
        return {};
    const int idx = static_cast<int>(field.m_lookup - m_lookupDefs.constData());
    if (m_lookupCached.value(idx))
        return m_lookupCache.at(idx);
    if (!m_hasRow && m_state == TDataSetState::dsBrowse)
        return {};
    if (m_lookupDepth > m_lookupDefs.size())
        throw EDatabaseError(
            QStringLiteral("Циклическая ссылка в поле '%1'").arg(field.FieldName()));
    ++m_lookupDepth;
    QVariant result;
    try {
        const TLookupFieldDef &def = *field.m_lookup;
        DerivedKeys &derived = m_derived.at(size_t(idx));
        if (derived.handle < 0) {
            derived.fields.clear();
            for (const QString &name : splitNames(def.KeyFields))
                derived.fields.push_back(FieldByName(name));
            derived.handle =
                def.LookupDataSet->LookupHandle(def.LookupKeyFields, def.LookupResultField);
        }
        QVariantList keys;
        keys.reserve(qsizetype(derived.fields.size()));
        bool anyNull = false;
        for (const TField *key : derived.fields) {
            QVariant v = key->AsVariant();
            if (IsNullValue(v)) {
                anyNull = true;
                break;
            }
            keys << std::move(v);
        }
        if (!anyNull && !keys.isEmpty())
            result = def.LookupDataSet->Lookup(derived.handle, keys);
    } catch (...) {
        --m_lookupDepth;
        throw;
    }
    --m_lookupDepth;
    m_lookupCache[idx] = result;
    m_lookupCached[idx] = true;
    return result;
}

void TDataSet::setFieldValue(TField &field, const QVariant &value)
{
    if (m_state != TDataSetState::dsEdit && m_state != TDataSetState::dsInsert)
        throw EDatabaseError(QStringLiteral("Набор данных не находится в режиме редактирования%1")
                                 .arg(datasetLabel(*this)));
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
            QStringLiteral("Набор данных только для чтения%1").arg(datasetLabel(*this)));
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
            QStringLiteral("Набор данных только для чтения%1").arg(datasetLabel(*this)));
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
                                 .arg(datasetLabel(*this)));
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
        throw EDatabaseError(QStringLiteral("Нет текущей записи%1").arg(datasetLabel(*this)));
    if (!CanModify())
        throw EDatabaseError(
            QStringLiteral("Набор данных только для чтения%1").arg(datasetLabel(*this)));
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

QVariant TDataSet::Lookup(const QString &keyFields, const QVariantList &values,
                          const QString &resultField)
{
    return Lookup(LookupHandle(keyFields, resultField), values);
}

int TDataSet::LookupHandle(const QString &keyFields, const QString &resultField)
{
    for (size_t i = 0; i < m_plans.size(); ++i)
        if (m_plans[i].keyFields == keyFields && m_plans[i].resultField == resultField)
            return int(i);
    m_plans.push_back(LookupPlan{keyFields, resultField, {}, {}, false});
    return int(m_plans.size() - 1);
}

void TDataSet::forgetPlans()
{
    for (LookupPlan &plan : m_plans)
        plan.resolved = false;
}

TDataSet::LookupPlan &TDataSet::resolvedPlan(int handle)
{
    LookupPlan &plan = m_plans.at(size_t(handle));
    if (!plan.resolved) {
        const QList<TColumn> &columns = lookupCursor()->Columns();
        plan.keys = columnPositions(columns, splitNames(plan.keyFields), *this);
        plan.results = columnPositions(columns, splitNames(plan.resultField), *this);
        plan.resolved = true;
    }
    return plan;
}

QVariant TDataSet::Lookup(int handle, const QVariantList &values)
{
    engine::TCursor *cursor = lookupCursor();
    // Names are resolved once: a look-up runs for every row of a long walk.
    LookupPlan &plan = resolvedPlan(handle);
    const QList<int> &keys = plan.keys;
    const QList<int> &results = plan.results;
    if (keys.size() != values.size())
        throw EDatabaseError(
            QStringLiteral("Число значений не совпадает с числом полей: %1").arg(plan.keyFields));
    for (const QVariant &v : values)
        if (IsNullValue(v))
            return {};
    QByteArray &memo = m_memoKey;
    const bool memoize = CacheLookups && plan.memoWorthKeeping();
    if (CacheLookups) {
        lookupMemoCurrent();
        const KeptRows *group = nullptr;
        if (const std::optional<TRow> *kept = keptRow(keys, results, values, &group)) {
            if (!*kept)
                return {};
            auto at = [&](int c) {
                return (*kept)->value(group->kept.isEmpty() ? c : group->kept.indexOf(c));
            };
            if (results.size() == 1)
                return at(results.first());
            QVariantList answer;
            for (int c : results)
                answer << at(c);
            return answer;
        }
        if (memoize) {
            memoKey(handle, values, memo);
            if (const auto it = m_lookupMemo.constFind(memo); it != m_lookupMemo.constEnd()) {
                ++plan.memoHits;
                return it.value();
            }
            ++plan.memoMisses;
        }
    }
    QVariantList found;
    QVariant answer;
    if (cursor->Lookup(keys, values, results, found))
        answer = results.size() == 1 ? found.value(0) : QVariant(found);
    if (memoize) {
        // Bounded: a long run keeps the answers of its recent rows.
        if (m_lookupMemo.size() >= 1024)
            m_lookupMemo.clear();
        m_lookupMemo.insert(memo, answer);
    }
    return answer;
}

engine::TCursor *TDataSet::lookupCursor()
{
    if (m_cursor)
        return m_cursor.get();
    if (!m_lookupCursor) {
        m_lookupCursor = OpenReader();
        forgetPlans();
    }
    return m_lookupCursor.get();
}

// A rollback may have taken back rows that answers were given from: they are forgotten.
void TDataSet::lookupMemoCurrent()
{
    const quint64 rollbacks = Database() ? Database()->RollbackCount() : 0;
    if (rollbacks != m_lookupMemoRollbacks) {
        m_lookupMemo.clear();
        m_kept.clear();
        m_lookupMemoRollbacks = rollbacks;
    }
}

const std::optional<TRow> *TDataSet::keptRow(const QList<int> &columns, const QList<int> &needed,
                                             const QVariantList &values,
                                             const KeptRows **from) const
{
    QByteArray key;
    if (m_kept.empty() || !keptKey(values, key))
        return nullptr;
    for (const KeptRows &group : m_kept) {
        if (group.columns != columns)
            continue;
        bool holds = group.kept.isEmpty();
        if (!holds && !needed.isEmpty()) {
            holds = true;
            for (int c : needed)
                holds = holds && group.kept.contains(c);
        }
        if (!holds)
            continue;
        const auto it = group.rows.constFind(key);
        if (it == group.rows.constEnd())
            continue;
        if (from)
            *from = &group;
        return &it.value();
    }
    return nullptr;
}

namespace {

// The kept columns of a row (none: the whole row).
TRow keptPart(const TRow &row, const QList<int> &kept)
{
    if (kept.isEmpty())
        return row;
    TRow part;
    part.reserve(kept.size());
    for (int c : kept)
        part << row.value(c);
    return part;
}

} // namespace

// After the dataset wrote or deleted a row: keys of the old and the new row no longer say what
// they said, except that a key known to have no row now has the inserted one.
void TDataSet::keepTrue(const TRow *oldRow, const TRow *newRow, bool inserted)
{
    QByteArray key;
    for (KeptRows &group : m_kept) {
        if (oldRow && keptKey(*oldRow, group.columns, key))
            group.rows.remove(key);
        if (!newRow || !keptKey(*newRow, group.columns, key))
            continue;
        const auto it = group.rows.find(key);
        if (it == group.rows.end())
            continue;
        if (inserted && !it->has_value() && (!m_filtered || m_filterText.trimmed().isEmpty()))
            *it = keptPart(*newRow, group.kept);
        else
            group.rows.erase(it);
    }
}

void TDataSet::KeepRows(const QString &keyFields, const QList<QVariantList> &keys,
                        const QString &resultFields)
{
    if (!CacheLookups || keys.isEmpty())
        return;
    lookupMemoCurrent();
    engine::TCursor *cursor = lookupCursor();
    const QList<int> columns = columnPositions(cursor->Columns(), splitNames(keyFields), *this);
    const QList<int> kept =
        resultFields.isEmpty()
            ? QList<int>()
            : columnPositions(cursor->Columns(), splitNames(resultFields), *this);
    for (int c : columns)
        if (!engine::IsIntegerType(cursor->Columns().at(c).DataType))
            return;
    qsizetype count = 0;
    for (const KeptRows &group : m_kept)
        count += group.rows.size();
    if (count + keys.size() > KeptRowsLimit)
        m_kept.clear();
    auto group = std::find_if(m_kept.begin(), m_kept.end(), [&](const KeptRows &g) {
        return g.columns == columns && g.kept == kept;
    });
    if (group == m_kept.end()) {
        m_kept.push_back(KeptRows{columns, kept, {}});
        group = std::prev(m_kept.end());
    }
    // Keys whose whole rows are kept need nothing more.
    const auto whole = std::find_if(m_kept.begin(), m_kept.end(), [&](const KeptRows &g) {
        return g.columns == columns && g.kept.isEmpty();
    });
    QList<QVariantList> wanted;
    QHash<QByteArray, int> matches; // asked key -> rows found
    QByteArray key;
    for (const QVariantList &values : keys) {
        if (values.size() != columns.size() || !keptKey(values, key) || group->rows.contains(key) ||
            matches.contains(key) ||
            (!kept.isEmpty() && whole != m_kept.end() && whole->rows.contains(key)))
            continue;
        matches.insert(key, 0);
        wanted << values;
    }
    if (wanted.isEmpty())
        return;
    QHash<QByteArray, TRow> found;
    // Partial rows come as the kept columns, then the key columns.
    QList<int> keyAt = columns;
    for (int i = 0; !kept.isEmpty() && i < keyAt.size(); ++i)
        keyAt[i] = int(kept.size()) + i;
    const bool read = cursor->LocateMany(columns, wanted, kept, [&](const TRow &row) {
        QByteArray k;
        const auto it = keptKey(row, keyAt, k) ? matches.find(k) : matches.end();
        if (it == matches.end())
            return;
        ++it.value();
        found.insert(k, kept.isEmpty() ? row : row.mid(0, kept.size()));
    });
    if (!read)
        return;
    for (auto it = matches.cbegin(); it != matches.cend(); ++it) {
        if (it.value() == 0)
            group->rows.insert(it.key(), std::nullopt);
        else if (it.value() == 1)
            group->rows.insert(it.key(), found.value(it.key()));
    }
}

void TDataSet::SetGroupInserts(bool on)
{
    if (!on) {
        if (!m_groupInserts)
            return;
        m_groupInserts->ReleaseWrites(this);
        m_groupInserts = nullptr;
        if (m_cursor)
            m_cursor->SendHeld();
        return;
    }
    CheckActive();
    TDatabase *db = Database();
    if (m_groupInserts || !db)
        return;
    m_groupInserts = db;
    db->HoldWrites(
        this,
        [this] {
            if (m_cursor)
                m_cursor->SendHeld();
        },
        [this] {
            if (m_cursor)
                m_cursor->DropHeld();
        });
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

// ------------------------------------------------------------------------------------------
// TDataSource

TDataSource::TDataSource(TDataSet *dataSet)
{
    SetDataSet(dataSet);
}

TDataSource::~TDataSource()
{
    SetDataSet(nullptr);
    for (TDataSet *d : m_details)
        d->MasterSourceGone();
    m_details.clear();
}

void TDataSource::SetDataSet(TDataSet *dataSet)
{
    if (m_dataSet == dataSet)
        return;
    if (m_dataSet)
        m_dataSet->m_sources.removeAll(this);
    m_dataSet = dataSet;
    if (m_dataSet)
        m_dataSet->m_sources << this;
}

void TDataSource::masterChanged()
{
    const QList<TDataSet *> details = m_details;
    for (TDataSet *d : details)
        if (m_details.contains(d))
            d->MasterChanged();
}

void TDataSource::attach(TDataSet *detail)
{
    if (!m_details.contains(detail))
        m_details << detail;
}

void TDataSource::detach(TDataSet *detail)
{
    m_details.removeAll(detail);
}
