// libFuzzer target: any byte string handed to the Paradox reader must end in rows or in
// EDBEngineError, never in a crash, a hang or an unbounded allocation. A table that reads
// cleanly is also written back with our writer and read again: whatever the writer accepts must
// come back with the same values.
#include "core/errors.h"
#include "engine/paradox/paradoxtable.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

std::unique_ptr<QTemporaryDir> g_dir;

// Rows in a canonical order, so that a keyed rewrite (sorted by key) compares with the input.
QStringList canonical(const std::vector<paradox::Row> &rows)
{
    QStringList out;
    for (const paradox::Row &row : rows) {
        QStringList cells;
        for (const QVariant &v : row)
            cells << (v.isValid()
                          ? QString::fromLatin1(v.typeName()) + QLatin1Char(':') + v.toString()
                          : QStringLiteral("NULL"));
        out << cells.join(QChar(0x1F));
    }
    out.sort();
    return out;
}

void writeBack(const paradox::Schema &schema, const std::vector<paradox::Row> &rows)
{
    for (const paradox::Field &f : schema.fields) {
        if (!f.isWritable())
            return;
    }
    const QString path = g_dir->filePath(QStringLiteral("back.db"));
    QFile::remove(path);
    QFile::remove(paradox::primaryIndexPath(path));
    try {
        paradox::writeTable(path, schema, rows);
    } catch (const EDBEngineError &) {
        return; // values the writer does not take (Null keys, duplicates, years <= 0, ...)
    }
    paradox::Schema backSchema;
    const std::vector<paradox::Row> back = paradox::readAllRows(path, &backSchema);
    if (!(backSchema == schema) || canonical(back) != canonical(rows))
        __builtin_trap();
    paradox::verifyPrimaryIndex(path);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    g_dir = std::make_unique<QTemporaryDir>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    try {
        paradox::TableReader reader(bytes, QStringLiteral("fuzz.db"));
        std::vector<paradox::Row> rows;
        paradox::Row row;
        while (reader.next(row)) {
            if (rows.size() < 300)
                rows.push_back(row);
        }
        // The reader checked the whole chain when it opened, so the count must agree.
        if (qint64(rows.size()) != std::min<qint64>(reader.recordCount(), 300))
            __builtin_trap();
        // A second pass after rewind() reads the same rows again.
        reader.rewind();
        size_t i = 0;
        while (reader.next(row) && i < rows.size()) {
            if (canonical({row}) != canonical({rows[i]}))
                __builtin_trap();
            ++i;
        }
        if (reader.recordCount() <= 300)
            writeBack(reader.schema(), rows);
    } catch (const EDBEngineError &) {
        // A clear refusal is the expected outcome for damaged input.
    }
    return 0;
}
