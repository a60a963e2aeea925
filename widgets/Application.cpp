#include "widgets/Application.h"
#include "widgets/ErrorDisplay.h"

VoltrakApplication::VoltrakApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
    // The name for the task bar, the window class and the settings file.
    // No display name: the window system would append it to every caption.
    setApplicationName(QStringLiteral("VOLTRAK"));
}

bool VoltrakApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        errors::ShowCurrentException();
    }
    return true;
}
