#pragma once
// The figures of other meters in the library's file: the statements behind
// Library's figure operations, each run inside the caller's transaction where
// it writes. Only Library calls them.
#include "library/Figures.h"

#include <QHash>
#include <QSqlDatabase>

namespace library::figuretable {

// A cell's measurements, newest date first (the later stored first within a date).
QList<Measurement> Read(const QSqlDatabase &db, qint64 cellId);
// Stores m (its cellId a cell that exists) and returns its id; throws LibraryError for a measurement
// MeasurementProblem refuses.
qint64 Add(const QSqlDatabase &db, const Measurement &m);
// Whether the same measurement (cell, date, kind, values) is stored already.
bool IsStored(const QSqlDatabase &db, const Measurement &m);
// Throws when there is no measurement of that id.
void Remove(const QSqlDatabase &db, qint64 id);

// Each cell's latest internal resistance (mΩ) and latest self-discharge (mV per day), by cell id.
struct Latest {
    QHash<qint64, double> resistance;
    QHash<qint64, double> selfDischarge;
};
Latest ReadLatest(const QSqlDatabase &db);

} // namespace library::figuretable
