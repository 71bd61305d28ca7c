// What the PostgreSQL driver tells the table cursor: a table from pg_catalog, found on the
// search path or in its schema, and the dialect of its statements.

#include "core/errors.h"
#include "engine/sql/postgresql/postgresqldriver.h"
#include "engine/sql/sqlvalues.h"

#include <QSqlQuery>
#include <algorithm>

namespace engine {

namespace {

// The columns of a table by its oid, with their declared types.
void describeColumns(const QSqlDatabase &db, qint64 oid, TTableInfo &t, QStringList &types)
{
    QSqlQuery cols(db);
    PrepareSql(cols, QStringLiteral("SELECT attname, format_type(atttypid, atttypmod), attnotnull, "
                                    "atthasdef OR attidentity <> '' OR attgenerated <> '' "
                                    "FROM pg_attribute WHERE attrelid = ? AND attnum > 0 "
                                    "AND NOT attisdropped ORDER BY attnum"));
    RunSql(cols, {oid});
    while (cols.next()) {
        TColumn c = ColumnFromDeclaredType(cols.value(0).toString(), cols.value(1).toString());
        c.Required = cols.value(2).toBool();
        if (cols.value(3).toBool())
            t.defaulted << static_cast<int>(t.columns.size());
        t.quotedColumns << QuotedName(db, c.Name);
        t.columns << c;
        types << cols.value(1).toString();
    }
}

} // namespace

TTableInfo TPostgreSqlDriver::DescribeTable(const QSqlDatabase &db, const QString &name) const
{
    QString schema = QLatin1String(""), table = name.trimmed(); // never bound as Null
    if (table.contains(QLatin1Char('.'))) {
        schema = table.section(QLatin1Char('.'), 0, -2);
        table = table.section(QLatin1Char('.'), -1);
    }
    QSqlQuery find(db);
    PrepareSql(find, QStringLiteral(
                         "SELECT c.oid::bigint, n.nspname, c.relname FROM pg_class c "
                         "JOIN pg_namespace n ON n.oid = c.relnamespace "
                         "WHERE c.relkind IN ('r','v','p','m','f') AND lower(c.relname) = lower(?) "
                         "AND ((coalesce(?, '') = '' AND n.nspname = ANY(current_schemas(false))) "
                         "OR lower(n.nspname) = lower(?)) "
                         "ORDER BY coalesce(array_position(current_schemas(false), n.nspname), "
                         "1000) LIMIT 1"));
    RunSql(find, {table, schema, schema});
    if (!find.next())
        throw EDBEngineError(QStringLiteral("Таблица не найдена: %1").arg(name));
    const qint64 oid = find.value(0).toLongLong();
    TTableInfo t;
    t.schema = find.value(1).toString();
    t.relation = find.value(2).toString();
    t.table = QuotedName(db, t.schema) + QLatin1Char('.') + QuotedName(db, t.relation);
    find.finish();
    QStringList types;
    describeColumns(db, oid, t, types);
    // Rows are held back only where every type has a plain array of its own (not an array
    // column, not binary data: their array texts are not worth the trouble).
    const bool plain = std::none_of(types.begin(), types.end(), [](const QString &type) {
        return type.isEmpty() || type.endsWith(QLatin1Char(']')) || type == QLatin1String("bytea");
    });
    t.arrayTypes = plain ? types : QStringList();
    QSqlQuery pk(db);
    PrepareSql(pk, QStringLiteral("SELECT a.attname FROM pg_index i JOIN pg_attribute a "
                                  "ON a.attrelid = i.indrelid AND a.attnum = ANY(i.indkey) "
                                  "WHERE i.indrelid = ? AND i.indisprimary "
                                  "ORDER BY array_position(i.indkey::int2[], a.attnum)"));
    RunSql(pk, {oid});
    while (pk.next()) {
        const QString column = pk.value(0).toString();
        for (int i = 0; i < t.columns.size(); ++i)
            if (t.columns.at(i).Name == column)
                t.keys << i;
    }
    t.rowsLocatable = true;
    t.hasTriggers = FirstValue(db,
                               QStringLiteral("SELECT COUNT(*) FROM pg_trigger WHERE tgrelid = ? "
                                              "AND NOT tgisinternal"),
                               {oid})
                        .toInt() > 0;
    return t;
}

const TRowLocator &TPostgreSqlDriver::Locator() const
{
    static const TRowLocator locator{QStringLiteral("ctid::text"), QStringLiteral("ctid"),
                                     QStringLiteral("ctid = ?::tid"),
                                     QStringLiteral("ctid > ?::tid")};
    return locator;
}

QString TPostgreSqlDriver::ManyKeysCondition(const QStringList &columns, int count) const
{
    const QString one =
        QStringLiteral("(") +
        QStringList(columns.size(), QStringLiteral("?")).join(QStringLiteral(", ")) +
        QStringLiteral(")");
    return QStringLiteral("(") + columns.join(QStringLiteral(", ")) + QStringLiteral(") IN (") +
           QStringList(count, one).join(QStringLiteral(", ")) + QStringLiteral(")");
}

} // namespace engine
