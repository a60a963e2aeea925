#pragma once
// The program's command line: with no arguments the main window starts as it always has;
// a file to open, the settings file, and the commands that need no window (render, cells).
#include <QString>
#include <QStringList>

namespace cli {

enum class Action {
    Run, // open the main window (and the file, if one is named)
    Version, // print the version and end
    Help, // print the usage and end
    Render, // draw a log's last table into a picture file, no window
    Cells, // print the cell figures of logs as CSV
    Import, // record every table of files into the cell library
    ImportFigures, // store the measurements of a figures CSV in the cell library
    ExportCells, // print the library's cells as CSV
    ExportRuns, // print the library's runs as CSV, one record per run and bay
    Pack, // print a pack plan from the library's cells as CSV
    Labels, // write the labels of cells of the library as PDF or PNG
    LibraryCopy, // copy a whole library into an empty one
    Error, // a bad command line: print `error` and end with status 2
};

struct Options {
    Action action = Action::Run;
    QString openFile; // voltrak FILE
    QString settingsFile; // --settings FILE
    QString renderLog; // --render LOG
    QString output; // --output PICTURE, or the labels' PDF or PNG
    QStringList cellLogs; // --cells LOG...
    QString libraryFile; // --library FILE, or a server: postgresql://... or service=NAME
    QString copyFrom, copyTo; // --library-copy FROM TO
    QStringList importFiles; // --import FILE...
    QString figuresFile; // --import-figures FILE.csv
    QString figureColumns; // --figure-columns L,D,F,V[,header]; empty: those the library keeps
    QString packShape; // --pack 10S20P
    int packCount = 1; // --packs K
    bool packCurve = false; // --curve
    QString packGrade; // --grade 良
    QString packAim; // --aim: "capacity", "even", or empty (capacity)
    QString packMaxResistance; // --max-ir MILLIOHM; empty: no limit
    QStringList labelCells; // --labels LABEL...
    bool labelsAll = false; // --labels-all: every cell in use
    QString labelSize; // --label-size NAME; empty: the default size
    QString labelCode; // --code NAME; empty: the default code
    QString error; // one line naming what is wrong
};

// args: the arguments after the program name.
Options Parse(const QStringList &args);

// "VOLTRAK 4.01"
QString VersionText();

// The usage printed by --help.
QString UsageText();

// Exit statuses of the options that end at once.
constexpr int ExitUsage = 2;
constexpr int ExitFailure = 1;

} // namespace cli
