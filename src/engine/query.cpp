#include "engine/query.h"

#include "core/errors.h"
#include "engine/database.h"
#include "engine/sql/sqlcursor.h"

#include <QSet>
#include <QSqlError>
#include <QSqlQuery>

namespace {

bool isIdentStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_');
}

bool isIdentChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

// Walks SQL text outside quoted literals, quoted identifiers and comments; calls
// visit(position) for every other character; visit returns how many characters it consumed
// (0: copy the character as it is).
template <typename Visit> QString walkSql(const QString &text, Visit visit)
{
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            const qsizetype start = i++;
            while (i < n) {
                if (text.at(i) == c) {
                    if (i + 1 < n && text.at(i + 1) == c) {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
            out += text.mid(start, i - start);
            continue;
        }
        if (c == QLatin1Char('-') && i + 1 < n && text.at(i + 1) == QLatin1Char('-')) {
            const qsizetype start = i;
            while (i < n && text.at(i) != QLatin1Char('\n'))
                ++i;
            out += text.mid(start, i - start);
            continue;
        }
        if (c == QLatin1Char('/') && i + 1 < n && text.at(i + 1) == QLatin1Char('*')) {
            const qsizetype start = i;
            const qsizetype end = text.indexOf(QLatin1String("*/"), i + 2);
            i = end < 0 ? n : end + 2;
            out += text.mid(start, i - start);
            continue;
        }
        QString replacement;
        const qsizetype used = visit(i, replacement);
        if (used > 0) {
            out += replacement;
            i += used;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

// Name of the macro reference "%NAME" that starts at i, or empty when none does.
QString macroNameAt(const QString &raw, qsizetype i)
{
    if (raw.at(i) != QLatin1Char('%') || i + 1 >= raw.size() || !isIdentStart(raw.at(i + 1)))
        return {};
    qsizetype j = i + 1;
    while (j < raw.size() && isIdentChar(raw.at(j)))
        ++j;
    return raw.mid(i + 1, j - i - 1);
}

// The text with every known macro reference (outside quotes and comments) replaced by its value.
QString expandMacros(const QString &raw, const QList<TMacro> &macros)
{
    return walkSql(raw, [&](qsizetype i, QString &rep) -> qsizetype {
        const QString name = macroNameAt(raw, i);
        if (name.isEmpty())
            return 0;
        for (const TMacro &m : macros)
            if (m.Name.compare(name, Qt::CaseInsensitive) == 0) {
                rep = m.Value;
                return name.size() + 1;
            }
        return 0;
    });
}

} // namespace

// ------------------------------------------------------------------------------------------
// TParam / TParams

void TParam::SetAsInteger(qint64 value)
{
    DataType = TFieldType::ftInteger;
    SetValue(value);
}

void TParam::SetAsString(const QString &value)
{
    DataType = TFieldType::ftString;
    SetValue(value);
}

void TParam::SetAsFloat(double value)
{
    DataType = TFieldType::ftFloat;
    SetValue(value);
}

void TParam::SetAsDate(const QDate &value)
{
    DataType = TFieldType::ftDate;
    SetValue(value.isValid() ? QVariant(value.startOfDay()) : QVariant());
}

void TParam::SetAsDateTime(const QDateTime &value)
{
    DataType = TFieldType::ftDateTime;
    SetValue(value.isValid() ? QVariant(value) : QVariant());
}

void TParam::Clear()
{
    m_value = QVariant();
    m_bound = true;
}

TParam &TParams::Items(int index)
{
    if (index < 0 || index >= Count())
        throw EDatabaseError(
            QStringLiteral("Индекс параметра %1 вне допустимых пределов").arg(index));
    return m_items.at(static_cast<size_t>(index));
}

TParam *TParams::FindParam(const QString &name)
{
    for (TParam &p : m_items)
        if (!p.Name.isEmpty() && p.Name.compare(name, Qt::CaseInsensitive) == 0)
            return &p;
    return nullptr;
}

TParam &TParams::ParamByName(const QString &name)
{
    TParam *p = FindParam(name);
    if (!p)
        throw EDatabaseError(QStringLiteral("Параметр '%1' не найден").arg(name));
    return *p;
}

QStringList TParams::Names() const
{
    QStringList names;
    for (const TParam &p : m_items)
        names << p.Name;
    return names;
}

// ------------------------------------------------------------------------------------------
// TQuery

TQuery::TQuery(TDatabase *database) : m_database(database) {}

TQuery::~TQuery()
{
    // The open cursor may run the statement kept here, which goes before the base class.
    try {
        Close();
    } catch (...) {
    }
    if (m_dataSource)
        m_dataSource->detach(this);
}

void TQuery::SetDatabase(TDatabase *database)
{
    if (database == m_database)
        return;
    Close();
    m_database = database;
}

void TQuery::SetSQL(const QStringList &lines)
{
    Close();
    m_sql = lines;
    m_dirty = true;
}

void TQuery::SetSQLLine(int index, const QString &line)
{
    if (index < 0 || index >= m_sql.size())
        throw EDatabaseError(QStringLiteral("Индекс строки %1 вне допустимых пределов").arg(index));
    Close();
    m_sql[index] = line;
    m_dirty = true;
}

void TQuery::AddSQL(const QString &line)
{
    Close();
    m_sql << line;
    m_dirty = true;
}

QList<TMacro> &TQuery::Macros()
{
    reparse();
    return m_macros;
}

TMacro &TQuery::MacroByName(const QString &name)
{
    reparse();
    for (TMacro &m : m_macros)
        if (m.Name.compare(name, Qt::CaseInsensitive) == 0)
            return m;
    throw EDatabaseError(QStringLiteral("Макрос '%1' не найден").arg(name));
}

QString TQuery::Text()
{
    reparse();
    return expandMacros(m_sql.join(QLatin1Char('\n')), m_macros);
}

TParams &TQuery::Params()
{
    reparse();
    return m_params;
}

void TQuery::reparse()
{
    if (m_dirty) {
        // Macros come from the lines as written; a macro keeps its value across SQL changes.
        const QString raw = m_sql.join(QLatin1Char('\n'));
        QList<TMacro> macros;
        walkSql(raw, [&](qsizetype i, QString &) -> qsizetype {
            const QString name = macroNameAt(raw, i);
            if (name.isEmpty())
                return 0;
            for (const TMacro &m : macros)
                if (m.Name.compare(name, Qt::CaseInsensitive) == 0)
                    return 0;
            TMacro macro;
            macro.Name = name;
            macro.Value = QStringLiteral("0=0");
            for (const TMacro &old : m_macros)
                if (old.Name.compare(name, Qt::CaseInsensitive) == 0)
                    macro.Value = old.Value;
            macros << macro;
            return 0;
        });
        m_macros = macros;
        m_dirty = false;
        m_parsedText = QString(QChar(0)); // forces the parameter pass below
    }
    // Parameters come from the expanded text (a macro may bring its own).
    QString expanded = expandMacros(m_sql.join(QLatin1Char('\n')), m_macros);
    if (expanded == m_parsedText)
        return;
    // Values outlive a text in which their parameter is missing for a while (a line switched
    // between "IS NULL" and "= :RegGID"); the first occurrence of a name speaks for it.
    QSet<QString> seen;
    for (const TParam &old : m_params.m_items) {
        const QString key = old.Name.toUpper();
        if (old.Name.isEmpty() || seen.contains(key))
            continue;
        seen.insert(key);
        if (old.Bound() || old.DataType != TFieldType::ftUnknown)
            m_remembered.insert(key, old);
    }
    std::vector<TParam> params;
    walkSql(expanded, [&](qsizetype i, QString &) -> qsizetype {
        const QChar c = expanded.at(i);
        if (c == QLatin1Char('?')) {
            params.emplace_back();
            return 0;
        }
        if (c != QLatin1Char(':') || i + 1 >= expanded.size())
            return 0;
        if (expanded.at(i + 1) == QLatin1Char(':'))
            return 2; // a PostgreSQL cast, "::"
        if (i > 0 && expanded.at(i - 1) == QLatin1Char(':'))
            return 0;
        if (!isIdentStart(expanded.at(i + 1)))
            return 0;
        qsizetype j = i + 1;
        while (j < expanded.size() && isIdentChar(expanded.at(j)))
            ++j;
        TParam p;
        p.Name = expanded.mid(i + 1, j - i - 1);
        const auto it = m_remembered.constFind(p.Name.toUpper());
        if (it != m_remembered.constEnd()) {
            p.DataType = it->DataType;
            if (it->Bound())
                p.SetValue(it->Value());
        }
        params.push_back(p);
        return j - i;
    });
    m_params.m_items = std::move(params);
    m_parsedText = expanded;
}

QString TQuery::prepared(engine::TBoundValues &values)
{
    reparse();
    values.clear();
    TDataSet *master = m_dataSource ? m_dataSource->DataSet() : nullptr;
    if (master && !master->Active())
        master = nullptr;
    int index = 0;
    const QString sql = walkSql(m_parsedText, [&](qsizetype i, QString &rep) -> qsizetype {
        const QChar c = m_parsedText.at(i);
        qsizetype used = 0;
        if (c == QLatin1Char('?')) {
            used = 1;
        } else if (c == QLatin1Char(':') && i + 1 < m_parsedText.size()) {
            if (m_parsedText.at(i + 1) == QLatin1Char(':')) {
                rep = QStringLiteral("::");
                return 2;
            }
            if ((i > 0 && m_parsedText.at(i - 1) == QLatin1Char(':')) ||
                !isIdentStart(m_parsedText.at(i + 1)))
                return 0;
            qsizetype j = i + 1;
            while (j < m_parsedText.size() && isIdentChar(m_parsedText.at(j)))
                ++j;
            used = j - i;
        } else {
            return 0;
        }
        TParam &p = m_params.m_items.at(static_cast<size_t>(index++));
        QVariant value = p.Value();
        TFieldType type = p.DataType;
        bool have = p.Bound();
        if (!p.Name.isEmpty()) {
            if (master) {
                if (TField *f = master->FindField(p.Name)) {
                    value = f->AsVariant();
                    have = true;
                }
            }
            if (!have)
                if (TParam *first = m_params.FindParam(p.Name); first && first->Bound()) {
                    value = first->Value();
                    if (type == TFieldType::ftUnknown)
                        type = first->DataType;
                }
        }
        if (type != TFieldType::ftUnknown)
            value = engine::ConvertValue(value, type, 0, p.Name);
        values << value;
        rep = QStringLiteral("?");
        return used;
    });
    return sql;
}

void TQuery::checkStatements()
{
    const QString connection = m_database->Sql().connectionName();
    if (connection != m_statementConnection) {
        m_statement.reset();
        m_execStatement.reset();
        m_statementConnection = connection;
    }
    if (!m_statement)
        m_statement = std::make_unique<QSqlQuery>();
    if (!m_execStatement)
        m_execStatement = std::make_unique<QSqlQuery>();
}

std::unique_ptr<engine::TCursor> TQuery::CreateCursor()
{
    return makeCursor(true);
}

std::unique_ptr<engine::TCursor> TQuery::makeCursor(bool reuseStatement)
{
    if (!m_database)
        throw EDatabaseError(QStringLiteral("Не задана база данных запроса%1")
                                 .arg(Name.isEmpty() ? QString() : QStringLiteral(" ") + Name));
    if (!m_database->Connected())
        m_database->Open();
    engine::TBoundValues values;
    const QString sql = prepared(values);
    if (sql.trimmed().isEmpty())
        throw EDatabaseError(QStringLiteral("Текст запроса пуст"));
    if (m_database->IsFolder()) {
        auto backend = engine::FolderBackend();
        if (!backend)
            throw EDBEngineError(
                QStringLiteral("Драйвер %1 не подключен").arg(m_database->Driver()));
        return backend->OpenQuery(*m_database, sql, values);
    }
    if (!reuseStatement)
        return engine::MakeSqlQueryCursor(m_database->Sql(), sql, values);
    checkStatements();
    return engine::MakeSqlQueryCursor(m_database->Sql(), sql, values, m_statement.get());
}

std::unique_ptr<engine::TCursor> TQuery::CreateLookupCursor()
{
    return makeCursor(false);
}

int TQuery::ExecSQL()
{
    if (!m_database)
        throw EDatabaseError(QStringLiteral("Не задана база данных запроса"));
    if (!m_database->Connected())
        m_database->Open();
    engine::TBoundValues values;
    const QString sql = prepared(values);
    if (m_database->IsFolder()) {
        auto backend = engine::FolderBackend();
        if (!backend)
            throw EDBEngineError(
                QStringLiteral("Драйвер %1 не подключен").arg(m_database->Driver()));
        m_rowsAffected = backend->ExecSQL(*m_database, sql, values);
    } else {
        checkStatements();
        QSqlQuery &q = *m_execStatement;
        if (q.lastQuery() != sql || q.driver() != m_database->Sql().driver()) {
            q = QSqlQuery(m_database->Sql());
            q.setForwardOnly(true);
            if (!q.prepare(sql)) {
                const QString message = engineMessage(q.lastError(), q.driver());
                q = QSqlQuery();
                throw EDBEngineError(message, sql);
            }
        }
        q.finish();
        for (int i = 0; i < values.size(); ++i)
            q.bindValue(i, BindableValue(values.at(i), q.driver()));
        if (!q.exec())
            throw EDBEngineError(engineMessage(q.lastError(), q.driver()), sql);
        m_rowsAffected = q.numRowsAffected();
        q.finish();
    }
    return m_rowsAffected;
}

void TQuery::SetDataSource(TDataSource *source)
{
    if (source == m_dataSource)
        return;
    if (m_dataSource)
        m_dataSource->detach(this);
    m_dataSource = source;
    if (m_dataSource)
        m_dataSource->attach(this);
}

void TQuery::MasterChanged()
{
    if (!Active())
        return;
    Close();
    Open();
}
