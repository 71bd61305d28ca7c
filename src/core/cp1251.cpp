#include "core/cp1251.h"

#include <array>
#include <iconv.h>

namespace {

// iconv is the converter; its results are cached in two tables at first use, since cp1251 is a
// single-byte code and a table lookup is both faster and free of per-call iconv state.
struct Tables
{
    std::array<char16_t, 256> toUnicode{};
    // Unicode BMP -> cp1251 byte; 0 means "no form" (NUL itself maps to NUL separately).
    std::array<unsigned char, 0x10000> fromUnicode{};

    Tables()
    {
        const auto decoded = cp1251::singleByteTable("CP1251");
        for (int b = 0; b < 256; ++b) {
            const char16_t cu = decoded ? (*decoded)[static_cast<size_t>(b)] : u'\uFFFD';
            toUnicode[static_cast<size_t>(b)] = cu;
            if (b != 0 && cu != u'\uFFFD')
                fromUnicode[cu] = static_cast<unsigned char>(b);
        }
    }
};

} // namespace

namespace cp1251 {

std::optional<std::array<char16_t, 256>> singleByteTable(const char *iconvName)
{
    iconv_t cd = iconv_open("UTF-16LE", iconvName);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::array<char16_t, 256> table{};
    for (int b = 0; b < 256; ++b) {
        char in = static_cast<char>(b);
        char out[4] = {};
        char *inp = &in;
        char *outp = out;
        size_t inLeft = 1;
        size_t outLeft = sizeof out;
        char16_t cu = u'\uFFFD';
        // Exactly one UTF-16 unit, or the byte has no character here.
        if (iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<size_t>(-1) && outLeft == 2)
            cu = static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                       (static_cast<unsigned char>(out[1]) << 8));
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        table[static_cast<size_t>(b)] = cu;
    }
    iconv_close(cd);
    return table;
}

} // namespace cp1251

namespace {

const Tables &tables()
{
    static const Tables t;
    return t;
}

} // namespace

namespace cp1251 {

std::optional<QByteArray> encodeStrict(const QString &text)
{
    const Tables &t = tables();
    QByteArray out(text.size(), Qt::Uninitialized);
    char *dst = out.data();
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const unsigned char b = t.fromUnicode[u];
        if (b == 0 && u != 0)
            return std::nullopt;
        *dst++ = static_cast<char>(b);
    }
    return out;
}

bool canEncode(const QString &text)
{
    const Tables &t = tables();
    for (const QChar c : text)
        if (t.fromUnicode[c.unicode()] == 0 && c.unicode() != 0)
            return false;
    return true;
}

QByteArray encode(const QString &text)
{
    const Tables &t = tables();
    QByteArray out(text.size(), Qt::Uninitialized);
    char *dst = out.data();
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const unsigned char b = t.fromUnicode[u];
        *dst++ = b == 0 && u != 0 ? '?' : static_cast<char>(b);
    }
    return out;
}

QString decode(const char *data, qsizetype size)
{
    const Tables &t = tables();
    QString out;
    out.resize(size);
    QChar *dst = out.data();
    for (qsizetype i = 0; i < size; ++i)
        dst[i] = QChar(t.toUnicode[static_cast<unsigned char>(data[i])]);
    return out;
}

QString decode(const QByteArray &bytes)
{
    return decode(bytes.constData(), bytes.size());
}

} // namespace cp1251
