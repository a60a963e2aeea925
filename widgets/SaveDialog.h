#pragma once
// The file dialog of the windows' save commands: a name typed without an
// extension takes the one of the type chosen, as the main window's save does.
#include <QString>
#include <QStringList>

class QWidget;

namespace savedialog {

// The extension of a name filter's first pattern: "CSVファイル　(*.csv)" gives
// "csv"; empty for a filter without one ("すべてのファイル (*)").
QString FilterSuffix(const QString &filter);

// Asks for the file to save, proposing name (in the dialog's folder) when
// given; the first filter is chosen. Empty when cancelled.
QString AskSavePath(QWidget *parent, const QString &title, const QStringList &filters, const QString &name = QString());

} // namespace savedialog
