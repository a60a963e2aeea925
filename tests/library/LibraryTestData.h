#pragma once
// Discharge tables for the library's tests: the header, then rows whose time
// counts depend on a variant number, so different variants are different runs.
#include "library/Records.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The rows of table `variant` for four cells (or `cells` columns).
inline QList<QByteArray> TableRows(int variant, int cells = 4)
{
    QList<QByteArray> rows;
    const int volts[] = {140, 130, 120, 110, 100};
    for (int r = 0; r < 5; ++r) {
        QByteArray row = QByteArray::number(volts[r] / 100) + '.'
            + QByteArray::number(volts[r] % 100).rightJustified(2, '0') + 'V';
        for (int c = 0; c < cells; ++c)
            row += ' ' + QByteArray::number(r == 0 ? 0 : r * (30 + 2 * c) + variant);
        rows.append(row);
    }
    return rows;
}

// The table as the discharger sends it: header and rows, CR LF after each.
inline QByteArray TableText(int variant, int cells = 4)
{
    QByteArray out = "Bat-V Bat1 Bat2 Bat3 Bat4\r\n";
    for (const QByteArray &r : TableRows(variant, cells))
        out += r + "\r\n";
    return out;
}

// A run of table `variant` with the bays' labels given ("" = empty bay), on
// 1 December 2026 at 09:<variant>.
inline library::RunInput RunOf(int variant, const QStringList &labels)
{
    library::RunInput run;
    run.when = QDateTime(QDate(2026, 12, 1), QTime(9, variant));
    run.source = QStringLiteral("a.log");
    run.rows = TableRows(variant);
    for (int b = 0; b < labels.size() && b < library::BayCount; ++b)
        run.labels[b] = labels.at(b);
    return run;
}
