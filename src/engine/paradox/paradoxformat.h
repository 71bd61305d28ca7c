#pragma once

// Byte-level facts of the Paradox file format shared by the reader and the writer. Internal to
// the module: callers use paradoxtable.h.

#include "engine/paradox/paradoxtable.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <cstring>
#include <optional>

namespace paradox::format {

inline constexpr int kFixedHeader = 0x58;    // fixed part of every header
inline constexpr int kExtendedHeader = 0x78; // .db of version 5 and later
inline constexpr int kBlockHeader = 6;       // next, prev, offset of the last record
inline constexpr int kVersion7 = 12;
inline constexpr int kMaxFields = 255;
inline constexpr int kMaxKeyFields = 16;
inline constexpr int kMaxFieldNameLength = 25;
inline constexpr int kMaxBlocks = 0xFFFF;
inline constexpr int kMaxIndexLevels = 16;
inline constexpr int kTableNameLength7 = 261; // version 12
inline constexpr int kTableNameLengthOld = 79;
inline constexpr int kBcdStoredSize = 17;
inline constexpr int kFileTypeKeyed = 0;
inline constexpr int kFileTypeIndex = 1;
inline constexpr int kFileTypeUnkeyed = 2;

// Milliseconds per day and the Julian day of 0001-01-01, which Paradox numbers 1.
inline constexpr qint64 kMsPerDay = 86'400'000;
inline constexpr qint64 kJulianDayOfDay1 = 1'721'426;

// "Pdox ANSI Cyrillic".
inline constexpr std::uint8_t kSortOrderAnsiCyrillic = 0x8F;
inline constexpr int kCodePageCyrillic = 1251;
inline constexpr char kSortNameAnsiCyrillic[] = "ancyrr";

inline std::uint16_t getU16(const char *p)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return static_cast<std::uint16_t>(u[0] | (u[1] << 8));
}
inline std::int16_t getS16(const char *p)
{
    return static_cast<std::int16_t>(getU16(p));
}
inline std::uint32_t getU32(const char *p)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return static_cast<std::uint32_t>(u[0]) | (static_cast<std::uint32_t>(u[1]) << 8) |
           (static_cast<std::uint32_t>(u[2]) << 16) | (static_cast<std::uint32_t>(u[3]) << 24);
}
inline void putU16(char *p, std::uint32_t v)
{
    p[0] = static_cast<char>(v & 0xFF);
    p[1] = static_cast<char>((v >> 8) & 0xFF);
}
inline void putU32(char *p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Big-endian unsigned of n bytes (n <= 8).
inline std::uint64_t getBE(const char *p, int n)
{
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | static_cast<unsigned char>(p[i]);
    return v;
}
inline void putBE(char *p, int n, std::uint64_t v)
{
    for (int i = n - 1; i >= 0; --i) {
        p[i] = static_cast<char>(v & 0xFF);
        v >>= 8;
    }
}

// Integers (short, long, autoinc, date, time): big-endian two's complement with the top bit
// inverted; all zero is Null, so the minimum value of the type cannot be stored.
inline std::optional<qint64> decodeInteger(const char *p, int n)
{
    const std::uint64_t raw = getBE(p, n);
    if (raw == 0)
        return std::nullopt;
    const int bits = 8 * n;
    const std::uint64_t flipped = raw ^ (std::uint64_t{1} << (bits - 1));
    // Sign-extend from `bits`.
    const std::uint64_t sign = std::uint64_t{1} << (bits - 1);
    return static_cast<qint64>((flipped ^ sign)) - static_cast<qint64>(sign);
}
inline void encodeInteger(char *p, int n, qint64 value)
{
    const int bits = 8 * n;
    const std::uint64_t mask = bits == 64 ? ~std::uint64_t{0} : ((std::uint64_t{1} << bits) - 1);
    const std::uint64_t raw =
        (static_cast<std::uint64_t>(value) & mask) ^ (std::uint64_t{1} << (bits - 1));
    putBE(p, n, raw);
}

// Doubles (number, money, timestamp): big-endian IEEE-754; non-negative values have the sign
// bit set, negative ones are stored with every bit inverted; all zero is Null.
inline std::optional<double> decodeDouble(const char *p)
{
    std::uint64_t raw = getBE(p, 8);
    if (raw == 0)
        return std::nullopt;
    if (raw & (std::uint64_t{1} << 63))
        raw &= ~(std::uint64_t{1} << 63);
    else
        raw = ~raw;
    double v;
    std::memcpy(&v, &raw, sizeof v);
    return v;
}
inline void encodeDouble(char *p, double value)
{
    std::uint64_t raw;
    std::memcpy(&raw, &value, sizeof raw);
    if (raw & (std::uint64_t{1} << 63))
        raw = ~raw;
    else
        raw |= std::uint64_t{1} << 63;
    putBE(p, 8, raw);
}

// Legal size byte for a type, and the bytes a field of that type takes in a record; nullopt for
// an unknown type code or an illegal size.
std::optional<int> storedSizeOf(int typeCode, int sizeByte);
bool isKnownType(int typeCode);

// Decoder of single-byte text in a table's code page. Code page 1251 goes through the program's
// cp1251 module; other single-byte code pages come from the system's iconv tables. Without a
// table (unknown or multi-byte code page) only ASCII text can be decoded.
class TextDecoder
{
public:
    explicit TextDecoder(int codePage);
    // Nullopt when a byte has no known meaning in the code page.
    std::optional<QString> decode(const char *data, qsizetype size) const;
    int codePage() const { return m_codePage; }

private:
    int m_codePage;
    const char16_t *m_table = nullptr; // 256 entries, 0xFFFF = unknown
    bool m_cp1251 = false;
};

// Value of one field of a record (p points at the field). On a value that cannot be decoded the
// result is Null and problem says why (in Russian, naming the field).
QVariant decodeValue(const Field &field, const char *p, const TextDecoder &decoder,
                     QString &problem);

// Julian day <-> Paradox day number.
inline QDate dateFromDayNumber(qint64 day)
{
    return QDate::fromJulianDay(kJulianDayOfDay1 + day - 1);
}

} // namespace paradox::format
