#include "widgets/NumericField.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QToolButton>
#include <QValidator>

bool NumericField::isAllowedChar(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+') || c == QLatin1Char('-')
        || c == QLocale().decimalPoint().at(0);
}

namespace {

// Stands behind the key filter for text that arrives any other way (paste,
// input method, drag and drop): an edit that would let in any other
// character is undone.
class AllowedCharsValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override
    {
        for (QChar c : input)
            if (!NumericField::isAllowedChar(c))
                return Invalid;
        return Acceptable;
    }
};

bool hasDefaultButton(const QWidget *w)
{
    const auto buttons = w->window()->findChildren<QPushButton *>();
    for (const QPushButton *b : buttons)
        if (b->isDefault() && b->isVisible() && b->isEnabled())
            return true;
    return false;
}

} // namespace

NumericField::NumericField(QWidget *parent)
    : QWidget(parent)
    , m_edit(new QLineEdit(this))
    , m_up(new QToolButton(this))
    , m_down(new QToolButton(this))
{
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    for (QToolButton *b : {m_up, m_down}) {
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRepeat(true);
    }
    setFocusProxy(m_edit);
    setFocusPolicy(Qt::StrongFocus);
    m_edit->installEventFilter(this);
    m_edit->setText(QStringLiteral("0"));
    m_edit->setValidator(new AllowedCharsValidator(m_edit));
    connect(m_edit, &QLineEdit::textChanged, this, &NumericField::changed);
    connect(m_up, &QToolButton::clicked, this, &NumericField::stepUp);
    connect(m_down, &QToolButton::clicked, this, &NumericField::stepDown);
    resize(58, 21);
}

void NumericField::setRange(int minimum, int maximum)
{
    m_min = minimum;
    m_max = maximum;
}

int NumericField::clamp(qint64 v) const
{
    if (m_min != m_max) {
        if (v < m_min)
            v = m_min;
        if (v > m_max)
            v = m_max;
    }
    return int(qBound(qint64(INT32_MIN), v, qint64(INT32_MAX)));
}

int NumericField::value()
{
    bool ok = false;
    const int v = m_edit->text().trimmed().toInt(&ok, 10);
    if (!ok) {
        m_edit->setText(QString::number(m_min));
        return m_min;
    }
    return v;
}

void NumericField::setValue(int v)
{
    m_edit->setText(QString::number(clamp(v)));
}

QString NumericField::text() const
{
    return m_edit->text();
}

void NumericField::setText(const QString &text)
{
    m_edit->setText(text);
}

void NumericField::stepUp()
{
    setValue(clamp(qint64(value()) + m_increment));
}

void NumericField::stepDown()
{
    setValue(clamp(qint64(value()) - m_increment));
}

bool NumericField::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_edit) {
        if (event->type() == QEvent::KeyPress) {
            auto *key = static_cast<QKeyEvent *>(event);
            if (key->key() == Qt::Key_Up) {
                stepUp();
                return true;
            }
            if (key->key() == Qt::Key_Down) {
                stepDown();
                return true;
            }
            // Return never enters the field: it goes on to the dialog's default
            // button, and where there is none it is dropped with a beep.
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                if (hasDefaultButton(this))
                    return false;
                rejectInput();
                return true;
            }
            // Printable keys are typing: only digits, signs and the decimal
            // separator, and only unmodified, may enter; anything else (Alt+H,
            // Meta+1, ...) is dropped with a beep. Editing keys carry no
            // printable text and pass.
            const QString t = key->text();
            if (!t.isEmpty() && t.at(0).isPrint()) {
                const bool modified = key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
                bool allowed = !modified;
                for (QChar c : t)
                    allowed = allowed && isAllowedChar(c);
                if (!allowed) {
                    rejectInput();
                    return true;
                }
            }
        } else if (event->type() == QEvent::FocusOut) {
            // Leaving the field pulls a typed value back into range.
            setValue(value());
        }
    }
    return QWidget::eventFilter(watched, event);
}

void NumericField::rejectInput()
{
    emit inputRejected();
    QApplication::beep();
}

void NumericField::resizeEvent(QResizeEvent *)
{
    const int bw = qMin(16, width() / 3);
    const int h = height();
    m_edit->setGeometry(0, 0, width() - bw, h);
    m_up->setGeometry(width() - bw, 0, bw, h / 2);
    m_down->setGeometry(width() - bw, h / 2, bw, h - h / 2);
}
