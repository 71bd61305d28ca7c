// The programs' language: Qt's default locale is Russian (the dates of Qt's own dialogs), with
// numbers written as the program's own texts write them.

#include "core/russian.h"

#include <QByteArray>
#include <QDate>
#include <QLocale>
#include <QtTest>

class TestRussian : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void defaultLocale_data()
    {
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("expected");
        QTest::newRow("date in a file dialog")
            << QLocale().toString(QDate(2026, 12, 10), QLocale::ShortFormat) << "10.12.2026";
        QTest::newRow("month") << QLocale().toString(QDate(2026, 12, 10), QStringLiteral("d MMMM"))
                               << "10 декабря";
        QTest::newRow("whole number, no group separator") << QLocale().toString(12345) << "12345";
        QTest::newRow("fraction") << QLocale().toString(1.5) << "1,5";
    }
    void defaultLocale()
    {
        QFETCH(QString, shown);
        QFETCH(QString, expected);
        QCOMPARE(shown, expected);
    }
    void initTestCase() { UseRussianLocale(); }

    // The system locale (the file dialog's dates) is made Russian only where the environment
    // names none.
    void systemLocale_data()
    {
        QTest::addColumn<QByteArray>("all");
        QTest::addColumn<QByteArray>("time");
        QTest::addColumn<QByteArray>("lang");
        QTest::addColumn<QByteArray>("expected"); // LC_TIME afterwards
        QTest::newRow("none named")
            << QByteArray() << QByteArray() << QByteArray() << QByteArray("ru_RU.UTF-8");
        QTest::newRow("C") << QByteArray() << QByteArray() << QByteArray("C.UTF-8")
                           << QByteArray("ru_RU.UTF-8");
        QTest::newRow("a language named")
            << QByteArray() << QByteArray() << QByteArray("de_DE.UTF-8") << QByteArray();
        QTest::newRow("a time locale named") << QByteArray() << QByteArray("en_GB.UTF-8")
                                             << QByteArray() << QByteArray("en_GB.UTF-8");
        QTest::newRow("LC_ALL rules")
            << QByteArray("C") << QByteArray() << QByteArray() << QByteArray();
    }
    void systemLocale()
    {
        QFETCH(QByteArray, all);
        QFETCH(QByteArray, time);
        QFETCH(QByteArray, lang);
        QFETCH(QByteArray, expected);
        const QByteArray saved[] = {qgetenv("LC_ALL"), qgetenv("LC_TIME"), qgetenv("LANG")};
        const char *names[] = {"LC_ALL", "LC_TIME", "LANG"};
        const QByteArray set[] = {all, time, lang};
        for (int i = 0; i < 3; ++i)
            set[i].isEmpty() ? qunsetenv(names[i]) : qputenv(names[i], set[i]);
        PreferRussianSystemLocale();
        const QByteArray got = qgetenv("LC_TIME");
        for (int i = 0; i < 3; ++i)
            saved[i].isEmpty() ? qunsetenv(names[i]) : qputenv(names[i], saved[i]);
        QCOMPARE(got, expected);
    }
};

QTEST_GUILESS_MAIN(TestRussian)
#include "test_russian.moc"
