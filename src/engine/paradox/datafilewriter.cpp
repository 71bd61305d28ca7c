// The .db file of a table as the Paradox writer makes it: the header (Paradox 7, "Pdox ANSI
// Cyrillic"), then the records in key order in a chain of data blocks of the smallest size that
// holds them.

#include "core/clock.h"
#include "core/cp1251.h"
#include "engine/paradox/writing.h"

#include <QDateTime>
#include <algorithm>

namespace paradox::writing {

using namespace format;

namespace {

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

// The header of the .db file of records in dataBlocks blocks of blockCode KiB.
QByteArray dataHeader(const Records &r, const QByteArray &tableName, int blockCode, int dataBlocks)
{
    const int recordSize = r.layout.recordSize;
    const int nFields = static_cast<int>(r.schema.fields.size());
    const int nKeys = r.schema.keyFieldCount;
    const int infoStart = kExtendedHeader;
    const int namesStart = infoStart + 2 * nFields + 4 + 4 * nFields + kTableNameLength7;
    QByteArray names;
    for (const Field &f : r.schema.fields) {
        names += *cp1251::encodeStrict(f.name);
        names += '\0';
    }
    const int fieldNumbersStart = namesStart + static_cast<int>(names.size());
    const int sortNameStart = fieldNumbersStart + 2 * nFields;
    const int headerUsed = sortNameStart + static_cast<int>(sizeof kSortNameAnsiCyrillic);
    const int headerSize = (headerUsed + kHeaderUnit - 1) / kHeaderUnit * kHeaderUnit;
    if (headerSize > 0xFFFF)
        failSchema(r.path, QStringLiteral("описание полей слишком длинное"));

    const std::uint32_t now = static_cast<std::uint32_t>(TClock::Now().toSecsSinceEpoch());
    QByteArray header(headerSize, '\0');
    char *h = header.data();
    putU16(h + 0x00, static_cast<std::uint32_t>(recordSize));
    putU16(h + 0x02, static_cast<std::uint32_t>(headerSize));
    h[0x04] = static_cast<char>(nKeys > 0 ? kFileTypeKeyed : kFileTypeUnkeyed);
    h[0x05] = static_cast<char>(blockCode);
    putU32(h + 0x06, static_cast<std::uint32_t>(r.count));
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
    putU32(h + 0x49, static_cast<std::uint32_t>(r.maxAutoInc));
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
        const Field &f = r.schema.fields[static_cast<size_t>(i)];
        h[infoStart + 2 * i] = static_cast<char>(f.type);
        h[infoStart + 2 * i + 1] = static_cast<char>(f.size);
    }
    const int tableNameStart = infoStart + 2 * nFields + 4 + 4 * nFields;
    std::memcpy(h + tableNameStart, tableName.constData(), static_cast<size_t>(tableName.size()));
    std::memcpy(h + namesStart, names.constData(), static_cast<size_t>(names.size()));
    for (int i = 0; i < nFields; ++i)
        putU16(h + fieldNumbersStart + 2 * i, static_cast<std::uint32_t>(i + 1));
    std::memcpy(h + sortNameStart, kSortNameAnsiCyrillic, sizeof kSortNameAnsiCyrillic);
    return header;
}

} // namespace

void writeTableFiles(const Records &r, const QString &dbTarget, TempFile &db, TempFile *px)
{
    const int recordSize = r.layout.recordSize;
    const int keySize = r.layout.keySize;

    // Key order; duplicates are a key violation.
    std::vector<std::uint32_t> order(static_cast<size_t>(r.count));
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<std::uint32_t>(i);
    const char *base = r.bytes.constData();
    auto rec = [&](std::uint32_t i) { return base + qint64{i} * recordSize; };
    // append() has refused every repeated key.
    if (r.schema.keyFieldCount > 0) {
        std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
            return std::memcmp(rec(a), rec(b), static_cast<size_t>(keySize)) < 0;
        });
    }

    const int blockCode = chooseBlockCode(recordSize, r.count);
    if (blockCode == 0)
        failWrite(r.path, QStringLiteral("слишком много записей"));
    const int blockSize = blockCode * 1024;
    const int capacity = (blockSize - kBlockHeader) / recordSize;
    const int dataBlocks = static_cast<int>((r.count + capacity - 1) / capacity);

    const QByteArray tableName = tableNameBytes(dbTarget);
    const QByteArray header = dataHeader(r, tableName, blockCode, dataBlocks);
    db.write(r.path, header.constData(), header.size());

    std::vector<DataBlockInfo> blocks;
    blocks.reserve(static_cast<size_t>(dataBlocks));
    QByteArray block(blockSize, '\0');
    qint64 next = 0;
    for (int b = 1; b <= dataBlocks; ++b) {
        const int n = static_cast<int>(std::min<qint64>(capacity, r.count - next));
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
        db.write(r.path, block.constData(), block.size());
    }
    db.close(r.path);
    if (px)
        writePrimaryIndex(r, tableName, blocks, *px);
}

} // namespace paradox::writing
