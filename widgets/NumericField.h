#pragma once
// Integer entry box with up and down buttons, used by every dialog.
#include <QWidget>

class QLineEdit;
class QToolButton;

class NumericField : public QWidget
{
    Q_OBJECT
public:
    explicit NumericField(QWidget *parent = nullptr);

    void setRange(int minimum, int maximum);
    void setIncrement(int increment) { m_increment = increment; }
    int minValue() const { return m_min; }
    int maxValue() const { return m_max; }
    int increment() const { return m_increment; }

    // The text as an integer; text that is not an integer reads as the minimum
    // and the text is reset to it.
    int value();
    // Shows v as decimal text, clamped to the range unless minimum equals maximum.
    void setValue(int v);

    QString text() const;
    void setText(const QString &text);
    QLineEdit *lineEdit() const { return m_edit; }

    // Step by the increment, as the buttons and the Up/Down keys do.
    void stepUp();
    void stepDown();

    // The characters that may enter the field: digits, the signs and the
    // decimal separator.
    static bool isAllowedChar(QChar c);

signals:
    // Raised on every real change of the shown text, by the user or the program.
    void changed();
    // A key was refused (and the beep sounded).
    void inputRejected();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    int clamp(qint64 v) const;
    void rejectInput();

    QLineEdit *m_edit;
    QToolButton *m_up;
    QToolButton *m_down;
    int m_min = 0;
    int m_max = 0;
    int m_increment = 1;
};
