#pragma once
// A one-line label that, when narrower than its text, shows the text cut
// short with "…" instead of clipped mid-character; text() stays the whole
// text (the owner gives it a tip with the whole of it).
#include <QLabel>

class ElidedLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget *parent = nullptr);

    // What is drawn at the present width.
    QString shownText() const;
    // True when the text is cut short.
    bool elided() const { return shownText() != text(); }

    // Narrow enough to give way to its neighbours; sizeHint() still asks for the whole text.
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};
