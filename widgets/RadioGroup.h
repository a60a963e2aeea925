#pragma once
// Titled group of mutually exclusive items; the selected item's index is the value.
#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

class RadioGroup : public QGroupBox
{
    Q_OBJECT
public:
    explicit RadioGroup(const QString &title, const QStringList &items, QWidget *parent = nullptr);

    // -1 when nothing is selected.
    int itemIndex() const;
    // Clamped to -1 .. last item; -1 clears without a notification; the
    // index already selected raises nothing.
    void setItemIndex(int index);
    int count() const;
    QRadioButton *button(int index) const;
    // Puts the group's items after previous in the Tab order.
    void chainTabOrder(QWidget *previous) const;
    QWidget *lastTabItem() const;

signals:
    // A newly selected item, by the user or the program.
    void clicked();

private:
    QButtonGroup *m_group;
    bool m_clearing = false;
};
