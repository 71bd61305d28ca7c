#pragma once

#include <QString>
#include <functional>

// The log-in prompt of database connections: asks for the user name and password before a
// connection opens and returns false when the user cancels. The user interface or the command
// line installs it and the database engine calls it; it lives here, below both, so that neither
// needs the other. Without one, a connection opens with the password it has.
namespace loginprompt {

using Handler =
    std::function<bool(const QString &databaseName, QString &userName, QString &password)>;

// Replaces the installed prompt (an empty one removes it). Thread-safe.
void Install(Handler handler);
// The installed prompt (empty when none). Thread-safe.
Handler Current();

} // namespace loginprompt
