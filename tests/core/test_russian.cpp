// The programs' language: Qt's default locale is Russian (the dates of Qt's own dialogs), with
// numbers written as the program's own texts write them.

#include "core/russian.h"

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
};

QTEST_GUILESS_MAIN(TestRussian)
#include "test_russian.moc"
