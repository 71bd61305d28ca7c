#include "engine/folder/createtable.h"

#include "core/errors.h"
#include "engine/folder/sqltokens.h"

#include <QStringList>

namespace engine {

namespace {

[[noreturn]] void syntaxError(const QString &what)
{
    throw EDBEngineError(QStringLiteral("Ошибка в операторе CREATE TABLE: %1").arg(what));
}

paradox::Field parseType(const QString &column, const QList<TSqlToken> &tokens, qsizetype &i)
{
    const QString type = UpperWord(tokens, i);
    if (type.isEmpty())
        syntaxError(QStringLiteral("не указан тип поля %1").arg(column));
    ++i;
    const auto sizeArgument = [&]() -> int {
        if (i >= tokens.size() || tokens[i].text != QLatin1String("("))
            return -1;
        bool ok = false;
        const int n = i + 1 < tokens.size() ? tokens[i + 1].text.toInt(&ok) : 0;
        if (!ok)
            syntaxError(QStringLiteral("неверный размер поля %1").arg(column));
        i += 2;
        while (i < tokens.size() && tokens[i].text != QLatin1String(")"))
            ++i; // a scale such as NUMERIC(10,2) does not matter to Paradox
        if (i >= tokens.size())
            syntaxError(QStringLiteral("не закрыта скобка после типа поля %1").arg(column));
        ++i;
        return n;
    };
    using FT = paradox::FieldType;
    if (type == QLatin1String("INTEGER") || type == QLatin1String("INT") ||
        type == QLatin1String("LONG"))
        return {column, FT::Long};
    if (type == QLatin1String("SMALLINT") || type == QLatin1String("SHORT"))
        return {column, FT::Short};
    if (type == QLatin1String("AUTOINC"))
        return {column, FT::AutoInc};
    if (type == QLatin1String("FLOAT") || type == QLatin1String("REAL") ||
        type == QLatin1String("NUMERIC") || type == QLatin1String("DECIMAL") ||
        type == QLatin1String("NUMBER")) {
        sizeArgument();
        return {column, FT::Number};
    }
    if (type == QLatin1String("DOUBLE")) {
        if (UpperWord(tokens, i) == QLatin1String("PRECISION"))
            ++i;
        return {column, FT::Number};
    }
    if (type == QLatin1String("MONEY"))
        return {column, FT::Money};
    if (type == QLatin1String("BOOLEAN") || type == QLatin1String("LOGICAL"))
        return {column, FT::Logical};
    if (type == QLatin1String("DATE"))
        return {column, FT::Date};
    if (type == QLatin1String("TIME"))
        return {column, FT::Time};
    if (type == QLatin1String("TIMESTAMP"))
        return {column, FT::Timestamp};
    if (type == QLatin1String("CHAR") || type == QLatin1String("VARCHAR") ||
        type == QLatin1String("CHARACTER")) {
        if (UpperWord(tokens, i) == QLatin1String("VARYING"))
            ++i;
        const int size = sizeArgument();
        if (size < 1 || size > 255)
            syntaxError(
                QStringLiteral("размер текстового поля %1 должен быть от 1 до 255").arg(column));
        return {column, FT::Alpha, size};
    }
    syntaxError(QStringLiteral("неизвестный тип %1 поля %2").arg(type, column));
}

QStringList parseNameList(const QList<TSqlToken> &tokens, qsizetype &i)
{
    if (i >= tokens.size() || tokens[i].text != QLatin1String("("))
        syntaxError(QStringLiteral("ожидается список полей в скобках"));
    ++i;
    QStringList names;
    while (i < tokens.size()) {
        if (tokens[i].kind != TSqlToken::Word && tokens[i].kind != TSqlToken::Quoted)
            syntaxError(QStringLiteral("ожидается имя поля"));
        names << tokens[i].text;
        ++i;
        if (i < tokens.size() && tokens[i].text == QLatin1String(",")) {
            ++i;
            continue;
        }
        if (i < tokens.size() && tokens[i].text == QLatin1String(")")) {
            ++i;
            return names;
        }
        break;
    }
    syntaxError(QStringLiteral("не закрыт список полей"));
}

} // namespace

std::optional<TCreateTable> ParseCreateTable(const QString &sql)
{
    const QList<TSqlToken> tokens = Tokenize(sql);
    if (UpperWord(tokens, 0) != QLatin1String("CREATE") ||
        UpperWord(tokens, 1) != QLatin1String("TABLE"))
        return std::nullopt;
    qsizetype i = 2;
    if (i >= tokens.size() ||
        (tokens[i].kind != TSqlToken::Word && tokens[i].kind != TSqlToken::Quoted))
        syntaxError(QStringLiteral("не указано имя таблицы"));
    TCreateTable result;
    result.TableName = tokens[i].text;
    if (result.TableName.endsWith(QLatin1String(".db"), Qt::CaseInsensitive))
        result.TableName.chop(3);
    ++i;
    if (i >= tokens.size() || tokens[i].text != QLatin1String("("))
        syntaxError(QStringLiteral("ожидается список полей таблицы %1").arg(result.TableName));
    ++i;
    QStringList keyNames;
    bool closed = false;
    while (i < tokens.size()) {
        if (UpperWord(tokens, i) == QLatin1String("PRIMARY") &&
            UpperWord(tokens, i + 1) == QLatin1String("KEY")) {
            i += 2;
            if (!keyNames.isEmpty())
                syntaxError(QStringLiteral("первичный ключ указан дважды"));
            keyNames = parseNameList(tokens, i);
        } else if (UpperWord(tokens, i) == QLatin1String("CONSTRAINT")) {
            syntaxError(QStringLiteral("ограничения CONSTRAINT не поддерживаются"));
        } else {
            if (tokens[i].kind != TSqlToken::Word && tokens[i].kind != TSqlToken::Quoted)
                syntaxError(QStringLiteral("ожидается имя поля"));
            const QString column = tokens[i].text;
            ++i;
            if (result.Schema.indexOf(column) >= 0)
                syntaxError(QStringLiteral("поле %1 указано дважды").arg(column));
            result.Schema.fields.push_back(parseType(column, tokens, i));
            // Column constraints that Paradox can keep: NOT NULL is implied for key fields and
            // not kept otherwise; PRIMARY KEY on a column makes it the key.
            while (true) {
                if (UpperWord(tokens, i) == QLatin1String("NOT") &&
                    UpperWord(tokens, i + 1) == QLatin1String("NULL")) {
                    i += 2;
                } else if (UpperWord(tokens, i) == QLatin1String("PRIMARY") &&
                           UpperWord(tokens, i + 1) == QLatin1String("KEY")) {
                    i += 2;
                    if (!keyNames.isEmpty())
                        syntaxError(QStringLiteral("первичный ключ указан дважды"));
                    keyNames << column;
                } else {
                    break;
                }
            }
        }
        if (i < tokens.size() && tokens[i].text == QLatin1String(",")) {
            ++i;
            continue;
        }
        if (i < tokens.size() && tokens[i].text == QLatin1String(")")) {
            ++i;
            closed = true;
            break;
        }
        if (i >= tokens.size())
            break;
        syntaxError(QStringLiteral("ожидается \",\" или \")\" после %1")
                        .arg(i < tokens.size() ? tokens[i].text : QStringLiteral("конца текста")));
    }
    if (!closed)
        syntaxError(QStringLiteral("не закрыт список полей таблицы %1").arg(result.TableName));
    while (i < tokens.size() && tokens[i].text == QLatin1String(";"))
        ++i;
    if (i < tokens.size())
        syntaxError(QStringLiteral("лишний текст после описания таблицы: %1").arg(tokens[i].text));
    if (result.Schema.fields.empty())
        syntaxError(QStringLiteral("у таблицы %1 нет полей").arg(result.TableName));
    for (qsizetype k = 0; k < keyNames.size(); ++k) {
        const int at = result.Schema.indexOf(keyNames[k]);
        if (at < 0)
            syntaxError(QStringLiteral("ключевое поле %1 не описано").arg(keyNames[k]));
        if (at != k)
            syntaxError(QStringLiteral("ключевые поля таблицы %1 должны идти первыми и в порядке "
                                       "ключа")
                            .arg(result.TableName));
    }
    result.Schema.keyFieldCount = static_cast<int>(keyNames.size());
    return result;
}

} // namespace engine
