#pragma once

#include <QString>

// Texts that the system shows or writes, kept in one place.
namespace StrConst {

inline const QString AppTitle = QStringLiteral("Подсистема администрирования (ZORU)");

// Configuration and start-up.
inline const QString MainAliasName = QStringLiteral("AIS_RODE_MAIN");
inline const QString PolyAliasName = QStringLiteral("AIS_RODE_POLY");
inline const QString ImportKey = QStringLiteral("AIS_RODE_IMPORT");
inline const QString ExportKey = QStringLiteral("AIS_RODE_EXPORT");
inline const QString SettingsSection = QStringLiteral("Settings");
inline const QString SrvToWstSection = QStringLiteral("Server-To-Workstation Replicated Tables");
inline const QString SrvDBKey = QStringLiteral("AIS_RODE_SRV_DB");
inline const QString ESVSDBKey = QStringLiteral("AIS_RODE_ESVS_DB");
inline const QString UserNameKey = QStringLiteral("USERNAME");
inline const QString UserNameESVSKey = QStringLiteral("USERNAME_ESVS");
inline const QString IsServerKey = QStringLiteral("IsServer");
inline const QString AliasFileName = QStringLiteral("aliases.cfg");

inline const QString BadSettings = QStringLiteral(
    "Отсутствует или неверна информация о расположении Баз Данных. После нажатия кнопки ОК "
    "появиться окно для настройки.");
inline const QString NoSettings =
    QStringLiteral("Без указания Баз Данных дальнейшее выполнение программы невозможно!");

// Main window.
inline const QString BadAlias = QStringLiteral("Неверный псевдоним: ");
inline const QString CenterDatabaseName = QStringLiteral("KZCenter");
inline const QString ImportDatabaseName = QStringLiteral("ImportFromWst");

// Settings dialog.
inline const QString ConfirmSave = QStringLiteral("Подтверждаете сохранение настроек?");

// Sticking bevel.
inline const QString BevelOnBevel = QStringLiteral(
    "Нельзя \"прилипать\" к подобному классу, так как это привидет к непредсказуемому поведению "
    "из-за невозможности отследить очередность для ссылок на WindowProc");
inline const QString BevelTwice = QStringLiteral(
    "Нельзя прилиплять несколько рамок на на один и тот же контрол, так как это привидет к "
    "непредсказуемому поведению из-за невозможности отследить очередность для ссылок на "
    "WindowProc");

// Jobs.
inline const QString LogFileName = QStringLiteral("log.txt");
inline const QString BtnCancel = QStringLiteral("Отмена");
inline const QString BtnOK = QStringLiteral("OK");
inline const QString Interrupted = QStringLiteral("Прервано пользователем");
inline const QString NotAvailable = QStringLiteral("Функция недоступна");
inline const QString Separator = QString(65, QLatin1Char('-'));
inline const QString ErrorPrefix = QStringLiteral("ОШИБКА!!! ");
inline const QString LogLineSeparator = QStringLiteral("> ");
inline const QString LineBreak = QStringLiteral("\r\n");
inline const QString Records = QStringLiteral(" записей"); // after a table's count in the log
inline const QString ImportDone = QStringLiteral("Импорт данных завершен");
inline const QString ImportTable = QStringLiteral("Импорт данных в таблицу: ");
inline const QString FolderExists = QStringLiteral("Папка уже существует");
inline const QString CannotCreateFolder = QStringLiteral("Невозможно создать папку");

} // namespace StrConst
