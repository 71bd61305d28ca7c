#include "engine/folder/sqltokens.h"

namespace engine {

namespace {

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$') ||
           c == QLatin1Char('#') || c == QLatin1Char('.');
}

} // namespace

QList<TSqlToken> Tokenize(const QString &sql)
{
    QList<TSqlToken> tokens;
    const qsizetype n = sql.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = sql.at(i);
        const QChar next = i + 1 < n ? sql.at(i + 1) : QChar();
        if (c.isSpace()) {
            ++i;
        } else if (c == QLatin1Char('-') && next == QLatin1Char('-')) {
            while (i < n && sql.at(i) != QLatin1Char('\n'))
                ++i;
        } else if (c == QLatin1Char('/') && next == QLatin1Char('*')) {
            const qsizetype close = sql.indexOf(QLatin1String("*/"), i + 2);
            i = close < 0 ? n : close + 2;
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            QString text;
            ++i;
            while (i < n) {
                if (sql.at(i) == c) {
                    if (i + 1 < n && sql.at(i + 1) == c) {
                        text += c;
                        i += 2;
                        continue;
                    }
                    break;
                }
                text += sql.at(i++);
            }
            ++i;
            tokens.append({c == QLatin1Char('"') ? TSqlToken::Quoted : TSqlToken::Literal, text});
        } else if (isWordChar(c)) {
            const qsizetype start = i;
            while (i < n && isWordChar(sql.at(i)))
                ++i;
            tokens.append({TSqlToken::Word, sql.mid(start, i - start)});
        } else {
            tokens.append({TSqlToken::Punct, QString(c)});
            ++i;
        }
    }
    return tokens;
}

QString UpperWord(const QList<TSqlToken> &tokens, qsizetype i)
{
    if (i < tokens.size() && tokens[i].kind == TSqlToken::Word)
        return tokens[i].text.toUpper();
    return {};
}

} // namespace engine
