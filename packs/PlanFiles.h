#pragma once
// A pack plan as the files people take to the bench: CSV, one row per cell,
// and a PDF with a table per pack. No widgets.
#include "packs/PackPlan.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace packs {

// The plan's figures as caption and text, in the order the plan shows them.
QList<QPair<QString, QString>> FigureTexts(const Plan &plan);

// "パック", "グループ", "ラベル", "容量(mAh)", "グループ計(mAh)", then the
// cell's pack's "パック容量(mAh)", the plan's "上限(mAh)" and the pack's
// "上限との差(%)" (after the others, so that readers of the first five keep
// working); one record per cell in pack and group order; UTF-8 without a
// byte order mark, CR LF (what a printer to standard output writes).
QByteArray PlanCsvText(const QList<PoolCell> &pool, const Plan &plan);
// The file: a byte order mark, then PlanCsvText. Written beside and renamed
// into place; throws safewrite::WriteError.
void WritePlanCsv(const QString &path, const QList<PoolCell> &pool, const Plan &plan);

// A4 pages: the title, the figures, then per pack a table of its groups with
// their cells and totals. IPA Gothic, embedded. Needs a QGuiApplication.
QByteArray PlanPdf(const QList<PoolCell> &pool, const Plan &plan);
// Throws safewrite::WriteError.
void WritePlanPdf(const QString &path, const QList<PoolCell> &pool, const Plan &plan);

} // namespace packs
