#pragma once

// PostgreSQL array texts ("{1,2,3}", "{\"a\",NULL}"), in which many values go to the server as
// one bound parameter: the driver formats a handful of texts instead of every value.

#include <QString>
#include <QVariant>
#include <charconv>

namespace engine {

// A number's digits appended to a text; for a floating-point number the shortest that read back
// as the same number.
template <typename Number> void AppendNumber(QString &text, Number n)
{
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    text += QLatin1StringView(digits, end - digits);
}

// An element of an array text: NULL, a number, a boolean, or a quoted text in which quotes and
// backslashes are escaped; date-times as their wall-clock text.
void AppendArrayElement(QString &array, const QVariant &value);

} // namespace engine
