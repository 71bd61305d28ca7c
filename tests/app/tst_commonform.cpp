#include "app/commonform.h"
#include "core/strconst.h"
#include "shellfixture.h"
#include "ui/stickingbevel.h"

#include <QDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtTest>

namespace {

// A dialog with a tab chain of mixed controls: buttons, a typing edit, an edit that is not a
// tab stop, a disabled button and a hidden one, the last two to be skipped.
struct ChainDialog
{
    ChainDialog()
    {
        dialog.setObjectName(QStringLiteral("ChainDialog"));
        auto *layout = new QVBoxLayout(&dialog);
        const auto add = [&](QWidget *w, const QString &name) {
            w->setObjectName(name);
            layout->addWidget(w);
            if (auto *b = qobject_cast<QPushButton *>(w))
                b->setAutoDefault(false);
            return w;
        };
        add(new QPushButton(QStringLiteral("A"), &dialog), QStringLiteral("btnA"));
        add(new QLineEdit(&dialog), QStringLiteral("edTyping"));
        add(new QLineEdit(&dialog), QStringLiteral("edNoStop"))->setFocusPolicy(Qt::ClickFocus);
        add(new QPushButton(QStringLiteral("B"), &dialog), QStringLiteral("btnB"));
        add(new QPushButton(QStringLiteral("off"), &dialog), QStringLiteral("btnDisabled"))
            ->setEnabled(false);
        add(new QPushButton(QStringLiteral("hidden"), &dialog), QStringLiteral("btnHidden"))
            ->hide();
        add(new QPushButton(QStringLiteral("C"), &dialog), QStringLiteral("btnC"));
        common = new TCommonForm(&dialog);
    }
    QWidget *child(const QString &name) const { return dialog.findChild<QWidget *>(name); }

    QDialog dialog;
    TCommonForm *common;
};

QString screenKey;

} // namespace

class TestCommonForm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void screenKeyIsTakenAtCreation();
    void placementPerResolution();
    void placementReadsEachKeyWithCurrentDefault_data();
    void placementReadsEachKeyWithCurrentDefault();
    void focusMoves_data();
    void focusMoves();
    void escRejectsDialog();
    void escInMainWindowDoesNothing();
    void bevelFollowsFocus();
};

void TestCommonForm::initTestCase()
{
    TDialogs::SetTestMode(true);
    TCommonForm::SetScreenKeySource([] { return screenKey; });
}

void TestCommonForm::init()
{
    screenKey = QStringLiteral("1024x768");
}

void TestCommonForm::cleanupTestCase()
{
    TCommonForm::SetScreenKeySource({});
}

void TestCommonForm::screenKeyIsTakenAtCreation()
{
    ShellFixture fx;
    ChainDialog d;
    screenKey = QStringLiteral("1280x1024");
    QCOMPARE(d.common->ScreenKey(), QStringLiteral("1024x768"));

    TCommonForm::SetScreenKeySource({});
    QWidget real;
    TCommonForm common(&real);
    const QSize size = real.screen()->size();
    QCOMPARE(common.ScreenKey(), QStringLiteral("%1x%2").arg(size.width()).arg(size.height()));
    TCommonForm::SetScreenKeySource([] { return screenKey; });
}

void TestCommonForm::placementPerResolution()
{
    ShellFixture fx;
    QSize designSize;
    {
        ChainDialog d;
        d.dialog.resize(400, 250);
        designSize = d.dialog.size();
        d.dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d.dialog));
        d.dialog.resize(500, 330);
        d.dialog.move(40, 50);
        d.dialog.close();
    }
    QCOMPARE(
        fx.info->ReadInteger(QStringLiteral("1024x768"), QStringLiteral("ChainDialog_width"), 0),
        500);
    QCOMPARE(fx.info->ReadInteger(QStringLiteral("1024x768"), QStringLiteral("ChainDialog_top"), 0),
             50);

    // Another resolution has no placement yet: the design size stays.
    screenKey = QStringLiteral("1280x1024");
    {
        ChainDialog d;
        d.dialog.resize(400, 250);
        d.dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d.dialog));
        QCOMPARE(d.dialog.size(), designSize);
        d.dialog.move(70, 80);
        d.dialog.close();
    }
    QCOMPARE(
        fx.info->ReadInteger(QStringLiteral("1280x1024"), QStringLiteral("ChainDialog_left"), 0),
        70);

    // Back at the first resolution, its own placement returns.
    screenKey = QStringLiteral("1024x768");
    ChainDialog d;
    d.dialog.resize(400, 250);
    d.dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d.dialog));
    QCOMPARE(d.dialog.size(), QSize(500, 330));
    QCOMPARE(d.dialog.pos(), QPoint(40, 50));
}

void TestCommonForm::placementReadsEachKeyWithCurrentDefault_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("value");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("width only") << QStringLiteral("_width") << 450 << QRect(30, 40, 450, 250);
    QTest::newRow("height only") << QStringLiteral("_height") << 180 << QRect(30, 40, 400, 180);
    QTest::newRow("left only") << QStringLiteral("_left") << 5 << QRect(5, 40, 400, 250);
    QTest::newRow("top only") << QStringLiteral("_top") << 9 << QRect(30, 9, 400, 250);
}

void TestCommonForm::placementReadsEachKeyWithCurrentDefault()
{
    QFETCH(QString, key);
    QFETCH(int, value);
    QFETCH(QRect, expected);
    ShellFixture fx;
    fx.info->WriteInteger(QStringLiteral("1024x768"), QStringLiteral("ChainDialog") + key, value);
    ChainDialog d;
    d.dialog.resize(400, 250);
    d.dialog.move(30, 40);
    d.common->LoadPlacement();
    QCOMPARE(QRect(d.dialog.pos(), d.dialog.size()), expected);
}

void TestCommonForm::focusMoves_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("expected");
    QTest::newRow("enter to next")
        << QStringLiteral("btnA") << int(Qt::Key_Return) << QStringLiteral("edTyping");
    QTest::newRow("enter in an edit moves once")
        << QStringLiteral("edTyping") << int(Qt::Key_Return) << QStringLiteral("btnB");
    QTest::newRow("keypad enter") << QStringLiteral("btnA") << int(Qt::Key_Enter)
                                  << QStringLiteral("edTyping");
    QTest::newRow("down skips disabled and hidden")
        << QStringLiteral("btnB") << int(Qt::Key_Down) << QStringLiteral("btnC");
    QTest::newRow("enter wraps to first")
        << QStringLiteral("btnC") << int(Qt::Key_Return) << QStringLiteral("btnA");
    QTest::newRow("up to previous")
        << QStringLiteral("btnC") << int(Qt::Key_Up) << QStringLiteral("btnB");
    QTest::newRow("up skips non-stop edit")
        << QStringLiteral("btnB") << int(Qt::Key_Up) << QStringLiteral("edTyping");
    QTest::newRow("up wraps to last")
        << QStringLiteral("btnA") << int(Qt::Key_Up) << QStringLiteral("btnC");
    QTest::newRow("other keys leave focus")
        << QStringLiteral("btnA") << int(Qt::Key_X) << QStringLiteral("btnA");
}

void TestCommonForm::focusMoves()
{
    QFETCH(QString, start);
    QFETCH(int, key);
    QFETCH(QString, expected);
    ChainDialog d;
    d.dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
    QWidget *first = d.child(start);
    first->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), first);
    const Qt::KeyboardModifiers modifiers =
        key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier;
    QTest::keyClick(first, Qt::Key(key), modifiers);
    QCOMPARE(QApplication::focusWidget()->objectName(), expected);
    QVERIFY(d.dialog.isVisible());
}

void TestCommonForm::escRejectsDialog()
{
    ChainDialog d;
    d.dialog.open();
    QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
    QTest::keyClick(d.child(QStringLiteral("edTyping")), Qt::Key_Escape);
    QVERIFY(!d.dialog.isVisible());
    QCOMPARE(d.dialog.result(), int(QDialog::Rejected));
}

void TestCommonForm::escInMainWindowDoesNothing()
{
    QMainWindow window;
    window.setObjectName(QStringLiteral("PlainMain"));
    auto *button = new QPushButton(QStringLiteral("x"), &window);
    window.setCentralWidget(button);
    TCommonForm common(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(button, Qt::Key_Escape);
    QVERIFY(window.isVisible());
}

void TestCommonForm::bevelFollowsFocus()
{
    ChainDialog d;
    TStickingBevel *bevel = d.common->Bevel();
    QCOMPARE(bevel->WeightOfLine(), 2);
    QCOMPARE(bevel->Spacing(), 1);
    QCOMPARE(bevel->Color(), QColor(0, 0, 128));
    QVERIFY(bevel->isHidden());

    d.dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
    QWidget *b = d.child(QStringLiteral("btnB"));
    b->setFocus();
    QTRY_COMPARE(bevel->StickTo(), b);
    QVERIFY(bevel->isVisible());
    QCOMPARE(bevel->geometry(), b->geometry().adjusted(-3, -3, 3, 3));

    // A control that is not a tab stop gets no frame.
    d.child(QStringLiteral("edNoStop"))->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(!bevel->isVisible());

    QTest::keyClick(d.child(QStringLiteral("edNoStop")), Qt::Key_Return);
    QTRY_COMPARE(bevel->StickTo(), b);
    QVERIFY(bevel->isVisible());
}

QTEST_MAIN(TestCommonForm)
#include "tst_commonform.moc"
