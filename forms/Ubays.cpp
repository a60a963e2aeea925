#include "forms/Ubays.h"
#include "widgets/Fonts.h"

#include "library/Capture.h"
#include "library/LibraryService.h"
#include "library/Scanner.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/FieldKeys.h"
#include "widgets/WindowSize.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCompleter>
#include <QDateTime>
#include <QFocusEvent>
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
        bayEdits[i] = new QLineEdit(this);
        bayEdits[i]->setObjectName(QStringLiteral("Bat%1").arg(i + 1));
        bayEdits[i]->setMinimumWidth(160);
        fieldkeys::IgnoreAltText(bayEdits[i]);
        caption->setBuddy(bayEdits[i]);
        auto *completer = new QCompleter(m_labels, bayEdits[i]);
        completer->setCaseSensitivity(Qt::CaseInsensitive);
        completer->setCompletionMode(QCompleter::PopupCompletion);
        bayEdits[i]->setCompleter(completer);
        // Also when the completion list is open: it closes and what was typed
        // stands, unless a label in it was chosen.
        connect(bayEdits[i], &QLineEdit::returnPressed, this, [this, i] { enterPressed(i); });
        connect(completer, qOverload<const QString &>(&QCompleter::activated), this, [this, i] { accepted(i); });
        bayEdits[i]->installEventFilter(this);
        grid->addWidget(caption, i, 0);
        grid->addWidget(bayEdits[i], i, 1);
        // Typed labels are the assignment at once: a run that arrives before
        // Enter still gets what the field shows.
        connect(bayEdits[i], &QLineEdit::textChanged, this, [this, i](const QString &text) { typed(i, text); });
    }

    clearButton = new QPushButton(QStringLiteral("クリア(&C)"), this);
    closeButton = new QPushButton(QStringLiteral("閉じる"), this);
    // Enter belongs to the fields: no button takes it.
    for (QPushButton *b : {clearButton, closeButton})
        b->setAutoDefault(false);
    statusLabel = new QLabel(this);
    statusLabel->setObjectName(QStringLiteral("Status"));
    statusLabel->setTextFormat(Qt::PlainText);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(clearButton);
    buttons->addStretch(1);
    buttons->addWidget(closeButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(statusLabel);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(clearButton, &QPushButton::clicked, this, &Tbays::clearClicked);
    connect(closeButton, &QPushButton::clicked, this, &Tbays::closeClicked);
    auto *escape = new QAction(this);
    escape->setShortcut(QKeySequence(Qt::Key_Escape));
    connect(escape, &QAction::triggered, this, [this] {
        // An open completion list is closed first, the window stays.
        for (QLineEdit *e : bayEdits) {
            if (e->completer() && e->completer()->popup()->isVisible()) {
                e->completer()->popup()->hide();
                return;
            }
        }
        // What is typed and not taken with Enter is dropped: the window
        // opens again with what the bays hold.
        dropUnaccepted();
        closeClicked();
    });
    addAction(escape);

    if (m_bays)
        connect(m_bays, &library::BayAssignment::changed, this, &Tbays::takeFromAssignment);
    if (m_service) {
        connect(m_service, &library::LibraryService::runRecorded, this, &Tbays::runRecorded);
        // A label renamed or made elsewhere is offered at once.
        connect(m_service, &library::LibraryService::changed, this, [this](library::Changes what) {
            if (what & library::Change::Cells)
                refreshCompletions();
            if (what & library::Change::Settings)
                refreshScannerPrefix();
        });
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
        // A field being typed in keeps its blanks; only another label replaces
        // it; a refused label stays to be corrected.
        if (m_refused[i] && m_bays->label(i + 1).isEmpty())
            continue;
        if (bayEdits[i]->text().trimmed() != m_bays->label(i + 1))
            bayEdits[i]->setText(m_bays->label(i + 1));
        // A bay changed from outside (a rename, クリア, the kept bays) is what an edit starts from.
        if (!m_typing[i])
            m_beforeTyping[i] = m_bays->cells().value(i);
    }
}

void Tbays::refreshCompletions()
{
    if (!m_service)
        return;
    m_service->readLabels(this, [this](const library::Reply<QStringList> &r) {
        // The server away: the labels read before still complete.
        if (r.ok())
            m_labels->setStringList(r.value);
        else if (!r.stale)
            errors::ShowWarning(r.error);
    });
}

void Tbays::refreshScannerPrefix()
{
    if (!m_service)
        return;
    m_service->readScannerPrefix(this, [this](const library::Reply<QString> &r) {
        if (r.ok())
            m_prefix = r.value;
        else if (!r.stale)
            errors::ShowWarning(r.error);
    });
}

void Tbays::runRecorded(const library::RecordResult &result, const QDateTime &when)
{
    const QString time = when.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
    QString text = result.isNew ? QStringLiteral("記録しました: ") + time : QStringLiteral("記録済みです: ") + time;
    if (result.queued)
        text = QStringLiteral("未送信で保存しました: ") + time;
    // A discharge recorded to no cell must not pass unnoticed.
    if ((result.isNew || result.queued) && result.assignedBays == 0)
        text += QStringLiteral("（装着なし）");
    statusLabel->setText(text);
}

void Tbays::typed(int i, const QString &text)
{
    if (!m_bays)
        return;
    // The scanner's prefix is no part of the label: the field shows the label alone, and typing it again
    // brings back here with that.
    if (!m_prefix.isEmpty() && text.trimmed().startsWith(m_prefix)) {
        bayEdits[i]->setText(library::ScannedLabel(text, m_prefix));
        return;
    }
    // A cell is in one bay at a time: the label stays in the field to be
    // corrected, the bay holds nothing meanwhile.
    const int other = m_bays->bayHolding(text, i + 1);
    if (other != 0) {
        statusLabel->setText(QStringLiteral("%1 は Bat%2 に装着されています").arg(text.trimmed()).arg(other));
        m_refused[i] = true;
        m_bays->setLabel(i + 1, QString());
        return;
    }
    if (m_refused[i]) {
        m_refused[i] = false;
        statusLabel->clear();
    }
    if (m_bays->label(i + 1) != text.trimmed()) {
        // Typed by the user into the field being edited: not yet taken.
        if (bayEdits[i]->hasFocus())
            m_typing[i] = true;
        m_bays->setLabel(i + 1, text);
    }
}

void Tbays::clearClicked()
{
    for (bool &typing : m_typing)
        typing = false;
    if (m_bays)
        m_bays->clear();
    for (QLineEdit *e : bayEdits)
        e->clear();
    bayEdits[0]->setFocus(Qt::OtherFocusReason);
}

void Tbays::closeClicked()
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
    for (int i = 0; i < 4; ++i)
        accepted(i);
    refreshCompletions();
    // Before the first scan, as the completions; a library that could not be opened was reported once already.
    refreshScannerPrefix();
    // The scanner starts at Bat1, ready to replace what is there.
    bayEdits[0]->setFocus(Qt::OtherFocusReason);
    bayEdits[0]->selectAll();
}

void Tbays::accepted(int i)
{
    if (m_bays && !m_refused[i])
        m_beforeTyping[i] = m_bays->cells().value(i);
    m_typing[i] = false;
}

void Tbays::dropUnaccepted()
{
    for (int i = 0; i < 4; ++i) {
        if (m_typing[i] && m_bays)
            m_bays->setCell(i + 1, m_beforeTyping[i]);
        m_typing[i] = false;
        if (m_refused[i]) {
            m_refused[i] = false;
            statusLabel->clear();
        }
    }
    takeFromAssignment();
}

bool Tbays::eventFilter(QObject *watched, QEvent *event)
{
    // A field entered starts an edit; leaving it for another field or a
    // button takes what it shows, as Enter does.
    for (int i = 0; i < 4; ++i) {
        if (watched != bayEdits[i])
            continue;
        if (event->type() == QEvent::FocusIn) {
            // Back from another window or the completion list, the edit goes on.
            const auto reason = static_cast<QFocusEvent *>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                accepted(i);
        } else if (event->type() == QEvent::FocusOut) {
            const auto reason = static_cast<QFocusEvent *>(event)->reason();
            if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::MouseFocusReason)
                accepted(i);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Tbays::enterPressed(int i)
{
    if (m_refused[i]) {
        // Refused: the scanner's next label replaces it here.
        bayEdits[i]->selectAll();
        return;
    }
    if (m_bays)
        m_bays->setLabel(i + 1, bayEdits[i]->text());
    accepted(i);
    // After Bat4 the next set starts again at Bat1.
    QLineEdit *next = bayEdits[(i + 1) % 4];
    next->setFocus(Qt::TabFocusReason);
    next->selectAll();
}
