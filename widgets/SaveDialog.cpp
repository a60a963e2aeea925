#include "widgets/SaveDialog.h"

#include <QFileDialog>
#include <QRegularExpression>

namespace savedialog {

QString FilterSuffix(const QString &filter)
{
    static const QRegularExpression pattern(QStringLiteral(R"(\(\s*\*\.([^\s;)*]+))"));
    const QRegularExpressionMatch m = pattern.match(filter);
    return m.hasMatch() ? m.captured(1) : QString();
}

QString AskSavePath(QWidget *parent, const QString &title, const QStringList &filters, const QString &name)
{
    QFileDialog dlg(parent, title);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setNameFilters(filters);
    dlg.setDefaultSuffix(FilterSuffix(filters.value(0)));
    QObject::connect(&dlg, &QFileDialog::filterSelected, &dlg,
        [&dlg](const QString &filter) { dlg.setDefaultSuffix(FilterSuffix(filter)); });
    if (!name.isEmpty())
        dlg.selectFile(name);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return QString();
    return dlg.selectedFiles().constFirst();
}

} // namespace savedialog
