#include "engine/folder/memorycopy.h"

#include "core/errors.h"
#include "engine/database.h"
#include "engine/folder/sqltokens.h"
#include "engine/folder/storedvalues.h"
#include "engine/folder/tablefiles.h"
#include "engine/paradox/paradoxtable.h"
#include "engine/sql/sqlcursor.h"
#include "engine/statement.h"
#include "engine/textfold.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>

namespace engine {

namespace {

// SQL type of a Paradox column in the SQLite copy; the dataset layer reads the declared type.
QString sqliteType(const paradox::Field &f)
{
    switch (f.type) {
    case paradox::FieldType::Alpha:
        return QStringLiteral("VARCHAR(%1)").arg(f.size);
    case paradox::FieldType::Date:
        return QStringLiteral("DATE");
    case paradox::FieldType::Short:
        return QStringLiteral("SMALLINT");
    case paradox::FieldType::Long:
    case paradox::FieldType::AutoInc:
        return QStringLiteral("INTEGER");
    case paradox::FieldType::Number:
    case paradox::FieldType::Money:
    case paradox::FieldType::Bcd:
        return QStringLiteral("DOUBLE");
    case paradox::FieldType::Logical:
        return QStringLiteral("BOOLEAN");
    case paradox::FieldType::Timestamp:
        return QStringLiteral("TIMESTAMP");
    case paradox::FieldType::Time:
        return QStringLiteral("TIME");
    case paradox::FieldType::Memo:
    case paradox::FieldType::FormattedMemo:
        return QStringLiteral("TEXT");
    default:
        return QStringLiteral("BLOB");
    }
}

QString quoteIdent(const QString &name)
{
    QString q = name;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

// An in-memory SQLite database that lives as long as this object.
class MemoryDatabase
{
public:
    MemoryDatabase()
    {
        static QAtomicInt counter;
        m_name = QStringLiteral("zoru_folder_sql_%1").arg(counter.fetchAndAddRelaxed(1) + 1);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(QStringLiteral(":memory:"));
        if (!db.open()) {
            const QString message = engineMessage(db.lastError(), db.driver());
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(m_name);
            throw EDBEngineError(message);
        }
        RegisterSqliteTextFolding(db);
    }
    ~MemoryDatabase()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            FinalizeSqliteStatements(db);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    MemoryDatabase(const MemoryDatabase &) = delete;
    MemoryDatabase &operator=(const MemoryDatabase &) = delete;

    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

private:
    QString m_name;
};

struct LoadedTable
{
    QString path;
    QString sqlName; // name of the copy, as the statement writes it
    paradox::Schema schema;
};

void exec(QSqlQuery &q, const QString &sql)
{
    if (!q.exec(sql))
        throw EDBEngineError(engineMessage(q.lastError(), q.driver()), sql);
}

// Copies one Paradox table into the memory database under the given name.
LoadedTable loadTable(const QSqlDatabase &db, const QString &path, const QString &sqlName)
{
    paradox::TableReader reader(path);
    LoadedTable t{path, sqlName, reader.schema()};
    QStringList defs, marks;
    for (const paradox::Field &f : t.schema.fields) {
        defs << quoteIdent(f.name) + QLatin1Char(' ') + sqliteType(f);
        marks << QStringLiteral("?");
    }
    QSqlQuery q(db);
    exec(q, QStringLiteral("CREATE TABLE %1 (%2)")
                .arg(quoteIdent(sqlName), defs.join(QLatin1String(", "))));
    QSqlDatabase copy = db;
    if (!copy.transaction())
        throw EDBEngineError(engineMessage(copy.lastError(), copy.driver()));
    const QString insert = QStringLiteral("INSERT INTO %1 VALUES (%2)")
                               .arg(quoteIdent(sqlName), marks.join(QLatin1String(", ")));
    if (!q.prepare(insert))
        throw EDBEngineError(engineMessage(q.lastError(), q.driver()), insert);
    paradox::Row row;
    while (reader.next(row)) {
        for (size_t i = 0; i < row.size(); ++i)
            q.bindValue(static_cast<int>(i), row[i]);
        if (!q.exec())
            throw EDBEngineError(engineMessage(q.lastError(), q.driver()), insert);
    }
    if (!copy.commit())
        throw EDBEngineError(engineMessage(copy.lastError(), copy.driver()));
    return t;
}

// Copies every table of the folder that the statement names (a word or quoted name that is a
// table file's name with or without its extension).
std::vector<LoadedTable> loadReferencedTables(const QSqlDatabase &db, const QString &folder,
                                              const QString &sql)
{
    const QHash<QString, QString> files = FolderFiles(folder);
    std::vector<LoadedTable> loaded;
    QSet<QString> names;
    const auto consider = [&](const QString &name) {
        const QString lower = name.toLower();
        if (lower.isEmpty() || names.contains(lower))
            return;
        const QString file = files.value(
            lower.endsWith(QLatin1String(".db")) ? lower : lower + QLatin1String(".db"));
        if (file.isEmpty())
            return;
        names.insert(lower);
        loaded.push_back(loadTable(db, folder + file, name));
    };
    for (const TSqlToken &t : Tokenize(sql)) {
        if (t.kind == TSqlToken::Quoted) {
            consider(t.text); // "City.DB" names the file itself
        } else if (t.kind == TSqlToken::Word) {
            // A qualified column ("Hospital.HspGID") names its table before the dot.
            for (const QString &part : t.text.split(QLatin1Char('.')))
                consider(part);
        }
    }
    return loaded;
}

// A query cursor that owns the memory database its rows come from.
class FolderQueryCursor final : public TCursor
{
public:
    FolderQueryCursor(std::unique_ptr<MemoryDatabase> memory, std::unique_ptr<TCursor> inner)
        : m_memory(std::move(memory)), m_inner(std::move(inner))
    {
    }
    ~FolderQueryCursor() override { m_inner.reset(); }

    void Open(const TRowFilter &filter) override { m_inner->Open(filter); }
    void Close() override { m_inner->Close(); }
    const QList<TColumn> &Columns() const override { return m_inner->Columns(); }
    bool First(TRow &row) override { return m_inner->First(row); }
    bool Next(TRow &row) override { return m_inner->Next(row); }
    int RecordCount() override { return m_inner->RecordCount(); }
    bool Locate(const QList<int> &columns, const QVariantList &values, bool caseInsensitive,
                TRow &row) override
    {
        return m_inner->Locate(columns, values, caseInsensitive, row);
    }
    bool Lookup(const QList<int> &keyColumns, const QVariantList &values,
                const QList<int> &resultColumns, QVariantList &result) override
    {
        return m_inner->Lookup(keyColumns, values, resultColumns, result);
    }
    bool CanModify() const override { return false; }
    void Insert(TRow &) override { readOnly(); }
    void Update(const TRow &, const QList<int> &, TRow &) override { readOnly(); }
    void Delete(const TRow &) override { readOnly(); }
    bool Refresh(TRow &row) override { return m_inner->Refresh(row); }

private:
    [[noreturn]] static void readOnly()
    {
        throw EDBEngineError(QStringLiteral("Результат запроса не может быть изменен"));
    }

    std::unique_ptr<MemoryDatabase> m_memory;
    std::unique_ptr<TCursor> m_inner;
};

// Reads a table of the memory copy back into Paradox rows.
std::vector<paradox::Row> readBack(const QSqlDatabase &db, const LoadedTable &t)
{
    QSqlQuery q(db);
    exec(q, QStringLiteral("SELECT * FROM %1").arg(quoteIdent(t.sqlName)));
    std::vector<paradox::Row> rows;
    while (q.next()) {
        paradox::Row row;
        row.reserve(t.schema.fields.size());
        for (size_t i = 0; i < t.schema.fields.size(); ++i)
            row.push_back(ToStored(t.path, t.schema.fields[i], q.value(static_cast<int>(i))));
        rows.push_back(std::move(row));
    }
    return rows;
}

} // namespace

std::unique_ptr<TCursor> OpenQueryOverCopy(const QString &folder, const QString &sql,
                                           const TBoundValues &params)
{
    auto memory = std::make_unique<MemoryDatabase>();
    loadReferencedTables(memory->db(), folder, sql);
    auto inner = MakeSqlQueryCursor(memory->db(), sql, params);
    return std::make_unique<FolderQueryCursor>(std::move(memory), std::move(inner));
}

int ExecOverCopy(TDatabase &db, const QString &sql, const TBoundValues &params)
{
    const QList<TSqlToken> tokens = Tokenize(sql);
    const QString verb = UpperWord(tokens, 0);
    // The table a changing statement writes: INSERT INTO t, UPDATE t, DELETE FROM t.
    qsizetype targetAt = -1;
    if (verb == QLatin1String("INSERT") || verb == QLatin1String("DELETE"))
        targetAt = 2;
    else if (verb == QLatin1String("UPDATE"))
        targetAt = 1;
    if (targetAt >= 0 && db.ReadOnly)
        throw EDBEngineError(
            QStringLiteral("База данных %1 открыта только для чтения").arg(db.DatabaseName));
    MemoryDatabase memory;
    const std::vector<LoadedTable> loaded = loadReferencedTables(memory.db(), db.Folder(), sql);
    const int affected = ExecSql(memory.db(), sql, params);
    if (targetAt >= 0 && targetAt < tokens.size()) {
        const QString target = tokens[targetAt].text.toLower();
        for (const LoadedTable &t : loaded) {
            if (t.sqlName.toLower() != target)
                continue;
            for (const paradox::Field &f : t.schema.fields)
                if (!f.isWritable())
                    throw EDBEngineError(
                        QStringLiteral("Таблица %1 не может быть изменена: поле %2 типа %3")
                            .arg(QFileInfo(t.path).fileName(), f.name, paradox::typeName(f.type)));
            paradox::rewriteTable(t.path, t.schema, readBack(memory.db(), t));
        }
    }
    return affected;
}

} // namespace engine
