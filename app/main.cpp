#include "app/ErrorDisplay.h"
#include "app/AppIcon.h"
#include "app/Fonts.h"
#include "app/Forms.h"
#include "app/SignalClose.h"
#include "app/Uvoltrak.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    // Without a display the toolkit would abort with its own message; say it plainly.
    const char *platform = std::getenv("QT_QPA_PLATFORM");
    const bool needsDisplay = !platform || std::string(platform).rfind("xcb", 0) == 0;
    if (needsDisplay && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
        std::fprintf(stderr, "VOLTRAK needs a graphical display (DISPLAY is not set).\n");
        return 1;
    }

    VoltrakApplication app(argc, argv);
    fonts::InstallSubstitutions();
    fonts::InstallJapaneseTranslations();
    app.setWindowIcon(appicon::Icon());
    // A logout, kill or Ctrl+C closes the main window as the user would.
    SignalClose closeOnSignal([] {
        if (forms::main)
            forms::main->close();
        else
            QCoreApplication::quit();
    });
    int rc = 1;
    try {
        forms::CreateForms();
        forms::main->show();
        rc = app.exec();
    } catch (...) {
        // Whatever was thrown, the user learns of it before the program ends.
        errors::ShowCurrentException();
    }
    forms::DestroyForms();
    return rc;
}
