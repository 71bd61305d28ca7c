#pragma once

#include "engine/fieldtypes.h"

#include <QList>
#include <QString>
#include <QVariant>

namespace engine {

// A dataset row filter in the text form the system writes: conditions joined by " AND ", each
//   Column = 'text' | Column = 12.5 | Column = 'prefix*' | Column IS NULL | Column IS NOT NULL
// (blanks around "=" optional; '' inside quotes stands for one quote). The values stay values:
// a backend binds them as parameters and never splices them into SQL.
struct TFilterCondition
{
    enum Kind
    {
        Equal,
        Prefix,
        IsNull,
        NotNull
    };
    QString Field;
    Kind Op = Equal;
    QVariant Value; // text or number; for Prefix the text before "*"
};

class TRowFilter
{
public:
    TRowFilter() = default;

    // Throws EDatabaseError "Ошибка в выражении фильтра: ..." for text outside the grammar.
    // partialCompare false: a trailing "*" is an ordinary character.
    static TRowFilter Parse(const QString &text, bool caseInsensitive, bool partialCompare = true);

    bool IsEmpty() const { return Conditions.isEmpty(); }

    // Column positions of the conditions in the given column list; throws EDBEngineError
    // "Поле 'X' не найдено" for a column the dataset lacks.
    QList<int> Resolve(const QList<TColumn> &columns) const;

    // Evaluates the filter on a row (the values at the positions Resolve returned). Text compares
    // fold case (Cyrillic included) when CaseInsensitive; a condition on a number column compares
    // numerically.
    bool Matches(const QList<TColumn> &columns, const QList<int> &resolved,
                 const QVariantList &row) const;

    QList<TFilterCondition> Conditions;
    bool CaseInsensitive = false;
};

// Case folding used for every case-insensitive comparison of the engine (QString::toUpper, so
// "ёлка" and "ЁЛКА" fold alike).
QString FoldCase(const QString &text);

// Equality of two field values as locate and look-up see it: Null equals only Null; numbers
// compare numerically; date-times by value; text exactly or, with caseInsensitive, folded.
bool ValuesEqual(const QVariant &a, const QVariant &b, bool caseInsensitive);

} // namespace engine
