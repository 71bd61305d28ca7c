#include "engine/textfold.h"

#include "core/errors.h"
#include "engine/statement.h"

#include <QSqlDriver>
#include <QString>
#include <QVariant>
#include <sqlite3.h>
#include <string>

namespace engine {

namespace {

QString argText(sqlite3_value *v)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(v));
    return QString::fromUtf8(text, sqlite3_value_bytes(v));
}

void resultText(sqlite3_context *ctx, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_result_text(ctx, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
}

// The upper case of UTF-8 text made of ASCII, the Cyrillic letters U+0400..U+045F and marks
// without case (Latin-1 punctuation but the micro sign, general punctuation, "№"), byte for byte
// into out, which has room for size bytes: each of these keeps its length in upper case. False
// at any other character, for which Qt's case mapping is asked. A synchronisation with ЕСВС
// upper-cases ten columns of every hospital, and the mapping through QString costs several
// times the rest of reading a row.
bool upperCommonUtf8(const unsigned char *text, int size, unsigned char *out)
{
    for (int i = 0; i < size; ++i) {
        const unsigned char c = text[i];
        if (c < 0x80) {
            out[i] = c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 0x20) : c;
            continue;
        }
        const unsigned char d = i + 1 < size ? text[i + 1] : 0;
        if (c == 0xD0 && d >= 0x80 && d <= 0xBF) { // U+0400..U+043F, а..п from U+0430
            out[i] = c;
            out[i + 1] = d >= 0xB0 ? static_cast<unsigned char>(d - 0x20) : d;
        } else if (c == 0xD1 && d >= 0x80 && d <= 0x8F) { // р..я, U+0440..U+044F
            out[i] = 0xD0;
            out[i + 1] = static_cast<unsigned char>(d + 0x20);
        } else if (c == 0xD1 && d >= 0x90 && d <= 0x9F) { // ѐ..џ, U+0450..U+045F
            out[i] = 0xD0;
            out[i + 1] = static_cast<unsigned char>(d - 0x10);
        } else if (c == 0xC2 && d >= 0xA0 && d <= 0xBF && d != 0xB5) { // « » and the like
            out[i] = c;
            out[i + 1] = d;
        } else {
            const unsigned char e = i + 2 < size ? text[i + 2] : 0;
            const bool punctuation = c == 0xE2 && ((d == 0x80 && e >= 0x80 && e <= 0xBF) ||
                                                   (d == 0x81 && e >= 0x80 && e <= 0xAF));
            const bool numero = c == 0xE2 && d == 0x84 && e == 0x96;
            if (!punctuation && !numero)
                return false;
            out[i] = c;
            out[i + 1] = d;
            out[i + 2] = e;
            ++i;
        }
        ++i;
    }
    return true;
}

void upperFn(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto *text = sqlite3_value_text(argv[0]);
    const int size = sqlite3_value_bytes(argv[0]);
    auto *upper = static_cast<unsigned char *>(sqlite3_malloc(size + 1));
    if (!upper) {
        sqlite3_result_error_nomem(ctx);
        return;
    }
    if (text && upperCommonUtf8(text, size, upper)) {
        sqlite3_result_text(ctx, reinterpret_cast<const char *>(upper), size, sqlite3_free);
        return;
    }
    sqlite3_free(upper);
    resultText(ctx, argText(argv[0]).toUpper());
}

void lowerFn(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    resultText(ctx, argText(argv[0]).toLower());
}

// LIKE with "%" and "_" over code points, case-sensitive as on PostgreSQL (callers fold both
// sides with UPPER() for a case-insensitive match); escape 0 means none.
bool likeMatch(const std::u32string &pattern, const std::u32string &text, char32_t escape)
{
    size_t p = 0, t = 0;
    size_t starP = std::u32string::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size()) {
            char32_t pc = pattern[p];
            if (escape && pc == escape && p + 1 < pattern.size()) {
                if (pattern[p + 1] == text[t]) {
                    p += 2;
                    ++t;
                    continue;
                }
            } else if (pc == U'%') {
                starP = p++;
                starT = t;
                continue;
            } else if (pc == U'_' || pc == text[t]) {
                ++p;
                ++t;
                continue;
            }
        }
        if (starP == std::u32string::npos)
            return false;
        p = starP + 1;
        t = ++starT;
    }
    while (p < pattern.size() && pattern[p] == U'%')
        ++p;
    return p == pattern.size();
}

std::u32string toU32(const QString &s)
{
    const QList<uint> ucs = s.toUcs4();
    return std::u32string(ucs.begin(), ucs.end());
}

void likeFn(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    for (int i = 0; i < argc; ++i)
        if (sqlite3_value_type(argv[i]) == SQLITE_NULL) {
            sqlite3_result_null(ctx);
            return;
        }
    char32_t escape = 0;
    if (argc == 3) {
        const std::u32string esc = toU32(argText(argv[2]));
        if (esc.size() != 1) {
            sqlite3_result_error(ctx, "ESCAPE expression must be a single character", -1);
            return;
        }
        escape = esc[0];
    }
    sqlite3_result_int(ctx,
                       likeMatch(toU32(argText(argv[0])), toU32(argText(argv[1])), escape) ? 1 : 0);
}

int nocaseRu(void *, int lenA, const void *a, int lenB, const void *b)
{
    const QString sa = QString::fromUtf8(static_cast<const char *>(a), lenA).toUpper();
    const QString sb = QString::fromUtf8(static_cast<const char *>(b), lenB).toUpper();
    return sa.compare(sb);
}

} // namespace

void RegisterSqliteTextFolding(const QSqlDatabase &db)
{
    sqlite3 *h = SqliteHandle(db);
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    int rc = sqlite3_create_function_v2(h, "upper", 1, flags, nullptr, upperFn, nullptr, nullptr,
                                        nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_create_function_v2(h, "lower", 1, flags, nullptr, lowerFn, nullptr, nullptr,
                                        nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_create_function_v2(h, "like", 2, flags, nullptr, likeFn, nullptr, nullptr,
                                        nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_create_function_v2(h, "like", 3, flags, nullptr, likeFn, nullptr, nullptr,
                                        nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_create_collation_v2(h, "NOCASE_RU", SQLITE_UTF8, nullptr, nocaseRu, nullptr);
    if (rc != SQLITE_OK)
        throw EDBEngineError(QString::fromUtf8(sqlite3_errmsg(h)));
}

} // namespace engine
