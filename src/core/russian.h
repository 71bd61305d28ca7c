#pragma once

#include <QString>
#include <QTranslator>
#include <memory>

// The programs speak Russian whatever the language of the machine's session: Qt's own texts and
// the default locale. Every program installed for the administrator calls it (zoru-admin,
// zoru-demo, zoru-createdb) right after making its application object.

// Qt's own texts in Russian (standard dialogs and their buttons, context menus, the command line
// parser's words), from "qtbase_ru" of Qt's translations folder, or of the program folder where a
// site keeps its own Qt. Installed into the application object that exists; call it before the
// first window. Null when no translation was found: Qt then speaks English. The translator must
// live as long as it serves, and go before the application object.
std::unique_ptr<QTranslator> InstallQtTranslations(const QString &programFolder);

// Russian as the default locale (dates and month names in Qt's dialogs), numbers without a
// group separator, as the program's own texts write them.
void UseRussianLocale();

// Qt's own views (the dates of the file dialog) follow the system locale, which the environment
// names. A session that names none (unset, C, POSIX, C.UTF-8: a service, a bare X server) gets
// Russian dates there too (LC_TIME); a locale the user named is kept. Call it before the
// application object is made.
void PreferRussianSystemLocale();
