#include "demogen.h"

#include "core/errors.h"
#include "demobuilder.h"
#include "demodata.h"
#include "engine/database.h"
#include "engine/statement.h"
#include "random.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <cmath>
#include <map>

namespace demo {

namespace detail {

QString u(const char *text)
{
    return QString::fromUtf8(text);
}

QString digits(qint64 value, int width)
{
    return QStringLiteral("%1").arg(value, width, 10, QLatin1Char('0'));
}

QString fit(const QString &text, int length)
{
    if (text.size() <= length)
        return text;
    QString cut = text.left(length);
    const qsizetype blank = cut.lastIndexOf(QLatin1Char(' '));
    if (blank > length * 2 / 3)
        cut.truncate(blank);
    while (cut.endsWith(QLatin1Char(',')) || cut.endsWith(QLatin1Char(' ')))
        cut.chop(1);
    return cut;
}

const QDate epoch(1996, 1, 1);

QDateTime day(int offset)
{
    return QDateTime(epoch.addDays(offset), QTime(0, 0));
}

Person randomPerson(Random &rnd)
{
    Person p;
    p.female = rnd.percent(60); // most doctors and nurses in the field are women
    p.surname = u(rnd.pick(demodata::MaleSurnames()));
    QString patr = u(rnd.pick(demodata::Patronymics()));
    if (p.female) {
        p.surname += QChar(u'а');
        p.name = u(rnd.pick(demodata::FemaleNames()));
        if (patr.endsWith(QStringLiteral("ич")))
            patr = patr.left(patr.size() - 2) + QStringLiteral("на");
    } else {
        p.name = u(rnd.pick(demodata::MaleNames()));
    }
    p.patronymic = patr;
    return p;
}

int typeIndex(const char *key)
{
    for (int i = 0; i < int(std::size(types)); ++i)
        if (qstrcmp(types[i].key, key) == 0)
            return i;
    return 0;
}

TableRows &Builder::central(const QString &name, const QStringList &columns)
{
    for (TableRows &t : m_data.central)
        if (t.name == name)
            return t;
    m_data.central.push_back({name, columns, {}});
    return m_data.central.back();
}

TableRows &Builder::esvs(const QString &name, const QStringList &columns)
{
    for (TableRows &t : m_data.esvs)
        if (t.name == name)
            return t;
    m_data.esvs.push_back({name, columns, {}});
    return m_data.esvs.back();
}

DemoData Builder::Build()
{
    // Fix the order in which the tables are written: references point backwards.
    central(QStringLiteral("REGION"),
            {QStringLiteral("REGGID"), QStringLiteral("REGNAME"), QStringLiteral("REGOKATO")});
    declareEsvs();
    makeTypes();
    makeAreas();
    makeHospitals();
    makeBrigades();
    makeWorkstations();
    makeDiagnoses();
    makeDocTypes();
    makeMedicines();
    makeEsvs();
    return std::move(m_data);
}

} // namespace detail

const TableRows *DemoData::Central(const QString &name) const
{
    for (const TableRows &t : central)
        if (t.name == name)
            return &t;
    return nullptr;
}

const TableRows *DemoData::Esvs(const QString &name) const
{
    for (const TableRows &t : esvs)
        if (t.name == name)
            return &t;
    return nullptr;
}

int ScaledCount(int base, double scale, int minimum)
{
    return std::max(minimum, int(std::lround(base * scale)));
}

DemoData BuildDemoData(double scale, quint64 seed)
{
    return detail::Builder(scale, seed).Build();
}

void WriteTables(TDatabase &db, const std::deque<TableRows> &tables)
{
    for (const TableRows &t : tables) {
        if (t.rows.empty())
            continue;
        QStringList marks;
        for (qsizetype i = 0; i < t.columns.size(); ++i)
            marks << QStringLiteral("?");
        const QString sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                .arg(t.name, t.columns.join(QStringLiteral(", ")),
                                     marks.join(QStringLiteral(", ")));
        engine::TStatement q(db.Sql(), sql);
        for (const QVariantList &row : t.rows)
            q.exec(row);
    }
}

} // namespace demo
