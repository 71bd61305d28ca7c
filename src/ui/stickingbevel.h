#pragma once

#include <QColor>
#include <QList>
#include <QPointer>
#include <QWidget>

// A frame drawn around another control of the same window that follows it when it moves or
// changes size and lets go when it is destroyed. It is a see-through child of the target's
// parent (of the splitter's parent for a pane of a splitter, which would take it for a pane)
// and never takes mouse input, so it only marks the control and never hides it.
class TStickingBevel : public QWidget
{
    Q_OBJECT

public:
    explicit TStickingBevel(QWidget *parent = nullptr);
    ~TStickingBevel() override;

    QWidget *StickTo() const { return m_target; }
    // Throws Exception, leaving the bevel as it was, for a target that is a bevel itself or that
    // another bevel already surrounds. A target without a parent is ignored; nullptr unsticks.
    void SetStickTo(QWidget *target);

    QColor Color() const { return m_color; }
    void SetColor(const QColor &color);
    // Gap between the target's edge and the frame; below 0 is stored as 0.
    int Spacing() const { return m_spacing; }
    void SetSpacing(int spacing);
    // Thickness of the frame; below 1 is stored as 1.
    int WeightOfLine() const { return m_weightOfLine; }
    void SetWeightOfLine(int weight);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void placeAroundTarget();
    void unstick();
    void targetDestroyed();

    QPointer<QWidget> m_target;
    QList<QPointer<QWidget>> m_watched; // the target and the splitters it lies in
    QMetaObject::Connection m_destroyedConnection;
    QColor m_color = Qt::black;
    int m_spacing = 0;
    int m_weightOfLine = 1;
};
