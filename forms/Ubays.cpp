#include "forms/Ubays.h"
#include "widgets/Fonts.h"

#include "library/Capture.h"
#include "library/LibraryService.h"
#include "widgets/FieldKeys.h"
#include "widgets/WindowSize.h"

#include <QAction>
#include <QCompleter>
#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringListModel>
#include <QVBoxLayout>

Tbays::Tbays(library::BayAssignment *bays, library::LibraryService *service, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_bays(bays)
    , m_service(service)
{
    m_geometry = new windowsize::FramedGeometry(this);
    setObjectName(QStringLiteral("bays"));
    setWindowTitle(QStringLiteral("装着セル"));
    setFont(fonts::WindowFont());

    m_labels = new QStringListModel(this);
    auto *grid = new QGridLayout;
    for (int i = 0; i < 4; ++i) {
        auto *caption = new QLabel(QStringLiteral("Bat%1").arg(i + 1), this);
        Edit[i] = new QLineEdit(this);
        Edit[i]->setObjectName(QStringLiteral("Bat%1").arg(i + 1));
        Edit[i]->setMinimumWidth(160);
        fieldkeys::IgnoreAltText(Edit[i]);
        caption->setBuddy(Edit[i]);
        auto *completer = new QCompleter(m_labels, Edit[i]);
        completer->setCaseSensitivity(Qt::CaseInsensitive);
        completer->setCompletionMode(QCompleter::PopupCompletion);
        Edit[i]->setCompleter(completer);
        // Also when the completion list is open: it closes and what was typed
        // stands, unless a label in it was chosen.
        connect(Edit[i], &QLineEdit::returnPressed, this, [this, i] { enterPressed(i); });
        grid->addWidget(caption, i, 0);
        grid->addWidget(Edit[i], i, 1);
        // Typed labels are the assignment at once: a run that arrives before
        // Enter still gets what the field shows.
        connect(Edit[i], &QLineEdit::textChanged, this, [this, i](const QString &text) {
            if (m_bays && m_bays->label(i + 1) != text.trimmed())
                m_bays->setLabel(i + 1, text);
        });
    }

    Button1 = new QPushButton(QStringLiteral("クリア(&C)"), this);
    Button2 = new QPushButton(QStringLiteral("閉じる"), this);
    // Enter belongs to the fields: no button takes it.
    for (QPushButton *b : {Button1, Button2})
        b->setAutoDefault(false);
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Status"));
    Label1->setTextFormat(Qt::PlainText);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(Button1);
    buttons->addStretch(1);
    buttons->addWidget(Button2);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(Label1);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(Button1, &QPushButton::clicked, this, &Tbays::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &Tbays::Button2Click);
    auto *escape = new QAction(this);
    escape->setShortcut(QKeySequence(Qt::Key_Escape));
    connect(escape, &QAction::triggered, this, &Tbays::Button2Click);
    addAction(escape);

    if (m_bays)
        connect(m_bays, &library::BayAssignment::changed, this, &Tbays::takeFromAssignment);
    if (m_service) {
        connect(m_service, &library::LibraryService::runRecorded, this, &Tbays::runRecorded);
        connect(m_service, &library::LibraryService::changed, this, &Tbays::refreshCompletions);
    }
    takeFromAssignment();
}

QStringList Tbays::completions() const
{
    return m_labels->stringList();
}

void Tbays::takeFromAssignment()
{
    if (!m_bays)
        return;
    for (int i = 0; i < 4; ++i) {
        // A field being typed in keeps its blanks; only another label replaces it.
        if (Edit[i]->text().trimmed() != m_bays->label(i + 1))
            Edit[i]->setText(m_bays->label(i + 1));
    }
}

void Tbays::refreshCompletions()
{
    if (!m_service)
        return;
    m_service->query<QStringList>([](library::Library &lib) { return lib.labels(); }, this,
        [this](const QStringList &labels) { m_labels->setStringList(labels); });
}

void Tbays::runRecorded(const library::RecordResult &result, const QDateTime &when)
{
    const QString time = when.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
    Label1->setText(result.isNew ? QStringLiteral("記録しました: ") + time : QStringLiteral("記録済みです: ") + time);
}

void Tbays::Button1Click()
{
    if (m_bays)
        m_bays->clear();
    for (QLineEdit *e : Edit)
        e->clear();
    Edit[0]->setFocus(Qt::OtherFocusReason);
}

void Tbays::Button2Click()
{
    hide();
}

void Tbays::showEvent(QShowEvent *event)
{
    if (!m_placed) {
        m_placed = true;
        m_geometry->centre();
    }
    QWidget::showEvent(event);
    refreshCompletions();
    // The scanner starts at Bat1, ready to replace what is there.
    Edit[0]->setFocus(Qt::OtherFocusReason);
    Edit[0]->selectAll();
}

void Tbays::enterPressed(int i)
{
    if (m_bays)
        m_bays->setLabel(i + 1, Edit[i]->text());
    // After Bat4 the next set starts again at Bat1.
    QLineEdit *next = Edit[(i + 1) % 4];
    next->setFocus(Qt::TabFocusReason);
    next->selectAll();
}
