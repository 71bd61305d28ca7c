#include "ui/textlistbox.h"

#include <QFontMetrics>
#include <QScrollBar>
#include <QtTest>

class TestTextListBox : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rangeCoversWidestItem_data();
    void rangeCoversWidestItem();
    void tabsExpandToStops();
};

namespace {

const QString kShort = QStringLiteral("ЦРБ");
const QString kMiddle = QStringLiteral("Городская больница №3");
const QString kLong =
    QStringLiteral("Областная клиническая больница имени Н. И. Пирогова, корпус 2");

int widest(const TTextListBox &box)
{
    int w = 0;
    for (int i = 0; i < box.count(); ++i)
        w = qMax(w, QFontMetrics(box.font()).horizontalAdvance(box.item(i)->text() + u'x'));
    return w;
}

} // namespace

void TestTextListBox::rangeCoversWidestItem_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("itemsLeft");
    QTest::newRow("added") << QString() << 3;
    QTest::newRow("widest deleted") << QStringLiteral("delete widest") << 2;
    QTest::newRow("narrow deleted") << QStringLiteral("delete narrow") << 2;
    QTest::newRow("renamed") << QStringLiteral("rename widest") << 3;
    QTest::newRow("cleared") << QStringLiteral("clear") << 0;
    QTest::newRow("bigger font") << QStringLiteral("font") << 3;
}

void TestTextListBox::rangeCoversWidestItem()
{
    QFETCH(QString, action);
    QFETCH(int, itemsLeft);
    TTextListBox box;
    box.setSortingEnabled(true);
    box.resize(120, 100);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QCOMPARE(box.MaxWidth(), 0);
    box.addItems({kMiddle, kLong, kShort});
    QVERIFY(box.MaxWidth() > 120);
    box.horizontalScrollBar()->setValue(box.horizontalScrollBar()->maximum());

    const int before = box.MaxWidth();
    if (action == QStringLiteral("delete widest"))
        delete box.findItems(kLong, Qt::MatchExactly).first();
    else if (action == QStringLiteral("delete narrow"))
        delete box.findItems(kShort, Qt::MatchExactly).first();
    else if (action == QStringLiteral("rename widest"))
        box.findItems(kLong, Qt::MatchExactly).first()->setText(QStringLiteral("Б"));
    else if (action == QStringLiteral("clear"))
        box.clear();
    else if (action == QStringLiteral("font")) {
        QFont f = box.font();
        f.setPointSize(f.pointSize() * 2);
        box.setFont(f);
        QVERIFY(box.MaxWidth() > before);
    }

    QCOMPARE(box.count(), itemsLeft);
    QCOMPARE(box.MaxWidth(), widest(box));
    QTRY_COMPARE(box.horizontalScrollBar()->maximum(),
                 qMax(0, box.MaxWidth() - box.viewport()->width()));
    if (action == QStringLiteral("delete narrow"))
        QCOMPARE(box.MaxWidth(), before);
    if (box.MaxWidth() < before)
        QCOMPARE(box.horizontalScrollBar()->value(), 0);
}

void TestTextListBox::tabsExpandToStops()
{
    TTextListBox box;
    const QFontMetrics fm(box.font());
    const int plain = box.TextWidth(QStringLiteral("a\tb"));
    box.addItem(QStringLiteral("a\tb"));
    box.SetTabWidth(64); // stops every 16 widths of "0"
    const int stop = qRound(fm.horizontalAdvance(u'0') * 16.0);
    QCOMPARE(box.ItemWidth(0), stop + fm.horizontalAdvance(QStringLiteral("bx")));
    QCOMPARE(box.MaxWidth(), box.ItemWidth(0));
    QVERIFY(box.MaxWidth() > plain);
}

QTEST_MAIN(TestTextListBox)
#include "tst_textlistbox.moc"
