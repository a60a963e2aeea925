#include "widgets/FieldKeys.h"

#include <QKeyEvent>
#include <QWidget>

namespace fieldkeys {

namespace {

class AltTextFilter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const auto *key = static_cast<QKeyEvent *>(event);
            if ((key->modifiers() & Qt::AltModifier) && !(key->modifiers() & Qt::ControlModifier)
                && !key->text().isEmpty())
                return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

void IgnoreAltText(QWidget *field)
{
    field->installEventFilter(new AltTextFilter(field));
}

} // namespace fieldkeys
