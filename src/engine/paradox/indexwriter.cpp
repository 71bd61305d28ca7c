// The primary index (.PX) of a keyed table as the Paradox writer makes it: a tree of index blocks
// over the data blocks, each entry the first key of a block below with the count of its records,
// blocks numbered root first and each followed by its subtree.

#include "engine/paradox/writing.h"

#include <functional>

namespace paradox::writing {

using namespace format;

namespace {

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

using IndexLevels = std::vector<std::vector<IndexBlock>>; // [0]: the leaves

// The levels of the index over the data blocks, at most fanout entries a block; totalEntries
// receives the number of entries of every level.
IndexLevels indexLevels(const Records &r, const std::vector<DataBlockInfo> &blocks, int fanout,
                        qint64 &totalEntries)
{
    IndexLevels levels;
    std::vector<IndexEntry> current;
    current.reserve(blocks.size());
    for (size_t i = 0; i < blocks.size(); ++i)
        current.push_back({blocks[i].firstRecord, static_cast<int>(i + 1), blocks[i].count});
    totalEntries = 0;
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
            failWrite(r.path, QStringLiteral("слишком много уровней индекса"));
    }
    return levels;
}

// The blocks numbered root first, each followed by its subtree: that is first-key order.
std::vector<IndexBlock *> numberedBlocks(IndexLevels &levels)
{
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
    return chainOrder;
}

QByteArray indexHeader(const Records &r, const QByteArray &tableName, int entrySize, int pxCode,
                       qint64 totalEntries, int pxBlocks, int levelCount)
{
    const int nKeys = r.schema.keyFieldCount;
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
        const Field &f = r.schema.fields[static_cast<size_t>(i)];
        ph[kFixedHeader + 2 * i] = static_cast<char>(f.type);
        ph[kFixedHeader + 2 * i + 1] = static_cast<char>(f.size);
    }
    std::memcpy(ph + kFixedHeader + 2 * nKeys + 4, tableName.constData(),
                static_cast<size_t>(tableName.size()));
    return pxHeader;
}

} // namespace

void writePrimaryIndex(const Records &r, const QByteArray &tableName,
                       const std::vector<DataBlockInfo> &blocks, TempFile &px)
{
    const int keySize = r.layout.keySize;
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

    qint64 totalEntries = 0;
    IndexLevels levels = indexLevels(r, blocks, fanout, totalEntries);
    const std::vector<IndexBlock *> chainOrder = numberedBlocks(levels);
    const int levelCount = static_cast<int>(levels.size());
    const int pxBlocks = static_cast<int>(chainOrder.size());
    if (pxBlocks > kMaxBlocks)
        failWrite(r.path, QStringLiteral("индекс слишком велик"));
    const QByteArray pxHeader =
        indexHeader(r, tableName, entrySize, pxCode, totalEntries, pxBlocks, levelCount);
    px.write(r.path, pxHeader.constData(), pxHeader.size());

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
        px.write(r.path, pblock.constData(), pblock.size());
    }
    px.close(r.path);
}

} // namespace paradox::writing
