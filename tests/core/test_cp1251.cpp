#include "core/cp1251.h"

#include <QtTest>

class TestCp1251 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void roundTrip_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ascii") << QStringLiteral("ZORU 1.0") << QByteArray("ZORU 1.0");
        QTest::newRow("cyrillic") << QStringLiteral("Ёж щука ЯЯ")
                                  << QByteArray("\xA8\xE6 \xF9\xF3\xEA\xE0 \xDF\xDF");
        QTest::newRow("number sign") << QStringLiteral("№5")
                                     << QByteArray("\xB9"
                                                   "5");
        QTest::newRow("quotes and dash") << QStringLiteral("«—»") << QByteArray("\xAB\x97\xBB");
        QTest::newRow("empty") << QString() << QByteArray();
    }
    void roundTrip()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(cp1251::encode(text), bytes);
        QCOMPARE(cp1251::encodeStrict(text).value(), bytes);
        QCOMPARE(cp1251::decode(bytes), text);
    }

    void unrepresentable_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("lenient");
        QTest::newRow("chinese") << QStringLiteral("a中b") << QByteArray("a?b");
        QTest::newRow("greek") << QStringLiteral("λ") << QByteArray("?");
    }
    void unrepresentable()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, lenient);
        QCOMPARE(cp1251::encode(text), lenient);
        QVERIFY(!cp1251::encodeStrict(text).has_value());
    }

    void everyByteDecodes()
    {
        for (int b = 1; b < 256; ++b) {
            const QByteArray one(1, static_cast<char>(b));
            const QString s = cp1251::decode(one);
            QCOMPARE(s.size(), 1);
            if (b == 0x98)
                continue; // the one unassigned position
            QCOMPARE(cp1251::encodeStrict(s).value(), one);
        }
    }
};

QTEST_APPLESS_MAIN(TestCp1251)
#include "test_cp1251.moc"
