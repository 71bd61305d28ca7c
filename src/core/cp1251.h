#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>

// The one place where text crosses between the program (UTF-8 / QString) and the files of the
// system kept in Windows code page 1251: the ini file, log.txt, comment.txt, .sql scripts and
// Paradox alpha fields.
namespace cp1251 {

// Characters without a cp1251 form become '?'.
QByteArray encode(const QString &text);

// Nullopt when some character has no cp1251 form; used where silently changing a value would
// corrupt data.
std::optional<QByteArray> encodeStrict(const QString &text);
// Whether encodeStrict() would succeed, without making the bytes.
bool canEncode(const QString &text);

// Every byte has a meaning in cp1251 except 0x98, which decodes to U+FFFD.
QString decode(const QByteArray &bytes);
QString decode(const char *data, qsizetype size);

// Decoding table of any single-byte code page that iconv knows (e.g. "CP866"): the UTF-16 unit
// of every byte, U+FFFD where the code page assigns none; nullopt when iconv does not know it.
// The one place where code-page tables are built; cp1251 itself is built with it.
std::optional<std::array<char16_t, 256>> singleByteTable(const char *iconvName);

} // namespace cp1251
