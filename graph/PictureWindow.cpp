#include "graph/PictureWindow.h"

#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>

namespace graph {

QString RunPictureSaveDialog(QWidget *parent)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList filters = PictureFilters();
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.first());
    dialog.setDefaultSuffix(PictureFilterSuffix(0));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, filters](const QString &filter) {
        dialog.setDefaultSuffix(PictureFilterSuffix(int(filters.indexOf(filter))));
    });
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

void PaintLabels(QPainter &painter, const QList<QLabel *> &labels)
{
    for (QLabel *label : labels) {
        if (!label || label->text().isEmpty() || label->isHidden())
            continue;
        painter.save();
        painter.setFont(label->font());
        painter.setPen(label->palette().color(QPalette::WindowText));
        painter.drawText(label->geometry(), int(label->alignment()), label->text());
        painter.restore();
    }
}

void CopyPicture(const PictureSource &source)
{
    QGuiApplication::clipboard()->setImage(source.image());
}

} // namespace graph
