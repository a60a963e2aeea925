#include "widgets/RadioGroup.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QVBoxLayout>

RadioGroup::RadioGroup(const QString &title, const QStringList &items, QWidget *parent)
    : QGroupBox(title, parent)
    , m_group(new QButtonGroup(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 2, 4, 2);
    layout->setSpacing(0);
    for (int i = 0; i < items.size(); ++i) {
        auto *b = new QRadioButton(items.at(i), this);
        m_group->addButton(b, i);
        layout->addWidget(b);
    }
    connect(m_group, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked && !m_clearing)
            emit clicked();
    });
    // The group is one Tab stop: Tab enters it at the selected item (the first
    // when none is) and leaves it at once; the arrow keys move within it.
    const auto tabOnSelected = [this] {
        const int selected = qMax(0, itemIndex());
        for (int i = 0; i < count(); ++i)
            button(i)->setFocusPolicy(i == selected ? Qt::StrongFocus : Qt::ClickFocus);
    };
    tabOnSelected();
    connect(m_group, &QButtonGroup::idToggled, this, tabOnSelected);
}

void RadioGroup::chainTabOrder(QWidget *previous) const
{
    for (int i = 0; i < count(); ++i) {
        QWidget::setTabOrder(previous, button(i));
        previous = button(i);
    }
}

int RadioGroup::itemIndex() const
{
    return m_group->checkedId();
}

int RadioGroup::count() const
{
    return int(m_group->buttons().size());
}

QRadioButton *RadioGroup::button(int index) const
{
    return qobject_cast<QRadioButton *>(m_group->button(index));
}

void RadioGroup::setItemIndex(int index)
{
    index = qBound(-1, index, count() - 1);
    if (index == itemIndex())
        return;
    if (index < 0) {
        // Unchecking needs a non-exclusive group for a moment.
        m_clearing = true;
        m_group->setExclusive(false);
        if (QAbstractButton *b = m_group->checkedButton())
            b->setChecked(false);
        m_group->setExclusive(true);
        m_clearing = false;
        return;
    }
    m_group->button(index)->setChecked(true);
}

QWidget *RadioGroup::lastTabItem() const
{
    return button(count() - 1);
}
