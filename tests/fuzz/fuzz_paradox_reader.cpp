// libFuzzer target: any byte string handed to the Paradox reader must end in rows or in
// EDBEngineError, never in a crash, a hang or an unbounded allocation.
#include "core/errors.h"
#include "engine/paradox/paradoxtable.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    try {
        paradox::TableReader reader(bytes, QStringLiteral("fuzz.db"));
        paradox::Row row;
        qint64 rows = 0;
        while (reader.next(row))
            ++rows;
        // The reader checked the whole chain when it opened, so the count must agree.
        if (rows != reader.recordCount())
            __builtin_trap();
        // A second pass after rewind() reads the same table again.
        reader.rewind();
        while (reader.next(row))
            --rows;
        if (rows != 0)
            __builtin_trap();
    } catch (const EDBEngineError &) {
        // A clear refusal is the expected outcome for damaged input.
    }
    return 0;
}
