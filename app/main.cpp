#include "cells/CellsCommand.h"
#include "core/CommandLine.h"
#include "core/Settings.h"
#include "core/SettingsLocation.h"
#include "core/SignalClose.h"
#include "forms/Forms.h"
#ifdef VOLTRAK_LABELS
#include "forms/LabelCommand.h"
#endif
#include "forms/RenderCommand.h"
#include "forms/Uvoltrak.h"
#include "library/LibraryCommand.h"
#include "library/LibraryLocation.h"
#include "packs/PackCommand.h"
#include "widgets/AppIcon.h"
#include "widgets/Application.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/Fonts.h"
#include "widgets/LogPane.h"
#include "widgets/SettingsStore.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

// Qt's Windows entry point calls qMain, and Qt's headers rename main to it with a macro, which would rename the
// main window, forms::main, in this file too: the macro goes, and the function takes the entry point's name.
#ifdef QT_NEEDS_QMAIN
#undef main
#define VOLTRAK_ENTRY qMain
#else
#define VOLTRAK_ENTRY main
#endif

namespace {

// The options that print and end need neither a display nor the toolkit.
int RunWithoutToolkit(const cli::Options &options)
{
    switch (options.action) {
    case cli::Action::Version: std::printf("%s\n", cli::VersionText().toUtf8().constData()); return 0;
    case cli::Action::Help: std::printf("%s", cli::UsageText().toUtf8().constData()); return 0;
    default: std::fprintf(stderr, "%s\n", options.error.toUtf8().constData()); return cli::ExitUsage;
    }
}

// --render: the draw command's picture, on a window that is never shown.
int RunRender(int argc, char **argv, const cli::Options &options)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    VoltrakApplication app(argc, argv);
    fonts::InstallSubstitutions();
    settings::LoadSettings();
    QTextStream err(stderr);
    return render::RenderLogToPicture(options.renderLog, options.output, err);
}

// --cells: the cell list as CSV on standard output; no window at all.
int RunCells(int argc, char **argv, const cli::Options &options)
{
    QCoreApplication app(argc, argv);
    settings::LoadSettings();
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly))
        return cli::ExitFailure;
    QTextStream err(stderr);
    return cells::PrintCellFigures(options.cellLogs, out, err);
}

// --import, --import-figures, --export-cells, --export-runs, --pack, --library-copy: the cell library
// without a window.
int RunLibrary(int argc, char **argv, const cli::Options &options)
{
    QCoreApplication app(argc, argv);
    settings::LoadSettings();
    const QString path = library::CurrentLibraryPath(options.libraryFile);
    QTextStream err(stderr);
    if (options.action == cli::Action::LibraryCopy) {
        QTextStream out(stdout);
        return library::RunCopy(
            library::CurrentLibraryPath(options.copyFrom), library::CurrentLibraryPath(options.copyTo), out, err);
    }
    if (options.action == cli::Action::Import) {
        QTextStream out(stdout);
        return library::RunImport(path, options.importFiles, analysis::CurrentCapacityParameters(), out, err);
    }
    if (options.action == cli::Action::ImportFigures) {
        QTextStream out(stdout);
        return library::RunImportFigures(path, options.figuresFile, options.figureColumns, out, err);
    }
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly))
        return cli::ExitFailure;
    if (options.action == cli::Action::Pack) {
        packs::PackCommandOptions pack;
        pack.shape = options.packShape;
        pack.packs = options.packCount;
        pack.curve = options.packCurve;
        pack.grade = options.packGrade;
        pack.aim = options.packAim == QLatin1String("even") ? packs::Aim::Even : packs::Aim::Capacity;
        pack.maxResistance = options.packMaxResistance;
        const int status = packs::RunPack(path, pack, out, err);
        err.flush();
        return status;
    }
    return library::RunExport(
        path, options.action == cli::Action::ExportCells ? library::Export::Cells : library::Export::Runs, out, err);
}

// --labels, --labels-all: the labels' file, drawn with the toolkit's fonts on no display.
int RunLabels(int argc, char **argv, const cli::Options &options)
{
#ifdef VOLTRAK_LABELS
    qputenv("QT_QPA_PLATFORM", "offscreen");
    VoltrakApplication app(argc, argv);
    fonts::InstallSubstitutions();
    settings::LoadSettings();
    celllabels::LabelCommandOptions labels;
    labels.cells = options.labelCells;
    labels.all = options.labelsAll;
    labels.output = options.output;
    labels.size = options.labelSize;
    labels.code = options.labelCode;
    QTextStream err(stderr);
    return celllabels::RunLabels(library::CurrentLibraryPath(options.libraryFile), labels, err);
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    Q_UNUSED(options);
    std::fprintf(stderr, "voltrak: this build prints no labels\n");
    return cli::ExitFailure;
#endif
}

} // namespace

int VOLTRAK_ENTRY(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const cli::Options options = cli::Parse(args);
    if (options.action == cli::Action::Version || options.action == cli::Action::Help
        || options.action == cli::Action::Error)
        return RunWithoutToolkit(options);

    settings::SetIniFilePath(options.settingsFile);
    if (options.action == cli::Action::Render)
        return RunRender(argc, argv, options);
    if (options.action == cli::Action::Cells)
        return RunCells(argc, argv, options);
    if (options.action == cli::Action::Import || options.action == cli::Action::ImportFigures
        || options.action == cli::Action::ExportCells || options.action == cli::Action::ExportRuns
        || options.action == cli::Action::Pack || options.action == cli::Action::LibraryCopy)
        return RunLibrary(argc, argv, options);
    if (options.action == cli::Action::Labels)
        return RunLabels(argc, argv, options);

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
    // A logout, kill or Ctrl+C closes the main window as the user would. One
    // that comes while the program is still starting (a start-up box may be
    // waiting) closes the box and then the main window, instead of being lost.
    bool running = false;
    bool closeWhenStarted = false;
    SignalClose closeOnSignal([&running, &closeWhenStarted] {
        if (running) {
            forms::main->close();
            return;
        }
        closeWhenStarted = true;
        if (QWidget *box = QApplication::activeModalWidget())
            box->close();
    });
    int rc = 1;
    try {
        forms::CreateForms(library::CurrentLibraryPath(options.libraryFile));
        if (!closeWhenStarted)
            forms::main->show();
        if (closeWhenStarted) {
            forms::main->close();
            rc = 0;
        } else {
            if (!options.openFile.isEmpty()) {
                // From the event loop, so a file that cannot be read is shown
                // like any other failure of 開く.
                const QString path = options.openFile;
                QTimer::singleShot(0, forms::main, [path] { forms::main->OpenFile(path); });
            }
            running = true;
            rc = app.exec();
        }
    } catch (...) {
        // Whatever was thrown, the user learns of it before the program ends.
        errors::ShowCurrentException();
    }
    forms::DestroyForms();
    return rc;
}
