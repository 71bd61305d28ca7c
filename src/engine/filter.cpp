#include "engine/filter.h"

#include "core/errors.h"

#include <QDateTime>

namespace engine {

namespace {

[[noreturn]] void syntaxError(const QString &text)
{
    throw EDatabaseError(QStringLiteral("Ошибка в выражении фильтра: %1").arg(text));
}

// Splits at " AND " (any letter case) outside quoted text.
QStringList splitClauses(const QString &text)
{
    QStringList clauses;
    QString current;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
        } else if (!quoted && c == QLatin1Char(' ') &&
                   text.mid(i, 5).compare(QLatin1String(" AND "), Qt::CaseInsensitive) == 0) {
            clauses << current;
            current.clear();
            i += 4;
            continue;
        }
        current += c;
    }
    clauses << current;
    return clauses;
}

bool isNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('.');
}

TFilterCondition parseClause(const QString &clauseText, bool partialCompare)
{
    const QString clause = clauseText.trimmed();
    qsizetype i = 0;
    while (i < clause.size() && isNameChar(clause.at(i)))
        ++i;
    if (i == 0)
        syntaxError(clauseText);
    TFilterCondition cond;
    cond.Field = clause.left(i);
    if (cond.Field.contains(QLatin1Char('.')))
        cond.Field = cond.Field.section(QLatin1Char('.'), -1);
    const QString rest = clause.mid(i).trimmed();
    const QString restWords = rest.simplified().toUpper();
    if (restWords == QLatin1String("IS NULL")) {
        cond.Op = TFilterCondition::IsNull;
        return cond;
    }
    if (restWords == QLatin1String("IS NOT NULL")) {
        cond.Op = TFilterCondition::NotNull;
        return cond;
    }
    if (!rest.startsWith(QLatin1Char('=')))
        syntaxError(clauseText);
    const QString value = rest.mid(1).trimmed();
    if (value.size() >= 2 && value.startsWith(QLatin1Char('\'')) &&
        value.endsWith(QLatin1Char('\''))) {
        QString text;
        const QString body = value.mid(1, value.size() - 2);
        for (qsizetype k = 0; k < body.size(); ++k) {
            if (body.at(k) == QLatin1Char('\'')) {
                if (k + 1 < body.size() && body.at(k + 1) == QLatin1Char('\''))
                    ++k;
                else
                    syntaxError(clauseText);
            }
            text += body.at(k);
        }
        if (partialCompare && text.endsWith(QLatin1Char('*'))) {
            cond.Op = TFilterCondition::Prefix;
            text.chop(1);
        }
        cond.Value = text;
        return cond;
    }
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok)
        syntaxError(clauseText);
    cond.Value = number;
    return cond;
}

} // namespace

QString FoldCase(const QString &text)
{
    return text.toUpper();
}

TRowFilter TRowFilter::Parse(const QString &text, bool caseInsensitive, bool partialCompare)
{
    TRowFilter filter;
    filter.CaseInsensitive = caseInsensitive;
    if (text.trimmed().isEmpty())
        return filter;
    for (const QString &clause : splitClauses(text))
        filter.Conditions << parseClause(clause, partialCompare);
    return filter;
}

QList<int> TRowFilter::Resolve(const QList<TColumn> &columns) const
{
    QList<int> result;
    for (const TFilterCondition &c : Conditions) {
        const int found = engine::ColumnIndex(columns, c.Field);
        if (found < 0)
            throw EDBEngineError(QStringLiteral("Поле '%1' не найдено").arg(c.Field));
        result << found;
    }
    return result;
}

bool ValuesEqual(const QVariant &a, const QVariant &b, bool caseInsensitive)
{
    const bool an = IsNullValue(a), bn = IsNullValue(b);
    if (an || bn)
        return an && bn;
    const int at = a.typeId(), bt = b.typeId();
    const bool aText = at == QMetaType::QString, bText = bt == QMetaType::QString;
    if (aText && bText) {
        if (caseInsensitive)
            return FoldCase(a.toString()) == FoldCase(b.toString());
        return a.toString() == b.toString();
    }
    const bool aDate = at == QMetaType::QDateTime || at == QMetaType::QDate;
    const bool bDate = bt == QMetaType::QDateTime || bt == QMetaType::QDate;
    if (aDate || bDate) {
        const QDateTime da = at == QMetaType::QDate ? a.toDate().startOfDay() : a.toDateTime();
        const QDateTime db = bt == QMetaType::QDate ? b.toDate().startOfDay() : b.toDateTime();
        if (aDate && bDate)
            return da == db;
        const QVariant &text = aDate ? b : a;
        const QDateTime &date = aDate ? da : db;
        try {
            return ConvertValue(text, TFieldType::ftDateTime, 0, QString()).toDateTime() == date;
        } catch (const Exception &) {
            return false;
        }
    }
    bool okA = false, okB = false;
    double da = 0, db = 0;
    if (at == QMetaType::Bool)
        da = a.toBool() ? 1 : 0, okA = true;
    else
        da = aText ? a.toString().trimmed().toDouble(&okA) : a.toDouble(&okA);
    if (bt == QMetaType::Bool)
        db = b.toBool() ? 1 : 0, okB = true;
    else
        db = bText ? b.toString().trimmed().toDouble(&okB) : b.toDouble(&okB);
    if (okA && okB)
        return da == db;
    if (caseInsensitive)
        return FoldCase(a.toString()) == FoldCase(b.toString());
    return a.toString() == b.toString();
}

bool TRowFilter::Matches(const QList<TColumn> &columns, const QList<int> &resolved,
                         const QVariantList &row) const
{
    for (int i = 0; i < Conditions.size(); ++i) {
        const TFilterCondition &c = Conditions.at(i);
        const int col = resolved.at(i);
        const QVariant v = col < row.size() ? row.at(col) : QVariant();
        switch (c.Op) {
        case TFilterCondition::IsNull:
            if (!IsNullValue(v))
                return false;
            break;
        case TFilterCondition::NotNull:
            if (IsNullValue(v))
                return false;
            break;
        case TFilterCondition::Prefix: {
            if (IsNullValue(v))
                return false;
            QString text = v.toString();
            QString prefix = c.Value.toString();
            if (CaseInsensitive) {
                text = FoldCase(text);
                prefix = FoldCase(prefix);
            }
            if (!text.startsWith(prefix))
                return false;
            break;
        }
        case TFilterCondition::Equal: {
            if (IsNullValue(v))
                return false;
            QVariant wanted = c.Value;
            const TColumn &column = columns.at(col);
            if (!IsTextType(column.DataType) && column.DataType != TFieldType::ftUnknown) {
                try {
                    wanted = ConvertValue(wanted, column.DataType, column.Size, column.Name);
                } catch (const Exception &) {
                    return false;
                }
            } else {
                wanted = wanted.toString();
            }
            if (!ValuesEqual(v, wanted, CaseInsensitive))
                return false;
            break;
        }
        }
    }
    return true;
}

} // namespace engine
