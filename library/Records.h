#pragma once
// The plain values the cell library stores and hands out; no database here.
#include "analysis/Capacity.h"
#include "library/Grade.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace library {

constexpr int BayCount = 4;

// A cell's state. BuiltIn marks a cell that is part of a pack (its name in
// CellInfo::pack); the library itself only sets InUse and Retired.
enum class CellState { InUse = 0, Retired = 1, BuiltIn = 2 };

// "使用中", "引退", "組込み: <pack>".
QString CellStateText(CellState state, const QString &pack = QString());

// Where a run's time came from.
enum class RunDating {
    Received, // the clock when the table arrived
    Stamp, // the nearest date stamp or 再開 line above the table
    JournalStart, // the start of the receive journal it was read from
    FileTime, // the file's time: nothing else dated it
};

// A discharge table to record: a capture or one table of an imported file.
struct RunInput {
    QDateTime when; // local time: received, or the stamp above the table, the journal's start, the file's time
    QString source; // ReceivedSource(n) or the file's name
    QList<QByteArray> rows; // whole row lines without line breaks, exactly as they stood
    analysis::CapacityParameters parameters; // time unit, Hteiko and Hvds in force
    QString labels[BayCount]; // the cells in bays 1-4; empty = not assigned
    // The cells by identity, where known: a bay with an id goes to that cell
    // whatever its label is now (renamed since it was put in); 0 = by label.
    qint64 cellIds[BayCount] = {0, 0, 0, 0};
    RunDating dating = RunDating::Received; // where when came from
};

// What one bay holds: a cell of the library (cellId), or a label typed that
// no cell has yet (cellId 0), or nothing (both empty).
struct BayCell {
    qint64 cellId = 0;
    QString label;
    bool isEmpty() const { return cellId == 0 && label.isEmpty(); }
    bool operator==(const BayCell &o) const { return cellId == o.cellId && label == o.label; }
};

// "受信 <bench> ch<n>": the source of a run received on channel n of this
// computer (its host name), so the runs of several benches sharing one
// library on a server say where each was measured.
// This computer's host name, or "PC" when it has none.
QString BenchName();
QString ReceivedSource(int channel, const QString &bench = BenchName());

// The key that makes a table stored once: SHA-256 of the rows joined by "\n".
QByteArray RowsKey(const QList<QByteArray> &rows);

struct RecordResult {
    qint64 runId = 0;
    bool isNew = false; // false: the same rows were stored before, nothing was written
    // Kept in the outbox: the server could not be reached; sent when it answers.
    bool queued = false;
    int assignedBays = 0; // bays of the new run that got a cell
    // Bays left without a cell because an earlier bay of the run has the same
    // one: a cell is in one bay of a run at the most.
    QList<int> repeatedBays;
};

// One bay of a stored run.
struct BayFigures {
    bool present = false; // the table has this bay's column
    qint64 cellId = 0; // 0 = no cell assigned
    QString label; // the cell's label, empty when none
    double capacity = 0.0; // mAh
    bool hasMeanVoltage = false;
    double meanVoltage = 0.0; // V
    qint32 lastTime = 0; // the bay's last time count
};

// One stored run with its bays, as the runs list shows it.
struct RunRow {
    qint64 id = 0;
    QDateTime when;
    QString source;
    analysis::CapacityParameters parameters;
    BayFigures bays[BayCount];
};

// A run's rows, for drawing its curves.
struct RunTable {
    qint64 id = 0;
    QDateTime when;
    QString source;
    analysis::CapacityParameters parameters;
    QList<QByteArray> rows;
    BayFigures bays[BayCount];
};

// What the user edits about a cell ("セルの情報").
struct CellInfo {
    qint64 id = 0;
    QString label; // trimmed, unique, not empty
    QString model;
    bool hasNominal = false;
    double nominalMah = 0.0;
    QString memo;
    CellState state = CellState::InUse;
    QString pack; // for BuiltIn
};

// One row of the cells tab.
struct CellSummary {
    CellInfo info;
    int runCount = 0; // 回数
    double latestMah = 0.0; // 最新: the capacity of the most recent run
    double maxMah = 0.0; // 最大
    double firstMah = 0.0; // 初回: the capacity of the earliest run
    bool hasMeanVoltage = false;
    double meanVoltage = 0.0; // 平均電圧 of the most recent run
    QDateTime lastMeasured; // 最終測定; invalid without runs
    // The latest figures of other meters: 内部抵抗(mΩ) and 自己放電(mV/日).
    bool hasResistance = false;
    double resistanceMilliohm = 0.0;
    bool hasSelfDischarge = false;
    double selfDischargeMvPerDay = 0.0;
    // 劣化%: how far the latest is below the largest, (max - latest) / max * 100.
    bool hasFade() const { return runCount > 0 && maxMah > 0.0; }
    double fadePercent() const { return hasFade() ? (maxMah - latestMah) / maxMah * 100.0 : 0.0; }
    // 健全度%: latest over nominal * 100; none without a nominal or without runs.
    bool hasHealth() const { return runCount > 0 && info.hasNominal && info.nominalMah > 0.0; }
    double healthPercent() const { return hasHealth() ? latestMah / info.nominalMah * 100.0 : 0.0; }
};

// One point of a cell's history: the capacity of one run at the run's time.
struct HistoryPoint {
    qint64 runId = 0;
    int bay = 0; // 1 to 4
    QDateTime when;
    double capacity = 0.0;
    bool hasMeanVoltage = false;
    double meanVoltage = 0.0;
};

// Runs as they were stored, to be put back by "元に戻す" after a delete: each
// run's and each bay's columns as the file held them.
struct DeletedRuns {
    QList<QVariantList> runs;
    QList<QVariantList> bays;
    bool isEmpty() const { return runs.isEmpty(); }
};

// The outcome of an import.
struct ImportSummary {
    int files = 0; // files read completely
    int tables = 0; // tables found in them
    int newRuns = 0;
    int knownRuns = 0; // tables stored before
    int badTables = 0; // tables left out (a voltage that is not a number)
    bool cancelled = false;
    struct Failure {
        QString path;
        QString reason;
    };
    QList<Failure> failures; // files that could not be read or written, with the reason
    // "<file> 表<n>: <label>" for each table whose cells line names a cell twice
    // (the later bays were left without it).
    QStringList repeatedLabels;
    // How the tables of each file read were dated, in the order of the files.
    struct FileDating {
        QString path;
        int byStamp = 0; // a date stamp or a 再開 line above the table
        int byJournalStart = 0; // the receive journal's start, from its name
        int byFileTime = 0; // the file's time
        int byReceived = 0; // the time of its capture, kept beside the receive journal
    };
    QList<FileDating> dating;
    // Files that gave nothing: read but without a table (counted in files), or
    // not read at all because they are not text.
    enum class Problem { NoTable, NotText };
    struct ProblemFile {
        QString path;
        Problem problem;
    };
    QList<ProblemFile> problems;
};

// Whether the summary's text names the files that gave nothing; the command
// line writes them to standard error instead.
enum class FileProblems { Shown, Left };

// The summary for the user, one item per line:
// "ファイル: 3\n表: 12\n新しい記録: 10\n既知の記録: 2\n", "読めない表: n" when there are,
// "日時: <path>: 日付行 a、受信時刻 r、受信記録の開始 b、ファイルの時刻 c" (only the counts that are not 0) for
// each file with a table that no date stamp or 再開 line dated, the file problems (FileProblemsText),
// one "読めません: <path>: <reason>" line per failure, and "中止しました" when cancelled.
QString SummaryText(const ImportSummary &s, FileProblems problems = FileProblems::Shown);
// "表がありません: <path>" and "テキストではありません: <path>", one line per file, in order.
QString FileProblemsText(const ImportSummary &s);

// The columns of the cells tab, in order, and of its CSV.
enum CellColumn {
    CellLabel,
    CellModel,
    CellNominal,
    CellRuns,
    CellLatest,
    CellMax,
    CellFirst,
    CellFade,
    CellHealth,
    CellMeanVoltage,
    CellResistance,
    CellSelfDischarge,
    CellLastMeasured,
    CellStateColumn,
    CellColumnCount
};
// "ラベル", "型番", "公称(mAh)", "回数", "最新(mAh)", "最大(mAh)", "初回(mAh)", "劣化(%)",
// "健全度(%)", "平均電圧(V)", "内部抵抗(mΩ)", "自己放電(mV/日)", "最終測定", "状態".
QString CellColumnTitle(int column);
// The text shown: one decimal for mAh, per cent, mΩ and mV per day, three for volts, empty when
// a figure does not exist, "yyyy/MM/dd HH:mm" for the date; "." as the point.
QString CellColumnText(const CellSummary &s, int column);
// Sort value: numbers as numbers (missing ones below every value), dates as dates.
QVariant CellSortKey(const CellSummary &s, int column);

// The columns the cells tab shows beyond these: "判定", the grade by the
// library's limits, and "曲線差(分)" while the cells are in order of curve distance.
QString GradeColumnTitle();
QString CurveColumnTitle();

// The CSV of the cells as the cells tab shows them (header first, UTF-8
// without BOM, CR LF): the columns above, then 判定 by limits, then, when
// curveMinutes is given, 曲線差(分) (empty for a cell without a distance).
QByteArray CellsCsv(
    const QList<CellSummary> &cells, const GradeLimits &limits, const QHash<qint64, double> *curveMinutes = nullptr);
// The CSV of the runs: "日時", "出典", "時間軸", "放電抵抗(Ω)", "FET電圧(V)", "ベイ", "ラベル",
// "容量(mAh)", "平均電圧(V)", "放電時間", one record per run and present bay; the resistor
// and the FET voltage in ohms and volts (two decimals).
QByteArray RunsCsv(const QList<RunRow> &runs);

// "yyyy/MM/dd HH:mm" as the cell list writes dates.
QString DateText(const QDateTime &when);

} // namespace library

Q_DECLARE_METATYPE(library::RecordResult)
Q_DECLARE_METATYPE(library::ImportSummary)
