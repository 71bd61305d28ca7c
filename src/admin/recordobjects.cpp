#include "admin/recordobjects.h"

#include "core/errors.h"
#include "engine/dataset.h"

namespace {

// Puts the dataset back into the open or closed state it had when this was made, also when the
// operation in between fails.
class ActiveStateGuard
{
public:
    explicit ActiveStateGuard(TDataSet &ds) : m_ds(ds), m_wasActive(ds.Active()) {}
    ~ActiveStateGuard()
    {
        try {
            if (m_ds.State() == TDataSetState::dsEdit || m_ds.State() == TDataSetState::dsInsert)
                m_ds.Cancel();
            if (!m_wasActive)
                m_ds.Close();
        } catch (...) {
            // Closing an SQL cursor does not fail; nothing sensible is left to do if it did.
        }
    }
    ActiveStateGuard(const ActiveStateGuard &) = delete;
    ActiveStateGuard &operator=(const ActiveStateGuard &) = delete;

private:
    TDataSet &m_ds;
    bool m_wasActive;
};

} // namespace

void TFieldSet::Put(const QString &name, const QVariant &value)
{
    m_values.insert(name, TValue(value));
}

QVariant TFieldSet::Get(const QString &name) const
{
    const auto it = m_values.constFind(name);
    return it == m_values.cend() ? QVariant() : it->Value;
}

TSimpleDBObject::TSimpleDBObject(TDataSet &dataSet, const TFieldSet *initial,
                                 const QString &keyFields)
    : m_dataSet(dataSet)
{
    for (const TColumn &c : dataSet.FieldDefs()) {
        const QString name = c.Name.toUpper();
        if (m_values.Contains(name))
            continue;
        m_names << name;
        m_values.Put(name, QVariant());
    }
    const QStringList pieces = keyFields.toUpper().split(QLatin1Char(';'));
    for (const QString &piece : pieces)
        if (m_values.Contains(piece))
            m_keyFields << piece;
    if (initial)
        Load(*initial);
}

void TSimpleDBObject::readFields()
{
    for (const QString &name : std::as_const(m_names))
        m_values.Put(name, m_dataSet.FieldByName(name)->AsVariant());
}

bool TSimpleDBObject::Load(const TFieldSet &values)
{
    const QStringList names = values.Names();
    QVariantList list;
    for (const QString &name : names)
        list << values.Get(name);

    ActiveStateGuard restore(m_dataSet);
    m_dataSet.Open();
    const bool found = !names.isEmpty() && m_dataSet.Locate(names.join(QLatin1Char(';')), list);
    if (found)
        readFields();
    return found;
}

bool TSimpleDBObject::LoadByKey(const QVariantList &keyValues)
{
    TFieldSet key;
    for (qsizetype i = 0; i < m_keyFields.size(); ++i)
        key.Put(m_keyFields[i], keyValues.value(i));
    return Load(key);
}

void TSimpleDBObject::Save()
{
    QVariantList keyValues;
    for (const QString &name : std::as_const(m_keyFields))
        keyValues << m_values.Get(name);

    ActiveStateGuard restore(m_dataSet);
    m_dataSet.Close();
    m_dataSet.Open();
    const bool found =
        !m_keyFields.isEmpty() && m_dataSet.Locate(m_keyFields.join(QLatin1Char(';')), keyValues);
    if (found)
        m_dataSet.Edit();
    else
        m_dataSet.Append();
    // A failure from here on leaves the pending row to the guard, which cancels it.
    for (const QString &name : std::as_const(m_names))
        m_dataSet.FieldByName(name)->SetAsVariant(m_values.Get(name));
    m_dataSet.Post();
    m_dataSet.Refresh();
    readFields();
}

QString TSimpleDBObject::checkedName(const QString &name) const
{
    const QString upper = name.toUpper();
    if (!m_values.Contains(upper))
        throw EDatabaseError(QStringLiteral("Поле '%1' не найдено").arg(name));
    return upper;
}

QVariant TSimpleDBObject::GetValue(const QString &name) const
{
    return m_values.Get(checkedName(name));
}

void TSimpleDBObject::SetValue(const QString &name, const QVariant &value)
{
    m_values.Put(checkedName(name), value);
}

QString NullToStr(const QVariant &v)
{
    return engine::IsNullValue(v) ? QString() : v.toString();
}

int NullToInt(const QVariant &v)
{
    return engine::IsNullValue(v) ? 0 : v.toInt();
}
