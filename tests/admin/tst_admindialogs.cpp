#include "admin/dbobjects.h"
#include "admin/form_brigade.h"
#include "admin/form_operator.h"
#include "admin/form_workstation.h"
#include "admin/wwdatamodule.h"
#include "data/siedm.h"
#include "engine/table.h"
#include "wizardfixture.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

using namespace Qt::StringLiterals;

using Kind = TDialogs::Kind;
using Button = TDialogs::Button;

class TestAdminDialogs : public QObject
{
    Q_OBJECT

    std::unique_ptr<WizardFixture> m_fx;
    std::unique_ptr<TSIEDM> m_dm;
    QStringList m_failures;

    QVariant scalar(const QString &sql) { return m_fx->central->Scalar(sql); }

private Q_SLOTS:
    void initTestCase_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << "SQLITE";
        if (testsupport::pgServer() || testsupport::pgRequired())
            QTest::newRow("postgresql") << "POSTGRESQL";
    }
    void initTestCase()
    {
        TDialogs::SetTestMode(true);
        TDialogs::SetFailureHandler([this](const QString &d) { m_failures << d; });
    }
    void init()
    {
        QFETCH_GLOBAL(QString, backend);
        if (backend == QLatin1String("POSTGRESQL") && !testsupport::pgServer())
            QFAIL("ZORU_REQUIRE_PG is set but no PostgreSQL server is configured");
        TDialogs::Reset();
        m_failures.clear();
        m_fx = std::make_unique<WizardFixture>(backend);
        m_dm = std::make_unique<TSIEDM>(&m_fx->db(), nullptr);
    }
    void cleanup()
    {
        m_dm.reset();
        m_fx.reset();
        QCOMPARE(m_failures, QStringList());
        QCOMPARE(TDialogs::PendingAnswers(), 0);
    }

    // The name as typed: refused with the box staying open, or saved trimmed.
    void nameChecks_data()
    {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("refusal"); // empty: saved
        QTest::addColumn<QString>("saved");
        const QString noStation = QStringLiteral("Поле 'Название' не заполнено");
        const QString noUser = QStringLiteral("Поле 'Имя пользователя' не заполнено");
        const QString foreign = QStringLiteral("Название содержит символы, которые нельзя "
                                               "сохранить в кодировке Windows-1251: ");
        for (const QString &d : {u"WorkstationDialog"_s, u"OperatorDlg"_s, u"BrigadeDlg"_s}) {
            const QString empty = d == QLatin1String("OperatorDlg") ? noUser : noStation;
            const bool upper = d != QLatin1String("BrigadeDlg");
            QTest::addRow("%s: empty", qPrintable(d)) << d << "" << empty << "";
            QTest::addRow("%s: blanks", qPrintable(d)) << d << "   " << empty << "";
            QTest::addRow("%s: outside cp1251", qPrintable(d))
                << d << "Кабинет ✓" << foreign + QStringLiteral("✓") << "";
            QTest::addRow("%s: trimmed", qPrintable(d))
                << d << "  Кабинет 1 "
                << "" << (upper ? "КАБИНЕТ 1" : "Кабинет 1");
        }
    }
    void nameChecks()
    {
        QFETCH(QString, dialog);
        QFETCH(QString, typed);
        QFETCH(QString, refusal);
        QFETCH(QString, saved);
        TWWDM wwdm(&m_fx->db());
        std::unique_ptr<QDialog> d;
        QString check;
        int maxLength = 0;
        if (dialog == QLatin1String("WorkstationDialog")) {
            m_dm->itWorkStation.Open();
            d = std::make_unique<TWorkstationDialog>(nullptr, m_dm->itWorkStation, QVariant(), 10,
                                                     QVariant());
            check = QStringLiteral("SELECT COUNT(*) FROM WORKSTATION WHERE WSTNAME = ?");
            maxLength = 100;
        } else if (dialog == QLatin1String("OperatorDlg")) {
            m_dm->itOperator.Open();
            d = std::make_unique<TOperatorDlg>(nullptr, 1, QVariant(), m_dm->itOperator);
            check = QStringLiteral("SELECT COUNT(*) FROM OPERATOR WHERE USERNAME = ?");
            maxLength = 20;
        } else {
            m_dm->itBrigade.Open();
            d = std::make_unique<TBrigadeDlg>(nullptr, wwdm, 30, 1, QVariant(), m_dm->itBrigHsp,
                                              m_dm->itBrigade);
            check = QStringLiteral("SELECT COUNT(*) FROM BRIGADE WHERE BRGNAME = ?");
            maxLength = 255;
        }
        QCOMPARE(d->objectName(), dialog);
        d->show();
        QVERIFY(QTest::qWaitForWindowActive(d.get()));
        auto *edName = d->findChild<QLineEdit *>(QStringLiteral("edName"));
        QCOMPARE(edName->maxLength(), maxLength);
        edName->setText(typed);
        d->findChild<QPushButton *>(QStringLiteral("OKBtn"))->setFocus();
        if (!refusal.isEmpty())
            TDialogs::SetNextAnswer(Button::Ok);
        d->findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
        if (refusal.isEmpty()) {
            QCOMPARE(d->result(), int(QDialog::Accepted));
            QVERIFY(TDialogs::AskedSoFar().isEmpty());
            QCOMPARE(m_fx->central->Scalar(check, {saved}).toInt(), 1);
        } else {
            QVERIFY(d->isVisible());
            QCOMPARE(TDialogs::AskedSoFar().size(), 1);
            QCOMPARE(TDialogs::AskedSoFar().first().kind, Kind::Information);
            QCOMPARE(TDialogs::AskedSoFar().first().text, refusal);
            QCOMPARE(QApplication::focusWidget(), edName);
        }
    }

    // Hospitals are told apart by identifier, whatever their full names; a failure while the
    // links are written keeps the old links and the brigade's name, and the dialog open.
    void brigadeLinksKeyedAndAtomic()
    {
        m_fx->central->Exec(QStringLiteral(
            "INSERT INTO HOSPITAL (HSPGID, IDMU, MU, MUFL, REGGID) VALUES (13, 103, 'ДВОЙНИК', "
            "'Тарская центральная районная больница', 1)"));
        m_fx->central->Exec(QStringLiteral(
            "INSERT INTO HOSPITAL (HSPGID, IDMU, MU, MUFL, REGGID) VALUES (14, 104, 'A=B', "
            "'A=B', 1)"));
        TWWDM wwdm(&m_fx->db());
        m_dm->itBrigade.Open();
        {
            TBrigadeDlg d(nullptr, wwdm, 30, 1, 20, m_dm->itBrigHsp, m_dm->itBrigade);
            d.show();
            d.findChild<QPushButton *>(QStringLiteral("IncAllBtn"))->click();
            QCOMPARE(d.findChild<QListWidget *>(QStringLiteral("DstList"))->count(), 4);
            d.findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
            QCOMPARE(d.result(), int(QDialog::Accepted));
        }
        QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM BRIGHSP WHERE BRGGID = 20")).toInt(),
                 4);
        QCOMPARE(
            scalar(QStringLiteral("SELECT SUM(HSPGID) FROM BRIGHSP WHERE BRGGID = 20")).toInt(),
            10 + 11 + 13 + 14);

        TTable missing(&m_fx->db(), QStringLiteral("NO_SUCH_LINKS"));
        TBrigadeDlg d(nullptr, wwdm, 30, 1, 20, missing, m_dm->itBrigade);
        d.show();
        auto *edName = d.findChild<QLineEdit *>(QStringLiteral("edName"));
        edName->setText(QStringLiteral("Переименованная"));
        d.findChild<QPushButton *>(QStringLiteral("ExAllBtn"))->click();
        TDialogs::SetNextAnswer(Button::Ok);
        d.findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
        QVERIFY(d.isVisible());
        QCOMPARE(TDialogs::AskedSoFar().size(), 1);
        QCOMPARE(TDialogs::AskedSoFar().first().kind, Kind::Error);
        QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM BRIGHSP WHERE BRGGID = 20")).toInt(),
                 4);
        QCOMPARE(scalar(QStringLiteral("SELECT BRGNAME FROM BRIGADE WHERE BRGGID = 20")).toString(),
                 QStringLiteral("БРИГАДА 1"));
    }

    // A new brigade whose links cannot be written leaves no row and no identifier behind.
    void newBrigadeLeavesNoRowWhenLinksFail()
    {
        TWWDM wwdm(&m_fx->db());
        m_dm->itBrigade.Open();
        TTable missing(&m_fx->db(), QStringLiteral("NO_SUCH_LINKS"));
        TBrigadeDlg d(nullptr, wwdm, 30, 1, QVariant(), missing, m_dm->itBrigade);
        d.show();
        d.findChild<QLineEdit *>(QStringLiteral("edName"))->setText(QStringLiteral("Третья"));
        TDialogs::SetNextAnswer(Button::Ok);
        d.findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
        QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM BRIGADE")).toInt(), 2);
        QCOMPARE(d.Record().GetValue(QStringLiteral("BRGGID")), QVariant());
    }
};

QTEST_MAIN(TestAdminDialogs)
#include "tst_admindialogs.moc"
