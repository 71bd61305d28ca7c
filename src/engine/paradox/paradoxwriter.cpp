// The Paradox table writer: rows checked and encoded as they come, gathered in memory with a
// repeated key refused, and written as the table's files only once complete (finish).

#include "core/errors.h"
#include "engine/paradox/paradoxformat.h"
#include "engine/paradox/paradoxtable.h"
#include "engine/paradox/writing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <limits>
#include <string>
#include <unordered_set>

namespace paradox {

using namespace format;
using namespace writing;

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
    writeTableFiles({d->path, d->schema, d->layout, d->records, d->count, d->maxAutoInc}, d->path,
                    db, px.get());

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

} // namespace paradox
