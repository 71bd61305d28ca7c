#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <memory>
#include <vector>

class QIODevice;

// Paradox table files (.db data file with its .PX primary index), read and written without the
// Borland engine. Files come from field workstations and are untrusted: every header value is
// checked before use, and every failure is an EDBEngineError with a Russian message naming the
// file.
//
// Values are QVariant; an invalid QVariant() is Null:
//   Alpha -> QString, Date -> QDate, Short/Long/AutoInc -> int, Number/Money/Bcd -> double,
//   Logical -> bool, Timestamp -> QDateTime (local time, fields taken as stored, no time-zone
//   conversion; a wall-clock time that local time skips for daylight saving comes as a UTC
//   QDateTime with the same date() and time()), Time -> QTime, Bytes -> QByteArray.
//   Memo, formatted memo, blob, OLE and graphic fields keep their data in a .MB file that this
//   module does not read; their values are always Null (the field is still listed so that column
//   positions stay right). Field::hasReadableValues() tells a caller that wants to refuse them.
namespace paradox {

// Type codes as stored in the table header.
enum class FieldType : std::uint8_t
{
    Alpha = 0x01,
    Date = 0x02,
    Short = 0x03,
    Long = 0x04,
    Money = 0x05,
    Number = 0x06,
    Logical = 0x09,
    Memo = 0x0C,
    Blob = 0x0D,
    FormattedMemo = 0x0E,
    Ole = 0x0F,
    Graphic = 0x10,
    Time = 0x14,
    Timestamp = 0x15,
    AutoInc = 0x16,
    Bcd = 0x17,
    Bytes = 0x18,
};

// One column: name, type and the header's size byte (Alpha and Bytes: length in bytes; Bcd:
// number of decimals; memo kinds: leader length + 10; every other type: its fixed stored size).
struct Field
{
    Field() = default;
    // size 0 means "the fixed size of the type" and is the usual way to describe non-alpha fields.
    Field(QString name, FieldType type, int size = 0);

    QString name;
    FieldType type = FieldType::Alpha;
    int size = 0;

    // Bytes the field takes in a record (Bcd always 17, otherwise size).
    int storedSize() const;
    // False for the memo and blob kinds, whose values read as Null.
    bool hasReadableValues() const;
    // True for the types the writer can create.
    bool isWritable() const;

    bool operator==(const Field &other) const = default;
};

// Ordered fields plus the number of leading fields that form the primary key (0 = unkeyed).
struct Schema
{
    std::vector<Field> fields;
    int keyFieldCount = 0;

    // Position of the field with this name, compared without regard to case; -1 when absent.
    int indexOf(const QString &name) const;

    bool operator==(const Schema &other) const = default;
};

using Row = std::vector<QVariant>;

// Display name of a type, e.g. "Alpha", "Long" (for messages and diagnostics).
QString typeName(FieldType type);

// Path of the primary index that belongs to a .db path: same folder and base name, extension
// ".PX" (".px" when the table's extension is lower case). When a file with either spelling
// exists, that one is returned.
QString primaryIndexPath(const QString &tablePath);

// Streaming reader of one .db file: validates the header and walks the whole block chain (block
// headers only) when opened, then hands out rows block by block with memory independent of the
// table size. Does not need or read the .PX.
class TableReader
{
public:
    // Opens a table file. Throws EDBEngineError when the file is missing, unreadable or damaged.
    explicit TableReader(const QString &path);
    // Reads a table from memory (fuzzing, archives); name is used in messages.
    TableReader(QByteArray bytes, const QString &name);
    // Reads from an open, seekable device that the caller keeps alive longer than the reader.
    TableReader(QIODevice &device, const QString &name);
    ~TableReader();
    TableReader(TableReader &&) noexcept;
    TableReader &operator=(TableReader &&) noexcept;
    TableReader(const TableReader &) = delete;
    TableReader &operator=(const TableReader &) = delete;

    const Schema &schema() const;
    const std::vector<Field> &fields() const;
    int keyFieldCount() const;
    // Records declared by the header; equal to the records in the chain (checked at open).
    qint64 recordCount() const;
    // Code page of the text data (1251 for "Pdox ANSI Cyrillic"); 0 when the file does not say.
    int codePage() const;
    // Header version byte: 12 for Paradox 7.
    int versionId() const;

    // Next row in chain (key) order; false at the end. Throws EDBEngineError on damage found
    // while reading (a value that cannot be decoded, a file changed under the reader).
    bool next(Row &row);
    // The same into a list, with room for `spare` more values after the row's (a caller that
    // hands rows on as lists takes them without a copy).
    bool next(QList<QVariant> &row, qsizetype spare = 0);
    // Back to the first row.
    void rewind();

private:
    friend void verifyPrimaryIndex(const QString &tablePath);
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Reads a whole table into memory; for small tables and tests.
std::vector<Row> readAllRows(const QString &path, Schema *schema = nullptr);

// Checks a keyed table's primary index (.PX) against its data file: header and key fields, the
// tree from the root (levels, counts, ascending keys) and that its leaves list the data blocks in
// chain order with each block's first key. Reading never needs the index; this is for callers
// that must know whether the engine will accept the pair. Throws EDBEngineError naming the index
// file; does nothing for an unkeyed table.
void verifyPrimaryIndex(const QString &tablePath);

// Writer of a new keyed (or unkeyed) Paradox 7 table with language driver "Pdox ANSI Cyrillic"
// (code page 1251) and, for keyed tables, its primary index. Rows are checked and encoded as they
// are appended, kept encoded in memory (record size bytes per row, not QVariants), sorted by key
// on finish() and written to temporary files that are renamed into place only when complete.
//
// Contract for values: Null is allowed in every non-key field; key fields must not be Null.
// Alpha text must be representable in cp1251 and at most `size` bytes long (callers cut text to
// the column size first); otherwise the row is refused with a message naming the field. The
// minimum integer of each integer type, NaN and infinities cannot be stored and are refused.
// Integer fields accept integral numbers (also doubles without fraction and numeric text),
// Logical accepts bool or a number (0 = false), Date/Timestamp accept QDate, QDateTime or ISO
// text ("2005-06-01", "2005-06-01 09:30:00"), years 1..9999.
//
// Keys are ordered by their stored bytes: right for numbers, dates and timestamps; alpha keys
// come out in cp1251 byte order, which need not be the engine's collation for mixed case or
// letters outside one alphabet. Memory: about recordSize + 4 bytes per row until finish(), e.g.
// 25 MB for 200,000 rows of 120 bytes. Blocks are 2 KiB, larger only when a record or the row
// count needs it.
class TableWriter
{
public:
    // Fails with EDBEngineError when the schema is not writable or the table (or its .PX) exists.
    TableWriter(const QString &path, const Schema &schema);
    // Discards everything unless finish() succeeded.
    ~TableWriter();
    TableWriter(const TableWriter &) = delete;
    TableWriter &operator=(const TableWriter &) = delete;

    const Schema &schema() const;
    // Checks and stores one row; on error nothing is stored and the writer stays usable. A key
    // that is there already is refused at once (key violation).
    void append(const Row &row);
    // As append(), but a repeated key is answered with false instead of an error.
    bool appendUnique(const Row &row);
    qint64 rowCount() const;
    // Sorts by key, writes .db and .PX. Fails when the
    // table appeared meanwhile. Secondary indexes and a validity file left by an earlier table of
    // the same name are removed. Call once.
    void finish();

    // Writing to a different final name than the one checked by the constructor is not offered;
    // rewriteTable() covers replacing an existing table.

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// A table with no rows (and for keyed schemas a valid empty .PX); fails when it exists.
void createEmptyTable(const QString &path, const Schema &schema);

// A new table with these rows; fails when it exists.
void writeTable(const QString &path, const Schema &schema, const std::vector<Row> &rows);

// Replaces an existing table (or creates a missing one) with rows given one by one, possibly with
// another schema. The new files are written completely under temporary names first; commit() then
// swaps out the old .db and .PX, so a failure leaves the old table as it was. Secondary indexes
// and the validity file of the old table are removed, since they would no longer match. Without
// commit() the old table stays and the staged files are removed. Errors name the table's own file.
class TableRewriter
{
public:
    TableRewriter(const QString &path, const Schema &schema);
    ~TableRewriter();
    TableRewriter(const TableRewriter &) = delete;
    TableRewriter &operator=(const TableRewriter &) = delete;

    // As TableWriter::append and appendUnique.
    void append(const Row &row);
    bool appendUnique(const Row &row);
    qint64 rowCount() const;
    // Call once.
    void commit();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// A TableRewriter given all of these rows at once.
void rewriteTable(const QString &path, const Schema &schema, const std::vector<Row> &rows);

} // namespace paradox
