#include "widgets/PictureWindow.h"
#include "core/Messages.h"
#include "widgets/ErrorDisplay.h"

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

QImage WindowImage(QWidget *window)
{
    QImage image(window->size(), QImage::Format_RGB32);
    image.fill(window->palette().color(QPalette::Window));
    QPainter painter(&image);
    window->render(&painter, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
    painter.end();
    return image;
}

void SaveWithDialog(const std::function<QString()> &dialog, const PictureSource &source)
{
    try {
        const QString name = dialog ? dialog() : QString();
        if (!name.isEmpty())
            SavePicture(name, source);
    } catch (...) {
        errors::ShowWarning(messages::FileWriteFailed());
    }
}

} // namespace graph
