#include "core/errors.h"
#include "core/strconst.h"
#include "ui/stickingbevel.h"

#include <QImage>
#include <QtTest>
#include <memory>

class TestStickingBevel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void newBevelDefaults();
    void placement_data();
    void placement();
    void valuesAreClamped_data();
    void valuesAreClamped();
    void drawsNestedOutlines_data();
    void drawsNestedOutlines();
    void followsTargetMoveAndResize();
    void letsGoOfDestroyedTarget();
    void unstickKeepsPlaceAndStopsFollowing();
    void takesTheTargetsParent();
    void refusesBevelAsTarget();
    void refusesSecondBevelOnSameControl();
    void ignoresTargetWithoutParent();
    void isTransparentForMouse();
};

void TestStickingBevel::newBevelDefaults()
{
    QWidget parent;
    TStickingBevel bevel(&parent);
    QCOMPARE(bevel.StickTo(), nullptr);
    QCOMPARE(bevel.Color(), QColor(Qt::black));
    QCOMPARE(bevel.Spacing(), 0);
    QCOMPARE(bevel.WeightOfLine(), 1);
    QCOMPARE(bevel.size(), QSize(100, 100));
}

void TestStickingBevel::placement_data()
{
    QTest::addColumn<int>("weight");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("weight 2 spacing 1") << 2 << 1 << QRect(7, 17, 86, 30);
    QTest::newRow("defaults") << 1 << 0 << QRect(9, 19, 82, 26);
    QTest::newRow("wide gap") << 1 << 5 << QRect(4, 14, 92, 36);
    QTest::newRow("weight clamped") << -5 << 0 << QRect(9, 19, 82, 26);
    QTest::newRow("spacing clamped") << 3 << -3 << QRect(7, 17, 86, 30);
}

void TestStickingBevel::placement()
{
    QFETCH(int, weight);
    QFETCH(int, spacing);
    QFETCH(QRect, expected);
    QWidget parent;
    QWidget target(&parent);
    target.setGeometry(10, 20, 80, 24);
    TStickingBevel bevel(&parent);
    bevel.SetStickTo(&target);
    bevel.SetWeightOfLine(weight);
    bevel.SetSpacing(spacing);
    QCOMPARE(bevel.geometry(), expected);

    // The same, when the values are set before sticking.
    TStickingBevel second(&parent);
    second.SetWeightOfLine(weight);
    second.SetSpacing(spacing);
    QWidget other(&parent);
    other.setGeometry(10, 20, 80, 24);
    second.SetStickTo(&other);
    QCOMPARE(second.geometry(), expected);
}

void TestStickingBevel::valuesAreClamped_data()
{
    QTest::addColumn<int>("weight");
    QTest::addColumn<int>("storedWeight");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<int>("storedSpacing");
    QTest::newRow("zero weight") << 0 << 1 << 0 << 0;
    QTest::newRow("negative weight") << -5 << 1 << 2 << 2;
    QTest::newRow("negative spacing") << 3 << 3 << -3 << 0;
    QTest::newRow("large") << 10 << 10 << 7 << 7;
}

void TestStickingBevel::valuesAreClamped()
{
    QFETCH(int, weight);
    QFETCH(int, storedWeight);
    QFETCH(int, spacing);
    QFETCH(int, storedSpacing);
    TStickingBevel bevel;
    bevel.SetWeightOfLine(weight);
    bevel.SetSpacing(spacing);
    QCOMPARE(bevel.WeightOfLine(), storedWeight);
    QCOMPARE(bevel.Spacing(), storedSpacing);
    // Without a target the bevel keeps its own size.
    QCOMPARE(bevel.size(), QSize(100, 100));
}

void TestStickingBevel::drawsNestedOutlines_data()
{
    QTest::addColumn<int>("weight");
    QTest::newRow("one line") << 1;
    QTest::newRow("two lines") << 2;
    QTest::newRow("four lines") << 4;
}

void TestStickingBevel::drawsNestedOutlines()
{
    QFETCH(int, weight);
    QWidget parent;
    QWidget target(&parent);
    target.setGeometry(10, 20, 80, 24);
    TStickingBevel bevel(&parent);
    bevel.SetColor(QColor(0, 0, 128));
    bevel.SetWeightOfLine(weight);
    bevel.SetSpacing(1);
    bevel.SetStickTo(&target);

    QImage image(bevel.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    bevel.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);

    const QRgb line = QColor(0, 0, 128).rgba();
    const int w = image.width();
    const int h = image.height();
    // Ring i (0-based) is the outline of the client rectangle shrunk by i on every side.
    for (int i = 0; i <= weight; ++i) {
        const bool drawn = i < weight;
        const QList<QPoint> points = {
            {i, i},     {w - 1 - i, i},     {i, h - 1 - i}, {w - 1 - i, h - 1 - i},
            {w / 2, i}, {w / 2, h - 1 - i}, {i, h / 2},     {w - 1 - i, h / 2}};
        for (const QPoint &p : points) {
            const QRgb pixel = image.pixel(p);
            if (drawn)
                QVERIFY2(pixel == line, qPrintable(QStringLiteral("ring %1 at (%2,%3) not drawn")
                                                       .arg(i)
                                                       .arg(p.x())
                                                       .arg(p.y())));
            else
                QVERIFY2(
                    qAlpha(pixel) == 0,
                    qPrintable(QStringLiteral("inside painted at (%1,%2)").arg(p.x()).arg(p.y())));
        }
    }
    QCOMPARE(qAlpha(image.pixel(w / 2, h / 2)), 0);
}

void TestStickingBevel::followsTargetMoveAndResize()
{
    QWidget parent;
    parent.resize(300, 200);
    QWidget target(&parent);
    target.setGeometry(10, 20, 80, 24);
    TStickingBevel bevel(&parent);
    bevel.SetWeightOfLine(2);
    bevel.SetSpacing(1);
    bevel.SetStickTo(&target);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));

    target.move(50, 60);
    QCOMPARE(bevel.geometry(), QRect(47, 57, 86, 30));
    target.resize(100, 40);
    QCOMPARE(bevel.geometry(), QRect(47, 57, 106, 46));
    // Resizing the bevel itself snaps it back around the target.
    bevel.resize(10, 10);
    QCOMPARE(bevel.geometry(), QRect(47, 57, 106, 46));
}

void TestStickingBevel::letsGoOfDestroyedTarget()
{
    QWidget parent;
    auto target = std::make_unique<QWidget>(&parent);
    target->setGeometry(10, 20, 80, 24);
    TStickingBevel bevel(&parent);
    bevel.SetStickTo(target.get());
    const QRect before = bevel.geometry();
    target.reset();
    QCOMPARE(bevel.StickTo(), nullptr);
    QCOMPARE(bevel.geometry(), before);

    // A new control may take the freed place, and a second bevel is not refused for it.
    QWidget next(&parent);
    next.setGeometry(0, 0, 10, 10);
    bevel.SetStickTo(&next);
    QCOMPARE(bevel.StickTo(), &next);
}

void TestStickingBevel::unstickKeepsPlaceAndStopsFollowing()
{
    QWidget parent;
    QWidget target(&parent);
    target.setGeometry(10, 20, 80, 24);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    TStickingBevel bevel(&parent);
    bevel.SetStickTo(&target);
    const QRect before = bevel.geometry();
    bevel.SetStickTo(nullptr);
    QCOMPARE(bevel.StickTo(), nullptr);
    target.move(100, 100);
    QCOMPARE(bevel.geometry(), before);
    // After letting go, a second bevel may surround the control.
    TStickingBevel second(&parent);
    second.SetStickTo(&target);
    QCOMPARE(second.StickTo(), &target);
}

void TestStickingBevel::takesTheTargetsParent()
{
    QWidget window;
    QWidget panel(&window);
    panel.setGeometry(50, 50, 200, 100);
    QWidget target(&panel);
    target.setGeometry(5, 5, 20, 20);
    TStickingBevel bevel(&window);
    bevel.show();
    bevel.SetStickTo(&target);
    QCOMPARE(bevel.parentWidget(), &panel);
    QVERIFY(!bevel.isHidden());
    QCOMPARE(bevel.geometry(), QRect(4, 4, 22, 22));
}

void TestStickingBevel::refusesBevelAsTarget()
{
    QWidget parent;
    QWidget target(&parent);
    target.setGeometry(10, 20, 80, 24);
    TStickingBevel bevel(&parent);
    bevel.SetStickTo(&target);
    const QRect before = bevel.geometry();
    TStickingBevel other(&parent);
    try {
        bevel.SetStickTo(&other);
        QFAIL("sticking to a bevel was accepted");
    } catch (const Exception &e) {
        QCOMPARE(e.Message(), StrConst::BevelOnBevel);
    }
    QCOMPARE(bevel.StickTo(), &target);
    QCOMPARE(bevel.geometry(), before);
}

void TestStickingBevel::refusesSecondBevelOnSameControl()
{
    QWidget parent;
    QWidget target(&parent);
    target.setGeometry(10, 20, 80, 24);
    QWidget own(&parent);
    own.setGeometry(100, 100, 30, 30);
    TStickingBevel first(&parent);
    first.SetStickTo(&target);
    TStickingBevel second(&parent);
    second.SetStickTo(&own);
    const QRect before = second.geometry();
    try {
        second.SetStickTo(&target);
        QFAIL("a second bevel on the same control was accepted");
    } catch (const Exception &e) {
        QCOMPARE(e.Message(), StrConst::BevelTwice);
    }
    QCOMPARE(second.StickTo(), &own);
    QCOMPARE(second.geometry(), before);
    // The refused bevel still follows its own target.
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    own.move(150, 150);
    QCOMPARE(second.geometry().topLeft(), QPoint(149, 149));
}

void TestStickingBevel::ignoresTargetWithoutParent()
{
    QWidget parent;
    QWidget target(&parent);
    target.setGeometry(10, 20, 80, 24);
    TStickingBevel bevel(&parent);
    bevel.SetStickTo(&target);
    QWidget orphan;
    bevel.SetStickTo(&orphan);
    QCOMPARE(bevel.StickTo(), &target);
    QCOMPARE(bevel.parentWidget(), &parent);
}

void TestStickingBevel::isTransparentForMouse()
{
    QWidget parent;
    parent.resize(200, 200);
    QWidget below(&parent);
    below.setGeometry(0, 0, 200, 200);
    QWidget target(&parent);
    target.setGeometry(50, 50, 40, 20);
    TStickingBevel bevel(&parent);
    bevel.SetWeightOfLine(3);
    bevel.SetStickTo(&target);
    bevel.show();
    // A point on the frame reaches the control underneath.
    QCOMPARE(parent.childAt(48, 48), &below);
}

QTEST_MAIN(TestStickingBevel)
#include "tst_stickingbevel.moc"
