#include "engine/sqlscript.h"

#include "core/errors.h"
#include "engine/database.h"
#include "engine/folder/folderbackend.h"

#include <QSqlError>
#include <QSqlQuery>

namespace engine {

namespace {

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

// Length of a dollar-quote tag ("$$", "$body$") starting at pos, or 0 when there is none there.
qsizetype dollarTagLength(const QString &s, qsizetype pos)
{
    if (s.at(pos) != QLatin1Char('$'))
        return 0;
    if (pos > 0 && (isWordChar(s.at(pos - 1)) || s.at(pos - 1) == QLatin1Char('$')))
        return 0;
    qsizetype i = pos + 1;
    if (i < s.size() && s.at(i).isDigit())
        return 0; // a positional parameter such as $1
    while (i < s.size() && isWordChar(s.at(i)))
        ++i;
    if (i < s.size() && s.at(i) == QLatin1Char('$'))
        return i - pos + 1;
    return 0;
}

// Tracks the words of the statement being read, so that the ";" inside a trigger body does not
// end the CREATE TRIGGER statement.
class TriggerTracker
{
public:
    void reset()
    {
        m_words = 0;
        m_create = false;
        m_trigger = false;
        m_sawBegin = false;
        m_depth = 0;
    }

    void word(const QString &w)
    {
        const QString u = w.toUpper();
        if (m_words == 0)
            m_create = u == QLatin1String("CREATE");
        else if (m_create && !m_trigger && m_words <= 2) {
            if (u == QLatin1String("TRIGGER"))
                m_trigger = true;
            else if (u != QLatin1String("TEMP") && u != QLatin1String("TEMPORARY"))
                m_create = false;
        } else if (m_trigger) {
            if (u == QLatin1String("BEGIN") || u == QLatin1String("CASE")) {
                m_sawBegin = m_sawBegin || u == QLatin1String("BEGIN");
                ++m_depth;
            } else if (u == QLatin1String("END") && m_depth > 0) {
                --m_depth;
            }
        }
        ++m_words;
    }

    bool semicolonEnds() const { return !m_trigger || !m_sawBegin || m_depth == 0; }

private:
    int m_words = 0;
    bool m_create = false;
    bool m_trigger = false;
    bool m_sawBegin = false;
    int m_depth = 0;
};

} // namespace

QStringList SplitSqlScript(const QString &script)
{
    QStringList statements;
    TriggerTracker tracker;
    qsizetype start = -1; // first significant character of the current statement
    const qsizetype n = script.size();
    qsizetype i = 0;

    const auto finish = [&](qsizetype end) {
        if (start >= 0) {
            const QString text = script.mid(start, end - start).trimmed();
            if (!text.isEmpty())
                statements << text;
        }
        start = -1;
        tracker.reset();
    };

    while (i < n) {
        const QChar c = script.at(i);
        const QChar next = i + 1 < n ? script.at(i + 1) : QChar();
        if (c == QLatin1Char('-') && next == QLatin1Char('-')) {
            while (i < n && script.at(i) != QLatin1Char('\n'))
                ++i;
            continue;
        }
        if (c == QLatin1Char('/') && next == QLatin1Char('*')) {
            const qsizetype close = script.indexOf(QLatin1String("*/"), i + 2);
            i = close < 0 ? n : close + 2;
            continue;
        }
        if (c.isSpace()) {
            ++i;
            continue;
        }
        if (c == QLatin1Char(';')) {
            if (tracker.semicolonEnds()) {
                finish(i);
                ++i;
                continue;
            }
            ++i;
            continue;
        }
        if (start < 0)
            start = i;
        if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`') ||
            c == QLatin1Char('[')) {
            const QChar close = c == QLatin1Char('[') ? QLatin1Char(']') : c;
            ++i;
            while (i < n && script.at(i) != close)
                ++i;
            ++i; // a doubled quote simply reopens the literal on the next pass
            continue;
        }
        if (const qsizetype tagLen = dollarTagLength(script, i); tagLen > 0) {
            const QString tag = script.mid(i, tagLen);
            const qsizetype close = script.indexOf(tag, i + tagLen);
            i = close < 0 ? n : close + tagLen;
            continue;
        }
        if (isWordChar(c)) {
            const qsizetype wordStart = i;
            while (i < n && isWordChar(script.at(i)))
                ++i;
            tracker.word(script.mid(wordStart, i - wordStart));
            continue;
        }
        ++i;
    }
    finish(n);
    return statements;
}

namespace {

// Rolls back a transaction that was started here unless it was committed.
class ScriptTransaction
{
public:
    explicit ScriptTransaction(TDatabase &db) : m_db(db), m_own(!db.InTransaction())
    {
        if (m_own)
            m_db.StartTransaction();
    }
    ~ScriptTransaction()
    {
        if (m_own && m_db.InTransaction()) {
            try {
                m_db.Rollback();
            } catch (const Exception &) {
                // The statement's own error is the one worth reporting.
            }
        }
    }
    ScriptTransaction(const ScriptTransaction &) = delete;
    ScriptTransaction &operator=(const ScriptTransaction &) = delete;

    void commit()
    {
        if (m_own)
            m_db.Commit();
    }

private:
    TDatabase &m_db;
    bool m_own;
};

} // namespace

void ExecuteScript(TDatabase &db, const QString &script)
{
    if (!db.Connected())
        throw EDatabaseError(QStringLiteral("База данных %1 не подключена").arg(db.DatabaseName));
    const QStringList statements = SplitSqlScript(script);
    if (db.IsFolder()) {
        InstallFolderBackend();
        ExecuteFolderScript(db, statements);
        return;
    }
    ScriptTransaction transaction(db);
    QSqlQuery query(db.Sql());
    for (const QString &statement : statements) {
        if (!query.exec(statement))
            throw EDBEngineError(engineMessage(query.lastError(), query.driver()), statement);
    }
    query.finish();
    transaction.commit();
}

void ExecuteStatement(TDatabase &db, const QString &sql)
{
    QSqlQuery q(db.Sql());
    if (!q.exec(sql))
        throw EDBEngineError(engineMessage(q.lastError(), q.driver()), sql);
}

} // namespace engine
