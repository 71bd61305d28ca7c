// Registration of operators and workstations that the centre does not know yet.

#include "import/registration.h"

#include "core/clock.h"
#include "core/errors.h"
#include "engine/database.h"
#include "engine/numbering.h"
#include "engine/query.h"
#include "engine/transaction.h"
#include "import/mergewalk.h"

#include <QDate>

namespace {

// Runs a statement on q with values bound by position.
void prepare(TQuery &q, const QString &sql, const QVariantList &values)
{
    q.Close();
    q.SetSQL(sql);
    TParams &params = q.Params();
    if (params.Count() != values.size())
        throw EDatabaseError(QStringLiteral("Число параметров не совпадает: %1").arg(sql));
    for (int i = 0; i < values.size(); ++i) {
        params[i].DataType = TFieldType::ftUnknown;
        params[i].SetValue(values.at(i));
    }
}

// The first row of a query, or an empty list when it has none.
QList<const TField *> firstRow(TQuery &q, const QString &sql, const QVariantList &values)
{
    prepare(q, sql, values);
    q.Open();
    QList<const TField *> fields;
    if (q.Eof())
        return fields;
    for (int i = 0; i < q.FieldCount(); ++i)
        fields << q.Fields(i);
    return fields;
}

qint64 count(TQuery &q, const QString &sql, const QVariantList &values)
{
    prepare(q, sql, values);
    q.Open();
    const qint64 n = q.Eof() ? 0 : q.Fields(0)->AsLargeInt();
    q.Close();
    return n;
}

// A package value as it is bound: Null stays Null, empty text is Null, a yes/no answer is 0 or
// 1, a date is a date-time, numbers and text as they are.
QVariant bindable(const TField *field)
{
    if (!field || field->IsNull())
        return QVariant();
    switch (field->DataType()) {
    case TFieldType::ftBoolean:
        return field->AsBoolean() ? 1 : 0;
    case TFieldType::ftDate:
    case TFieldType::ftDateTime:
        return field->AsDateTime();
    default:
        break;
    }
    const QVariant v = field->AsVariant();
    if (engine::IsTextType(field->DataType()) && v.toString().isEmpty())
        return QVariant();
    return v;
}

// Column i of a row (Null beyond its end or in an empty result).
QVariant column(const QList<const TField *> &row, int i)
{
    return i < row.size() ? bindable(row.at(i)) : QVariant();
}

// An identifier of the package as a number; refuses text that is no number.
QVariant identifier(const QVariant &value, const char *name)
{
    return engine::ConvertValue(value, TFieldType::ftLargeint, 0, QString::fromLatin1(name));
}

// "insert into <table> values(?, ?, ...)" for the identifier and columns 2..width of a package
// row (width -1: all its columns; Null beyond its end).
void insertRow(TQuery &q, const QString &table, const QVariant &id,
               const QList<const TField *> &row, int width = -1)
{
    QVariantList values{id};
    for (int i = 1; i < (width < 0 ? row.size() : width); ++i)
        values << column(row, i);
    QStringList marks;
    for (qsizetype i = 0; i < values.size(); ++i)
        marks << QStringLiteral("?");
    prepare(q,
            QStringLiteral("insert into ") + table + QStringLiteral(" values(") +
                marks.join(QStringLiteral(", ")) + QLatin1Char(')'),
            values);
    q.ExecSQL();
}

// Copies the package's row of a dictionary table (see insertRow for width) into the centre when
// the centre lacks it, and moves the centre's numbering past it. id Null: nothing to copy.
void copyMissing(TQuery &srv, TQuery &wst, TDatabase &center, const QString &table,
                 const QString &key, const QVariant &id, int width = -1)
{
    if (engine::IsNullValue(id))
        return;
    const QString where = QStringLiteral(" where ") + key + QStringLiteral(" = :") + key;
    if (count(srv, QStringLiteral("select count(*) from ") + table + where, {id}) != 0)
        return;
    insertRow(srv, table, id, firstRow(wst, QStringLiteral("select * from ") + table + where, {id}),
              width);
    MoveNumberingPast(center, table.toUpper(), key.toUpper());
}

} // namespace

TOperatorRegistration::TOperatorRegistration(TDatabase &center, TQuery &srv, TQuery &wst,
                                             TMergeWalk &walk)
    : m_center(center), m_srv(srv), m_wst(wst), m_walk(walk)
{
}

int TOperatorRegistration::TakeRegistrations()
{
    return std::exchange(m_registrations, 0);
}

void TOperatorRegistration::Clear()
{
    m_known.clear();
    m_failed.clear();
    m_registrations = 0;
}

void TOperatorRegistration::Register(int w, int u)
{
    const std::pair<int, int> key{w, u};
    if (m_known.contains(key) || m_failed.contains(key))
        return;
    if (count(m_srv,
              QStringLiteral("select count(*) from operator where (wstgid = :wstgid or :wstgid = "
                             "-1) and (usergid = :usergid or :usergid = -1)"),
              {w, w, u, u}) != 0) {
        m_known.insert(key);
        return;
    }

    // The registration is a transaction of its own: the merge's window is committed first and
    // a new one begins afterwards.
    const bool inWalk = m_walk.Active();
    const bool dryRun = m_walk.DryRun();
    if (inWalk)
        m_walk.CommitWindow();
    TDatabase &db = m_center;
    // A dry run registers inside its own transaction, under a savepoint.
    TTransaction transaction(db);
    try {
        registerInTransaction(w, u);
        m_srv.Close();
        m_wst.Close();
        transaction.Commit();
        ++m_registrations;
        m_known.insert(key);
        m_failed.clear();
    } catch (...) {
        try {
            m_srv.Close();
            m_wst.Close();
        } catch (...) {
        }
        try {
            transaction.Rollback();
            // A commit that failed leaves its transaction open.
            if (!dryRun && db.InTransaction())
                db.Rollback();
        } catch (...) {
        }
        m_failed.insert(key);
    }
    if (inWalk && !dryRun)
        db.StartTransaction();
}

void TOperatorRegistration::registerInTransaction(int w, int u)
{
    TQuery &srv = m_srv;
    TQuery &wst = m_wst;

    const QList<const TField *> op = firstRow(
        wst,
        QStringLiteral("select username, userhash, userlevel from operator where wstgid = :wstgid "
                       "and usergid = :usergid"),
        {w, u});
    const QVariant userName = column(op, 0);
    const QVariant userHash = column(op, 1);
    const QVariant userLevel = column(op, 2);

    const QList<const TField *> ws = firstRow(
        wst,
        QStringLiteral(
            "select wstname, hspgid, brggid, wstrpldate from workstation where wstgid = :wstgid"),
        {w});
    const QVariant wstName = column(ws, 0);
    const QVariant hspgid = identifier(column(ws, 1), "hspgid");
    const QVariant brggid = identifier(column(ws, 2), "brggid");

    if (count(srv, QStringLiteral("select count(hspgid) from hospital where hspgid = :hspgid"),
              {hspgid}) == 0) {
        const QList<const TField *> hsp = firstRow(
            wst, QStringLiteral("select htpgid, reggid from hospital where hspgid = :hspgid"),
            {hspgid});
        const QVariant htpgid = identifier(column(hsp, 0), "htpgid");
        const QVariant reggid = identifier(column(hsp, 1), "reggid");

        copyMissing(srv, wst, m_center, QStringLiteral("region"), QStringLiteral("reggid"), reggid,
                    3);
        copyMissing(srv, wst, m_center, QStringLiteral("hosptype"), QStringLiteral("htpgid"),
                    htpgid);
        if (engine::IsNullValue(hspgid))
            throw EDatabaseError(QStringLiteral("Не указано ЛПУ рабочей станции"));
        const QList<const TField *> hospital = firstRow(
            wst, QStringLiteral("select * from hospital where hspgid = :hspgid"), {hspgid});
        if (hospital.isEmpty())
            throw EDatabaseError(QStringLiteral("ЛПУ рабочей станции нет в пакете"));
        insertRow(srv, QStringLiteral("hospital"), hspgid, hospital);
        MoveNumberingPast(m_center, QStringLiteral("HOSPITAL"), QStringLiteral("HSPGID"));

        copyMissing(srv, wst, m_center, QStringLiteral("brigade"), QStringLiteral("brggid"), brggid,
                    3);
    }

    prepare(srv,
            QStringLiteral("insert into workstation values(:wstgid, :wstname, :wstrpldate, "
                           ":hspgid, :brggid)"),
            {w, wstName, QDateTime(TClock::Today(), QTime(0, 0)), hspgid, brggid});
    srv.ExecSQL();
    // Identifiers of the workstation's own making: what the centre numbers later passes them.
    MoveNumberingPast(m_center, QStringLiteral("WORKSTATION"), QStringLiteral("WSTGID"));
    prepare(srv,
            QStringLiteral("insert into operator values(:wstgid, :usergid, :username, :userhash, "
                           ":userlevel)"),
            {w, u, userName, userHash, userLevel});
    srv.ExecSQL();
}
