// What the SQLite driver tells the table cursor: a table from sqlite_master and its table_info,
// and the dialect of its statements.

#include "core/errors.h"
#include "engine/sql/sqlite/sqlitedriver.h"
#include "engine/sql/sqlvalues.h"

#include <QSqlQuery>
#include <algorithm>
#include <sqlite3.h>

namespace engine {

TTableInfo TSqliteDriver::DescribeTable(const QSqlDatabase &db, const QString &name) const
{
    QString table = name.trimmed();
    if (table.contains(QLatin1Char('.')))
        table = table.section(QLatin1Char('.'), -1);
    const QVariant real = FirstValue(db,
                                     QStringLiteral("SELECT name FROM sqlite_master WHERE type IN "
                                                    "('table','view') AND lower(name) = lower(?)"),
                                     {table});
    if (IsNullValue(real))
        throw EDBEngineError(QStringLiteral("Таблица не найдена: %1").arg(name));
    const QString realName = real.toString();
    TTableInfo t;
    t.table = QuotedName(db, realName);
    QSqlQuery info(db);
    if (!info.exec(QStringLiteral("PRAGMA table_info(") + t.table + QStringLiteral(")")))
        ThrowSqlError(info, info.lastQuery());
    QList<QPair<int, int>> pk;
    QStringList types;
    while (info.next()) {
        types << info.value(2).toString().trimmed().toUpper();
        TColumn c = ColumnFromDeclaredType(info.value(1).toString(), info.value(2).toString());
        c.Required = info.value(3).toInt() != 0;
        if (!info.isNull(4))
            t.defaulted << static_cast<int>(t.columns.size());
        const int pkOrder = info.value(5).toInt();
        if (pkOrder > 0)
            pk << qMakePair(pkOrder, static_cast<int>(t.columns.size()));
        t.quotedColumns << QuotedName(db, c.Name);
        t.columns << c;
    }
    std::sort(pk.begin(), pk.end());
    for (const auto &p : pk)
        t.keys << p.second;
    QSqlQuery probe(db);
    t.hasRowid =
        probe.exec(QStringLiteral("SELECT rowid FROM ") + t.table + QStringLiteral(" LIMIT 0"));
    t.rowsLocatable = t.hasRowid;
    if (t.hasRowid && t.keys.size() == 1 && types.at(t.keys.first()) == QLatin1String("INTEGER"))
        t.rowidAlias = t.keys.first();
    t.hasTriggers = FirstValue(db,
                               QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type = "
                                              "'trigger' AND lower(tbl_name) = lower(?)"),
                               {realName})
                        .toInt() > 0;
    return t;
}

const TRowLocator &TSqliteDriver::Locator() const
{
    static const TRowLocator locator{QStringLiteral("rowid"), QStringLiteral("rowid"),
                                     QStringLiteral("rowid = ?"), QStringLiteral("rowid > ?")};
    return locator;
}

bool TSqliteDriver::HasReturning() const
{
    return sqlite3_libversion_number() >= 3035000;
}

void TSqliteDriver::CheckInsertReported(const TTableInfo &table, const QString &name) const
{
    if (!table.hasRowid && !HasReturning())
        throw EDBEngineError(
            QStringLiteral("SQLite %1 не умеет возвращать вставленную запись таблицы %2")
                .arg(QString::fromLatin1(sqlite3_libversion()), name));
}

QString TSqliteDriver::ManyKeysCondition(const QStringList &columns, int count) const
{
    // SQLite scans the table for a list of row values, but searches its index for each term of
    // an OR.
    const QString term =
        QStringLiteral("(") + columns.join(QStringLiteral(" = ? AND ")) + QStringLiteral(" = ?)");
    return QStringLiteral("(") + QStringList(count, term).join(QStringLiteral(" OR ")) +
           QStringLiteral(")");
}

} // namespace engine
