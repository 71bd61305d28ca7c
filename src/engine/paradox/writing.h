#pragma once

// What the files of the Paradox writer share (paradoxwriter.cpp, recordencoding.cpp,
// datafilewriter.cpp, indexwriter.cpp, writerfiles.cpp, tablerewriter.cpp). Internal to the
// module: callers use paradoxtable.h.

#include "engine/paradox/paradoxformat.h"
#include "engine/paradox/paradoxtable.h"

#include <QFile>
#include <QString>
#include <vector>

namespace paradox::writing {

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

[[noreturn]] void failSchema(const QString &path, const QString &problem);
[[noreturn]] void failWrite(const QString &path, const QString &problem);

// Where each field lies in a record of a schema.
struct Layout
{
    std::vector<int> offsets;
    int recordSize = 0;
    int keySize = 0;
};

// The layout of a schema the writer can write; failSchema otherwise.
Layout checkSchema(const QString &path, const Schema &schema);

bool isNull(const QVariant &v);
// Encodes v into the record at p (already zeroed: zero is Null); throws EDBEngineError naming the
// field when the value does not fit it.
void encodeValue(const Field &f, const QVariant &v, char *p, bool isKey);

// A file under a unique temporary name in the table's folder, removed unless moved to its name.
class TempFile
{
public:
    TempFile(const QString &dir, const QString &base, const QString &tag);
    ~TempFile();
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;

    const QString &path() const { return m_path; }
    void write(const QString &table, const char *data, qint64 size);
    void close(const QString &table);
    // Moves the file to its final name; fails when that name exists.
    bool moveTo(const QString &target);

private:
    QFile m_file;
    QString m_path;
};

// The table's file name as the header keeps it.
QByteArray tableNameBytes(const QString &path);
// Removes the secondary indexes (.Xnn, .Ynn, .XGn, .YGn) and the validity file of a table.
void removeCompanions(const QString &dir, const QString &base);
// A name in dir that no file has: ".base.tag-xxxxxxxx.tmp".
QString uniqueSibling(const QString &dir, const QString &base, const QString &tag);

// The records a TableWriter gathered, as the files are written from them.
struct Records
{
    const QString &path; // the table, for messages
    const Schema &schema;
    const Layout &layout;
    const QByteArray &bytes; // count records of layout.recordSize, in the order appended
    qint64 count;
    qint64 maxAutoInc;
};

struct DataBlockInfo
{
    const char *firstRecord;
    int count;
};

// Writes the .db file (header, then the records in key order in data blocks) to db, closing it,
// and for a keyed table the primary index to px. dbTarget is the name the file will have.
void writeTableFiles(const Records &records, const QString &dbTarget, TempFile &db, TempFile *px);

// Writes the primary index of a table whose data blocks hold its records in key order, to px,
// closing it.
void writePrimaryIndex(const Records &records, const QByteArray &tableName,
                       const std::vector<DataBlockInfo> &blocks, TempFile &px);

} // namespace paradox::writing
