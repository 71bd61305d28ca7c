#pragma once

#include <QList>
#include <QString>

namespace engine {

// Tokens of an SQL text, enough to find table names and parse CREATE TABLE: words (letters,
// digits, "_", "$", "#", "."), double-quoted names, single-quoted literals (kept apart) and
// single punctuation characters. Comments are skipped.
struct TSqlToken
{
    enum Kind
    {
        Word,
        Quoted,
        Literal,
        Punct
    };
    Kind kind;
    QString text;
};

QList<TSqlToken> Tokenize(const QString &sql);
// The word at i in upper case; empty when the token there is no word (or there is none).
QString UpperWord(const QList<TSqlToken> &tokens, qsizetype i);

} // namespace engine
