#include "library/Records.h"
#include "cells/CellList.h"
#include "library/Pool.h"

#include <QCryptographicHash>
#include <QSysInfo>

namespace library {

QString CellStateText(CellState state, const QString &pack)
{
    switch (state) {
    case CellState::Retired: return QStringLiteral("引退");
    case CellState::BuiltIn: return QStringLiteral("組込み: ") + pack;
    case CellState::InUse: break;
    }
    return QStringLiteral("使用中");
}

QString BenchName()
{
    const QString host = QSysInfo::machineHostName().section(QLatin1Char('.'), 0, 0).trimmed();
    return host.isEmpty() ? QStringLiteral("PC") : host;
}

QString ReceivedSource(int channel, const QString &bench)
{
    return QStringLiteral("受信 %1 ch%2").arg(bench).arg(channel);
}

QByteArray RowsKey(const QList<QByteArray> &rows)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (i > 0)
            hash.addData(QByteArrayView("\n", 1));
        hash.addData(rows.at(i));
    }
    return hash.result();
}

QString FileProblemsText(const ImportSummary &s)
{
    QString text;
    for (const ImportSummary::ProblemFile &p : s.problems)
        text += (p.problem == ImportSummary::Problem::NoTable ? QStringLiteral("表がありません: %1\n")
                                                              : QStringLiteral("テキストではありません: %1\n"))
                    .arg(p.path);
    return text;
}

QString SummaryText(const ImportSummary &s, FileProblems problems)
{
    QString text = QStringLiteral("ファイル: %1\n表: %2\n新しい記録: %3\n既知の記録: %4\n")
                       .arg(s.files)
                       .arg(s.tables)
                       .arg(s.newRuns)
                       .arg(s.knownRuns);
    if (s.badTables > 0)
        text += QStringLiteral("読めない表: %1\n").arg(s.badTables);
    for (const QString &r : s.repeatedLabels)
        text += QStringLiteral("同じセルが2つのベイに: %1\n").arg(r);
    // A stamp is the log's own word; only the times taken from elsewhere are worth a line.
    for (const ImportSummary::FileDating &d : s.dating) {
        if (d.byJournalStart == 0 && d.byFileTime == 0)
            continue;
        QStringList parts;
        for (const auto &[title, count] :
            {std::pair{QStringLiteral("日付行"), d.byStamp}, std::pair{QStringLiteral("受信時刻"), d.byReceived},
                std::pair{QStringLiteral("受信記録の開始"), d.byJournalStart},
                std::pair{QStringLiteral("ファイルの時刻"), d.byFileTime}}) {
            if (count > 0)
                parts << QStringLiteral("%1 %2").arg(title).arg(count);
        }
        text += QStringLiteral("日時: %1: %2\n").arg(d.path, parts.join(QStringLiteral("、")));
    }
    if (problems == FileProblems::Shown)
        text += FileProblemsText(s);
    for (const ImportSummary::Failure &f : s.failures)
        text += QStringLiteral("読めません: %1: %2\n").arg(f.path, f.reason);
    if (s.cancelled)
        text += QStringLiteral("中止しました\n");
    return text;
}

QString DateText(const QDateTime &when)
{
    return when.isValid() ? when.toString(QStringLiteral("yyyy/MM/dd HH:mm")) : QString();
}

QString CellColumnTitle(int column)
{
    switch (column) {
    case CellLabel: return QStringLiteral("ラベル");
    case CellModel: return QStringLiteral("型番");
    case CellNominal: return QStringLiteral("公称(mAh)");
    case CellRuns: return QStringLiteral("回数");
    case CellLatest: return QStringLiteral("最新(mAh)");
    case CellMax: return QStringLiteral("最大(mAh)");
    case CellFirst: return QStringLiteral("初回(mAh)");
    case CellFade: return QStringLiteral("劣化(%)");
    case CellHealth: return QStringLiteral("健全度(%)");
    case CellMeanVoltage: return QStringLiteral("平均電圧(V)");
    case CellResistance: return QStringLiteral("内部抵抗(mΩ)");
    case CellSelfDischarge: return QStringLiteral("自己放電(mV/日)");
    case CellLastMeasured: return QStringLiteral("最終測定");
    case CellStateColumn: return QStringLiteral("状態");
    default: return QString();
    }
}

namespace {
QString OneDecimal(double v)
{
    return QString::number(v, 'f', 1);
}
} // namespace

QString CellColumnText(const CellSummary &s, int column)
{
    const bool runs = s.runCount > 0;
    switch (column) {
    case CellLabel: return s.info.label;
    case CellModel: return s.info.model;
    case CellNominal: return s.info.hasNominal ? OneDecimal(s.info.nominalMah) : QString();
    case CellRuns: return QString::number(s.runCount);
    case CellLatest: return runs ? OneDecimal(s.latestMah) : QString();
    case CellMax: return runs ? OneDecimal(s.maxMah) : QString();
    case CellFirst: return runs ? OneDecimal(s.firstMah) : QString();
    case CellFade: return s.hasFade() ? OneDecimal(s.fadePercent()) : QString();
    case CellHealth: return s.hasHealth() ? OneDecimal(s.healthPercent()) : QString();
    case CellMeanVoltage: return runs && s.hasMeanVoltage ? QString::number(s.meanVoltage, 'f', 3) : QString();
    case CellResistance: return s.hasResistance ? OneDecimal(s.resistanceMilliohm) : QString();
    case CellSelfDischarge: return s.hasSelfDischarge ? OneDecimal(s.selfDischargeMvPerDay) : QString();
    case CellLastMeasured: return DateText(s.lastMeasured);
    case CellStateColumn: return CellStateText(s.info.state, s.info.pack);
    default: return QString();
    }
}

QVariant CellSortKey(const CellSummary &s, int column)
{
    // Figures that do not exist sort below every value.
    constexpr double none = -1e300;
    const bool runs = s.runCount > 0;
    switch (column) {
    case CellNominal: return s.info.hasNominal ? s.info.nominalMah : none;
    case CellRuns: return s.runCount;
    case CellLatest: return runs ? s.latestMah : none;
    case CellMax: return runs ? s.maxMah : none;
    case CellFirst: return runs ? s.firstMah : none;
    case CellFade: return s.hasFade() ? s.fadePercent() : none;
    case CellHealth: return s.hasHealth() ? s.healthPercent() : none;
    case CellMeanVoltage: return runs && s.hasMeanVoltage ? s.meanVoltage : none;
    case CellResistance: return s.hasResistance ? s.resistanceMilliohm : none;
    case CellSelfDischarge: return s.hasSelfDischarge ? s.selfDischargeMvPerDay : none;
    case CellLastMeasured: return s.lastMeasured.isValid() ? s.lastMeasured.toMSecsSinceEpoch() : qint64(-1);
    default: return CellColumnText(s, column);
    }
}

QString GradeColumnTitle()
{
    return QStringLiteral("判定");
}

QString CurveColumnTitle()
{
    return QStringLiteral("曲線差(分)");
}

QByteArray CellsCsv(
    const QList<CellSummary> &cells, const GradeLimits &limits, const QHash<qint64, double> *curveMinutes)
{
    QStringList fields;
    for (int c = 0; c < CellColumnCount; ++c)
        fields << CellColumnTitle(c);
    fields << GradeColumnTitle();
    if (curveMinutes)
        fields << CurveColumnTitle();
    QByteArray out = cells::CsvRecord(fields);
    for (const CellSummary &s : cells) {
        fields.clear();
        for (int c = 0; c < CellColumnCount; ++c)
            fields << CellColumnText(s, c);
        fields << GradeText(GradeOfCell(s, limits));
        if (curveMinutes) {
            const auto m = curveMinutes->constFind(s.info.id);
            fields << (m == curveMinutes->constEnd() ? QString() : OneDecimal(*m));
        }
        out += cells::CsvRecord(fields);
    }
    return out;
}

QByteArray RunsCsv(const QList<RunRow> &runs)
{
    QByteArray out = cells::CsvRecord({QStringLiteral("日時"), QStringLiteral("出典"), QStringLiteral("時間軸"),
        QStringLiteral("放電抵抗(Ω)"), QStringLiteral("FET電圧(V)"), QStringLiteral("ベイ"), QStringLiteral("ラベル"),
        QStringLiteral("容量(mAh)"), QStringLiteral("平均電圧(V)"), QStringLiteral("放電時間")});
    // Stored in hundredths, as the settings hold them; the titles name the units.
    const auto hundredths = [](qint32 v) { return QString::number(v / 100.0, 'f', 2); };
    for (const RunRow &r : runs) {
        const QString unit = analysis::TimeUnitText(r.parameters.Htime);
        for (int b = 0; b < BayCount; ++b) {
            const BayFigures &bay = r.bays[b];
            if (!bay.present)
                continue;
            out += cells::CsvRecord({DateText(r.when), r.source, unit, hundredths(r.parameters.Hteiko),
                hundredths(r.parameters.Hvds), QString::number(b + 1), bay.label, OneDecimal(bay.capacity),
                bay.hasMeanVoltage ? QString::number(bay.meanVoltage, 'f', 3) : QString(),
                QString::number(bay.lastTime) + QLatin1Char(' ') + unit});
        }
    }
    return out;
}

} // namespace library
