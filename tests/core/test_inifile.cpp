#include "core/cp1251.h"
#include "core/errors.h"
#include "core/inifile.h"
#include "testsupport.h"

#include <QTemporaryDir>
#include <QtTest>

class TestIniFile : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void missingFileReadsAsEmpty()
    {
        const TIniFile ini(path(QStringLiteral("none.ini")));
        QCOMPARE(ini.ReadString(QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("def")),
                 QStringLiteral("def"));
        QCOMPARE(ini.ReadInteger(QStringLiteral("S"), QStringLiteral("K"), 7), 7);
        QVERIFY(ini.ReadSection(QStringLiteral("S")).isEmpty());
        QVERIFY(!QFile::exists(ini.FileName()));
    }

    void reads_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        const QByteArray file = cp1251::encode(QStringLiteral(
            "; comment\r\n[Settings]\r\nIsServer=1\r\n  USERNAME = Иванов \r\nEmpty=\r\n"
            "[Другая]\r\nКлюч=Значение\r\nIsServer=0\r\n"));
        QTest::newRow("plain") << file << "Settings"
                               << "IsServer"
                               << "1";
        QTest::newRow("blanks trimmed, cyrillic value") << file << "Settings"
                                                        << "USERNAME"
                                                        << "Иванов";
        QTest::newRow("section case") << file << "SETTINGS"
                                      << "username"
                                      << "Иванов";
        QTest::newRow("cyrillic names") << file << "другая"
                                        << "ключ"
                                        << "Значение";
        QTest::newRow("same key in another section") << file << "Другая"
                                                     << "IsServer"
                                                     << "0";
        QTest::newRow("empty value") << file << "Settings"
                                     << "Empty"
                                     << "";
        QTest::newRow("absent key") << file << "Settings"
                                    << "Nope"
                                    << "<def>";
        QTest::newRow("LF only") << QByteArray("[A]\nk=v\n") << "A"
                                 << "k"
                                 << "v";
    }
    void reads()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        testsupport::writeFile(path(QStringLiteral("r.ini")), content);
        const TIniFile ini(path(QStringLiteral("r.ini")));
        QCOMPARE(ini.ReadString(section, key, QStringLiteral("<def>")), value);
    }

    void integersAndBooleans_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("asInt");
        QTest::addColumn<bool>("asBool");
        QTest::newRow("one") << "1" << 1 << true;
        QTest::newRow("zero") << "0" << 0 << false;
        QTest::newRow("non-zero is true") << "5" << 5 << true;
        QTest::newRow("negative") << "-2" << -2 << true;
        QTest::newRow("hex") << "0x10" << 16 << true;
        QTest::newRow("pascal hex") << "$1F" << 31 << true;
        QTest::newRow("garbage gives default") << "yes" << 42 << true;
        QTest::newRow("empty gives default") << "" << 42 << true;
    }
    void integersAndBooleans()
    {
        QFETCH(QString, text);
        QFETCH(int, asInt);
        QFETCH(bool, asBool);
        TIniFile ini(path(QStringLiteral("i.ini")));
        ini.WriteString(QStringLiteral("S"), QStringLiteral("K"), text);
        QCOMPARE(ini.ReadInteger(QStringLiteral("S"), QStringLiteral("K"), 42), asInt);
        QCOMPARE(ini.ReadBool(QStringLiteral("S"), QStringLiteral("K"), true), asBool);
    }

    // A write touches only its own line: neighbours, their order, comments and other sections stay.
    void writeKeepsNeighbours()
    {
        const QString p = path(QStringLiteral("w.ini"));
        const QString original = QStringLiteral(
            "[Settings]\r\nIsServer=1\r\nAIS_RODE_IMPORT=C:\\old\\\r\n; keep "
            "me\r\nUSERNAME=Петров\r\n\r\n"
            "[Server-To-Workstation Replicated Tables]\r\nREGION=\r\nHOSPITAL\r\nDIAGNOSIS=x\r\n");
        testsupport::writeFile(p, cp1251::encode(original));
        TIniFile ini(p);
        ini.WriteString(QStringLiteral("settings"), QStringLiteral("ais_rode_import"),
                        QStringLiteral("D:\\Импорт\\"));
        ini.WriteString(QStringLiteral("Settings"), QStringLiteral("AIS_RODE_EXPORT"),
                        QStringLiteral("D:\\Экспорт\\"));
        ini.WriteInteger(QStringLiteral("1280x1024"), QStringLiteral("SrvMainForm_width"), 640);

        const QString expected =
            QStringLiteral("[Settings]\r\nIsServer=1\r\nAIS_RODE_IMPORT=D:\\Импорт\\\r\n; keep "
                           "me\r\nUSERNAME=Петров\r\n"
                           "AIS_RODE_EXPORT=D:\\Экспорт\\\r\n\r\n"
                           "[Server-To-Workstation Replicated "
                           "Tables]\r\nREGION=\r\nHOSPITAL\r\nDIAGNOSIS=x\r\n\r\n"
                           "[1280x1024]\r\nSrvMainForm_width=640\r\n");
        QCOMPARE(cp1251::decode(testsupport::readFile(p)), expected);
        QCOMPARE(ini.ReadSection(QStringLiteral("Server-To-Workstation Replicated Tables")),
                 (QStringList{QStringLiteral("REGION"), QStringLiteral("HOSPITAL"),
                              QStringLiteral("DIAGNOSIS")}));
        QCOMPARE(
            ini.ReadInteger(QStringLiteral("1280X1024"), QStringLiteral("SrvMainForm_width"), 0),
            640);
    }

    // Nothing is cached: a change made behind the object's back is seen by the next read.
    void readsSeeTheFileAsItIsNow()
    {
        const QString p = path(QStringLiteral("live.ini"));
        TIniFile a(p);
        const TIniFile b(p);
        a.WriteString(QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("one"));
        QCOMPARE(b.ReadString(QStringLiteral("S"), QStringLiteral("K"), {}), QStringLiteral("one"));
        testsupport::writeFile(p, cp1251::encode(QStringLiteral("[S]\r\nK=два\r\n")));
        QCOMPARE(a.ReadString(QStringLiteral("S"), QStringLiteral("K"), {}), QStringLiteral("два"));
    }

    void fileIsCp1251()
    {
        const QString p = path(QStringLiteral("enc.ini"));
        TIniFile ini(p);
        ini.WriteString(QStringLiteral("Раздел"), QStringLiteral("Ключ"), QStringLiteral("Ёлка"));
        QCOMPARE(testsupport::readFile(p),
                 QByteArray("[\xD0\xE0\xE7\xE4\xE5\xEB]\r\n\xCA\xEB\xFE\xF7=\xA8\xEB\xEA\xE0\r\n"));
    }

    void unwritableFileThrows()
    {
        TIniFile ini(path(QStringLiteral("no/such/folder/x.ini")));
        QVERIFY_THROWS_EXCEPTION(
            EFileError,
            ini.WriteString(QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("v")));
    }

    void deleteAndErase()
    {
        const QString p = path(QStringLiteral("d.ini"));
        TIniFile ini(p);
        ini.WriteString(QStringLiteral("A"), QStringLiteral("x"), QStringLiteral("1"));
        ini.WriteString(QStringLiteral("A"), QStringLiteral("y"), QStringLiteral("2"));
        ini.WriteString(QStringLiteral("B"), QStringLiteral("z"), QStringLiteral("3"));
        ini.DeleteKey(QStringLiteral("A"), QStringLiteral("X"));
        QCOMPARE(ini.ReadSection(QStringLiteral("A")), QStringList{QStringLiteral("y")});
        ini.EraseSection(QStringLiteral("a"));
        QCOMPARE(ini.ReadSections(), QStringList{QStringLiteral("B")});
        QCOMPARE(ini.ReadString(QStringLiteral("B"), QStringLiteral("z"), {}), QStringLiteral("3"));
    }
};

QTEST_APPLESS_MAIN(TestIniFile)
#include "test_inifile.moc"
