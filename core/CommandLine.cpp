#include "core/CommandLine.h"

namespace cli {

QString VersionText()
{
    return QStringLiteral("VOLTRAK " VOLTRAK_VERSION);
}

QString UsageText()
{
    return QStringLiteral("Usage: voltrak [--settings FILE] [LOG]\n"
                          "       voltrak [--settings FILE] --render LOG --output PICTURE\n"
                          "       voltrak [--settings FILE] --cells LOG...\n"
                          "       voltrak [--settings FILE] [--library FILE] --import FILE...\n"
                          "       voltrak [--settings FILE] [--library FILE] --import-figures FILE.csv\n"
                          "               [--figure-columns L,D,F,V[,header]]\n"
                          "       voltrak [--settings FILE] [--library FILE] --export-cells | --export-runs\n"
                          "       voltrak [--settings FILE] [--library FILE] --pack SHAPE [--packs K] [--curve]\n"
                          "               [--grade GRADE] [--aim capacity|even] [--max-ir MILLIOHM]\n"
                          "       voltrak [--settings FILE] [--library FILE] --labels LABEL... | --labels-all\n"
                          "               --output LABELS.pdf|LABELS.png [--label-size NAME]\n"
                          "               [--code qr|code128|datamatrix]\n"
                          "       voltrak --library-copy FROM TO\n"
                          "       voltrak --version | --help\n"
                          "\n"
                          "Works beside a ZEPH4 four-cell battery discharger: shows what it sends,\n"
                          "draws the voltage curves of its discharge table, writes its settings.\n"
                          "\n"
                          "  LOG                   open this log file into the log pane\n"
                          "  --settings FILE       keep the settings in FILE instead of voltrak.ini\n"
                          "  --render LOG          draw the last discharge table of LOG with the graph\n"
                          "                        settings, without a window, into the file given by\n"
                          "  --output PICTURE      whose extension names the format: .bmp .wmf .emf\n"
                          "                        .png .svg .pdf\n"
                          "  --cells LOG...        print the cell figures of every table in the logs\n"
                          "                        as CSV on standard output\n"
                          "  --library FILE        keep the cell library in FILE instead of library.sqlite,\n"
                          "                        or on a PostgreSQL server named by a libpq URI\n"
                          "                        (postgresql://[user@]host[:port]/database[?sslmode=...])\n"
                          "                        or service=NAME; the password comes from ~/.pgpass,\n"
                          "                        PGPASSWORD or the service file, never from here\n"
#ifdef _WIN32
                          "                        (not in this Windows build: files only)\n"
#endif
                          "  --library-copy FROM TO  copy a whole library (file or server) into an empty\n"
                          "                        one, made if missing: runs, cells, settings\n"
                          "  --import FILE...      record every discharge table of the log files and\n"
                          "                        journals into the cell library (made if missing); the\n"
                          "                        summary goes to standard output, status 1 when a file\n"
                          "                        was not read or held no table\n"
                          "  --import-figures FILE.csv\n"
                          "                        store the internal resistances and self-discharges of\n"
                          "                        a CSV file (label, date, figure, value) in the cell\n"
                          "                        library; figure is 内部抵抗 (value in mOhm) or 自己放電\n"
                          "                        (value: volts after charge/volts after rest/days);\n"
                          "                        records left out are listed, status 1 when there are\n"
                          "  --figure-columns L,D,F,V[,header]\n"
                          "                        the columns (from 1) of label, date, figure and value,\n"
                          "                        and whether the first record is a header; kept in the\n"
                          "                        library for the next import (default 1,2,3,4,header)\n"
                          "  --export-cells        print the library's cells as CSV on standard output\n"
                          "  --export-runs         print the library's runs as CSV, one record per run\n"
                          "                        and bay; neither makes a library that is not there\n"
                          "  --pack SHAPE          print as CSV a plan of packs such as 10S20P (10 groups in\n"
                          "                        series of 20 cells in parallel) from the library's cells\n"
                          "                        in use; status 1 when there are too few\n"
                          "  --packs K             plan K packs (1 to 20, default 1)\n"
                          "  --curve               match the cells on their discharge curves as well\n"
                          "  --grade GRADE         only cells of this grade: 良, 可, 不良 or ― (good, fair,\n"
                          "                        poor, none)\n"
                          "  --aim capacity|even   the strongest pack first (default), or the cells of\n"
                          "                        closest capacity first\n"
                          "  --max-ir MILLIOHM     leave out the cells whose latest internal resistance is\n"
                          "                        above MILLIOHM (cells never measured stay in)\n"
                          "  --labels LABEL...     write the labels of these cells of the library, each\n"
                          "                        with its code, capacity, grade and date of the latest\n"
                          "                        run, into the file given by --output (.pdf, or .png\n"
                          "                        with one file a page); status 1 when a cell is unknown\n"
                          "                        or its label cannot be printed, and nothing is written\n"
                          "  --labels-all          the labels of every cell in use\n"
                          "  --label-size NAME     a4-65 (default, A4 sheet of 65), roll-62x29, tape-24 or\n"
                          "                        tape-12\n"
                          "  --code NAME           the code on the labels: qr (default), code128 or\n"
                          "                        datamatrix\n"
                          "  --version             print the version and exit\n"
                          "  --help                print this help and exit\n");
}

namespace {

// Takes the value of an option given as "--name VALUE" or "--name=VALUE".
bool TakeValue(
    const QStringList &args, int &i, const QString &name, QString &value, Options &o, const char *what = "a file name")
{
    const QString &a = args.at(i);
    if (a.startsWith(name + QLatin1Char('='))) {
        value = a.mid(name.size() + 1);
    } else if (i + 1 < args.size()) {
        value = args.at(++i);
    } else {
        value.clear();
    }
    if (value.isEmpty()) {
        o.action = Action::Error;
        o.error = QStringLiteral("voltrak: option %1 needs %2").arg(name, QLatin1String(what));
        return false;
    }
    return true;
}

bool Is(const QString &arg, const char *name)
{
    const QString n = QString::fromLatin1(name);
    return arg == n || arg.startsWith(n + QLatin1Char('='));
}

} // namespace

Options Parse(const QStringList &args)
{
    Options o;
    QStringList positional;
    bool render = false, cells = false, version = false, help = false, optionsEnded = false;
    bool import = false, exportCells = false, exportRuns = false, pack = false, packOption = false, library = false;
    bool labelList = false, labelOption = false, importFigures = false, copy = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (optionsEnded || a == QLatin1String("-") || !a.startsWith(QLatin1Char('-'))) {
            positional << a;
        } else if (a == QLatin1String("--")) {
            optionsEnded = true;
        } else if (a == QLatin1String("--version")) {
            version = true;
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            help = true;
        } else if (Is(a, "--settings")) {
            if (!TakeValue(args, i, QStringLiteral("--settings"), o.settingsFile, o))
                return o;
        } else if (Is(a, "--render")) {
            if (!TakeValue(args, i, QStringLiteral("--render"), o.renderLog, o))
                return o;
            render = true;
        } else if (Is(a, "--output")) {
            if (!TakeValue(args, i, QStringLiteral("--output"), o.output, o))
                return o;
        } else if (a == QLatin1String("--cells")) {
            cells = true;
        } else if (Is(a, "--library")) {
            if (!TakeValue(args, i, QStringLiteral("--library"), o.libraryFile, o))
                return o;
            library = true;
        } else if (a == QLatin1String("--import")) {
            import = true;
        } else if (a == QLatin1String("--library-copy")) {
            copy = true;
        } else if (Is(a, "--import-figures")) {
            if (!TakeValue(args, i, QStringLiteral("--import-figures"), o.figuresFile, o))
                return o;
            importFigures = true;
        } else if (Is(a, "--figure-columns")) {
            if (!TakeValue(args, i, QStringLiteral("--figure-columns"), o.figureColumns, o, "L,D,F,V[,header]"))
                return o;
        } else if (a == QLatin1String("--export-cells")) {
            exportCells = true;
        } else if (a == QLatin1String("--export-runs")) {
            exportRuns = true;
        } else if (Is(a, "--pack")) {
            if (!TakeValue(args, i, QStringLiteral("--pack"), o.packShape, o, "a shape such as 10S20P"))
                return o;
            pack = true;
        } else if (Is(a, "--packs")) {
            QString count;
            if (!TakeValue(args, i, QStringLiteral("--packs"), count, o, "a number"))
                return o;
            bool ok = false;
            o.packCount = count.toInt(&ok);
            if (!ok || o.packCount < 1 || o.packCount > 20) {
                o.action = Action::Error;
                o.error = QStringLiteral("voltrak: --packs takes 1 to 20");
                return o;
            }
            packOption = true;
        } else if (Is(a, "--max-ir")) {
            if (!TakeValue(args, i, QStringLiteral("--max-ir"), o.packMaxResistance, o, "a resistance in mOhm"))
                return o;
            packOption = true;
        } else if (a == QLatin1String("--curve")) {
            o.packCurve = true;
            packOption = true;
        } else if (Is(a, "--aim")) {
            if (!TakeValue(args, i, QStringLiteral("--aim"), o.packAim, o, "capacity or even"))
                return o;
            o.packAim = o.packAim.toLower();
            if (o.packAim != QLatin1String("capacity") && o.packAim != QLatin1String("even")) {
                o.action = Action::Error;
                o.error = QStringLiteral("voltrak: --aim takes capacity or even");
                return o;
            }
            packOption = true;
        } else if (a == QLatin1String("--labels")) {
            labelList = true;
        } else if (a == QLatin1String("--labels-all")) {
            o.labelsAll = true;
        } else if (Is(a, "--label-size")) {
            if (!TakeValue(args, i, QStringLiteral("--label-size"), o.labelSize, o, "a label size"))
                return o;
            labelOption = true;
        } else if (Is(a, "--code")) {
            if (!TakeValue(args, i, QStringLiteral("--code"), o.labelCode, o, "qr, code128 or datamatrix"))
                return o;
            labelOption = true;
        } else if (Is(a, "--grade")) {
            if (!TakeValue(args, i, QStringLiteral("--grade"), o.packGrade, o, "a grade"))
                return o;
            packOption = true;
        } else {
            o.action = Action::Error;
            o.error = QStringLiteral("voltrak: unknown option %1").arg(a.section(QLatin1Char('='), 0, 0));
            return o;
        }
    }

    const auto fail = [&o](const QString &text) {
        o.action = Action::Error;
        o.error = QStringLiteral("voltrak: ") + text;
        return o;
    };
    if (help) {
        o.action = Action::Help;
        return o;
    }
    if (version) {
        o.action = Action::Version;
        return o;
    }
    if (render && cells)
        return fail(QStringLiteral("--render and --cells cannot be used together"));
    const bool labels = labelList || o.labelsAll;
    if (labelList && o.labelsAll)
        return fail(QStringLiteral("--labels and --labels-all cannot be used together"));
    if (int(render || cells) + int(import) + int(importFigures) + int(exportCells) + int(exportRuns) + int(pack)
            + int(labels)
        > 1)
        return fail(QStringLiteral("only one of --render, --cells, --import, --import-figures, --export-cells, "
                                   "--export-runs, --pack and --labels"));
    if (!o.figureColumns.isEmpty() && !importFigures)
        return fail(QStringLiteral("--figure-columns is only used with --import-figures"));
    if (copy) {
        if (int(render || cells) + int(import) + int(importFigures) + int(exportCells) + int(exportRuns) + int(pack)
                    + int(labels)
                > 0
            || library)
            return fail(QStringLiteral("--library-copy takes only FROM and TO"));
        if (positional.size() != 2)
            return fail(QStringLiteral("--library-copy needs FROM and TO"));
        o.copyFrom = positional.at(0);
        o.copyTo = positional.at(1);
        o.action = Action::LibraryCopy;
        return o;
    }
    if (packOption && !pack)
        return fail(QStringLiteral("--packs, --curve, --grade, --aim and --max-ir are only used with --pack"));
    // Neither reads the library: a library named there was meant for something else.
    if (library && (render || cells))
        return fail(QStringLiteral("--library は %1 では使えません")
                        .arg(render ? QStringLiteral("--render") : QStringLiteral("--cells")));
    if (labelOption && !labels)
        return fail(QStringLiteral("--label-size and --code are only used with --labels or --labels-all"));
    if (labels) {
        if (labelList && positional.isEmpty())
            return fail(QStringLiteral("--labels needs at least one cell label"));
        if (o.labelsAll && !positional.isEmpty())
            return fail(QStringLiteral("unexpected argument %1").arg(positional.first()));
        if (o.output.isEmpty())
            return fail(QStringLiteral("--labels needs --output LABELS.pdf or LABELS.png"));
        const QString name = o.output.section(QLatin1Char('/'), -1);
        const QString suffix = name.section(QLatin1Char('.'), -1).toLower();
        if (name.lastIndexOf(QLatin1Char('.')) <= 0
            || (suffix != QLatin1String("pdf") && suffix != QLatin1String("png")))
            return fail(QStringLiteral("--output %1 is not a file name ending in .pdf or .png").arg(o.output));
        o.labelCells = positional;
        o.action = Action::Labels;
        return o;
    }
    if (pack) {
        if (!positional.isEmpty())
            return fail(QStringLiteral("unexpected argument %1").arg(positional.first()));
        o.action = Action::Pack;
        return o;
    }
    if (import) {
        if (positional.isEmpty())
            return fail(QStringLiteral("--import needs at least one file"));
        o.importFiles = positional;
        o.action = Action::Import;
        return o;
    }
    if (importFigures) {
        if (!positional.isEmpty())
            return fail(QStringLiteral("unexpected argument %1").arg(positional.first()));
        o.action = Action::ImportFigures;
        return o;
    }
    if (exportCells || exportRuns) {
        if (!positional.isEmpty())
            return fail(QStringLiteral("unexpected argument %1").arg(positional.first()));
        o.action = exportCells ? Action::ExportCells : Action::ExportRuns;
        return o;
    }
    if (render) {
        if (o.output.isEmpty())
            return fail(QStringLiteral("--render needs --output PICTURE"));
        // ".png" alone would be a hidden file with no name.
        const QString name = o.output.section(QLatin1Char('/'), -1);
        if (name.isEmpty() || name.lastIndexOf(QLatin1Char('.')) == 0)
            return fail(QStringLiteral("--output %1 has no file name before the extension").arg(o.output));
        if (!positional.isEmpty())
            return fail(QStringLiteral("unexpected argument %1").arg(positional.first()));
        o.action = Action::Render;
        return o;
    }
    if (!o.output.isEmpty())
        return fail(QStringLiteral("--output is only used with --render and --labels"));
    if (cells) {
        if (positional.isEmpty())
            return fail(QStringLiteral("--cells needs at least one log file"));
        o.cellLogs = positional;
        o.action = Action::Cells;
        return o;
    }
    if (positional.size() > 1)
        return fail(QStringLiteral("unexpected argument %1").arg(positional.at(1)));
    if (!positional.isEmpty())
        o.openFile = positional.first();
    o.action = Action::Run;
    return o;
}

} // namespace cli
