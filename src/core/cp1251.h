#pragma once

#include <QByteArray>
#include <QString>
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

// Every byte has a meaning in cp1251 except 0x98, which decodes to U+FFFD.
QString decode(const QByteArray &bytes);
QString decode(const char *data, qsizetype size);

} // namespace cp1251
