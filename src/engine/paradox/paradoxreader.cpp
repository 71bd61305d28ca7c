#include "core/errors.h"
#include "engine/paradox/paradoxformat.h"
#include "engine/paradox/paradoxtable.h"

#include <QBuffer>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTime>
#include <cmath>
#include <functional>
#include <vector>

namespace paradox {

using namespace format;

namespace {

// One block of the data chain as found when the table was opened.
struct ChainBlock
{
    std::uint16_t number;
    std::uint16_t records;
};

} // namespace

struct TableReader::Impl
{
    std::unique_ptr<QIODevice> ownedDevice;
    QIODevice *device = nullptr;
    QString name;

    Schema schema;
    std::vector<int> offsets; // byte offset of each field inside a record
    int versionId = 0;
    int sortOrder = 0;
    int codePage = 0;
    std::unique_ptr<TextDecoder> decoder;
    qint64 fileSize = 0;
    int headerSize = 0;
    int blockSize = 0;
    int recordSize = 0;
    qint64 numRecords = 0;
    std::vector<ChainBlock> chain; // at most 65535 entries

    // Iteration state.
    size_t chainPos = 0;
    int recordInBlock = 0;
    QByteArray block;

    [[noreturn]] void fail(const QString &problem) const
    {
        throw EDBEngineError(QStringLiteral("Повреждён файл таблицы %1: %2").arg(name, problem));
    }

    void readAt(qint64 offset, char *dst, qint64 size)
    {
        if (offset < 0 || size < 0 || offset > fileSize || size > fileSize - offset)
            fail(QStringLiteral("данные за концом файла"));
        if (!device->seek(offset) || device->read(dst, size) != size)
            fail(QStringLiteral("файл не читается или изменился во время чтения"));
    }

    void open();
    void readHeader();
    // The field descriptions of a header: types and sizes at info, names from names on.
    void readFields(const char *info, const char *names, const char *headerEnd, int numFields,
                    int textCodePage);
    void walkChain();
    // The next record of the chain; null at its end.
    const char *nextRecord();
    template <typename Values> void decodeRecord(const char *record, Values &row) const;
};

TableReader::TableReader(const QString &path) : d(std::make_unique<Impl>())
{
    d->name = QDir::toNativeSeparators(path);
    auto file = std::make_unique<QFile>(path);
    const QFileInfo info(path);
    if (!info.exists())
        throw EDBEngineError(QStringLiteral("Файл таблицы %1 не найден").arg(d->name));
    // A pipe or device in place of a table file would block or never end.
    if (!info.isFile())
        throw EDBEngineError(QStringLiteral("%1 не является файлом таблицы").arg(d->name));
    if (!file->open(QIODevice::ReadOnly) || file->isSequential()) {
        throw EDBEngineError(QStringLiteral("Не удаётся открыть файл таблицы %1: %2")
                                 .arg(d->name, file->errorString()));
    }
    d->device = file.get();
    d->ownedDevice = std::move(file);
    d->open();
}

TableReader::TableReader(QByteArray bytes, const QString &name) : d(std::make_unique<Impl>())
{
    d->name = name;
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(std::move(bytes));
    buffer->open(QIODevice::ReadOnly);
    d->device = buffer.get();
    d->ownedDevice = std::move(buffer);
    d->open();
}

TableReader::TableReader(QIODevice &device, const QString &name) : d(std::make_unique<Impl>())
{
    d->name = name;
    d->device = &device;
    if (!device.isOpen() || !device.isReadable() || device.isSequential())
        throw EDBEngineError(QStringLiteral("Не удаётся прочитать таблицу %1").arg(name));
    d->open();
}

TableReader::~TableReader() = default;
TableReader::TableReader(TableReader &&) noexcept = default;
TableReader &TableReader::operator=(TableReader &&) noexcept = default;

const Schema &TableReader::schema() const
{
    return d->schema;
}
const std::vector<Field> &TableReader::fields() const
{
    return d->schema.fields;
}
int TableReader::keyFieldCount() const
{
    return d->schema.keyFieldCount;
}
qint64 TableReader::recordCount() const
{
    return d->numRecords;
}
int TableReader::codePage() const
{
    return d->codePage;
}
int TableReader::versionId() const
{
    return d->versionId;
}

void TableReader::rewind()
{
    d->chainPos = 0;
    d->recordInBlock = 0;
    d->block.clear();
}

const char *TableReader::Impl::nextRecord()
{
    while (chainPos < chain.size()) {
        const ChainBlock &cb = chain[chainPos];
        if (recordInBlock == 0 && block.isEmpty() && cb.records > 0) {
            // Read exactly the records the block declares: bytes after them are stale.
            const qint64 size = qint64{kBlockHeader} + qint64{cb.records} * recordSize;
            block.resize(size);
            readAt(headerSize + qint64{cb.number - 1} * blockSize, block.data(), size);
            const int count = getS16(block.constData() + 4) / recordSize + 1;
            if (count != cb.records)
                fail(QStringLiteral("файл изменился во время чтения"));
        }
        if (recordInBlock < cb.records)
            return block.constData() + kBlockHeader + qint64{recordInBlock++} * recordSize;
        ++chainPos;
        recordInBlock = 0;
        block.clear();
    }
    return nullptr;
}

bool TableReader::next(Row &row)
{
    const char *record = d->nextRecord();
    if (!record)
        return false;
    d->decodeRecord(record, row);
    return true;
}

bool TableReader::next(QList<QVariant> &row, qsizetype spare)
{
    const char *record = d->nextRecord();
    if (!record)
        return false;
    row.reserve(qsizetype(d->schema.fields.size()) + spare);
    d->decodeRecord(record, row);
    return true;
}

void TableReader::Impl::open()
{
    fileSize = device->size();
    readHeader();
    walkChain();
}

void TableReader::Impl::readHeader()
{
    if (fileSize < kFixedHeader)
        fail(QStringLiteral("файл короче заголовка (%1 байт)").arg(fileSize));

    QByteArray fixed(kFixedHeader, '\0');
    readAt(0, fixed.data(), kFixedHeader);
    const char *h = fixed.constData();

    recordSize = getU16(h + 0x00);
    headerSize = getU16(h + 0x02);
    const int fileType = static_cast<unsigned char>(h[0x04]);
    const int blockCode = static_cast<unsigned char>(h[0x05]);
    numRecords = getU32(h + 0x06);
    versionId = static_cast<unsigned char>(h[0x39]);
    sortOrder = static_cast<unsigned char>(h[0x29]);

    if (fileType != kFileTypeKeyed && fileType != kFileTypeUnkeyed) {
        fail(QStringLiteral("это не файл данных Paradox (тип файла %1)").arg(fileType));
    }
    if (versionId < 3 || versionId > kVersion7)
        fail(QStringLiteral("неизвестная версия формата (%1)").arg(versionId));
    if (blockCode != 1 && blockCode != 2 && blockCode != 3 && blockCode != 4 && blockCode != 8 &&
        blockCode != 16 && blockCode != 32) {
        fail(QStringLiteral("недопустимый размер блока (%1)").arg(blockCode));
    }
    blockSize = blockCode * 1024;

    const bool extended = versionId >= 5;
    const int start = extended ? kExtendedHeader : kFixedHeader;
    if (headerSize < start)
        fail(QStringLiteral("недопустимый размер заголовка (%1)").arg(headerSize));
    if (fileSize < headerSize)
        fail(QStringLiteral("файл короче заголовка (%1 из %2 байт)").arg(fileSize).arg(headerSize));

    // headerSize is a 16-bit value, so this allocation is bounded.
    QByteArray header(headerSize, '\0');
    readAt(0, header.data(), headerSize);
    h = header.constData();

    const std::uint32_t encryption1 = getU32(h + 0x25);
    if (extended) {
        if (encryption1 != 0xFF00FF00u)
            fail(QStringLiteral("недопустимое значение признака шифрования"));
        if (getU32(h + 0x5C) != 0)
            throw EDBEngineError(
                QStringLiteral(
                    "Таблица %1 зашифрована; чтение зашифрованных таблиц не поддерживается")
                    .arg(name));
    } else if (encryption1 != 0) {
        throw EDBEngineError(
            QStringLiteral("Таблица %1 зашифрована; чтение зашифрованных таблиц не поддерживается")
                .arg(name));
    }

    const int numFields = getS16(h + 0x21);
    const int numKeys = getS16(h + 0x23);
    if (numFields < 1 || numFields > kMaxFields)
        fail(QStringLiteral("недопустимое число полей (%1)").arg(numFields));
    if (numKeys < 0 || numKeys > std::min(kMaxKeyFields, numFields))
        fail(QStringLiteral("недопустимое число ключевых полей (%1)").arg(numKeys));
    if ((fileType == kFileTypeKeyed) != (numKeys > 0))
        fail(QStringLiteral("тип файла не соответствует числу ключевых полей"));

    const int tableNameLength = versionId == kVersion7 ? kTableNameLength7 : kTableNameLengthOld;
    // Field info, table name pointer, field name pointers, table name; then the names.
    const qint64 namesStart = qint64{start} + 2 * numFields + 4 + 4 * numFields + tableNameLength;
    if (namesStart > headerSize)
        fail(QStringLiteral("описание полей не помещается в заголовок"));

    if (extended) {
        codePage = getU16(h + 0x6A);
    } else {
        codePage = 0;
    }
    // Version 3 files do not store a code page: the program's own code page is assumed, except
    // for the DOS Cyrillic driver, which these files can name only by its sort byte.
    int textCodePage = codePage;
    if (textCodePage == 0)
        textCodePage = static_cast<unsigned char>(h[0x29]) == 0xC0 ? 866 : kCodePageCyrillic;
    decoder = std::make_unique<TextDecoder>(textCodePage);

    readFields(h + start, h + namesStart, h + headerSize, numFields, textCodePage);
    schema.keyFieldCount = numKeys;
    if (recordSize < 1 || recordSize > blockSize - kBlockHeader)
        fail(QStringLiteral("размер записи %1 не помещается в блок").arg(recordSize));
}

void TableReader::Impl::readFields(const char *info, const char *names, const char *headerEnd,
                                   int numFields, int textCodePage)
{
    schema.fields.clear();
    schema.fields.reserve(static_cast<size_t>(numFields));
    offsets.clear();
    int total = 0;
    const char *namePtr = names;
    for (int i = 0; i < numFields; ++i) {
        const int typeCode = static_cast<unsigned char>(info[2 * i]);
        const int sizeByte = static_cast<unsigned char>(info[2 * i + 1]);

        const char *nul = static_cast<const char *>(
            std::memchr(namePtr, 0, static_cast<size_t>(headerEnd - namePtr)));
        if (!nul)
            fail(QStringLiteral("имя поля %1 выходит за заголовок").arg(i + 1));
        const auto decodedName = decoder->decode(namePtr, nul - namePtr);
        if (!decodedName) {
            fail(QStringLiteral("имя поля %1 записано в неподдерживаемой кодовой странице %2")
                     .arg(i + 1)
                     .arg(textCodePage));
        }
        namePtr = nul + 1;

        const auto stored = storedSizeOf(typeCode, sizeByte);
        if (!stored) {
            if (!isKnownType(typeCode)) {
                fail(QStringLiteral("поле %1 имеет неизвестный тип (код %2)")
                         .arg(*decodedName)
                         .arg(typeCode));
            }
            fail(QStringLiteral("поле %1 типа %2 имеет недопустимый размер %3")
                     .arg(*decodedName, typeName(static_cast<FieldType>(typeCode)))
                     .arg(sizeByte));
        }
        Field field;
        field.name = *decodedName;
        field.type = static_cast<FieldType>(typeCode);
        field.size = sizeByte;
        offsets.push_back(total);
        total += *stored;
        schema.fields.push_back(std::move(field));
    }
    if (total != recordSize) {
        fail(QStringLiteral("размер записи %1 не равен сумме размеров полей %2")
                 .arg(recordSize)
                 .arg(total));
    }
}

void TableReader::Impl::walkChain()
{
    QByteArray fixed(kFixedHeader, '\0');
    readAt(0, fixed.data(), kFixedHeader);
    const char *h = fixed.constData();
    const int usedBlocks = getU16(h + 0x0A);
    const int fileBlocks = getU16(h + 0x0C);
    const int firstBlock = getU16(h + 0x0E);
    const int lastBlock = getU16(h + 0x10);
    const int firstFree = getU16(h + 0x4D);

    const qint64 avail = fileSize - headerSize;
    const qint64 maxBlock = std::min<qint64>((avail + blockSize - 1) / blockSize, kMaxBlocks);

    if (usedBlocks > fileBlocks || fileBlocks > maxBlock) {
        fail(QStringLiteral("число блоков в заголовке (%1 из %2) не соответствует размеру файла "
                            "(%3 блоков)")
                 .arg(usedBlocks)
                 .arg(fileBlocks)
                 .arg(maxBlock));
    }
    if ((firstBlock == 0) != (lastBlock == 0))
        fail(QStringLiteral("неверные номера первого и последнего блоков"));
    if (firstBlock == 0) {
        if (usedBlocks != 0 || numRecords != 0)
            fail(QStringLiteral("таблица без блоков объявляет %1 записей").arg(numRecords));
    }
    if (firstFree > maxBlock)
        fail(QStringLiteral("номер свободного блока %1 вне файла").arg(firstFree));

    chain.clear();
    std::vector<bool> visited(static_cast<size_t>(maxBlock) + 1, false);
    qint64 total = 0;
    int prev = 0;
    int n = firstBlock;
    char bh[kBlockHeader];
    while (n != 0) {
        if (n < 1 || n > maxBlock)
            fail(QStringLiteral("номер блока %1 вне файла").arg(n));
        if (visited[static_cast<size_t>(n)])
            fail(QStringLiteral("цепочка блоков зациклена (блок %1)").arg(n));
        if (static_cast<qint64>(chain.size()) >= std::min<qint64>(usedBlocks, maxBlock))
            fail(QStringLiteral("цепочка блоков длиннее объявленных %1 блоков").arg(usedBlocks));
        visited[static_cast<size_t>(n)] = true;

        const qint64 blockPos = headerSize + qint64{n - 1} * blockSize;
        if (blockPos + kBlockHeader > fileSize)
            fail(QStringLiteral("блок %1 обрезан").arg(n));
        readAt(blockPos, bh, kBlockHeader);
        const int next = getU16(bh);
        const int prevLink = getU16(bh + 2);
        const int lastOffset = getS16(bh + 4);
        if (prevLink != prev)
            fail(QStringLiteral("обратная ссылка блока %1 неверна").arg(n));
        if (lastOffset < -recordSize || lastOffset % recordSize != 0)
            fail(QStringLiteral("неверное смещение последней записи в блоке %1").arg(n));
        const int count = lastOffset / recordSize + 1;
        const qint64 used = qint64{kBlockHeader} + qint64{count} * recordSize;
        if (used > blockSize)
            fail(QStringLiteral("число записей в блоке %1 (%2) больше его ёмкости")
                     .arg(n)
                     .arg(count));
        if (blockPos + used > fileSize)
            fail(QStringLiteral("записи блока %1 выходят за конец файла").arg(n));
        if (count == 0 && numRecords != 0)
            fail(QStringLiteral("пустой блок %1 в цепочке").arg(n));
        chain.push_back({static_cast<std::uint16_t>(n), static_cast<std::uint16_t>(count)});
        total += count;
        prev = n;
        n = next;
    }
    if (static_cast<qint64>(chain.size()) != usedBlocks)
        fail(QStringLiteral("в цепочке %1 блоков, а в заголовке %2")
                 .arg(chain.size())
                 .arg(usedBlocks));
    if (prev != lastBlock)
        fail(
            QStringLiteral("последний блок цепочки %1, а в заголовке %2").arg(prev).arg(lastBlock));
    if (total != numRecords)
        fail(QStringLiteral("в блоках %1 записей, а в заголовке %2").arg(total).arg(numRecords));
}

template <typename Values>
void TableReader::Impl::decodeRecord(const char *record, Values &row) const
{
    row.resize(schema.fields.size());
    QString problem;
    for (size_t i = 0; i < schema.fields.size(); ++i) {
        row[i] = decodeValue(schema.fields[i], record + offsets[i], *decoder, problem);
        if (!problem.isEmpty())
            fail(problem);
    }
}

namespace {

// Walks a primary index from its root, comparing it with the data chain as it goes, so that
// nothing proportional to the table is kept in memory.
// What the checker needs to know of the data file.
struct DataSide
{
    int versionId;
    int sortOrder;
    int headerSize;
    int blockSize;
    int recordSize;
    std::function<void(qint64, char *, qint64)> readAt;
};

class IndexChecker
{
public:
    IndexChecker(DataSide db, const std::vector<ChainBlock> &chain, const Schema &schema,
                 const std::vector<int> &offsets)
        : m_db(std::move(db)), m_chain(chain), m_schema(schema)
    {
        const int k = schema.keyFieldCount;
        m_keySize =
            k < static_cast<int>(offsets.size()) ? offsets[static_cast<size_t>(k)] : db.recordSize;
    }

    void run(const QString &pxPath)
    {
        m_name = QDir::toNativeSeparators(pxPath);
        QFile file(pxPath);
        if (!file.open(QIODevice::ReadOnly)) {
            throw EDBEngineError(QStringLiteral("Не удаётся открыть индекс таблицы %1: %2")
                                     .arg(m_name, file.errorString()));
        }
        m_file = &file;
        m_size = file.size();
        checkHeader();
        if (m_chain.empty()) {
            if (m_usedBlocks != 0 || m_entries != 0)
                fail(QStringLiteral("индекс пустой таблицы содержит записи"));
            return;
        }
        if (m_levels < 1 || m_levels > kMaxIndexLevels)
            fail(QStringLiteral("недопустимое число уровней (%1)").arg(m_levels));
        if (m_root < 1 || m_root > m_maxBlock)
            fail(QStringLiteral("корневой блок %1 вне файла").arg(m_root));
        m_visited.assign(static_cast<size_t>(m_maxBlock) + 1, false);
        m_dataKey.resize(m_keySize);
        walk(m_root, m_levels, nullptr);
        if (m_leaf != m_chain.size())
            fail(QStringLiteral("индекс ссылается на %1 блоков данных из %2")
                     .arg(m_leaf)
                     .arg(m_chain.size()));
        if (m_seenBlocks != m_usedBlocks)
            fail(QStringLiteral("в дереве %1 блоков, а в заголовке %2")
                     .arg(m_seenBlocks)
                     .arg(m_usedBlocks));
        if (m_seenEntries != m_entries)
            fail(QStringLiteral("в дереве %1 элементов, а в заголовке %2")
                     .arg(m_seenEntries)
                     .arg(m_entries));
    }

private:
    [[noreturn]] void fail(const QString &problem) const
    {
        throw EDBEngineError(
            QStringLiteral("Повреждён индекс таблицы %1: %2").arg(m_name, problem));
    }

    void readAt(qint64 offset, char *dst, qint64 size)
    {
        if (offset < 0 || size < 0 || offset > m_size || size > m_size - offset)
            fail(QStringLiteral("данные за концом файла"));
        if (!m_file->seek(offset) || m_file->read(dst, size) != size)
            fail(QStringLiteral("файл не читается"));
    }

    void checkHeader()
    {
        if (m_size < kFixedHeader)
            fail(QStringLiteral("файл короче заголовка"));
        char h[kFixedHeader];
        readAt(0, h, kFixedHeader);
        const int k = m_schema.keyFieldCount;
        if (static_cast<unsigned char>(h[0x04]) != kFileTypeIndex)
            fail(QStringLiteral("это не файл первичного индекса"));
        if (static_cast<unsigned char>(h[0x39]) != m_db.versionId)
            fail(QStringLiteral("версия не совпадает с версией таблицы"));
        if (static_cast<unsigned char>(h[0x29]) != m_db.sortOrder)
            fail(QStringLiteral("порядок сортировки не совпадает с таблицей"));
        const int code = static_cast<unsigned char>(h[0x05]);
        if (code != 1 && code != 2 && code != 3 && code != 4 && code != 8 && code != 16 &&
            code != 32)
            fail(QStringLiteral("недопустимый размер блока (%1)").arg(code));
        m_blockSize = code * 1024;
        m_headerSize = getU16(h + 0x02);
        m_entrySize = getU16(h + 0x00);
        if (m_entrySize != m_keySize + 6)
            fail(QStringLiteral("размер элемента %1 не соответствует ключу таблицы")
                     .arg(m_entrySize));
        if (getS16(h + 0x21) != k)
            fail(QStringLiteral("число ключевых полей не совпадает с таблицей"));
        const int tableName = m_db.versionId == kVersion7 ? kTableNameLength7 : kTableNameLengthOld;
        if (m_headerSize < kFixedHeader + 2 * k + 4 + tableName || m_headerSize > m_size)
            fail(QStringLiteral("недопустимый размер заголовка (%1)").arg(m_headerSize));
        char info[2 * kMaxKeyFields];
        readAt(kFixedHeader, info, 2 * k);
        for (int i = 0; i < k; ++i) {
            const Field &f = m_schema.fields[static_cast<size_t>(i)];
            if (static_cast<unsigned char>(info[2 * i]) != static_cast<int>(f.type) ||
                static_cast<unsigned char>(info[2 * i + 1]) != f.size)
                fail(QStringLiteral("описание ключевого поля %1 не совпадает с таблицей")
                         .arg(f.name));
        }
        m_entries = getU32(h + 0x06);
        m_usedBlocks = getU16(h + 0x0A);
        m_root = getU16(h + 0x1E);
        m_levels = static_cast<unsigned char>(h[0x20]);
        m_maxBlock =
            std::min<qint64>((m_size - m_headerSize + m_blockSize - 1) / m_blockSize, kMaxBlocks);
    }

    // Visits one index block `level` levels above the data; returns the records below it and
    // leaves its first key in firstKey.
    qint64 walk(int block, int level, QByteArray *firstKey)
    {
        if (block < 1 || block > m_maxBlock)
            fail(QStringLiteral("номер блока %1 вне файла").arg(block));
        if (m_visited[static_cast<size_t>(block)])
            fail(QStringLiteral("блок %1 встречается в дереве дважды").arg(block));
        m_visited[static_cast<size_t>(block)] = true;
        ++m_seenBlocks;
        const qint64 pos = m_headerSize + qint64{block - 1} * m_blockSize;
        char bh[kBlockHeader];
        readAt(pos, bh, kBlockHeader);
        const int last = getS16(bh + 4);
        if (last < 0 || last % m_entrySize != 0)
            fail(QStringLiteral("неверное смещение последнего элемента в блоке %1").arg(block));
        const int count = last / m_entrySize + 1;
        if (kBlockHeader + qint64{count} * m_entrySize > m_blockSize)
            fail(QStringLiteral("число элементов в блоке %1 больше его ёмкости").arg(block));
        QByteArray entries(count * m_entrySize, '\0');
        readAt(pos + kBlockHeader, entries.data(), entries.size());
        m_seenEntries += count;

        qint64 total = 0;
        QByteArray childKey;
        for (int i = 0; i < count; ++i) {
            const char *e = entries.constData() + qint64{i} * m_entrySize;
            if (i > 0 && std::memcmp(e - m_entrySize, e, static_cast<size_t>(m_keySize)) >= 0)
                fail(QStringLiteral("ключи блока %1 не возрастают").arg(block));
            const int target = static_cast<int>(getBE(e + m_keySize, 2) ^ 0x8000);
            const int counted = static_cast<int>(getBE(e + m_keySize + 2, 2) ^ 0x8000);
            if (level == 1) {
                if (m_leaf >= m_chain.size())
                    fail(QStringLiteral("индекс ссылается на лишний блок данных %1").arg(target));
                const ChainBlock &cb = m_chain[m_leaf];
                if (target != cb.number || counted != cb.records)
                    fail(QStringLiteral("элемент %1 не соответствует блоку данных %2")
                             .arg(m_leaf + 1)
                             .arg(cb.number));
                m_db.readAt(m_db.headerSize + qint64{cb.number - 1} * m_db.blockSize + kBlockHeader,
                            m_dataKey.data(), m_keySize);
                if (std::memcmp(e, m_dataKey.constData(), static_cast<size_t>(m_keySize)) != 0)
                    fail(QStringLiteral("ключ элемента %1 не совпадает с первой записью блока %2")
                             .arg(m_leaf + 1)
                             .arg(cb.number));
                ++m_leaf;
                total += counted;
            } else {
                const qint64 below = walk(target, level - 1, &childKey);
                if ((below & 0xFFFF) != counted)
                    fail(QStringLiteral("счётчик записей блока %1 неверен").arg(block));
                if (std::memcmp(e, childKey.constData(), static_cast<size_t>(m_keySize)) != 0)
                    fail(QStringLiteral("ключ блока %1 не совпадает с первым ключом блока %2")
                             .arg(block)
                             .arg(target));
                total += below;
            }
        }
        if (firstKey)
            *firstKey = entries.left(m_keySize);
        return total;
    }

    DataSide m_db;
    const std::vector<ChainBlock> &m_chain;
    const Schema &m_schema;
    QString m_name;
    QFile *m_file = nullptr;
    qint64 m_size = 0;
    int m_keySize = 0;
    int m_entrySize = 0;
    int m_blockSize = 0;
    int m_headerSize = 0;
    qint64 m_entries = 0;
    int m_usedBlocks = 0;
    int m_root = 0;
    int m_levels = 0;
    qint64 m_maxBlock = 0;
    std::vector<bool> m_visited;
    QByteArray m_dataKey;
    size_t m_leaf = 0;
    int m_seenBlocks = 0;
    qint64 m_seenEntries = 0;
};

} // namespace

void verifyPrimaryIndex(const QString &tablePath)
{
    TableReader reader(tablePath);
    if (reader.keyFieldCount() == 0)
        return;
    TableReader::Impl &db = *reader.d;
    DataSide side{db.versionId,
                  db.sortOrder,
                  db.headerSize,
                  db.blockSize,
                  db.recordSize,
                  [&db](qint64 offset, char *dst, qint64 size) { db.readAt(offset, dst, size); }};
    IndexChecker checker(std::move(side), db.chain, db.schema, db.offsets);
    checker.run(primaryIndexPath(tablePath));
}

std::vector<Row> readAllRows(const QString &path, Schema *schema)
{
    TableReader reader(path);
    if (schema)
        *schema = reader.schema();
    std::vector<Row> rows;
    rows.reserve(static_cast<size_t>(std::min<qint64>(reader.recordCount(), 1'000'000)));
    Row row;
    while (reader.next(row))
        rows.push_back(row);
    return rows;
}

} // namespace paradox
