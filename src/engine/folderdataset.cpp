#include "engine/folderdataset.h"

#include "core/cp1251.h"
#include "core/errors.h"
#include "engine/database.h"
#include "engine/sql/sqlcursor.h"
#include "engine/statement.h"
#include "engine/textfold.h"

#include <QAtomicInt>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <cmath>
#include <limits>
#include <map>
#include <optional>

namespace engine {

namespace {

// ---------------------------------------------------------------------------------------------
// Table files

QString withTableExtension(const QString &name)
{
    return QFileInfo(name).suffix().isEmpty() ? name + QStringLiteral(".DB") : name;
}

void checkTableName(const QString &name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty() || trimmed.contains(QLatin1Char('/')) ||
        trimmed.contains(QLatin1Char('\\')) || trimmed.contains(QLatin1Char(':')) ||
        trimmed == QLatin1String(".") || trimmed == QLatin1String("..") ||
        trimmed.contains(QChar(0)))
        throw EDBEngineError(QStringLiteral("Недопустимое имя таблицы: %1").arg(name));
}

// Files of the folder by lower-case name.
QHash<QString, QString> folderFiles(const QString &folder)
{
    QHash<QString, QString> files;
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    for (const QString &n : names)
        files.insert(n.toLower(), n);
    return files;
}

// ---------------------------------------------------------------------------------------------
// Columns and values

TColumn columnOf(const paradox::Field &f, bool key)
{
    TColumn c;
    c.Name = f.name;
    c.Required = key;
    switch (f.type) {
    case paradox::FieldType::Alpha:
        c.DataType = TFieldType::ftString;
        c.Size = f.size;
        break;
    case paradox::FieldType::Date:
        c.DataType = TFieldType::ftDate;
        break;
    case paradox::FieldType::Short:
        c.DataType = TFieldType::ftSmallint;
        break;
    case paradox::FieldType::Long:
    case paradox::FieldType::AutoInc:
        c.DataType = TFieldType::ftInteger;
        break;
    case paradox::FieldType::Number:
    case paradox::FieldType::Money:
    case paradox::FieldType::Bcd:
        c.DataType = TFieldType::ftFloat;
        break;
    case paradox::FieldType::Logical:
        c.DataType = TFieldType::ftBoolean;
        break;
    case paradox::FieldType::Timestamp:
        c.DataType = TFieldType::ftDateTime;
        break;
    case paradox::FieldType::Time:
        c.DataType = TFieldType::ftTime;
        break;
    case paradox::FieldType::Memo:
    case paradox::FieldType::FormattedMemo:
        c.DataType = TFieldType::ftMemo;
        c.ReadOnly = true;
        break;
    default:
        c.DataType = TFieldType::ftBlob;
        c.ReadOnly = f.type != paradox::FieldType::Bytes;
        break;
    }
    return c;
}

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

bool isNull(const QVariant &v)
{
    return IsNullValue(v);
}

[[noreturn]] void refuse(const QString &table, const QString &field, const QString &what)
{
    throw EDBEngineError(
        QStringLiteral("Таблица %1, поле %2: %3").arg(QFileInfo(table).fileName(), field, what));
}

// A value as the table keeps it (the reader's representation), checked against the column.
QVariant toStored(const QString &table, const paradox::Field &f, const QVariant &v)
{
    if (isNull(v))
        return {};
    switch (f.type) {
    case paradox::FieldType::Alpha: {
        QString s = v.typeId() == QMetaType::QDateTime ? v.toDateTime().toString(Qt::ISODate)
                                                       : v.toString();
        if (s.size() > f.size)
            s.truncate(f.size);
        if (!cp1251::canEncode(s))
            refuse(table, f.name, QStringLiteral("текст содержит знаки вне кодировки 1251"));
        if (s.contains(QChar(u'\0')))
            refuse(table, f.name, QStringLiteral("текст содержит нулевой символ"));
        return s;
    }
    case paradox::FieldType::Short:
    case paradox::FieldType::Long:
    case paradox::FieldType::AutoInc: {
        bool ok = false;
        double d = v.toDouble(&ok);
        if (!ok || !std::isfinite(d))
            refuse(table, f.name, QStringLiteral("значение не является целым числом"));
        d = std::round(d);
        const double limit = f.type == paradox::FieldType::Short ? 32767.0 : 2147483647.0;
        if (d > limit || d < -limit)
            refuse(table, f.name, QStringLiteral("значение вне допустимого диапазона"));
        return static_cast<int>(d);
    }
    case paradox::FieldType::Number:
    case paradox::FieldType::Money:
    case paradox::FieldType::Bcd: {
        bool ok = false;
        const double d = v.toDouble(&ok);
        if (!ok || !std::isfinite(d))
            refuse(table, f.name, QStringLiteral("значение не является числом"));
        return d;
    }
    case paradox::FieldType::Logical:
        if (v.typeId() == QMetaType::QString) {
            const QString s = v.toString().trimmed().toUpper();
            return !(s.isEmpty() || s == QLatin1String("0") || s == QLatin1String("FALSE") ||
                     s == QLatin1String("F"));
        }
        return v.toBool();
    case paradox::FieldType::Date:
        if (v.typeId() == QMetaType::QDateTime)
            return v.toDateTime().date();
        if (v.typeId() == QMetaType::QDate)
            return v.toDate();
        if (const QDate d = QDate::fromString(v.toString(), Qt::ISODate); d.isValid())
            return d;
        if (const QDateTime dt = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
            dt.isValid())
            return dt.date();
        refuse(table, f.name, QStringLiteral("значение не является датой"));
    case paradox::FieldType::Timestamp:
        if (v.typeId() == QMetaType::QDate)
            return v.toDate().startOfDay();
        if (v.typeId() == QMetaType::QDateTime)
            return v.toDateTime();
        if (const QDateTime dt = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
            dt.isValid())
            return dt;
        if (const QDate d = QDate::fromString(v.toString(), Qt::ISODate); d.isValid())
            return d.startOfDay();
        refuse(table, f.name, QStringLiteral("значение не является датой и временем"));
    case paradox::FieldType::Time:
        if (v.typeId() == QMetaType::QDateTime)
            return v.toDateTime().time();
        if (const QTime t = v.toTime(); t.isValid())
            return t;
        refuse(table, f.name, QStringLiteral("значение не является временем"));
    case paradox::FieldType::Bytes:
        return v.toByteArray();
    default:
        refuse(table, f.name,
               QStringLiteral("поле типа %1 не записывается").arg(paradox::typeName(f.type)));
    }
}

// Order of key values: Null first, numbers numerically, text by code points, dates by value.
// A number held by v, read without Qt's general conversion (a key comparison runs for every
// row a table takes); false for anything that is not a number.
bool numberOf(const QVariant &v, double &out)
{
    const void *p = v.constData();
    switch (v.typeId()) {
    case QMetaType::Int:
        out = *static_cast<const int *>(p);
        return true;
    case QMetaType::UInt:
        out = *static_cast<const uint *>(p);
        return true;
    case QMetaType::LongLong:
        out = static_cast<double>(*static_cast<const qlonglong *>(p));
        return true;
    case QMetaType::ULongLong:
        out = static_cast<double>(*static_cast<const qulonglong *>(p));
        return true;
    case QMetaType::Double:
        out = *static_cast<const double *>(p);
        return true;
    case QMetaType::Float:
        out = *static_cast<const float *>(p);
        return true;
    case QMetaType::Bool:
        out = *static_cast<const bool *>(p) ? 1 : 0;
        return true;
    case QMetaType::Short:
        out = *static_cast<const short *>(p);
        return true;
    case QMetaType::UShort:
        out = *static_cast<const ushort *>(p);
        return true;
    default:
        return false;
    }
}

int compareValues(const QVariant &a, const QVariant &b)
{
    const bool an = isNull(a), bn = isNull(b);
    if (an || bn)
        return an == bn ? 0 : (an ? -1 : 1);
    double x = 0, y = 0;
    const bool ax = numberOf(a, x), by = numberOf(b, y);
    if (ax && by)
        return x < y ? -1 : (x > y ? 1 : 0);
    if (a.typeId() == QMetaType::QString && b.typeId() == QMetaType::QString) {
        const int c = static_cast<const QString *>(a.constData())
                          ->compare(*static_cast<const QString *>(b.constData()));
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    if (a.typeId() == QMetaType::QDate && b.typeId() == QMetaType::QDate)
        return a.toDate() < b.toDate() ? -1 : (b.toDate() < a.toDate() ? 1 : 0);
    if (a.typeId() == QMetaType::QDateTime && b.typeId() == QMetaType::QDateTime)
        return a.toDateTime() < b.toDateTime() ? -1 : (b.toDateTime() < a.toDateTime() ? 1 : 0);
    if (a.typeId() == QMetaType::QTime && b.typeId() == QMetaType::QTime)
        return a.toTime() < b.toTime() ? -1 : (b.toTime() < a.toTime() ? 1 : 0);
    const int c = a.toString().compare(b.toString());
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// Identity of a row in memory: its key values in a keyed table, its position in an unkeyed one.
struct RowKey
{
    QVariantList values;
    qint64 ordinal = 0;
};

struct RowKeyLess
{
    bool operator()(const RowKey &a, const RowKey &b) const
    {
        for (qsizetype i = 0; i < a.values.size() && i < b.values.size(); ++i)
            if (const int c = compareValues(a.values[i], b.values[i]); c != 0)
                return c < 0;
        return a.ordinal < b.ordinal;
    }
};

// ---------------------------------------------------------------------------------------------
// Table cursor

class ParadoxTableCursor final : public TCursor
{
public:
    ParadoxTableCursor(QString path, bool readOnly) : m_path(std::move(path)), m_readOnly(readOnly)
    {
    }

    void Open(const TRowFilter &filter) override
    {
        m_reader.emplace(m_path);
        m_schema = m_reader->schema();
        m_keyed = m_schema.keyFieldCount > 0;
        m_columns.clear();
        for (size_t i = 0; i < m_schema.fields.size(); ++i)
            m_columns.append(
                columnOf(m_schema.fields[i], static_cast<int>(i) < m_schema.keyFieldCount));
        m_filter = filter;
        m_filterCols = filter.IsEmpty() ? QList<int>{} : filter.Resolve(m_columns);
        m_streamOrdinal = 0;
        m_current.reset();
    }

    void Close() override
    {
        if (m_appending) {
            // Written at most once, as below; a failure leaves the old table and no staged files.
            const std::unique_ptr<paradox::TableRewriter> appending = std::move(m_appending);
            appending->commit();
        }
        if (m_dirty) {
            // Whatever happens next, these changes are written at most once. When writing fails
            // the cursor stays as it was (its dataset stays open), so the error is raised and
            // nothing dangles.
            m_dirty = false;
            std::vector<paradox::Row> rows;
            rows.reserve(m_rows.size());
            for (const auto &[key, row] : m_rows)
                rows.emplace_back(row.begin(), row.begin() + m_columns.size());
            paradox::rewriteTable(m_path, m_schema, rows);
        }
        m_reader.reset();
        m_lookupReader.reset();
        m_rows.clear();
        m_loaded = false;
    }

    const QList<TColumn> &Columns() const override { return m_columns; }

    bool First(TRow &row) override
    {
        settle();
        if (m_loaded)
            return memoryFrom(m_rows.begin(), row);
        m_reader->rewind();
        m_streamOrdinal = 0;
        return streamNext(row);
    }

    bool Next(TRow &row) override
    {
        settle();
        if (m_loaded) {
            if (!m_current)
                return memoryFrom(m_rows.begin(), row);
            return memoryFrom(m_rows.upper_bound(*m_current), row);
        }
        return streamNext(row);
    }

    int RecordCount() override
    {
        settle();
        if (m_loaded) {
            if (m_filter.IsEmpty())
                return static_cast<int>(m_rows.size());
            int n = 0;
            for (const auto &[key, row] : m_rows)
                n += passes(row) ? 1 : 0;
            return n;
        }
        if (m_filter.IsEmpty())
            return static_cast<int>(m_reader->recordCount());
        int n = 0;
        scanFile([&](const TRow &row, qint64) {
            n += passes(row) ? 1 : 0;
            return true;
        });
        return n;
    }

    bool Locate(const QList<int> &columns, const QVariantList &values, bool caseInsensitive,
                TRow &row) override
    {
        settle();
        const auto matches = [&](const TRow &r) {
            if (!passes(r))
                return false;
            for (qsizetype i = 0; i < columns.size(); ++i)
                if (!ValuesEqual(r.at(columns[i]), values.value(i), caseInsensitive))
                    return false;
            return true;
        };
        if (m_loaded) {
            for (auto it = m_rows.begin(); it != m_rows.end(); ++it)
                if (matches(it->second)) {
                    m_current = it->first;
                    row = it->second;
                    return true;
                }
            return false;
        }
        // Found on a second reader first, so that a failed search leaves the position alone.
        std::optional<qint64> found;
        scanFile([&](const TRow &r, qint64 ordinal) {
            if (matches(r)) {
                found = ordinal;
                return false;
            }
            return true;
        });
        if (!found)
            return false;
        return streamTo(*found, row);
    }

    bool Lookup(const QList<int> &keyColumns, const QVariantList &values,
                const QList<int> &resultColumns, QVariantList &result) override
    {
        settle();
        const auto take = [&](const TRow &r) {
            if (!passes(r))
                return false;
            for (qsizetype i = 0; i < keyColumns.size(); ++i)
                if (!ValuesEqual(r.at(keyColumns[i]), values.value(i), false))
                    return false;
            result.clear();
            for (int c : resultColumns)
                result.append(r.at(c));
            return true;
        };
        if (m_loaded) {
            for (const auto &[key, r] : m_rows)
                if (take(r))
                    return true;
            return false;
        }
        bool found = false;
        scanFile([&](const TRow &r, qint64) {
            found = take(r);
            return !found;
        });
        return found;
    }

    bool CanModify() const override
    {
        if (m_readOnly)
            return false;
        for (const paradox::Field &f : m_schema.fields)
            if (!f.isWritable())
                return false;
        return true;
    }

    void Insert(TRow &row) override
    {
        checkModifiable();
        if (!m_loaded && !m_appending && m_reader->recordCount() == 0 && !hasAutoInc())
            m_appending = std::make_unique<paradox::TableRewriter>(m_path, m_schema);
        if (m_appending) {
            TRow stored = normalised(row);
            if (!m_appending->appendUnique(paradox::Row(stored.begin(), stored.end())))
                throw keyViolation(stored);
            RowKey key = keyOf(stored, m_nextOrdinal++);
            if (!m_keyed)
                stored.append(key.ordinal);
            m_current = std::move(key);
            row = std::move(stored);
            return;
        }
        ensureLoaded();
        TRow stored = normalised(row);
        for (size_t i = 0; i < m_schema.fields.size(); ++i) {
            if (m_schema.fields[i].type == paradox::FieldType::AutoInc &&
                isNull(stored[static_cast<qsizetype>(i)]))
                stored[static_cast<qsizetype>(i)] = nextAutoInc(static_cast<int>(i));
        }
        RowKey key = keyOf(stored, m_nextOrdinal);
        // Rows usually come in key order (a copy into an empty table): then the new row goes
        // after the last one with a single comparison instead of a search.
        RowKeyLess less;
        auto hint = m_rows.end();
        if (!m_rows.empty() && !less(key, std::prev(m_rows.end())->first)) {
            if (m_keyed && !less(std::prev(m_rows.end())->first, key))
                throw keyViolation(stored);
        } else {
            hint = m_rows.lower_bound(key);
            if (m_keyed && hint != m_rows.end() && !less(key, hint->first))
                throw keyViolation(stored);
        }
        ++m_nextOrdinal;
        if (!m_keyed)
            stored.append(key.ordinal);
        const auto placed = m_rows.emplace_hint(hint, key, std::move(stored));
        m_current = key;
        m_dirty = true;
        row = placed->second;
    }

    void Update(const TRow &oldRow, const QList<int> &changed, TRow &row) override
    {
        checkModifiable();
        ensureLoaded();
        const auto it = m_rows.find(identityOf(oldRow));
        if (it == m_rows.end())
            throw EDBEngineError(
                QStringLiteral("Запись не найдена в таблице %1").arg(QFileInfo(m_path).fileName()));
        TRow updated = it->second;
        const TRow values = normalised(row);
        for (int c : changed)
            if (c >= 0 && c < m_columns.size())
                updated[c] = values[c];
        RowKey key = keyOf(updated, it->first.ordinal);
        if (m_keyed) {
            RowKeyLess less;
            const bool sameKey = !less(key, it->first) && !less(it->first, key);
            if (!sameKey && m_rows.count(key))
                throw keyViolation(updated);
            checkKeyNotNull(updated);
        }
        m_rows.erase(it);
        m_rows.emplace(key, updated);
        m_current = key;
        m_dirty = true;
        row = updated;
    }

    void Delete(const TRow &row) override
    {
        checkModifiable();
        ensureLoaded();
        const auto it = m_rows.find(identityOf(row));
        if (it == m_rows.end())
            throw EDBEngineError(
                QStringLiteral("Запись не найдена в таблице %1").arg(QFileInfo(m_path).fileName()));
        m_current = it->first;
        m_rows.erase(it);
        m_dirty = true;
    }

    bool Refresh(TRow &row) override
    {
        settle();
        const RowKey wanted = identityOf(row);
        if (m_loaded) {
            const auto it = m_rows.find(wanted);
            if (it == m_rows.end())
                return false;
            m_current = it->first;
            row = it->second;
            return true;
        }
        std::optional<qint64> found;
        RowKeyLess less;
        scanFile([&](const TRow &r, qint64 ordinal) {
            const RowKey k = keyOf(r, ordinal);
            if (!less(k, wanted) && !less(wanted, k)) {
                found = ordinal;
                return false;
            }
            return true;
        });
        return found && streamTo(*found, row);
    }

private:
    bool passes(const TRow &row) const
    {
        return m_filter.IsEmpty() || m_filter.Matches(m_columns, m_filterCols, row);
    }

    RowKey keyOf(const TRow &row, qint64 ordinal) const
    {
        RowKey k;
        if (m_keyed) {
            for (int i = 0; i < m_schema.keyFieldCount; ++i)
                k.values.append(row.value(i));
        } else {
            k.ordinal = ordinal;
        }
        return k;
    }

    // The identity of a row that this cursor handed out (unkeyed rows carry their position
    // after the columns).
    RowKey identityOf(const TRow &row) const
    {
        return keyOf(row, m_keyed ? 0 : row.value(m_columns.size()).toLongLong());
    }

    bool streamNext(TRow &row)
    {
        TRow candidate;
        while (m_reader->next(candidate, m_keyed ? 0 : 1)) {
            const qint64 ordinal = m_streamOrdinal++;
            if (!passes(candidate))
                continue;
            if (!m_keyed)
                candidate.append(ordinal);
            m_current = keyOf(candidate, ordinal);
            row = std::move(candidate);
            return true;
        }
        return false;
    }

    // Puts the streaming reader just after the row at this position and returns that row.
    bool streamTo(qint64 ordinal, TRow &row)
    {
        m_reader->rewind();
        m_streamOrdinal = 0;
        TRow r;
        while (m_reader->next(r, m_keyed ? 0 : 1)) {
            if (m_streamOrdinal++ == ordinal) {
                row = std::move(r);
                if (!m_keyed)
                    row.append(ordinal);
                m_current = keyOf(row, ordinal);
                return true;
            }
        }
        return false;
    }

    // Walks the file on a second reader, leaving the main one where it is.
    template <typename Visit> void scanFile(Visit visit)
    {
        if (!m_lookupReader)
            m_lookupReader.emplace(m_path);
        else
            m_lookupReader->rewind();
        TRow r;
        qint64 ordinal = 0;
        while (m_lookupReader->next(r)) {
            if (!visit(r, ordinal++))
                return;
        }
    }

    bool memoryFrom(std::map<RowKey, TRow, RowKeyLess>::iterator it, TRow &row)
    {
        for (; it != m_rows.end(); ++it) {
            if (passes(it->second)) {
                m_current = it->first;
                row = it->second;
                return true;
            }
        }
        return false;
    }

    // Rows appended as they came are written out first; the table in memory goes on from there.
    void settle()
    {
        if (m_appending)
            ensureLoaded();
    }

    bool hasAutoInc() const
    {
        return std::any_of(
            m_schema.fields.begin(), m_schema.fields.end(),
            [](const paradox::Field &f) { return f.type == paradox::FieldType::AutoInc; });
    }

    void ensureLoaded()
    {
        if (m_loaded)
            return;
        if (m_appending) {
            const std::unique_ptr<paradox::TableRewriter> appending = std::move(m_appending);
            appending->commit();
        }
        paradox::TableReader reader(m_path);
        qint64 ordinal = 0;
        std::map<RowKey, TRow, RowKeyLess> rows;
        TRow row;
        while (reader.next(row, m_keyed ? 0 : 1)) {
            if (!m_keyed)
                row.append(ordinal);
            rows.emplace(keyOf(row, ordinal), std::move(row));
            ++ordinal;
        }
        m_rows = std::move(rows);
        m_nextOrdinal = ordinal;
        m_loaded = true;
        m_lookupReader.reset();
    }

    void checkModifiable() const
    {
        if (m_readOnly)
            throw EDBEngineError(QStringLiteral("Таблица %1 открыта только для чтения")
                                     .arg(QFileInfo(m_path).fileName()));
        for (const paradox::Field &f : m_schema.fields)
            if (!f.isWritable())
                throw EDBEngineError(
                    QStringLiteral("Таблица %1 не может быть изменена: поле %2 типа %3")
                        .arg(QFileInfo(m_path).fileName(), f.name, paradox::typeName(f.type)));
    }

    TRow normalised(const TRow &row) const
    {
        TRow out;
        out.reserve(m_columns.size() + 1);
        for (size_t i = 0; i < m_schema.fields.size(); ++i)
            out.append(toStored(m_path, m_schema.fields[i], row.value(static_cast<qsizetype>(i))));
        checkKeyNotNull(out);
        return out;
    }

    void checkKeyNotNull(const TRow &row) const
    {
        for (int i = 0; i < m_schema.keyFieldCount; ++i) {
            const paradox::Field &f = m_schema.fields[static_cast<size_t>(i)];
            if (isNull(row.value(i)) && f.type != paradox::FieldType::AutoInc)
                throw EDBEngineError(QStringLiteral("Поле '%1' должно иметь значение").arg(f.name));
        }
    }

    int nextAutoInc(int column) const
    {
        int top = 0;
        for (const auto &[key, row] : m_rows)
            top = std::max(top, row.value(column).toInt());
        return top + 1;
    }

    EDBEngineError keyViolation(const TRow &row) const
    {
        QStringList key;
        for (int i = 0; i < m_schema.keyFieldCount; ++i)
            key << row.value(i).toString();
        return EDBEngineError(
            QStringLiteral("Нарушение уникальности ключа в таблице %1: %2")
                .arg(QFileInfo(m_path).fileName(), key.join(QLatin1String(", "))));
    }

    QString m_path;
    bool m_readOnly;
    std::optional<paradox::TableReader> m_reader;
    std::optional<paradox::TableReader> m_lookupReader;
    paradox::Schema m_schema;
    bool m_keyed = false;
    QList<TColumn> m_columns;
    TRowFilter m_filter;
    QList<int> m_filterCols;
    qint64 m_streamOrdinal = 0;
    std::optional<RowKey> m_current;

    // A table that is empty when first written and then only receives new rows (a copy into a
    // new package table) is written as the rows come: each is encoded once into a staged table
    // instead of being held in memory, and the table is replaced on close. Any other use writes
    // the staged rows out and goes on with the table in memory.
    std::unique_ptr<paradox::TableRewriter> m_appending;

    bool m_loaded = false;
    bool m_dirty = false;
    std::map<RowKey, TRow, RowKeyLess> m_rows;
    qint64 m_nextOrdinal = 0;
};

// ---------------------------------------------------------------------------------------------
// SQL over a folder: an in-memory SQLite copy of the named tables

// Tokens of an SQL text, enough to find table names and parse CREATE TABLE: words (letters,
// digits, "_", "$", "#", "."), double-quoted names, single-quoted literals (kept apart) and
// single punctuation characters. Comments are skipped.
struct Token
{
    enum Kind
    {
        Word,
        Quoted,
        Literal,
        Punct
    };
    Kind kind;
    QString text;
};

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$') ||
           c == QLatin1Char('#') || c == QLatin1Char('.');
}

QList<Token> tokenize(const QString &sql)
{
    QList<Token> tokens;
    const qsizetype n = sql.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = sql.at(i);
        const QChar next = i + 1 < n ? sql.at(i + 1) : QChar();
        if (c.isSpace()) {
            ++i;
        } else if (c == QLatin1Char('-') && next == QLatin1Char('-')) {
            while (i < n && sql.at(i) != QLatin1Char('\n'))
                ++i;
        } else if (c == QLatin1Char('/') && next == QLatin1Char('*')) {
            const qsizetype close = sql.indexOf(QLatin1String("*/"), i + 2);
            i = close < 0 ? n : close + 2;
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            QString text;
            ++i;
            while (i < n) {
                if (sql.at(i) == c) {
                    if (i + 1 < n && sql.at(i + 1) == c) {
                        text += c;
                        i += 2;
                        continue;
                    }
                    break;
                }
                text += sql.at(i++);
            }
            ++i;
            tokens.append({c == QLatin1Char('"') ? Token::Quoted : Token::Literal, text});
        } else if (isWordChar(c)) {
            const qsizetype start = i;
            while (i < n && isWordChar(sql.at(i)))
                ++i;
            tokens.append({Token::Word, sql.mid(start, i - start)});
        } else {
            tokens.append({Token::Punct, QString(c)});
            ++i;
        }
    }
    return tokens;
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
            const QString message = engineMessage(db.lastError());
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
        throw EDBEngineError(engineMessage(q.lastError()), sql);
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
        throw EDBEngineError(engineMessage(copy.lastError()));
    const QString insert = QStringLiteral("INSERT INTO %1 VALUES (%2)")
                               .arg(quoteIdent(sqlName), marks.join(QLatin1String(", ")));
    if (!q.prepare(insert))
        throw EDBEngineError(engineMessage(q.lastError()), insert);
    paradox::Row row;
    while (reader.next(row)) {
        for (size_t i = 0; i < row.size(); ++i)
            q.bindValue(static_cast<int>(i), row[i]);
        if (!q.exec())
            throw EDBEngineError(engineMessage(q.lastError()), insert);
    }
    if (!copy.commit())
        throw EDBEngineError(engineMessage(copy.lastError()));
    return t;
}

// Copies every table of the folder that the statement names (a word or quoted name that is a
// table file's name with or without its extension).
std::vector<LoadedTable> loadReferencedTables(const QSqlDatabase &db, const QString &folder,
                                              const QString &sql)
{
    const QHash<QString, QString> files = folderFiles(folder);
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
    for (const Token &t : tokenize(sql)) {
        if (t.kind == Token::Quoted) {
            consider(t.text); // "City.DB" names the file itself
        } else if (t.kind == Token::Word) {
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
            row.push_back(toStored(t.path, t.schema.fields[i], q.value(static_cast<int>(i))));
        rows.push_back(std::move(row));
    }
    return rows;
}

QString upperWord(const QList<Token> &tokens, qsizetype i)
{
    if (i < tokens.size() && tokens[i].kind == Token::Word)
        return tokens[i].text.toUpper();
    return {};
}

// ---------------------------------------------------------------------------------------------
// CREATE TABLE

[[noreturn]] void syntaxError(const QString &what)
{
    throw EDBEngineError(QStringLiteral("Ошибка в операторе CREATE TABLE: %1").arg(what));
}

paradox::Field parseType(const QString &column, const QList<Token> &tokens, qsizetype &i)
{
    const QString type = upperWord(tokens, i);
    if (type.isEmpty())
        syntaxError(QStringLiteral("не указан тип поля %1").arg(column));
    ++i;
    const auto sizeArgument = [&]() -> int {
        if (i >= tokens.size() || tokens[i].text != QLatin1String("("))
            return -1;
        bool ok = false;
        const int n = i + 1 < tokens.size() ? tokens[i + 1].text.toInt(&ok) : 0;
        if (!ok)
            syntaxError(QStringLiteral("неверный размер поля %1").arg(column));
        i += 2;
        while (i < tokens.size() && tokens[i].text != QLatin1String(")"))
            ++i; // a scale such as NUMERIC(10,2) does not matter to Paradox
        if (i >= tokens.size())
            syntaxError(QStringLiteral("не закрыта скобка после типа поля %1").arg(column));
        ++i;
        return n;
    };
    using FT = paradox::FieldType;
    if (type == QLatin1String("INTEGER") || type == QLatin1String("INT") ||
        type == QLatin1String("LONG"))
        return {column, FT::Long};
    if (type == QLatin1String("SMALLINT") || type == QLatin1String("SHORT"))
        return {column, FT::Short};
    if (type == QLatin1String("AUTOINC"))
        return {column, FT::AutoInc};
    if (type == QLatin1String("FLOAT") || type == QLatin1String("REAL") ||
        type == QLatin1String("NUMERIC") || type == QLatin1String("DECIMAL") ||
        type == QLatin1String("NUMBER")) {
        sizeArgument();
        return {column, FT::Number};
    }
    if (type == QLatin1String("DOUBLE")) {
        if (upperWord(tokens, i) == QLatin1String("PRECISION"))
            ++i;
        return {column, FT::Number};
    }
    if (type == QLatin1String("MONEY"))
        return {column, FT::Money};
    if (type == QLatin1String("BOOLEAN") || type == QLatin1String("LOGICAL"))
        return {column, FT::Logical};
    if (type == QLatin1String("DATE"))
        return {column, FT::Date};
    if (type == QLatin1String("TIME"))
        return {column, FT::Time};
    if (type == QLatin1String("TIMESTAMP"))
        return {column, FT::Timestamp};
    if (type == QLatin1String("CHAR") || type == QLatin1String("VARCHAR") ||
        type == QLatin1String("CHARACTER")) {
        if (upperWord(tokens, i) == QLatin1String("VARYING"))
            ++i;
        const int size = sizeArgument();
        if (size < 1 || size > 255)
            syntaxError(
                QStringLiteral("размер текстового поля %1 должен быть от 1 до 255").arg(column));
        return {column, FT::Alpha, size};
    }
    syntaxError(QStringLiteral("неизвестный тип %1 поля %2").arg(type, column));
}

QStringList parseNameList(const QList<Token> &tokens, qsizetype &i)
{
    if (i >= tokens.size() || tokens[i].text != QLatin1String("("))
        syntaxError(QStringLiteral("ожидается список полей в скобках"));
    ++i;
    QStringList names;
    while (i < tokens.size()) {
        if (tokens[i].kind != Token::Word && tokens[i].kind != Token::Quoted)
            syntaxError(QStringLiteral("ожидается имя поля"));
        names << tokens[i].text;
        ++i;
        if (i < tokens.size() && tokens[i].text == QLatin1String(",")) {
            ++i;
            continue;
        }
        if (i < tokens.size() && tokens[i].text == QLatin1String(")")) {
            ++i;
            return names;
        }
        break;
    }
    syntaxError(QStringLiteral("не закрыт список полей"));
}

// ---------------------------------------------------------------------------------------------
// The backend

class ParadoxFolderBackend final : public TFolderBackend
{
public:
    std::unique_ptr<TCursor> OpenTable(TDatabase &db, const QString &tableName,
                                       bool readOnly) override
    {
        const QString path = FolderTablePath(db.Folder(), tableName, true);
        return std::make_unique<ParadoxTableCursor>(path, readOnly || db.ReadOnly);
    }

    std::unique_ptr<TCursor> OpenQuery(TDatabase &db, const QString &sql,
                                       const TBoundValues &params) override
    {
        auto memory = std::make_unique<MemoryDatabase>();
        loadReferencedTables(memory->db(), db.Folder(), sql);
        auto inner = MakeSqlQueryCursor(memory->db(), sql, params);
        return std::make_unique<FolderQueryCursor>(std::move(memory), std::move(inner));
    }

    int ExecSQL(TDatabase &db, const QString &sql, const TBoundValues &params) override
    {
        if (std::optional<TCreateTable> create = ParseCreateTable(sql)) {
            if (db.ReadOnly)
                throw EDBEngineError(QStringLiteral("База данных %1 открыта только для чтения")
                                         .arg(db.DatabaseName));
            createTable(db.Folder(), *create);
            return 0;
        }
        const QList<Token> tokens = tokenize(sql);
        const QString verb = upperWord(tokens, 0);
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
                                .arg(QFileInfo(t.path).fileName(), f.name,
                                     paradox::typeName(f.type)));
                paradox::rewriteTable(t.path, t.schema, readBack(memory.db(), t));
            }
        }
        return affected;
    }

private:
    static void createTable(const QString &folder, const TCreateTable &create)
    {
        checkTableName(create.TableName);
        const QHash<QString, QString> files = folderFiles(folder);
        const QString fileName = create.TableName + QStringLiteral(".db");
        if (files.contains(fileName.toLower()) ||
            files.contains(
                QFileInfo(paradox::primaryIndexPath(folder + fileName)).fileName().toLower()))
            throw EDBEngineError(QStringLiteral("Таблица %1 уже существует").arg(create.TableName));
        paradox::createEmptyTable(folder + fileName, create.Schema);
    }
};

} // namespace

// ---------------------------------------------------------------------------------------------

QString FolderTablePath(const QString &folder, const QString &tableName, bool mustExist)
{
    checkTableName(tableName);
    const QString name = withTableExtension(tableName.trimmed());
    const QString exact = folder + name;
    if (QFileInfo(exact).isFile())
        return exact;
    const QString actual = folderFiles(folder).value(name.toLower());
    if (!actual.isEmpty())
        return folder + actual;
    if (mustExist)
        throw EDBEngineError(QStringLiteral("Таблица не найдена: %1").arg(exact));
    return exact;
}

std::optional<TCreateTable> ParseCreateTable(const QString &sql)
{
    const QList<Token> tokens = tokenize(sql);
    if (upperWord(tokens, 0) != QLatin1String("CREATE") ||
        upperWord(tokens, 1) != QLatin1String("TABLE"))
        return std::nullopt;
    qsizetype i = 2;
    if (i >= tokens.size() || (tokens[i].kind != Token::Word && tokens[i].kind != Token::Quoted))
        syntaxError(QStringLiteral("не указано имя таблицы"));
    TCreateTable result;
    result.TableName = tokens[i].text;
    if (result.TableName.endsWith(QLatin1String(".db"), Qt::CaseInsensitive))
        result.TableName.chop(3);
    ++i;
    if (i >= tokens.size() || tokens[i].text != QLatin1String("("))
        syntaxError(QStringLiteral("ожидается список полей таблицы %1").arg(result.TableName));
    ++i;
    QStringList keyNames;
    bool closed = false;
    while (i < tokens.size()) {
        if (upperWord(tokens, i) == QLatin1String("PRIMARY") &&
            upperWord(tokens, i + 1) == QLatin1String("KEY")) {
            i += 2;
            if (!keyNames.isEmpty())
                syntaxError(QStringLiteral("первичный ключ указан дважды"));
            keyNames = parseNameList(tokens, i);
        } else if (upperWord(tokens, i) == QLatin1String("CONSTRAINT")) {
            syntaxError(QStringLiteral("ограничения CONSTRAINT не поддерживаются"));
        } else {
            if (tokens[i].kind != Token::Word && tokens[i].kind != Token::Quoted)
                syntaxError(QStringLiteral("ожидается имя поля"));
            const QString column = tokens[i].text;
            ++i;
            if (result.Schema.indexOf(column) >= 0)
                syntaxError(QStringLiteral("поле %1 указано дважды").arg(column));
            result.Schema.fields.push_back(parseType(column, tokens, i));
            // Column constraints that Paradox can keep: NOT NULL is implied for key fields and
            // not kept otherwise; PRIMARY KEY on a column makes it the key.
            while (true) {
                if (upperWord(tokens, i) == QLatin1String("NOT") &&
                    upperWord(tokens, i + 1) == QLatin1String("NULL")) {
                    i += 2;
                } else if (upperWord(tokens, i) == QLatin1String("PRIMARY") &&
                           upperWord(tokens, i + 1) == QLatin1String("KEY")) {
                    i += 2;
                    if (!keyNames.isEmpty())
                        syntaxError(QStringLiteral("первичный ключ указан дважды"));
                    keyNames << column;
                } else {
                    break;
                }
            }
        }
        if (i < tokens.size() && tokens[i].text == QLatin1String(",")) {
            ++i;
            continue;
        }
        if (i < tokens.size() && tokens[i].text == QLatin1String(")")) {
            ++i;
            closed = true;
            break;
        }
        if (i >= tokens.size())
            break;
        syntaxError(QStringLiteral("ожидается \",\" или \")\" после %1")
                        .arg(i < tokens.size() ? tokens[i].text : QStringLiteral("конца текста")));
    }
    if (!closed)
        syntaxError(QStringLiteral("не закрыт список полей таблицы %1").arg(result.TableName));
    while (i < tokens.size() && tokens[i].text == QLatin1String(";"))
        ++i;
    if (i < tokens.size())
        syntaxError(QStringLiteral("лишний текст после описания таблицы: %1").arg(tokens[i].text));
    if (result.Schema.fields.empty())
        syntaxError(QStringLiteral("у таблицы %1 нет полей").arg(result.TableName));
    for (qsizetype k = 0; k < keyNames.size(); ++k) {
        const int at = result.Schema.indexOf(keyNames[k]);
        if (at < 0)
            syntaxError(QStringLiteral("ключевое поле %1 не описано").arg(keyNames[k]));
        if (at != k)
            syntaxError(QStringLiteral("ключевые поля таблицы %1 должны идти первыми и в порядке "
                                       "ключа")
                            .arg(result.TableName));
    }
    result.Schema.keyFieldCount = static_cast<int>(keyNames.size());
    return result;
}

void ExecuteFolderScript(TDatabase &db, const QStringList &statements)
{
    auto backend = FolderBackend();
    if (!backend)
        throw EDBEngineError(QStringLiteral("Драйвер %1 не подключен").arg(db.Driver()));
    // Tables made by this script; removed again when a later statement fails.
    QStringList created;
    try {
        for (const QString &statement : statements) {
            const std::optional<TCreateTable> create = ParseCreateTable(statement);
            try {
                backend->ExecSQL(db, statement, {});
            } catch (const EDBEngineError &e) {
                throw EDBEngineError(e.Message(), statement);
            }
            if (create)
                created << FolderTablePath(db.Folder(), create->TableName + QStringLiteral(".db"),
                                           false);
        }
    } catch (...) {
        for (const QString &path : created) {
            QFile::remove(path);
            QFile::remove(paradox::primaryIndexPath(path));
        }
        throw;
    }
}

std::shared_ptr<TFolderBackend> MakeParadoxFolderBackend()
{
    return std::make_shared<ParadoxFolderBackend>();
}

void InstallFolderBackend()
{
    if (!FolderBackend())
        SetFolderBackend(MakeParadoxFolderBackend());
}

// The backend slot lives with the folder module, not with the cursor interface: the cursors of
// SQL and memory datasets need nothing of it.
namespace {
QMutex backendMutex;
std::shared_ptr<TFolderBackend> &backendSlot()
{
    static std::shared_ptr<TFolderBackend> backend;
    return backend;
}
} // namespace

void SetFolderBackend(std::shared_ptr<TFolderBackend> backend)
{
    QMutexLocker lock(&backendMutex);
    backendSlot() = std::move(backend);
}

std::shared_ptr<TFolderBackend> FolderBackend()
{
    QMutexLocker lock(&backendMutex);
    // Folder databases are served by the Paradox backend unless another one was installed.
    if (!backendSlot())
        backendSlot() = MakeParadoxFolderBackend();
    return backendSlot();
}

} // namespace engine
