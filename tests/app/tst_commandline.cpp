// The command line and where the settings live: the parser and the place rule
// directly, then the program itself run without a display.
#include "core/CommandLine.h"
#include "core/IniFile.h"
#include "core/Settings.h"
#include "core/SettingsLocation.h"
#include "core/SjisText.h"
#include "tests/support/MetafileReader.h"
#include "tests/support/PtyHelpers.h"
#include "tests/support/TestFiles.h"
#include "widgets/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <csignal>

namespace {

const QByteArray TableLog = "2026/12/08 10:00\r\nBat-V Bat1 Bat2 Bat3 Bat4\r\n"
                            "1.40V 0 0 0 0\r\n1.30V 40 38 35 30\r\n1.20V 80 76 70 60\r\n"
                            "1.10V 120 114 105 90\r\n1.00V 160 152 140 120\r\n";

struct Run {
    int status = -1;
    QByteArray out, err;
};

// The program with neither a display nor a platform chosen.
Run RunProgram(const QStringList &args, const QString &program = QStringLiteral(VOLTRAK_EXE))
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(v));
    p.setProcessEnvironment(env);
    p.start(program, args);
    Run r;
    if (!p.waitForFinished(60000))
        return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void iniPlace_data();
    void iniPlace();
    void settingsFolderIsCreated();
    void printingOptions_data();
    void printingOptions();
    void renderEachFormat_data();
    void renderEachFormat();
    void cells_data();
    void cells();
    void fileReasons_data();
    void fileReasons();
    void renderWithoutTable_data();
    void renderWithoutTable();
    void packFromLibrary();
    void settingsBesideACopiedProgram();
    void twoCopiesKeepTheirOwnSettingsAndJournals();
};

void TestCommandLine::parse_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("detail"); // the field the action is about, or the error

    const auto A = [](cli::Action a) { return int(a); };
    QTest::newRow("nothing") << QStringList{} << A(cli::Action::Run) << QString();
    QTest::newRow("file") << QStringList{"a.log"} << A(cli::Action::Run) << "a.log";
    QTest::newRow("file after --") << QStringList{"--", "--odd.log"} << A(cli::Action::Run) << "--odd.log";
    QTest::newRow("settings") << QStringList{"--settings", "x.ini"} << A(cli::Action::Run) << "x.ini";
    QTest::newRow("settings=") << QStringList{"--settings=x.ini", "a.log"} << A(cli::Action::Run) << "x.ini";
    QTest::newRow("version") << QStringList{"--version"} << A(cli::Action::Version) << QString();
    QTest::newRow("help wins") << QStringList{"--version", "--help"} << A(cli::Action::Help) << QString();
    QTest::newRow("render") << QStringList{"--render", "a.log", "--output", "g.emf"} << A(cli::Action::Render)
                            << "a.log>g.emf";
    QTest::newRow("render, output first")
        << QStringList{"--output=g.bmp", "--render=a.log"} << A(cli::Action::Render) << "a.log>g.bmp";
    QTest::newRow("cells") << QStringList{"--cells", "a.log", "b.log"} << A(cli::Action::Cells) << "a.log,b.log";
    QTest::newRow("unknown") << QStringList{"a.log", "--colour=red"} << A(cli::Action::Error)
                             << "voltrak: unknown option --colour";
    QTest::newRow("unknown short") << QStringList{"-x"} << A(cli::Action::Error) << "voltrak: unknown option -x";
    QTest::newRow("settings without file")
        << QStringList{"--settings"} << A(cli::Action::Error) << "voltrak: option --settings needs a file name";
    QTest::newRow("render without output")
        << QStringList{"--render", "a.log"} << A(cli::Action::Error) << "voltrak: --render needs --output PICTURE";
    QTest::newRow("output only an extension") << QStringList{"--render", "a.log", "--output",
        ".png"} << A(cli::Action::Error) << "voltrak: --output .png has no file name before the extension";
    QTest::newRow("output only an extension, in a folder") << QStringList{"--render", "a.log", "--output",
        "pics/.svg"} << A(cli::Action::Error) << "voltrak: --output pics/.svg has no file name before the extension";
    QTest::newRow("output a folder name") << QStringList{"--render", "a.log", "--output",
        "pics/"} << A(cli::Action::Error) << "voltrak: --output pics/ has no file name before the extension";
    QTest::newRow("hidden name with an extension")
        << QStringList{"--render", "a.log", "--output", ".graph.png"} << A(cli::Action::Render) << "a.log>.graph.png";
    QTest::newRow("output alone") << QStringList{"--output", "g.bmp"} << A(cli::Action::Error)
                                  << "voltrak: --output is only used with --render and --labels";
    QTest::newRow("render and cells") << QStringList{"--cells", "--render", "a", "--output", "b.bmp"}
                                      << A(cli::Action::Error)
                                      << "voltrak: --render and --cells cannot be used together";
    QTest::newRow("cells without log") << QStringList{"--cells"} << A(cli::Action::Error)
                                       << "voltrak: --cells needs at least one log file";
    QTest::newRow("two files") << QStringList{"a.log", "b.log"} << A(cli::Action::Error)
                               << "voltrak: unexpected argument b.log";
    QTest::newRow("import") << QStringList{"--import", "a.log", "j.log"} << A(cli::Action::Import) << "a.log,j.log";
    QTest::newRow("import into a library")
        << QStringList{"--library=x.sqlite", "--import", "a.log"} << A(cli::Action::Import) << "a.log@x.sqlite";
    QTest::newRow("import without file") << QStringList{"--import"} << A(cli::Action::Error)
                                         << "voltrak: --import needs at least one file";
    QTest::newRow("export cells") << QStringList{"--export-cells", "--library", "y.sqlite"}
                                  << A(cli::Action::ExportCells) << "@y.sqlite";
    QTest::newRow("export runs") << QStringList{"--export-runs"} << A(cli::Action::ExportRuns) << "@";
    QTest::newRow("export with a file") << QStringList{"--export-runs", "a.log"} << A(cli::Action::Error)
                                        << "voltrak: unexpected argument a.log";
    QTest::newRow("two library commands")
        << QStringList{"--import", "a.log", "--export-cells"} << A(cli::Action::Error)
        << "voltrak: only one of --render, --cells, --import, --import-figures, --export-cells, --export-runs, "
           "--pack and --labels";
    QTest::newRow("library without file")
        << QStringList{"--library"} << A(cli::Action::Error) << "voltrak: option --library needs a file name";
    QTest::newRow("window with a library") << QStringList{"--library", "z.sqlite"} << A(cli::Action::Run) << "";
    QTest::newRow("library with render") << QStringList{"--render", "a.log", "--output", "g.png", "--library=z.sqlite"}
                                         << A(cli::Action::Error) << "voltrak: --library は --render では使えません";
    QTest::newRow("library with cells") << QStringList{"--library", "z.sqlite", "--cells", "a.log"}
                                        << A(cli::Action::Error) << "voltrak: --library は --cells では使えません";
    QTest::newRow("pack") << QStringList{"--pack", "10S20P"} << A(cli::Action::Pack) << "10S20P|1|0|";
    QTest::newRow("pack, every option") << QStringList{"--grade=良", "--curve", "--pack=4S", "--packs", "3"}
                                        << A(cli::Action::Pack) << "4S|3|1|良";
    QTest::newRow("pack without shape") << QStringList{"--pack"} << A(cli::Action::Error)
                                        << "voltrak: option --pack needs a shape such as 10S20P";
    QTest::newRow("packs out of range") << QStringList{"--pack", "4S", "--packs", "21"} << A(cli::Action::Error)
                                        << "voltrak: --packs takes 1 to 20";
    QTest::newRow("packs not a number") << QStringList{"--pack", "4S", "--packs=two"} << A(cli::Action::Error)
                                        << "voltrak: --packs takes 1 to 20";
    QTest::newRow("curve without pack")
        << QStringList{"--curve"} << A(cli::Action::Error)
        << "voltrak: --packs, --curve, --grade, --aim and --max-ir are only used with --pack";
    QTest::newRow("pack aiming for even cells")
        << QStringList{"--pack", "4S", "--aim", "even"} << A(cli::Action::Pack) << "4S|1|0||even";
    QTest::newRow("aim in capitals") << QStringList{"--pack", "4S", "--aim=CAPACITY"} << A(cli::Action::Pack)
                                     << "4S|1|0||capacity";
    QTest::newRow("aim not one") << QStringList{"--pack", "4S", "--aim", "fast"} << A(cli::Action::Error)
                                 << "voltrak: --aim takes capacity or even";
    QTest::newRow("aim without pack")
        << QStringList{"--aim", "even"} << A(cli::Action::Error)
        << "voltrak: --packs, --curve, --grade, --aim and --max-ir are only used with --pack";
    QTest::newRow("pack and import") << QStringList{"--pack", "4S", "--import", "a.log"} << A(cli::Action::Error)
                                     << "voltrak: only one of --render, --cells, --import, --import-figures, "
                                        "--export-cells, --export-runs, --pack and --labels";
    QTest::newRow("pack with a resistance limit")
        << QStringList{"--pack", "4S", "--max-ir=35.5"} << A(cli::Action::Pack) << "4S|1|0|<35.5";
    QTest::newRow("resistance limit without pack")
        << QStringList{"--max-ir", "30"} << A(cli::Action::Error)
        << "voltrak: --packs, --curve, --grade, --aim and --max-ir are only used with --pack";
    QTest::newRow("import figures") << QStringList{"--import-figures", "ir.csv", "--library", "x.sqlite"}
                                    << A(cli::Action::ImportFigures) << "ir.csv@x.sqlite|";
    QTest::newRow("import figures with columns")
        << QStringList{"--figure-columns=2,1,4,3", "--import-figures", "ir.csv"} << A(cli::Action::ImportFigures)
        << "ir.csv@|2,1,4,3";
    QTest::newRow("import figures without a file") << QStringList{"--import-figures"} << A(cli::Action::Error)
                                                   << "voltrak: option --import-figures needs a file name";
    QTest::newRow("import figures and a second file") << QStringList{"--import-figures", "a.csv", "b.csv"}
                                                      << A(cli::Action::Error) << "voltrak: unexpected argument b.csv";
    QTest::newRow("figure columns without the import") << QStringList{"--import", "a.log", "--figure-columns",
        "1,2,3,4"} << A(cli::Action::Error) << "voltrak: --figure-columns is only used with --import-figures";
    QTest::newRow("import figures and logs")
        << QStringList{"--import-figures", "a.csv", "--import", "a.log"} << A(cli::Action::Error)
        << "voltrak: only one of --render, --cells, --import, --import-figures, --export-cells, --export-runs, "
           "--pack and --labels";
    QTest::newRow("labels") << QStringList{"--labels", "A1", "B2", "--output", "l.pdf"} << A(cli::Action::Labels)
                            << "A1,B2>l.pdf||";
    QTest::newRow("every label, every option")
        << QStringList{"--labels-all", "--output=x/l.PNG", "--label-size", "tape-12", "--code=datamatrix"}
        << A(cli::Action::Labels) << "*>x/l.PNG|tape-12|datamatrix";
    QTest::newRow("labels without cells") << QStringList{"--labels", "--output", "l.pdf"} << A(cli::Action::Error)
                                          << "voltrak: --labels needs at least one cell label";
    QTest::newRow("labels without output") << QStringList{"--labels", "A1"} << A(cli::Action::Error)
                                           << "voltrak: --labels needs --output LABELS.pdf or LABELS.png";
    QTest::newRow("labels into a picture format") << QStringList{"--labels-all", "--output",
        "l.svg"} << A(cli::Action::Error) << "voltrak: --output l.svg is not a file name ending in .pdf or .png";
    QTest::newRow("labels into only an extension") << QStringList{"--labels-all", "--output",
        "d/.pdf"} << A(cli::Action::Error) << "voltrak: --output d/.pdf is not a file name ending in .pdf or .png";
    QTest::newRow("every label and a list") << QStringList{"--labels-all", "A1", "--output", "l.pdf"}
                                            << A(cli::Action::Error) << "voltrak: unexpected argument A1";
    QTest::newRow("both label options") << QStringList{"--labels", "A1", "--labels-all", "--output", "l.pdf"}
                                        << A(cli::Action::Error)
                                        << "voltrak: --labels and --labels-all cannot be used together";
    QTest::newRow("code without labels")
        << QStringList{"--code", "qr"} << A(cli::Action::Error)
        << "voltrak: --label-size and --code are only used with --labels or --labels-all";
    QTest::newRow("labels and pack") << QStringList{"--labels-all", "--output", "l.pdf", "--pack", "4S"}
                                     << A(cli::Action::Error)
                                     << "voltrak: only one of --render, --cells, --import, --import-figures, "
                                        "--export-cells, --export-runs, --pack and --labels";
}

void TestCommandLine::parse()
{
    QFETCH(QStringList, args);
    QFETCH(int, action);
    QFETCH(QString, detail);
    const cli::Options o = cli::Parse(args);
    QCOMPARE(int(o.action), action);
    switch (o.action) {
    case cli::Action::Run: QCOMPARE(o.settingsFile.isEmpty() ? o.openFile : o.settingsFile, detail); break;
    case cli::Action::Render: QCOMPARE(o.renderLog + QLatin1Char('>') + o.output, detail); break;
    case cli::Action::Cells: QCOMPARE(o.cellLogs.join(QLatin1Char(',')), detail); break;
    case cli::Action::Error: QCOMPARE(o.error, detail); break;
    case cli::Action::Import:
        QCOMPARE(
            o.importFiles.join(QLatin1Char(',')) + '@' + o.libraryFile, detail.contains('@') ? detail : detail + '@');
        break;
    case cli::Action::ExportCells:
    case cli::Action::ExportRuns: QCOMPARE('@' + o.libraryFile, detail); break;
    case cli::Action::Pack:
        QCOMPARE(QStringLiteral("%1|%2|%3|%4").arg(o.packShape).arg(o.packCount).arg(int(o.packCurve)).arg(o.packGrade)
                + (o.packAim.isEmpty() ? QString() : QLatin1Char('|') + o.packAim)
                + (o.packMaxResistance.isEmpty() ? QString() : QLatin1Char('<') + o.packMaxResistance),
            detail);
        break;
    case cli::Action::ImportFigures:
        QCOMPARE(o.figuresFile + '@' + o.libraryFile + '|' + o.figureColumns, detail);
        break;
    case cli::Action::Labels:
        QCOMPARE((o.labelsAll ? QStringLiteral("*") : o.labelCells.join(QLatin1Char(','))) + '>' + o.output + '|'
                + o.labelSize + '|' + o.labelCode,
            detail);
        break;
    default: break;
    }
}

void TestCommandLine::iniPlace_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("writable");
    QTest::addColumn<QString>("xdg");
    QTest::addColumn<QString>("explicitPath");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("appData"); // Windows' %APPDATA%, empty for Linux

    QTest::newRow("build folder") << "/home/u/voltrak/build/voltrak" << true << "/x"
                                  << ""
                                  << "/home/u/voltrak/build/voltrak.ini" << QString();
    QTest::newRow("renamed portable copy") << "/media/stick/vt2" << true << ""
                                           << ""
                                           << "/media/stick/vt2.ini" << QString();
    QTest::newRow("unwritable, XDG set") << "/opt/vt/voltrak" << false << "/home/u/cfg"
                                         << ""
                                         << "/home/u/cfg/voltrak/voltrak.ini" << QString();
    QTest::newRow("unwritable, XDG unset") << "/opt/vt/voltrak" << false << ""
                                           << ""
                                           << "/home/u/.config/voltrak/voltrak.ini" << QString();
    QTest::newRow("unwritable, XDG relative") << "/opt/vt/voltrak" << false << "cfg"
                                              << ""
                                              << "/home/u/.config/voltrak/voltrak.ini" << QString();
    // Root may write /usr/bin, yet a package put the program there.
    QTest::newRow("installed, writable by root") << "/usr/bin/voltrak" << true << ""
                                                 << ""
                                                 << "/home/u/.config/voltrak/voltrak.ini" << QString();
    QTest::newRow("installed in /usr/local/bin") << "/usr/local/bin/voltrak" << true << ""
                                                 << ""
                                                 << "/home/u/.config/voltrak/voltrak.ini" << QString();
    QTest::newRow("built under /usr/src") << "/usr/src/voltrak/build/voltrak" << true << ""
                                          << ""
                                          << "/usr/src/voltrak/build/voltrak.ini" << QString();
    QTest::newRow("--settings wins") << "/usr/bin/voltrak" << false << "/x"
                                     << "/tmp/two.ini"
                                     << "/tmp/two.ini" << QString();
    // Windows (paths written the Linux way): beside voltrak.exe when that folder takes files, else in
    // %APPDATA%, whatever XDG says.
    QTest::newRow("windows, portable folder") << "/c/Tools/VOLTRAK/voltrak.exe" << true << "/x"
                                              << ""
                                              << "/c/Tools/VOLTRAK/voltrak.ini"
                                              << "/c/Users/u/AppData/Roaming";
    QTest::newRow("windows, Program Files") << "/c/Program Files/VOLTRAK/voltrak.exe" << false << "/x"
                                            << ""
                                            << "/c/Users/u/AppData/Roaming/VOLTRAK/voltrak.ini"
                                            << "/c/Users/u/AppData/Roaming";
    QTest::newRow("windows, --settings wins") << "/c/Program Files/VOLTRAK/voltrak.exe" << false << ""
                                              << "/d/bench2.ini"
                                              << "/d/bench2.ini"
                                              << "/c/Users/u/AppData/Roaming";
}

void TestCommandLine::iniPlace()
{
    QFETCH(QString, program);
    QFETCH(bool, writable);
    QFETCH(QString, xdg);
    QFETCH(QString, explicitPath);
    QFETCH(QString, expected);
    QFETCH(QString, appData);
    settings::IniPlaceInputs in;
    in.appData = appData;
    in.programPath = program;
    in.explicitPath = explicitPath;
    in.xdgConfigHome = xdg;
    in.home = QStringLiteral("/home/u");
    QString asked;
    in.folderWritable = [&asked, writable](const QString &folder) {
        asked = folder;
        return writable;
    };
    QCOMPARE(settings::ChooseIniPath(in), expected);
    if (explicitPath.isEmpty())
        QCOMPARE(asked, QFileInfo(program).absolutePath());
}

void TestCommandLine::settingsFolderIsCreated()
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("cfg/voltrak/voltrak.ini"));
    settings::ResetToDefaults();
    settings::Gwide = 777;
    settings::SaveSettings(ini);
    QVERIFY(QFileInfo::exists(ini));
    QCOMPARE(IniFile(ini).readInteger(settings::SectionName, QStringLiteral("Gwide"), 0), 777);
}

void TestCommandLine::printingOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    QTest::newRow("version") << QStringList{"--version"} << 0 << QByteArray("VOLTRAK 4.01\n") << QByteArray();
    QTest::newRow("help") << QStringList{"--help"} << 0 << cli::UsageText().toUtf8() << QByteArray();
    QTest::newRow("unknown") << QStringList{"--frobnicate"} << 2 << QByteArray()
                             << QByteArray("voltrak: unknown option --frobnicate\n");
    QTest::newRow("bad use") << QStringList{"--render", "x.log"} << 2 << QByteArray()
                             << QByteArray("voltrak: --render needs --output PICTURE\n");
}

void TestCommandLine::printingOptions()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    const Run r = RunProgram(args);
    QCOMPARE(r.status, status);
    QCOMPARE(r.out, out);
    QCOMPARE(r.err, err);
}

void TestCommandLine::renderEachFormat_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("bmp") << "g.bmp";
    QTest::newRow("BMP upper case") << "G.BMP";
    QTest::newRow("wmf") << "g.wmf";
    QTest::newRow("emf") << "g.emf";
    QTest::newRow("png") << "g.png";
    QTest::newRow("svg") << "g.svg";
    QTest::newRow("pdf") << "g.pdf";
}

void TestCommandLine::renderEachFormat()
{
    QFETCH(QString, name);
    QTemporaryDir dir;
    WriteFile(dir.filePath("a.log"), TableLog);
    const QByteArray ini = "[VOLTRAK]\r\nHdisp=1\r\n";
    WriteFile(dir.filePath("s.ini"), ini);
    const QString out = dir.filePath(name);
    const Run r = RunProgram({"--settings", dir.filePath("s.ini"), "--render", dir.filePath("a.log"), "--output", out});
    QCOMPARE(r.status, 0);
    // Never a settings file written by a render.
    QCOMPARE(ReadFile(dir.filePath("s.ini")), ini);

    // The four series colours must be drawn, whatever the format.
    const QList<QColor> colours{QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255), QColor(128, 128, 128)};
    const QString ext = QFileInfo(name).suffix().toLower();
    if (ext == QLatin1String("wmf") || ext == QLatin1String("emf")) {
        const QByteArray data = ReadFile(out);
        const mfread::Picture pic = ext == QLatin1String("wmf") ? mfread::readWmf(data) : mfread::readEmf(data);
        QVERIFY2(pic.problems.isEmpty(), qPrintable(pic.problems.join('\n')));
        for (const QColor &c : colours) {
            const bool drawn = std::any_of(pic.strokes.begin(), pic.strokes.end(),
                [&c](const mfread::Stroke &s) { return s.color == c && s.points.size() >= 4; });
            QVERIFY2(drawn, qPrintable(c.name()));
        }
        return;
    }
    // The vector pictures as programs we did not write draw them.
    QString raster = out;
    if (ext == QLatin1String("svg")) {
        raster = dir.filePath("svg.png");
        QCOMPARE(QProcess::execute("rsvg-convert", {"-o", raster, out}), 0);
    } else if (ext == QLatin1String("pdf")) {
        QCOMPARE(QProcess::execute("pdftoppm", {"-png", "-r", "96", "-singlefile", out, dir.filePath("pdf")}), 0);
        raster = dir.filePath("pdf.png");
        QProcess fonts;
        fonts.start("pdffonts", {out});
        QVERIFY(fonts.waitForFinished());
        const QStringList lines
            = QString::fromUtf8(fonts.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts).mid(2);
        QVERIFY(!lines.isEmpty());
        for (const QString &l : lines)
            QVERIFY2(l.simplified().split(' ').at(l.simplified().split(' ').size() - 5) == "yes", qPrintable(l));
    }
    const QImage img(raster);
    // The window's size, not an unlaid-out chart's.
    QVERIFY2(img.width() > 500 && img.height() > 250,
        qPrintable(QStringLiteral("%1x%2").arg(img.width()).arg(img.height())));
    QSet<QRgb> seen;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            seen.insert(img.pixel(x, y) & 0xFFFFFF);
    for (const QColor &c : colours)
        QVERIFY2(seen.contains(c.rgb() & 0xFFFFFF), qPrintable(c.name()));
}

void TestCommandLine::cells_data()
{
    QTest::addColumn<QStringList>("logs");
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    const QByteArray header = QStringLiteral("No.,日時,出典,セル,容量(mAh),平均電圧(V),放電時間\r\n").toUtf8();
    // a.log: 1150 mA for 60 min, then the trapezoid to 950 mA: 2200.0 mAh; mean
    // (1.20 x 60 + 1.10 x 60) / 120 = 1.150 V. b.log: half the times, then a cell
    // that stops at the first row: 1150 x 0.5 = 575.0 mAh at 1.200 V.
    const auto rows = [](int no, const char *stamp, const char *src, const char *capacity, const char *volts,
                          const char *time, int cells) {
        QByteArray out;
        for (int c = 1; c <= cells; ++c)
            out += QStringLiteral("%1,%2,%3,%4,%5,%6,%7\r\n")
                       .arg(no)
                       .arg(stamp, src)
                       .arg(c)
                       .arg(capacity, volts, time)
                       .toUtf8();
        return out;
    };
    const QByteArray both = header + rows(1, "2026/12/01 09:00", "a.log", "2200.0", "1.150", "120 分", 4)
        + rows(2, "", "b.log", "1100.0", "1.150", "60 分", 4)
        + rows(3, "2026/12/02 10:30", "b.log", "575.0", "1.200", "30 分", 2);
    QTest::newRow("two logs, three tables")
        << QStringList{"a.log", "b.log"} << QByteArray() << 0 << both << QByteArray();
    QTest::newRow("resistor doubled") << QStringList{"a.log"} << QByteArray("[VOLTRAK]\r\nHteiko=200\r\n") << 0
                                      << header + rows(1, "2026/12/01 09:00", "a.log", "1100.0", "1.150", "120 分", 4)
                                      << QByteArray();
    QTest::newRow("no table") << QStringList{"none.log"} << QByteArray() << 1 << QByteArray()
                              << QStringLiteral("有効なデータがありません\n").toUtf8();
    QTest::newRow("one log without") << QStringList{"none.log", "a.log"} << QByteArray() << 1
                                     << header + rows(1, "2026/12/01 09:00", "a.log", "2200.0", "1.150", "120 分", 4)
                                     << QStringLiteral("none.log: 有効なデータがありません\n").toUtf8();
}

void TestCommandLine::cells()
{
    QFETCH(QStringList, logs);
    QFETCH(QByteArray, ini);
    QFETCH(int, status);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QTemporaryDir dir;
    WriteFile(dir.filePath("a.log"),
        "2026/12/01 09:00 start\r\nBat-V Bat1 Bat2 Bat3 Bat4\r\n"
        "1.20V 60 60 60 60\r\n1.00V 120 120 120 120\r\n");
    WriteFile(dir.filePath("b.log"),
        "Bat-V Bat1 Bat2 Bat3 Bat4\r\n1.20V 30 30 30 30\r\n1.00V 60 60 60 60\r\n"
        "2026/12/02 10:30\r\nBat-V Bat1 Bat2 Bat3 Bat4\r\n1.20V 30 30\r\n1.00V 30 30\r\n");
    WriteFile(dir.filePath("none.log"), "no table\r\n");
    WriteFile(dir.filePath("s.ini"), ini);
    QStringList args{"--settings", dir.filePath("s.ini"), "--cells"};
    for (const QString &log : logs)
        args << dir.filePath(log);
    Run r = RunProgram(args);
    QCOMPARE(r.status, status);
    QCOMPARE(QString::fromUtf8(r.out), QString::fromUtf8(out));
    QCOMPARE(QString::fromUtf8(r.err.replace(dir.path().toUtf8() + '/', "")), QString::fromUtf8(err));
}

void TestCommandLine::packFromLibrary()
{
    // Two annotated tables in a log as the program saves it (Shift-JIS):
    // eight cells, E-1..E-4 falling to 1.00 V at 160, 152, 140 and 120
    // minutes, E-5..E-8 at 158, 150, 100 and 90.
    QTemporaryDir dir;
    WriteFile(dir.filePath("a.log"),
        sjis::encode(QStringLiteral("セル: E-1 E-2 E-3 E-4\r\n") + QString::fromLatin1(TableLog)
            + QStringLiteral("セル: E-5 E-6 E-7 E-8\r\n2026/12/09 10:00\r\nBat-V Bat1 Bat2 Bat3 Bat4\r\n"
                             "1.40V 0 0 0 0\r\n1.30V 40 38 25 22\r\n1.20V 80 76 50 45\r\n"
                             "1.10V 120 114 75 68\r\n1.00V 158 150 100 90\r\n")));
    const QStringList common{"--settings", dir.filePath("s.ini"), "--library", dir.filePath("lib.sqlite")};
    const Run imported = RunProgram(common + QStringList{"--import", dir.filePath("a.log")});
    QVERIFY2(imported.status == 0, imported.err.constData());

    const Run r = RunProgram(common + QStringList{"--pack", "4S1P"});
    QVERIFY2(r.status == 0, r.err.constData());
    QVERIFY(r.err.isEmpty());
    QList<QByteArray> lines = r.out.split('\n');
    QCOMPARE(lines.takeFirst(),
        QStringLiteral("パック,グループ,ラベル,容量(mAh),グループ計(mAh),パック容量(mAh),上限(mAh),上限との差(%)\r")
            .toUtf8());
    QStringList labels;
    for (const QByteArray &l : lines) {
        if (!l.isEmpty())
            labels << QString::fromUtf8(l.split(',').value(2));
    }
    labels.sort();
    QCOMPARE(labels, (QStringList{"E-1", "E-2", "E-5", "E-6"}));

    const Run tooMany = RunProgram(common + QStringList{"--pack", "3S3P"});
    QCOMPARE(tooMany.status, 1);
    QVERIFY(tooMany.out.isEmpty());
    QCOMPARE(QString::fromUtf8(tooMany.err), QStringLiteral("セルが足りません（必要 9、候補 8）\n"));
    // No cell has a nominal capacity, so none is 良.
    const Run graded = RunProgram(common + QStringList{"--pack", "2S", "--grade", "良", "--curve"});
    QCOMPARE(graded.status, 1);
    QCOMPARE(QString::fromUtf8(graded.err), QStringLiteral("セルが足りません（必要 2、候補 0）\n"));
    const Run noShape = RunProgram(common + QStringList{"--pack", "4P"});
    QCOMPARE(noShape.status, 2);
}

// Each reason a file cannot be read or written, named with the path, exactly.
void TestCommandLine::fileReasons_data()
{
    QTest::addColumn<QStringList>("args"); // "@" stands for the test's folder
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("err");
    QTest::newRow("render: no such log") << QStringList{"--render", "@/none.log", "--output",
        "@/g.png"} << 1 << QStringLiteral("ファイル @/none.log は開けません（ファイルまたはフォルダがありません）");
    QTest::newRow("render: the log is a folder") << QStringList{"--render", "@/sub", "--output", "@/g.png"} << 1
                                                 << QStringLiteral("ファイル @/sub は開けません（フォルダです）");
    QTest::newRow("cells: no such log") << QStringList{"--cells",
        "@/none.log"} << 1 << QStringLiteral("ファイル @/none.log は開けません（ファイルまたはフォルダがありません）");
    QTest::newRow("cells: the log is a folder")
        << QStringList{"--cells", "@/sub"} << 1 << QStringLiteral("ファイル @/sub は開けません（フォルダです）");
    QTest::newRow("render: output in a missing folder")
        << QStringList{"--render", "@/a.log", "--output", "@/no/g.png"} << 1
        << QStringLiteral("ファイル @/no/g.png に書き込めません（ファイルまたはフォルダがありません）");
    QTest::newRow("render: output is a folder") << QStringList{"--render", "@/a.log", "--output",
        "@/sub.png"} << 1 << QStringLiteral("ファイル @/sub.png に書き込めません（フォルダです）");
    QTest::newRow("render: no space") << QStringList{"--render", "@/a.log", "--output",
        "@/full.bmp"} << 1 << QStringLiteral("ファイル @/full.bmp に書き込めません（ディスクの空きがありません）");
    QTest::newRow("render: only an extension") << QStringList{"--render", "@/a.log", "--output",
        "@/.png"} << 2 << QStringLiteral("voltrak: --output @/.png has no file name before the extension");
}

void TestCommandLine::fileReasons()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, err);
    QTemporaryDir dir;
    WriteFile(dir.filePath("a.log"), TableLog);
    QVERIFY(QDir().mkdir(dir.filePath("sub")));
    QVERIFY(QDir().mkdir(dir.filePath("sub.png")));
    // A device that is always full, reached through a link as a file name.
    QVERIFY(QFile::link(QStringLiteral("/dev/full"), dir.filePath("full.bmp")));
    args.replaceInStrings(QStringLiteral("@"), dir.path());
    const Run r = RunProgram(QStringList{"--settings", dir.filePath("s.ini")} + args);
    QCOMPARE(r.status, status);
    // Qt's own notes (a missing runtime folder) are not the program's messages.
    QStringList lines = QString::fromUtf8(r.err).split(QLatin1Char('\n'));
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                    [](const QString &l) { return l.startsWith(QLatin1String("QStandardPaths:")); }),
        lines.end());
    QCOMPARE(lines.join(QLatin1Char('\n')), err.replace(QLatin1Char('@'), dir.path()) + QLatin1Char('\n'));
    QVERIFY(!QFileInfo::exists(dir.filePath(".png")));
}

void TestCommandLine::renderWithoutTable_data()
{
    QTest::addColumn<QByteArray>("log");
    QTest::newRow("no table") << QByteArray("hello\r\nworld\r\n");
    QTest::newRow("header, one row") << QByteArray("Bat-V Bat1 Bat2 Bat3 Bat4\r\n1.40V 0 0 0 0\r\n");
    QTest::newRow("empty file") << QByteArray();
}

void TestCommandLine::renderWithoutTable()
{
    QFETCH(QByteArray, log);
    QTemporaryDir dir;
    WriteFile(dir.filePath("a.log"), log);
    const Run r = RunProgram(
        {"--settings", dir.filePath("s.ini"), "--render", dir.filePath("a.log"), "--output", dir.filePath("g.bmp")});
    QCOMPARE(r.status, 1);
    QVERIFY2(r.err.split('\n').contains(QStringLiteral("有効なデータがありません").toUtf8()), r.err.constData());
    QVERIFY(!QFileInfo::exists(dir.filePath("g.bmp")));
    QVERIFY(!QFileInfo::exists(dir.filePath("s.ini")));
}

void TestCommandLine::settingsBesideACopiedProgram()
{
    // A portable copy in a writable folder reads the ini beside itself, named after itself.
    QTemporaryDir dir;
    const QString copy = dir.filePath("vt2");
    QVERIFY(QFile::copy(QStringLiteral(VOLTRAK_EXE), copy));
    WriteFile(dir.filePath("vt2.ini"), "[VOLTRAK]\r\nGwide=500\r\nGheit=250\r\n");
    WriteFile(dir.filePath("a.log"), TableLog);
    QCOMPARE(RunProgram({"--render", dir.filePath("a.log"), "--output", dir.filePath("a.bmp")}, copy).status, 0);
    QFile::remove(dir.filePath("vt2.ini"));
    QCOMPARE(RunProgram({"--render", dir.filePath("a.log"), "--output", dir.filePath("b.bmp")}, copy).status, 0);
    QCOMPARE(QImage(dir.filePath("b.bmp")).size() - QImage(dir.filePath("a.bmp")).size(), QSize(100, 50));
}

void TestCommandLine::twoCopiesKeepTheirOwnSettingsAndJournals()
{
    // Two copies of the same program beside two dischargers: each --settings
    // file names its own port, and each copy's journal lands beside its own file.
    QTemporaryDir dir;
    Pty pty[2];
    QProcess program[2];
    QString ini[2];
    for (int i = 0; i < 2; ++i) {
        const QString folder = dir.filePath(QStringLiteral("bench%1/cfg").arg(i + 1));
        QVERIFY(QDir().mkpath(folder));
        ini[i] = folder + QStringLiteral("/voltrak.ini");
        WriteFile(ini[i],
            "[Ports]\r\nCOM1=" + pty[i].name.toLocal8Bit() + "\r\n[VOLTRAK]\r\nGwide=" + QByteArray::number(500 + i)
                + "\r\n");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program[i].setProcessEnvironment(env);
        program[i].setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program[i].start(QStringLiteral(VOLTRAK_EXE), {QStringLiteral("--settings"), ini[i]});
        QVERIFY(program[i].waitForStarted());
    }
    const auto journal = [](const QString &iniPath) {
        const QDir logs(QFileInfo(iniPath).absolutePath() + QStringLiteral("/logs"));
        const QStringList files = logs.entryList({QStringLiteral("*.log")}, QDir::Files);
        return files.size() == 1 ? ReadFile(logs.filePath(files.first())) : QByteArray();
    };
    for (int i = 0; i < 2; ++i) {
        // Until the copy has its port open and journals what arrives.
        const QByteArray line = "bench" + QByteArray::number(i + 1) + "\r\n";
        QElapsedTimer t;
        t.start();
        while (!journal(ini[i]).contains(line) && t.elapsed() < 20000) {
            QVERIFY(pty[i].writeAll(line));
            QTest::qWait(100);
        }
        QVERIFY(journal(ini[i]).contains(line));
    }
    for (int i = 0; i < 2; ++i) {
        // A pid of 0 would signal this whole process group.
        QVERIFY(program[i].state() == QProcess::Running && program[i].processId() > 0);
        ::kill(pid_t(program[i].processId()), SIGTERM);
        QVERIFY(program[i].waitForFinished(15000));
        QCOMPARE(program[i].exitCode(), 0);
    }
    QVERIFY(!journal(ini[0]).contains("bench2"));
    QVERIFY(!journal(ini[1]).contains("bench1"));
    for (int i = 0; i < 2; ++i) {
        // Each saved its own settings into its own file, the [Ports] section kept.
        const IniFile saved(ini[i]);
        QCOMPARE(saved.readInteger(settings::SectionName, QStringLiteral("Gwide"), 0), 500 + i);
        QCOMPARE(saved.readString(QStringLiteral("Ports"), QStringLiteral("COM1")), pty[i].name);
    }
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
