#include "engine/paradox/paradoxformat.h"

#include "core/cp1251.h"
#include "core/localzone.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTime>
#include <array>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>

namespace paradox {

namespace format {

std::optional<int> storedSizeOf(int typeCode, int sizeByte)
{
    switch (static_cast<FieldType>(typeCode)) {
    case FieldType::Alpha:
    case FieldType::Bytes:
        if (sizeByte >= 1 && sizeByte <= 255)
            return sizeByte;
        return std::nullopt;
    case FieldType::Short:
        return sizeByte == 2 ? std::optional<int>(2) : std::nullopt;
    case FieldType::Logical:
        return sizeByte == 1 ? std::optional<int>(1) : std::nullopt;
    case FieldType::Date:
    case FieldType::Long:
    case FieldType::Time:
    case FieldType::AutoInc:
        return sizeByte == 4 ? std::optional<int>(4) : std::nullopt;
    case FieldType::Money:
    case FieldType::Number:
    case FieldType::Timestamp:
        return sizeByte == 8 ? std::optional<int>(8) : std::nullopt;
    case FieldType::Memo:
        if (sizeByte >= 11 && sizeByte <= 250)
            return sizeByte;
        return std::nullopt;
    case FieldType::Blob:
    case FieldType::FormattedMemo:
    case FieldType::Ole:
    case FieldType::Graphic:
        if (sizeByte >= 10 && sizeByte <= 250)
            return sizeByte;
        return std::nullopt;
    case FieldType::Bcd:
        if (sizeByte >= 0 && sizeByte <= 32)
            return kBcdStoredSize;
        return std::nullopt;
    }
    return std::nullopt;
}

bool isKnownType(int typeCode)
{
    return (typeCode >= 0x01 && typeCode <= 0x06) || typeCode == 0x09 ||
           (typeCode >= 0x0C && typeCode <= 0x10) || (typeCode >= 0x14 && typeCode <= 0x18);
}

namespace {

// Single-byte code page -> UTF-16 tables built once and kept for the whole run.
class CodePageTables
{
public:
    const char16_t *table(int codePage)
    {
        std::lock_guard lock(m_mutex);
        auto it = m_tables.find(codePage);
        if (it != m_tables.end())
            return it->second ? it->second->data() : nullptr;
        auto built = build(codePage);
        const char16_t *result = built ? built->data() : nullptr;
        m_tables.emplace(codePage, std::move(built));
        return result;
    }

private:
    using Table = std::array<char16_t, 256>;

    static bool isSingleByte(int cp)
    {
        // DOS and Windows single-byte code pages; multi-byte ones (932, 936, 949, 950) are not.
        return cp == 437 || cp == 737 || cp == 775 || (cp >= 850 && cp <= 869) || cp == 874 ||
               (cp >= 1250 && cp <= 1258);
    }

    static std::unique_ptr<Table> build(int codePage)
    {
        if (!isSingleByte(codePage))
            return nullptr;
        const QByteArray name = QByteArray("CP") + QByteArray::number(codePage);
        const auto table = cp1251::singleByteTable(name.constData());
        return table ? std::make_unique<Table>(*table) : nullptr;
    }

    std::mutex m_mutex;
    std::map<int, std::unique_ptr<Table>> m_tables;
};

CodePageTables &codePageTables()
{
    static CodePageTables tables;
    return tables;
}

} // namespace

TextDecoder::TextDecoder(int codePage) : m_codePage(codePage)
{
    if (codePage == kCodePageCyrillic)
        m_cp1251 = true;
    else
        m_table = codePageTables().table(codePage);
}

std::optional<QString> TextDecoder::decode(const char *data, qsizetype size) const
{
    if (m_cp1251)
        return cp1251::decode(data, size);
    QString out(size, Qt::Uninitialized);
    QChar *dst = out.data();
    for (qsizetype i = 0; i < size; ++i) {
        const auto b = static_cast<unsigned char>(data[i]);
        char16_t cu = b;
        if (b >= 0x80) {
            if (!m_table || m_table[b] == u'\uFFFD')
                return std::nullopt;
            cu = m_table[b];
        }
        dst[i] = QChar(cu);
    }
    return out;
}

namespace {

bool allZero(const char *p, int n)
{
    for (int i = 0; i < n; ++i) {
        if (p[i] != 0)
            return false;
    }
    return true;
}

// Lenient reading of packed decimals: junk digits are read as they are, not refused.
double decodeBcd(const char *p, int decimals)
{
    const auto b0 = static_cast<unsigned char>(p[0]);
    const bool positive = (b0 & 0x80) != 0;
    double value = 0;
    for (int i = 1; i < kBcdStoredSize; ++i) {
        auto byte = static_cast<unsigned char>(p[i]);
        if (!positive)
            byte = static_cast<unsigned char>(~byte);
        value = value * 100 + (byte >> 4) * 10 + (byte & 0x0F);
    }
    value /= std::pow(10.0, decimals);
    return positive ? value : -value;
}

} // namespace

QVariant decodeValue(const Field &field, const char *p, const TextDecoder &decoder,
                     QString &problem)
{
    problem.clear();
    switch (field.type) {
    case FieldType::Alpha: {
        const char *nul =
            static_cast<const char *>(std::memchr(p, 0, static_cast<size_t>(field.size)));
        const qsizetype len = nul ? nul - p : field.size;
        if (len == 0)
            return {};
        auto text = decoder.decode(p, len);
        if (!text) {
            problem = QStringLiteral("текст поля %1 записан в неподдерживаемой кодовой странице %2")
                          .arg(field.name)
                          .arg(decoder.codePage());
            return {};
        }
        return *text;
    }
    case FieldType::Short:
    case FieldType::Long:
    case FieldType::AutoInc: {
        const auto v = decodeInteger(p, field.storedSize());
        return v ? QVariant(static_cast<int>(*v)) : QVariant();
    }
    case FieldType::Date: {
        const auto v = decodeInteger(p, 4);
        return v ? QVariant(dateFromDayNumber(*v)) : QVariant();
    }
    case FieldType::Time: {
        const auto v = decodeInteger(p, 4);
        if (!v)
            return {};
        if (*v < 0 || *v >= kMsPerDay) {
            problem = QStringLiteral("недопустимое время в поле %1").arg(field.name);
            return {};
        }
        return QTime::fromMSecsSinceStartOfDay(static_cast<int>(*v));
    }
    case FieldType::Number:
    case FieldType::Money: {
        const auto v = decodeDouble(p);
        return v ? QVariant(*v) : QVariant();
    }
    case FieldType::Timestamp: {
        const auto v = decodeDouble(p);
        if (!v)
            return {};
        // About ±270,000 years: beyond that the value is not a timestamp at all.
        if (!std::isfinite(*v) || std::fabs(*v) > 1e16) {
            problem = QStringLiteral("недопустимая дата и время в поле %1").arg(field.name);
            return {};
        }
        const auto ms = static_cast<qint64>(std::llround(*v));
        qint64 days = ms / kMsPerDay;
        qint64 msOfDay = ms % kMsPerDay;
        if (msOfDay < 0) {
            msOfDay += kMsPerDay;
            --days;
        }
        const QDate date = dateFromDayNumber(days);
        const QTime time = QTime::fromMSecsSinceStartOfDay(static_cast<int>(msOfDay));
        return WallClockDateTime(date, time);
    }
    case FieldType::Logical: {
        const auto b = static_cast<unsigned char>(p[0]);
        if (b == 0)
            return {};
        return QVariant(b != 0x80);
    }
    case FieldType::Bcd: {
        if ((static_cast<unsigned char>(p[0]) & 0x40) == 0)
            return {};
        return decodeBcd(p, field.size);
    }
    case FieldType::Bytes: {
        if (allZero(p, field.size))
            return {};
        return QByteArray(p, field.size);
    }
    case FieldType::Memo:
    case FieldType::Blob:
    case FieldType::FormattedMemo:
    case FieldType::Ole:
    case FieldType::Graphic:
        return {};
    }
    return {};
}

} // namespace format

Field::Field(QString name_, FieldType type_, int size_)
    : name(std::move(name_)), type(type_), size(size_)
{
    if (size == 0) {
        switch (type) {
        case FieldType::Short:
            size = 2;
            break;
        case FieldType::Logical:
            size = 1;
            break;
        case FieldType::Date:
        case FieldType::Long:
        case FieldType::Time:
        case FieldType::AutoInc:
            size = 4;
            break;
        case FieldType::Money:
        case FieldType::Number:
        case FieldType::Timestamp:
            size = 8;
            break;
        default:
            break;
        }
    }
}

int Field::storedSize() const
{
    return format::storedSizeOf(static_cast<int>(type), size).value_or(0);
}

bool Field::hasReadableValues() const
{
    switch (type) {
    case FieldType::Memo:
    case FieldType::Blob:
    case FieldType::FormattedMemo:
    case FieldType::Ole:
    case FieldType::Graphic:
        return false;
    default:
        return true;
    }
}

bool Field::isWritable() const
{
    return hasReadableValues() && type != FieldType::Bcd;
}

int Schema::indexOf(const QString &name) const
{
    for (size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

QString typeName(FieldType type)
{
    switch (type) {
    case FieldType::Alpha:
        return QStringLiteral("Alpha");
    case FieldType::Date:
        return QStringLiteral("Date");
    case FieldType::Short:
        return QStringLiteral("Short");
    case FieldType::Long:
        return QStringLiteral("Long");
    case FieldType::Money:
        return QStringLiteral("Money");
    case FieldType::Number:
        return QStringLiteral("Number");
    case FieldType::Logical:
        return QStringLiteral("Logical");
    case FieldType::Memo:
        return QStringLiteral("Memo");
    case FieldType::Blob:
        return QStringLiteral("Blob");
    case FieldType::FormattedMemo:
        return QStringLiteral("FormattedMemo");
    case FieldType::Ole:
        return QStringLiteral("OLE");
    case FieldType::Graphic:
        return QStringLiteral("Graphic");
    case FieldType::Time:
        return QStringLiteral("Time");
    case FieldType::Timestamp:
        return QStringLiteral("Timestamp");
    case FieldType::AutoInc:
        return QStringLiteral("AutoInc");
    case FieldType::Bcd:
        return QStringLiteral("BCD");
    case FieldType::Bytes:
        return QStringLiteral("Bytes");
    }
    return QStringLiteral("0x%1").arg(static_cast<int>(type), 2, 16, QLatin1Char('0'));
}

QString primaryIndexPath(const QString &tablePath)
{
    const QFileInfo info(tablePath);
    const QDir dir = info.dir();
    const QString base = info.completeBaseName();
    const QString upper = dir.filePath(base + QStringLiteral(".PX"));
    const QString lower = dir.filePath(base + QStringLiteral(".px"));
    if (QFileInfo::exists(upper))
        return upper;
    if (QFileInfo::exists(lower))
        return lower;
    const QString suffix = info.suffix();
    const bool lowerCase = !suffix.isEmpty() && suffix == suffix.toLower();
    return lowerCase ? lower : upper;
}

} // namespace paradox
