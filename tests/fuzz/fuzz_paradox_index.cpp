// libFuzzer target: a mutated primary index checked against a fixed, valid table must be
// accepted or refused with EDBEngineError, never crash, hang or allocate without bound.
#include "core/errors.h"
#include "engine/paradox/paradoxtable.h"
#include "fuzz_fixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

std::unique_ptr<QTemporaryDir> g_dir;
QString g_db;
QString g_px;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    g_dir = std::make_unique<QTemporaryDir>();
    g_db = g_dir->filePath(QStringLiteral("fixture.db"));
    writeIndexFixture(g_db);
    g_px = paradox::primaryIndexPath(g_db);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QFile px(g_px);
    if (!px.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    px.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    px.close();
    try {
        paradox::verifyPrimaryIndex(g_db);
    } catch (const EDBEngineError &) {
        // A clear refusal is the expected outcome for a damaged index.
    }
    return 0;
}
