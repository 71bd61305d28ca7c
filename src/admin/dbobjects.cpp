#include "admin/dbobjects.h"

#include "engine/dataset.h"

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
}

bool TSimpleDBObject::Load(const TFieldSet &)
{
    return false;
}
void TSimpleDBObject::Save() {}
QVariant TSimpleDBObject::GetValue(const QString &) const
{
    return {};
}
void TSimpleDBObject::SetValue(const QString &, const QVariant &) {}

QString NullToStr(const QVariant &v)
{
    return v.toString();
}
int NullToInt(const QVariant &v)
{
    return v.toInt();
}
