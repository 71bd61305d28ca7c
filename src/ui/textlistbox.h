#pragma once

#include <QListWidget>

// A list box whose horizontal scroll range always covers its widest item, so that long names
// can be scrolled into view. The range is kept up to date as items are added, removed, cleared
// or renamed and when the font changes.
class TTextListBox : public QListWidget
{
    Q_OBJECT

public:
    explicit TTextListBox(QWidget *parent = nullptr);
    ~TTextListBox() override;

    // Width in pixels of the widest item (0 when empty): the horizontal scroll extent.
    int MaxWidth() const { return m_maxWidth; }
    // Pixel width of the item's text followed by "x" in the list box's font, tabs expanded.
    int ItemWidth(int index) const;
    int TextWidth(const QString &text) const;
    // Tab width in quarters of the width of "0"; 0 leaves tabs unexpanded.
    int TabWidth() const { return m_tabWidth; }
    void SetTabWidth(int tabWidth);
    // Measures every item afresh.
    void RecalcMaxWidth();

protected:
    void changeEvent(QEvent *event) override;
    void updateGeometries() override;

private:
    void applyExtent();
    void scrollFullyLeft();

    int m_maxWidth = 0;
    int m_tabWidth = 0;
    bool m_recalcAfterRemove = false;
};
