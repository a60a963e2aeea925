#pragma once
// The figures other meters give of a cell, beside the discharger's capacity:
// the internal resistance read by a 1 kHz AC meter and the self-discharge (the
// voltage after charge, the voltage after some days of rest, the days). Their
// limits, their texts and the reading of a figures CSV; no database here, so
// the reader can be fuzzed and tested alone.
#include <QByteArray>
#include <QDate>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <optional>

namespace library {

enum class FigureKind { Resistance = 0, SelfDischarge = 1 };

// One measurement of one cell on one date.
struct Measurement {
    qint64 id = 0; // 0 until stored
    qint64 cellId = 0;
    QDate date;
    FigureKind kind = FigureKind::Resistance;
    double resistanceMilliohm = 0.0; // Resistance
    double chargedVolts = 0.0; // SelfDischarge: right after the charge
    double restedVolts = 0.0; // SelfDischarge: after restDays
    int restDays = 0; // SelfDischarge
    // The drop in mV per day of rest (SelfDischarge).
    double dropMvPerDay() const { return restDays > 0 ? (chargedVolts - restedVolts) * 1000.0 / restDays : 0.0; }
    bool operator==(const Measurement &o) const;
};

// The largest internal resistance a meter is believed on: above it, a probe
// that did not touch.
constexpr double MaxResistanceMilliohm = 10000.0;
// The highest voltage a single cell is taken to show.
constexpr double MaxCellVolts = 20.0;

// Why a measurement cannot be stored, empty when it can: "内部抵抗は 0 より大きく 10000 mΩ 以下です",
// "電圧は 0 より大きく 20 V 以下です", "日数は 1 日以上です" (no drop per day without a day), "日付がありません".
QString MeasurementProblem(const Measurement &m);

// "内部抵抗(mΩ)", "自己放電".
QString FigureKindText(FigureKind kind);
// "12.3 mΩ"; "4.180 V → 4.120 V / 30 日 (2.0 mV/日)".
QString MeasurementText(const Measurement &m);
// A number as typed or read from a file: "." as the point, blanks around it allowed; none otherwise.
std::optional<double> ParseFigureNumber(const QString &text);
// A whole number of days; none for anything else ("1.5", "x").
std::optional<int> ParseDays(const QString &text);
// A date as a meter's file or a person writes it: 2026-12-09, 2026/12/09, 2026/12/9, 2026.12.09 or 20261209,
// optionally followed by a time (which is not kept); an invalid date otherwise.
QDate ParseFigureDate(const QString &text);

// The value of a figure as a file or a person writes it, into m (its kind
// set): mΩ for 内部抵抗; for 自己放電 the voltage after charge, after the rest and
// the days, separated by "/" or blanks ("4.18/4.12/30"). Returns why it cannot
// be stored (not a number, out of range), empty when it can.
QString ReadFigureValue(FigureKind kind, const QString &value, Measurement &m);

// Which column (0 = the first) holds what in a figures CSV, and whether its
// first record is a header. Chosen once, kept in the library's settings.
struct FigureColumns {
    int label = 0;
    int date = 1;
    int figure = 2;
    int value = 3;
    bool header = true;
    bool operator==(const FigureColumns &o) const;
};
// "1,2,3,4,header" (columns from 1, as the user counts them); and back, none for a text that is not one.
QString FigureColumnsText(const FigureColumns &c);
std::optional<FigureColumns> FigureColumnsFromText(const QString &text);
// Each of the four at most this column (a file with more is no figures file).
constexpr int MaxFigureColumn = 64;

// The figure column's word: 内部抵抗 (also "内部抵抗(mΩ)", "IR", "resistance"), 自己放電 ("SD",
// "self-discharge"), case and width ignored; none for another word.
std::optional<FigureKind> FigureKindFromText(const QString &text);

// One record of a figures CSV as read, the cell still by its label.
struct FigureRecord {
    int line = 0; // the record's line in the file, from 1
    QString text; // the record as it stood
    QString label;
    Measurement measurement; // without cellId
};
// A record left out, with its line, the record as it stood and why.
struct BadFigureRecord {
    int line = 0;
    QString text;
    QString reason;
};
struct FigureFile {
    QList<FigureRecord> records;
    QList<BadFigureRecord> bad;
};

// Reads a figures CSV: UTF-8 (with or without a byte order mark) or, when it is not UTF-8, Shift-JIS as a
// spreadsheet saves it; fields split at commas, quotes as CSV has them; empty records are skipped. The value
// of 内部抵抗 is in mΩ; that of 自己放電 holds the voltage after charge, the voltage after the rest and the
// days, separated by "/" or blanks ("4.18/4.12/30"). A record whose label is empty, whose date cannot be read,
// whose figure is unknown or whose value is not a number or out of range is in bad with its reason.
FigureFile ReadFigureFile(const QByteArray &bytes, const FigureColumns &columns);

// The outcome of a figures import.
struct FigureImportSummary {
    int records = 0; // records read (good and bad)
    int stored = 0; // new measurements
    int known = 0; // the same measurement stored before: not again
    QList<BadFigureRecord> bad; // left out, in the order of the file
    QString failure; // the file could not be read, or the library not written: nothing stored
};
// "記録: 12\n新しい測定: 9\n既知の測定: 1\n", then "行 <n>: <reason>: <record>" per bad record and
// "読めません: <failure>" when the import failed.
QString FigureSummaryText(const FigureImportSummary &s);

} // namespace library

Q_DECLARE_METATYPE(library::Measurement)
Q_DECLARE_METATYPE(library::FigureImportSummary)
