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

void upperFn(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
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
