// Look-ups: Lookup by names or by a handle whose names were resolved once, the answers kept by
// CacheLookups (forgotten by the dataset's own changes, closing it and rollbacks of its
// database; a look-up whose keys hardly repeat stops keeping them), and the derived (look-up)
// columns computed through them.

#include "core/errors.h"
#include "engine/database.h"
#include "engine/dataset.h"
#include "engine/dataset/datasetparts.h"
#include "engine/statement.h"

using engine::FieldPositions;
using engine::IsNullValue;
using engine::SplitFieldNames;
using engine::TRow;

namespace {

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
            for (const QString &name : SplitFieldNames(def.KeyFields))
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
        plan.keys = FieldPositions(columns, SplitFieldNames(plan.keyFields), *this);
        plan.results = FieldPositions(columns, SplitFieldNames(plan.resultField), *this);
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
