#include "core/cp1251.h"
#include "core/errors.h"
#include "engine/paradox/paradoxformat.h"
#include "engine/paradox/paradoxtable.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTime>
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <unordered_set>

namespace paradox {

using namespace format;

namespace {

// Block sizes the writer may choose, in KiB; 2 KiB is what most tables use.
constexpr int kBlockCodes[] = {2, 4, 8, 16, 32};
// Index counts are 16-bit; readers that take them as signed are kept safe below this.
constexpr int kMaxIndexCount = 0x7FFF;
// Header of a table is kept at a multiple of this size.
constexpr int kHeaderUnit = 2048;
// Values that real engine-written files carry in pointer-like header words; readers ignore them.
constexpr std::uint32_t kPointerTableName = 0x1F8C0000;
constexpr std::uint32_t kPointerFieldInfo = 0x1F8C0100;
constexpr int kChangeCount = 2;

[[noreturn]] void failSchema(const QString &path, const QString &problem)
{
    throw EDBEngineError(QStringLiteral("Недопустимое описание таблицы %1: %2")
                             .arg(QDir::toNativeSeparators(path), problem));
}

[[noreturn]] void failWrite(const QString &path, const QString &problem)
{
    throw EDBEngineError(QStringLiteral("Не удаётся записать таблицу %1: %2")
                             .arg(QDir::toNativeSeparators(path), problem));
}

struct Layout
{
    std::vector<int> offsets;
    int recordSize = 0;
    int keySize = 0;
};

Layout checkSchema(const QString &path, const Schema &schema)
{
    const int n = static_cast<int>(schema.fields.size());
    if (n < 1 || n > kMaxFields)
        failSchema(path,
                   QStringLiteral("число полей %1 вне пределов 1..%2").arg(n).arg(kMaxFields));
    if (schema.keyFieldCount < 0 || schema.keyFieldCount > std::min(kMaxKeyFields, n)) {
        failSchema(
            path, QStringLiteral("недопустимое число ключевых полей %1").arg(schema.keyFieldCount));
    }
    Layout layout;
    for (int i = 0; i < n; ++i) {
        const Field &f = schema.fields[static_cast<size_t>(i)];
        if (f.name.isEmpty() || f.name.size() > kMaxFieldNameLength)
            failSchema(path, QStringLiteral("имя поля \"%1\" пусто или длиннее %2 символов")
                                 .arg(f.name)
                                 .arg(kMaxFieldNameLength));
        const auto encoded = cp1251::encodeStrict(f.name);
        if (!encoded || encoded->contains('\0'))
            failSchema(path,
                       QStringLiteral("имя поля \"%1\" нельзя записать в кодовой странице 1251")
                           .arg(f.name));
        for (int j = 0; j < i; ++j) {
            if (schema.fields[static_cast<size_t>(j)].name.compare(f.name, Qt::CaseInsensitive) ==
                0)
                failSchema(path, QStringLiteral("поле %1 описано дважды").arg(f.name));
        }
        if (!f.isWritable())
            failSchema(path, QStringLiteral("поле %1: тип %2 не поддерживается для записи")
                                 .arg(f.name, typeName(f.type)));
        const auto stored = storedSizeOf(static_cast<int>(f.type), f.size);
        if (!stored)
            failSchema(path, QStringLiteral("поле %1 типа %2: недопустимый размер %3")
                                 .arg(f.name, typeName(f.type))
                                 .arg(f.size));
        layout.offsets.push_back(layout.recordSize);
        layout.recordSize += *stored;
        if (i < schema.keyFieldCount)
            layout.keySize += *stored;
    }
    if (layout.recordSize > 32 * 1024 - kBlockHeader)
        failSchema(path, QStringLiteral("запись длиннее %1 байт").arg(32 * 1024 - kBlockHeader));
    if (schema.keyFieldCount > 0 && (32 * 1024 - kBlockHeader) / (layout.keySize + 6) - 1 < 2)
        failSchema(path, QStringLiteral("ключ длиннее допустимого"));
    return layout;
}

// --- value encoding -------------------------------------------------------------------------

[[noreturn]] void failValue(const Field &f, const QString &problem)
{
    throw EDBEngineError(QStringLiteral("Поле %1: %2").arg(f.name, problem));
}

bool isNull(const QVariant &v)
{
    return !v.isValid() || v.isNull();
}

qint64 toInteger(const Field &f, const QVariant &v, qint64 min, qint64 max)
{
    bool ok = false;
    qint64 value = 0;
    switch (v.metaType().id()) {
    case QMetaType::Bool:
        value = v.toBool() ? 1 : 0;
        ok = true;
        break;
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = v.toDouble();
        if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.2e18) {
            value = static_cast<qint64>(d);
            ok = true;
        }
        break;
    }
    case QMetaType::ULongLong:
    case QMetaType::ULong: {
        const qulonglong u = v.toULongLong(&ok);
        ok = ok && u <= static_cast<qulonglong>(std::numeric_limits<qint64>::max());
        value = static_cast<qint64>(u);
        break;
    }
    case QMetaType::QString:
        value = v.toString().trimmed().toLongLong(&ok);
        break;
    default:
        if (v.canConvert<qlonglong>())
            value = v.toLongLong(&ok);
        break;
    }
    if (!ok)
        failValue(f, QStringLiteral("значение \"%1\" не является целым числом").arg(v.toString()));
    if (value < min || value > max) {
        failValue(f, QStringLiteral("значение %1 вне допустимого диапазона %2..%3")
                         .arg(value)
                         .arg(min)
                         .arg(max));
    }
    return value;
}

double toDouble(const Field &f, const QVariant &v)
{
    bool ok = false;
    double d = 0;
    if (v.metaType().id() == QMetaType::QString)
        d = v.toString().trimmed().toDouble(&ok);
    else if (v.metaType().id() == QMetaType::Bool)
        d = v.toBool() ? 1 : 0, ok = true;
    else if (v.canConvert<double>())
        d = v.toDouble(&ok);
    if (!ok)
        failValue(f, QStringLiteral("значение \"%1\" не является числом").arg(v.toString()));
    if (!std::isfinite(d))
        failValue(f, QStringLiteral("значение не является конечным числом"));
    return d;
}

bool toBool(const Field &f, const QVariant &v)
{
    switch (v.metaType().id()) {
    case QMetaType::Bool:
        return v.toBool();
    case QMetaType::QString: {
        const QString s = v.toString().trimmed().toLower();
        if (s == QLatin1String("true"))
            return true;
        if (s == QLatin1String("false"))
            return false;
        bool ok = false;
        const double d = s.toDouble(&ok);
        if (ok)
            return d != 0;
        break;
    }
    default:
        if (v.canConvert<double>()) {
            bool ok = false;
            const double d = v.toDouble(&ok);
            if (ok)
                return d != 0;
        }
        break;
    }
    failValue(f, QStringLiteral("значение \"%1\" не является логическим").arg(v.toString()));
}

// ISO text as SQL engines give it: "2005-06-01", "2005-06-01T09:30:00", "2005-06-01 09:30:00.250".
QDateTime dateTimeFromText(const QString &text)
{
    QString t = text.trimmed();
    if (t.size() > 10 && t.at(10) == QLatin1Char(' '))
        t[10] = QLatin1Char('T');
    QDateTime dt = QDateTime::fromString(t, Qt::ISODateWithMs);
    if (!dt.isValid() && t.size() == 10) {
        const QDate d = QDate::fromString(t, Qt::ISODate);
        if (d.isValid())
            dt = QDateTime(d, QTime(0, 0));
    }
    return dt;
}

QDate toDate(const Field &f, const QVariant &v)
{
    QDate date;
    switch (v.metaType().id()) {
    case QMetaType::QDate:
        date = v.toDate();
        break;
    case QMetaType::QDateTime:
        date = v.toDateTime().date();
        break;
    case QMetaType::QString:
        date = QDate::fromString(v.toString().trimmed(), Qt::ISODate);
        if (!date.isValid())
            date = dateTimeFromText(v.toString()).date();
        break;
    default:
        break;
    }
    if (!date.isValid())
        failValue(f, QStringLiteral("значение \"%1\" не является датой").arg(v.toString()));
    if (date.year() < 1 || date.year() > 9999)
        failValue(f, QStringLiteral("дата %1 вне пределов 0001..9999 годов")
                         .arg(date.toString(Qt::ISODate)));
    return date;
}

qint64 dayNumber(const QDate &date)
{
    return date.toJulianDay() - kJulianDayOfDay1 + 1;
}

QDateTime toDateTime(const Field &f, const QVariant &v)
{
    QDateTime dt;
    switch (v.metaType().id()) {
    case QMetaType::QDateTime:
        dt = v.toDateTime();
        break;
    case QMetaType::QDate:
        dt = QDateTime(v.toDate(), QTime(0, 0));
        break;
    case QMetaType::QString:
        dt = dateTimeFromText(v.toString());
        break;
    default:
        break;
    }
    if (!dt.date().isValid() || !dt.time().isValid())
        failValue(f,
                  QStringLiteral("значение \"%1\" не является датой и временем").arg(v.toString()));
    if (dt.date().year() < 1 || dt.date().year() > 9999)
        failValue(f, QStringLiteral("дата %1 вне пределов 0001..9999 годов")
                         .arg(dt.date().toString(Qt::ISODate)));
    return dt;
}

QTime toTime(const Field &f, const QVariant &v)
{
    QTime t;
    switch (v.metaType().id()) {
    case QMetaType::QTime:
        t = v.toTime();
        break;
    case QMetaType::QDateTime:
        t = v.toDateTime().time();
        break;
    case QMetaType::QString:
        t = QTime::fromString(v.toString().trimmed(), Qt::ISODateWithMs);
        break;
    default:
        break;
    }
    if (!t.isValid())
        failValue(f, QStringLiteral("значение \"%1\" не является временем").arg(v.toString()));
    return t;
}

// Encodes v into the record at p (already zeroed: zero is Null).
void encodeValue(const Field &f, const QVariant &v, char *p, bool isKey)
{
    if (f.type == FieldType::Alpha) {
        const QString text = isNull(v) ? QString() : v.toString();
        if (text.isEmpty()) {
            if (isKey)
                failValue(f, QStringLiteral("ключевое поле не может быть пустым"));
            return;
        }
        const auto bytes = cp1251::encodeStrict(text);
        if (!bytes)
            failValue(
                f, QStringLiteral("текст содержит символы, которых нет в кодовой странице 1251"));
        if (bytes->contains('\0'))
            failValue(f, QStringLiteral("текст содержит нулевой символ"));
        if (bytes->size() > f.size)
            failValue(f, QStringLiteral("текст длиннее %1 символов").arg(f.size));
        std::memcpy(p, bytes->constData(), static_cast<size_t>(bytes->size()));
        return;
    }
    if (isNull(v)) {
        if (isKey)
            failValue(f, QStringLiteral("ключевое поле не может быть пустым"));
        return;
    }
    switch (f.type) {
    case FieldType::Short:
        encodeInteger(p, 2, toInteger(f, v, -32767, 32767));
        break;
    case FieldType::Long:
    case FieldType::AutoInc:
        encodeInteger(p, 4, toInteger(f, v, -2147483647LL, 2147483647LL));
        break;
    case FieldType::Number:
    case FieldType::Money:
        encodeDouble(p, toDouble(f, v));
        break;
    case FieldType::Logical:
        p[0] = static_cast<char>(toBool(f, v) ? 0x81 : 0x80);
        break;
    case FieldType::Date:
        encodeInteger(p, 4, dayNumber(toDate(f, v)));
        break;
    case FieldType::Time:
        encodeInteger(p, 4, toTime(f, v).msecsSinceStartOfDay());
        break;
    case FieldType::Timestamp: {
        const QDateTime dt = toDateTime(f, v);
        const double ms = static_cast<double>(dayNumber(dt.date()) * kMsPerDay +
                                              dt.time().msecsSinceStartOfDay());
        encodeDouble(p, ms);
        break;
    }
    case FieldType::Bytes: {
        const QByteArray bytes = v.toByteArray();
        if (bytes.size() > f.size)
            failValue(f, QStringLiteral("значение длиннее %1 байт").arg(f.size));
        std::memcpy(p, bytes.constData(), static_cast<size_t>(bytes.size()));
        break;
    }
    default:
        failValue(f, QStringLiteral("тип %1 не поддерживается для записи").arg(typeName(f.type)));
    }
}

// --- files ----------------------------------------------------------------------------------

// A file under a unique temporary name in the table's folder, removed unless released.
class TempFile
{
public:
    TempFile(const QString &dir, const QString &base, const QString &tag)
    {
        for (int attempt = 0; attempt < 100 && m_path.isEmpty(); ++attempt) {
            const QString candidate = QDir(dir).filePath(
                QStringLiteral(".%1.%2-%3.tmp")
                    .arg(base, tag)
                    .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
            m_file.setFileName(candidate);
            // Unbuffered: a buffered short write can pass unnoticed through the flush.
            if (m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
                m_path = candidate;
        }
        if (m_path.isEmpty())
            failWrite(QDir(dir).filePath(base), m_file.errorString());
    }
    ~TempFile()
    {
        m_file.close();
        if (!m_path.isEmpty())
            QFile::remove(m_path);
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;

    QFile &file() { return m_file; }
    const QString &path() const { return m_path; }
    void write(const QString &table, const char *data, qint64 size)
    {
        if (m_file.write(data, size) != size)
            failWrite(table, m_file.errorString());
    }
    void close(const QString &table)
    {
        if (!m_file.flush())
            failWrite(table, m_file.errorString());
        m_file.close();
    }
    // Moves the file to its final name; fails when that name exists.
    bool moveTo(const QString &target)
    {
        if (!QFile::rename(m_path, target))
            return false;
        m_path.clear();
        return true;
    }

private:
    QFile m_file;
    QString m_path;
};

QByteArray tableNameBytes(const QString &path)
{
    QByteArray name = cp1251::encode(QFileInfo(path).fileName());
    name.replace('\0', '_');
    return name.left(kTableNameLength7 - 1);
}

// Secondary indexes (.Xnn, .Ynn, .XGn, .YGn) and the validity file of a table.
void removeCompanions(const QString &dir, const QString &base)
{
    static const QRegularExpression companion(
        QStringLiteral("^(X[0-9A-F]{2}|Y[0-9A-F]{2}|XG[0-9A-F]|YG[0-9A-F]|VAL)$"),
        QRegularExpression::CaseInsensitiveOption);
    const QFileInfoList entries = QDir(dir).entryInfoList(QDir::Files | QDir::Hidden);
    for (const QFileInfo &fi : entries) {
        if (fi.completeBaseName().compare(base, Qt::CaseInsensitive) == 0 &&
            companion.match(fi.suffix()).hasMatch())
            QFile::remove(fi.absoluteFilePath());
    }
}

struct DataBlockInfo
{
    const char *firstRecord;
    int count;
};

struct IndexEntry
{
    const char *key;
    int target; // data block number (leaf) or index of the child block one level down
    int count;
};

struct IndexBlock
{
    std::vector<IndexEntry> entries;
    int number = 0;
};

} // namespace

// --- TableWriter ------------------------------------------------------------------------------

namespace {
QString describeKey(const Schema &schema, const Layout &layout, const char *record);
} // namespace

struct TableWriter::Impl
{
    QString path;
    Schema schema;
    Layout layout;
    QByteArray records;
    qint64 count = 0;
    qint64 maxAutoInc = 0;
    bool finished = false;
    QByteArray scratch;
    // While every key has come above the one before, the records are in key order and a repeated
    // key is found by a binary search over them; from the first key out of order, by this set.
    bool keysRising = true;
    std::unordered_set<std::string> keys;

    bool keyIsNew(const char *rec);

    void writeFiles(const QString &dbTarget, TempFile &db, TempFile *px);
};

TableWriter::TableWriter(const QString &path, const Schema &schema) : d(std::make_unique<Impl>())
{
    d->path = path;
    d->schema = schema;
    d->layout = checkSchema(path, schema);
    if (QFileInfo::exists(path) || QFileInfo::exists(primaryIndexPath(path)))
        throw EDBEngineError(
            QStringLiteral("Таблица %1 уже существует").arg(QDir::toNativeSeparators(path)));
    d->scratch.resize(d->layout.recordSize);
}

TableWriter::~TableWriter() = default;

const Schema &TableWriter::schema() const
{
    return d->schema;
}
qint64 TableWriter::rowCount() const
{
    return d->count;
}

void TableWriter::append(const Row &row)
{
    if (!appendUnique(row))
        throw EDBEngineError(QStringLiteral("Нарушение ключа в таблице %1: запись с ключом "
                                            "(%2) уже есть")
                                 .arg(QDir::toNativeSeparators(d->path),
                                      describeKey(d->schema, d->layout, d->scratch.constData())));
}

bool TableWriter::Impl::keyIsNew(const char *rec)
{
    const auto keySize = static_cast<size_t>(layout.keySize);
    if (schema.keyFieldCount == 0 || count == 0)
        return true;
    const char *base = records.constData();
    const auto at = [&](qint64 i) { return base + i * layout.recordSize; };
    if (keysRising) {
        const int c = std::memcmp(at(count - 1), rec, keySize);
        if (c < 0)
            return true;
        if (c == 0)
            return false;
        // The first record whose key is not below rec's (a binary search: the fuzzing build's
        // compiler cannot use the standard ranges here).
        qint64 first = 0, end = count - 1;
        while (first < end) {
            const qint64 mid = first + (end - first) / 2;
            if (std::memcmp(at(mid), rec, keySize) < 0)
                first = mid + 1;
            else
                end = mid;
        }
        if (std::memcmp(at(first), rec, keySize) == 0)
            return false;
        keysRising = false;
        keys.reserve(static_cast<size_t>(count) + 1);
        for (qint64 i = 0; i < count; ++i)
            keys.emplace(at(i), keySize);
    }
    return keys.emplace(rec, keySize).second;
}

bool TableWriter::appendUnique(const Row &row)
{
    if (d->finished)
        failWrite(d->path, QStringLiteral("таблица уже записана"));
    const auto &fields = d->schema.fields;
    if (row.size() != fields.size()) {
        throw EDBEngineError(
            QStringLiteral("Число значений в записи (%1) не совпадает с числом полей "
                           "таблицы %2 (%3)")
                .arg(row.size())
                .arg(QDir::toNativeSeparators(d->path))
                .arg(fields.size()));
    }
    // 65535 blocks of at most 32 KiB: beyond that no block size can hold the table.
    const qint64 maxRows = qint64{kMaxBlocks} * ((32 * 1024 - kBlockHeader) / d->layout.recordSize);
    if (d->count >= maxRows || d->count >= std::numeric_limits<std::uint32_t>::max())
        failWrite(d->path, QStringLiteral("слишком много записей"));
    char *rec = d->scratch.data();
    std::memset(rec, 0, static_cast<size_t>(d->layout.recordSize));
    qint64 autoInc = d->maxAutoInc;
    for (size_t i = 0; i < fields.size(); ++i) {
        const bool isKey = static_cast<int>(i) < d->schema.keyFieldCount;
        encodeValue(fields[i], row[i], rec + d->layout.offsets[i], isKey);
        if (fields[i].type == FieldType::AutoInc && !isNull(row[i]))
            autoInc =
                std::max<qint64>(autoInc, decodeInteger(rec + d->layout.offsets[i], 4).value_or(0));
    }
    if (!d->keyIsNew(rec))
        return false;
    d->records.append(rec, d->layout.recordSize);
    d->maxAutoInc = autoInc;
    ++d->count;
    return true;
}

namespace {

QString describeKey(const Schema &schema, const Layout &layout, const char *record)
{
    const TextDecoder decoder(kCodePageCyrillic);
    QStringList parts;
    QString problem;
    for (int i = 0; i < schema.keyFieldCount; ++i) {
        const Field &f = schema.fields[static_cast<size_t>(i)];
        const QVariant v =
            decodeValue(f, record + layout.offsets[static_cast<size_t>(i)], decoder, problem);
        QString text;
        if (v.metaType().id() == QMetaType::QDate)
            text = v.toDate().toString(QStringLiteral("dd.MM.yyyy"));
        else if (v.metaType().id() == QMetaType::QDateTime)
            text = v.toDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
        else
            text = v.toString();
        parts << f.name + QLatin1Char('=') + text;
    }
    return parts.join(QStringLiteral(", "));
}

int chooseBlockCode(int recordSize, qint64 rows)
{
    for (int code : kBlockCodes) {
        const int capacity = (code * 1024 - kBlockHeader) / recordSize;
        if (capacity < 1)
            continue;
        if ((rows + capacity - 1) / capacity <= kMaxBlocks)
            return code;
    }
    return 0;
}

} // namespace

void TableWriter::finish()
{
    if (d->finished)
        failWrite(d->path, QStringLiteral("таблица уже записана"));
    if (QFileInfo::exists(d->path) || QFileInfo::exists(primaryIndexPath(d->path)))
        throw EDBEngineError(
            QStringLiteral("Таблица %1 уже существует").arg(QDir::toNativeSeparators(d->path)));
    const QFileInfo info(d->path);
    const QString dir = info.absolutePath();
    const QString base = info.completeBaseName();
    TempFile db(dir, base, QStringLiteral("db"));
    std::unique_ptr<TempFile> px;
    if (d->schema.keyFieldCount > 0)
        px = std::make_unique<TempFile>(dir, base, QStringLiteral("px"));
    d->writeFiles(d->path, db, px.get());

    const QString pxTarget = primaryIndexPath(d->path);
    if (px && !px->moveTo(pxTarget)) {
        throw EDBEngineError(
            QStringLiteral("Таблица %1 уже существует").arg(QDir::toNativeSeparators(d->path)));
    }
    if (!db.moveTo(d->path)) {
        if (px)
            QFile::remove(pxTarget);
        throw EDBEngineError(
            QStringLiteral("Таблица %1 уже существует").arg(QDir::toNativeSeparators(d->path)));
    }
    // Leftovers of an earlier table of this name would be taken for this table's own.
    removeCompanions(dir, base);
    d->finished = true;
    d->records = QByteArray();
}

void TableWriter::Impl::writeFiles(const QString &dbTarget, TempFile &db, TempFile *px)
{
    const int recordSize = layout.recordSize;
    const int keySize = layout.keySize;
    const int nFields = static_cast<int>(schema.fields.size());
    const int nKeys = schema.keyFieldCount;

    // Key order; duplicates are a key violation.
    std::vector<std::uint32_t> order(static_cast<size_t>(count));
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<std::uint32_t>(i);
    const char *base = records.constData();
    auto rec = [&](std::uint32_t i) { return base + qint64{i} * recordSize; };
    // append() has refused every repeated key.
    if (nKeys > 0) {
        std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
            return std::memcmp(rec(a), rec(b), static_cast<size_t>(keySize)) < 0;
        });
    }

    const int blockCode = chooseBlockCode(recordSize, count);
    if (blockCode == 0)
        failWrite(path, QStringLiteral("слишком много записей"));
    const int blockSize = blockCode * 1024;
    const int capacity = (blockSize - kBlockHeader) / recordSize;
    const int dataBlocks = static_cast<int>((count + capacity - 1) / capacity);

    // --- .db header ---
    const QByteArray tableName = tableNameBytes(dbTarget);
    const int infoStart = kExtendedHeader;
    const int namesStart = infoStart + 2 * nFields + 4 + 4 * nFields + kTableNameLength7;
    QByteArray names;
    for (const Field &f : schema.fields) {
        names += *cp1251::encodeStrict(f.name);
        names += '\0';
    }
    const int fieldNumbersStart = namesStart + static_cast<int>(names.size());
    const int sortNameStart = fieldNumbersStart + 2 * nFields;
    const int headerUsed = sortNameStart + static_cast<int>(sizeof kSortNameAnsiCyrillic);
    const int headerSize = (headerUsed + kHeaderUnit - 1) / kHeaderUnit * kHeaderUnit;
    if (headerSize > 0xFFFF)
        failSchema(path, QStringLiteral("описание полей слишком длинное"));

    const std::uint32_t now = static_cast<std::uint32_t>(QDateTime::currentSecsSinceEpoch());
    QByteArray header(headerSize, '\0');
    char *h = header.data();
    putU16(h + 0x00, static_cast<std::uint32_t>(recordSize));
    putU16(h + 0x02, static_cast<std::uint32_t>(headerSize));
    h[0x04] = static_cast<char>(nKeys > 0 ? kFileTypeKeyed : kFileTypeUnkeyed);
    h[0x05] = static_cast<char>(blockCode);
    putU32(h + 0x06, static_cast<std::uint32_t>(count));
    putU16(h + 0x0A, static_cast<std::uint32_t>(dataBlocks));
    putU16(h + 0x0C, static_cast<std::uint32_t>(dataBlocks));
    putU16(h + 0x0E, dataBlocks > 0 ? 1 : 0);
    putU16(h + 0x10, static_cast<std::uint32_t>(dataBlocks));
    putU16(h + 0x12, 3);
    putU16(h + 0x21, static_cast<std::uint32_t>(nFields));
    putU16(h + 0x23, static_cast<std::uint32_t>(nKeys));
    putU32(h + 0x25, 0xFF00FF00u);
    h[0x29] = static_cast<char>(kSortOrderAnsiCyrillic);
    h[0x2D] = static_cast<char>(kChangeCount);
    h[0x2E] = 1;
    putU32(h + 0x30, kPointerTableName);
    putU32(h + 0x34, kPointerFieldInfo);
    h[0x39] = static_cast<char>(kVersion7);
    putU16(h + 0x3A, static_cast<std::uint32_t>(dataBlocks));
    h[0x3E] = 0x1F;
    h[0x3F] = 0x0F;
    putU32(h + 0x49, static_cast<std::uint32_t>(maxAutoInc));
    putU16(h + 0x51, static_cast<std::uint32_t>(headerUsed));
    h[0x56] = 0x20;
    putU16(h + 0x58, 0x0100 + kVersion7);
    putU16(h + 0x5A, 0x0100 + kVersion7);
    putU32(h + 0x60, now);
    putU16(h + 0x64, static_cast<std::uint32_t>(nFields + 1));
    putU16(h + 0x66, static_cast<std::uint32_t>(fieldNumbersStart - kFixedHeader));
    putU16(h + 0x6A, kCodePageCyrillic);
    putU16(h + 0x6C, 0x0101);
    putU16(h + 0x6E, static_cast<std::uint32_t>(sortNameStart - kFixedHeader));
    putU16(h + 0x70, 1);
    for (int i = 0; i < nFields; ++i) {
        const Field &f = schema.fields[static_cast<size_t>(i)];
        h[infoStart + 2 * i] = static_cast<char>(f.type);
        h[infoStart + 2 * i + 1] = static_cast<char>(f.size);
    }
    const int tableNameStart = infoStart + 2 * nFields + 4 + 4 * nFields;
    std::memcpy(h + tableNameStart, tableName.constData(), static_cast<size_t>(tableName.size()));
    std::memcpy(h + namesStart, names.constData(), static_cast<size_t>(names.size()));
    for (int i = 0; i < nFields; ++i)
        putU16(h + fieldNumbersStart + 2 * i, static_cast<std::uint32_t>(i + 1));
    std::memcpy(h + sortNameStart, kSortNameAnsiCyrillic, sizeof kSortNameAnsiCyrillic);
    db.write(path, header.constData(), header.size());

    // --- data blocks ---
    std::vector<DataBlockInfo> blocks;
    blocks.reserve(static_cast<size_t>(dataBlocks));
    QByteArray block(blockSize, '\0');
    std::vector<const char *> firstRecords;
    qint64 next = 0;
    for (int b = 1; b <= dataBlocks; ++b) {
        const int n = static_cast<int>(std::min<qint64>(capacity, count - next));
        block.fill('\0');
        char *bp = block.data();
        putU16(bp, b < dataBlocks ? static_cast<std::uint32_t>(b + 1) : 0);
        putU16(bp + 2, static_cast<std::uint32_t>(b - 1));
        putU16(bp + 4, static_cast<std::uint32_t>((n - 1) * recordSize) & 0xFFFF);
        for (int i = 0; i < n; ++i)
            std::memcpy(bp + kBlockHeader + i * recordSize,
                        rec(order[static_cast<size_t>(next + i)]), static_cast<size_t>(recordSize));
        blocks.push_back({rec(order[static_cast<size_t>(next)]), n});
        next += n;
        db.write(path, block.constData(), block.size());
    }
    db.close(path);
    if (!px)
        return;

    // --- primary index ---
    const int entrySize = keySize + 6;
    int pxCode = 0;
    for (int code : kBlockCodes) {
        if ((code * 1024 - kBlockHeader) / entrySize - 1 >= 2) {
            pxCode = code;
            break;
        }
    }
    const int pxBlockSize = pxCode * 1024;
    // One slot of every block is left free, as the engine does.
    const int fanout = (pxBlockSize - kBlockHeader) / entrySize - 1;

    std::vector<std::vector<IndexBlock>> levels; // levels[0] = leaves
    std::vector<IndexEntry> current;
    current.reserve(blocks.size());
    for (size_t i = 0; i < blocks.size(); ++i)
        current.push_back({blocks[i].firstRecord, static_cast<int>(i + 1), blocks[i].count});
    qint64 totalEntries = 0;
    while (!current.empty()) {
        totalEntries += static_cast<qint64>(current.size());
        if (static_cast<int>(current.size()) <= fanout) {
            levels.push_back({IndexBlock{std::move(current), 0}});
            break;
        }
        std::vector<IndexBlock> level;
        IndexBlock blk;
        int sum = 0;
        for (const IndexEntry &e : current) {
            if (!blk.entries.empty() && (static_cast<int>(blk.entries.size()) >= fanout ||
                                         sum + e.count > kMaxIndexCount)) {
                level.push_back(std::move(blk));
                blk = IndexBlock{};
                sum = 0;
            }
            blk.entries.push_back(e);
            sum += e.count;
        }
        level.push_back(std::move(blk));
        std::vector<IndexEntry> upper;
        upper.reserve(level.size());
        for (size_t i = 0; i < level.size(); ++i) {
            int s = 0;
            for (const IndexEntry &e : level[i].entries)
                s += e.count;
            upper.push_back({level[i].entries.front().key, static_cast<int>(i), s});
        }
        levels.push_back(std::move(level));
        current = std::move(upper);
        if (levels.size() >= static_cast<size_t>(kMaxIndexLevels))
            failWrite(path, QStringLiteral("слишком много уровней индекса"));
    }

    // Number the blocks root first, each followed by its subtree: that is first-key order.
    std::vector<IndexBlock *> chainOrder;
    std::function<void(int, int)> visit = [&](int lvl, int idx) {
        IndexBlock &b = levels[static_cast<size_t>(lvl)][static_cast<size_t>(idx)];
        chainOrder.push_back(&b);
        b.number = static_cast<int>(chainOrder.size());
        if (lvl > 0) {
            for (const IndexEntry &e : b.entries)
                visit(lvl - 1, e.target);
        }
    };
    const int levelCount = static_cast<int>(levels.size());
    if (levelCount > 0)
        visit(levelCount - 1, 0);
    const int pxBlocks = static_cast<int>(chainOrder.size());
    if (pxBlocks > kMaxBlocks)
        failWrite(path, QStringLiteral("индекс слишком велик"));

    const int pxHeaderUsed = kFixedHeader + 2 * nKeys + 4 + kTableNameLength7;
    QByteArray pxHeader(kHeaderUnit, '\0');
    char *ph = pxHeader.data();
    putU16(ph + 0x00, static_cast<std::uint32_t>(entrySize));
    putU16(ph + 0x02, kHeaderUnit);
    ph[0x04] = static_cast<char>(kFileTypeIndex);
    ph[0x05] = static_cast<char>(pxCode);
    putU32(ph + 0x06, static_cast<std::uint32_t>(totalEntries));
    putU16(ph + 0x0A, static_cast<std::uint32_t>(pxBlocks));
    putU16(ph + 0x0C, static_cast<std::uint32_t>(pxBlocks));
    putU16(ph + 0x0E, pxBlocks > 0 ? 1 : 0);
    putU16(ph + 0x10, static_cast<std::uint32_t>(pxBlocks));
    putU16(ph + 0x12, 4);
    putU16(ph + 0x1E, 1);
    ph[0x20] = static_cast<char>(levelCount);
    putU16(ph + 0x21, static_cast<std::uint32_t>(nKeys));
    ph[0x29] = static_cast<char>(kSortOrderAnsiCyrillic);
    ph[0x2C] = static_cast<char>(kChangeCount);
    putU32(ph + 0x30, kPointerTableName);
    putU32(ph + 0x34, kPointerFieldInfo);
    ph[0x39] = static_cast<char>(kVersion7);
    putU16(ph + 0x3A, static_cast<std::uint32_t>(pxBlocks));
    putU32(ph + 0x49, 1);
    putU16(ph + 0x51, static_cast<std::uint32_t>(pxHeaderUsed));
    for (int i = 0; i < nKeys; ++i) {
        const Field &f = schema.fields[static_cast<size_t>(i)];
        ph[kFixedHeader + 2 * i] = static_cast<char>(f.type);
        ph[kFixedHeader + 2 * i + 1] = static_cast<char>(f.size);
    }
    std::memcpy(ph + kFixedHeader + 2 * nKeys + 4, tableName.constData(),
                static_cast<size_t>(tableName.size()));
    px->write(path, pxHeader.constData(), pxHeader.size());

    // Which level a block is on decides what its entries point at.
    std::vector<int> levelOf(static_cast<size_t>(pxBlocks) + 1, 0);
    for (int lvl = 0; lvl < levelCount; ++lvl) {
        for (const IndexBlock &b : levels[static_cast<size_t>(lvl)])
            levelOf[static_cast<size_t>(b.number)] = lvl;
    }
    QByteArray pblock(pxBlockSize, '\0');
    for (int i = 0; i < pxBlocks; ++i) {
        const IndexBlock &b = *chainOrder[static_cast<size_t>(i)];
        const int lvl = levelOf[static_cast<size_t>(b.number)];
        pblock.fill('\0');
        char *bp = pblock.data();
        const int n = static_cast<int>(b.entries.size());
        putU16(bp, i + 1 < pxBlocks ? static_cast<std::uint32_t>(i + 2) : 0);
        putU16(bp + 2, static_cast<std::uint32_t>(i));
        putU16(bp + 4, static_cast<std::uint32_t>((n - 1) * entrySize) & 0xFFFF);
        for (int j = 0; j < n; ++j) {
            const IndexEntry &e = b.entries[static_cast<size_t>(j)];
            char *ep = bp + kBlockHeader + j * entrySize;
            std::memcpy(ep, e.key, static_cast<size_t>(keySize));
            const int target =
                lvl == 0
                    ? e.target
                    : levels[static_cast<size_t>(lvl - 1)][static_cast<size_t>(e.target)].number;
            encodeInteger(ep + keySize, 2, target);
            encodeInteger(ep + keySize + 2, 2, e.count);
            encodeInteger(ep + keySize + 4, 2, 0);
        }
        px->write(path, pblock.constData(), pblock.size());
    }
    px->close(path);
}

// --- whole-table helpers ------------------------------------------------------------------------

void createEmptyTable(const QString &path, const Schema &schema)
{
    TableWriter writer(path, schema);
    writer.finish();
}

void writeTable(const QString &path, const Schema &schema, const std::vector<Row> &rows)
{
    TableWriter writer(path, schema);
    for (const Row &row : rows)
        writer.append(row);
    writer.finish();
}

namespace {

QString uniqueSibling(const QString &dir, const QString &base, const QString &tag)
{
    for (;;) {
        const QString candidate = QDir(dir).filePath(
            QStringLiteral(".%1.%2-%3.tmp")
                .arg(base, tag)
                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        if (!QFileInfo::exists(candidate))
            return candidate;
    }
}

} // namespace

struct TableRewriter::Impl
{
    QString path;
    QString stage;
    QString stagedDb;
    std::optional<TableWriter> writer;
    bool committed = false;

    ~Impl()
    {
        writer.reset();
        if (!stage.isEmpty())
            QDir(stage).removeRecursively();
    }

    // The user knows the table by its own file, not by the staging one.
    [[noreturn]] void rethrowForTable(const EDBEngineError &e) const
    {
        QString message = e.Message();
        message.replace(QDir::toNativeSeparators(stagedDb), QDir::toNativeSeparators(path));
        throw EDBEngineError(message, e.Sql());
    }
};

TableRewriter::TableRewriter(const QString &path, const Schema &schema)
    : d(std::make_unique<Impl>())
{
    const QFileInfo info(path);
    d->path = path;
    // The new table is built completely under a temporary name in the same folder.
    d->stage = uniqueSibling(info.absolutePath(), info.completeBaseName(), QStringLiteral("new"));
    QDir().mkpath(d->stage);
    d->stagedDb = QDir(d->stage).filePath(info.fileName());
    try {
        d->writer.emplace(d->stagedDb, schema);
    } catch (const EDBEngineError &e) {
        d->rethrowForTable(e);
    }
}

TableRewriter::~TableRewriter() = default;

void TableRewriter::append(const Row &row)
{
    try {
        d->writer->append(row);
    } catch (const EDBEngineError &e) {
        d->rethrowForTable(e);
    }
}

bool TableRewriter::appendUnique(const Row &row)
{
    try {
        return d->writer->appendUnique(row);
    } catch (const EDBEngineError &e) {
        d->rethrowForTable(e);
    }
}

qint64 TableRewriter::rowCount() const
{
    return d->writer->rowCount();
}

void TableRewriter::commit()
{
    if (d->committed)
        failWrite(d->path, QStringLiteral("таблица уже записана"));
    try {
        d->writer->finish();
    } catch (const EDBEngineError &e) {
        d->rethrowForTable(e);
    }
    d->committed = true;
    const QString &path = d->path;
    const QFileInfo info(path);
    const QString dir = info.absolutePath();
    const QString base = info.completeBaseName();
    const QString stagedPx = primaryIndexPath(d->stagedDb);
    const bool newKeyed = QFileInfo::exists(stagedPx);

    const QString oldPx = primaryIndexPath(path);
    const bool hadDb = QFileInfo::exists(path);
    const bool hadPx = QFileInfo::exists(oldPx);
    const QString backupDb = uniqueSibling(dir, base, QStringLiteral("olddb"));
    const QString backupPx = uniqueSibling(dir, base, QStringLiteral("oldpx"));
    if (hadDb && !QFile::rename(path, backupDb))
        failWrite(path, QStringLiteral("файл таблицы занят или недоступен"));
    if (hadPx && !QFile::rename(oldPx, backupPx)) {
        if (hadDb)
            QFile::rename(backupDb, path);
        failWrite(path, QStringLiteral("файл индекса занят или недоступен"));
    }
    const QString newPx = primaryIndexPath(path);
    const bool placed =
        (!newKeyed || QFile::rename(stagedPx, newPx)) && QFile::rename(d->stagedDb, path);
    if (!placed) {
        QFile::remove(newPx);
        if (hadDb)
            QFile::rename(backupDb, path);
        if (hadPx)
            QFile::rename(backupPx, oldPx);
        failWrite(path, QStringLiteral("не удаётся заменить файлы таблицы"));
    }
    QFile::remove(backupDb);
    QFile::remove(backupPx);
    removeCompanions(dir, base);
}

void rewriteTable(const QString &path, const Schema &schema, const std::vector<Row> &rows)
{
    TableRewriter rewriter(path, schema);
    for (const Row &row : rows)
        rewriter.append(row);
    rewriter.commit();
}

} // namespace paradox
