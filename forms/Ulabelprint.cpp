#include "forms/Ulabelprint.h"

#include "core/FileWriter.h"
#include "labels/LabelPrint.h"
#include "labels/LabelSizes.h"
#include "library/LibraryService.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/Fonts.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPixmap>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The preview's scale: a sheet fits a dialog, a label stays readable.
constexpr int PreviewDpi = 100;

QPageLayout PageLayoutOf(const QSizeF &mm)
{
    // An exact size, as the PDF has: the nearest paper would move a tape label.
    return QPageLayout(QPageSize(mm, QPageSize::Millimeter, QString(), QPageSize::ExactMatch), QPageLayout::Portrait,
        QMarginsF(), QPageLayout::Millimeter);
}

} // namespace

Tlabelprint::Tlabelprint(
    const QList<labels::LabelContent> &contents, library::LibraryService *service, FileWriter *files, QWidget *parent)
    : QDialog(parent)
    , m_contents(contents)
    , m_service(service)
    , m_files(files)
{
    setObjectName(QStringLiteral("labelprint"));
    setWindowTitle(QStringLiteral("ラベル印刷"));
    setFont(fonts::WindowFont());

    sizeBox = new QComboBox(this);
    for (const labels::LabelSize &s : labels::LabelSizes())
        sizeBox->addItem(s.title, s.name);
    codeBox = new QComboBox(this);
    for (labels::Symbology y : labels::Symbologies())
        codeBox->addItem(labels::SymbologyTitle(y), int(y));
    prefixEdit = new QLineEdit(this);
    prefixEdit->setObjectName(QStringLiteral("ScannerPrefix"));
    prefixEdit->setPlaceholderText(QStringLiteral("なし"));
    prefixEdit->setEnabled(false); // until the library's value has come
    previewView = new QLabel(this);
    previewView->setObjectName(QStringLiteral("Preview"));
    previewView->setAlignment(Qt::AlignCenter);
    previewView->setMinimumSize(420, 300);
    previewView->setFrameShape(QFrame::StyledPanel);
    refusalsLabel = new QLabel(this);
    refusalsLabel->setObjectName(QStringLiteral("Refusals"));
    refusalsLabel->setTextFormat(Qt::PlainText);
    refusalsLabel->setWordWrap(true);
    statusLabel = new QLabel(this);
    statusLabel->setObjectName(QStringLiteral("Status"));
    statusLabel->setTextFormat(Qt::PlainText);
    printButton = new QPushButton(QStringLiteral("印刷(&P)..."), this);
    pdfButton = new QPushButton(QStringLiteral("PDF保存(&D)..."), this);
    closeButton = new QPushButton(QStringLiteral("閉じる"), this);
    for (QPushButton *b : {printButton, pdfButton, closeButton})
        b->setAutoDefault(false);

    auto *form = new QFormLayout;
    auto *sizeLabel = new QLabel(QStringLiteral("大きさ(&S)"), this);
    sizeLabel->setBuddy(sizeBox);
    auto *codeLabel = new QLabel(QStringLiteral("コード(&O)"), this);
    codeLabel->setBuddy(codeBox);
    auto *prefixLabel = new QLabel(QStringLiteral("読み取りの接頭辞(&R)"), this);
    prefixLabel->setBuddy(prefixEdit);
    form->addRow(sizeLabel, sizeBox);
    form->addRow(codeLabel, codeBox);
    form->addRow(prefixLabel, prefixEdit);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(printButton);
    buttons->addWidget(pdfButton);
    buttons->addWidget(statusLabel, 1);
    buttons->addWidget(closeButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(previewView, 1);
    layout->addWidget(refusalsLabel);
    layout->addLayout(buttons);

    SaveDialog = [this] {
        return QFileDialog::getSaveFileName(
            this, QStringLiteral("PDF保存"), QString(), QStringLiteral("PDFファイル　(*.pdf)"));
    };
    PrintDialog = [this](QPrinter &printer) {
        QPrintDialog dlg(&printer, this);
        return dlg.exec() == QDialog::Accepted;
    };

    connect(sizeBox, &QComboBox::currentIndexChanged, this, &Tlabelprint::refresh);
    connect(codeBox, &QComboBox::currentIndexChanged, this, &Tlabelprint::refresh);
    connect(printButton, &QPushButton::clicked, this, &Tlabelprint::printClicked);
    connect(pdfButton, &QPushButton::clicked, this, &Tlabelprint::pdfClicked);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(prefixEdit, &QLineEdit::editingFinished, this, &Tlabelprint::prefixEdited);
    if (m_service) {
        m_service->readScannerPrefix(this, [this](const library::Reply<QString> &r) {
            if (!r.ok()) {
                errors::ShowWarning(r.error);
                return;
            }
            m_prefix = r.value;
            prefixEdit->setText(r.value);
            prefixEdit->setEnabled(true);
        });
    }
    refresh();
}

const labels::LabelSize &Tlabelprint::labelSize() const
{
    const labels::LabelSize *s = labels::FindLabelSize(sizeBox->currentData().toString());
    return s ? *s : labels::LabelSizes().first();
}

labels::Symbology Tlabelprint::symbology() const
{
    return labels::Symbology(codeBox->currentData().toInt());
}

void Tlabelprint::refresh()
{
    const labels::LabelSize &size = labelSize();
    const labels::Symbology code = symbology();
    m_refusals.clear();
    m_layouts.clear();
    QList<labels::LabelLayout> fitting;
    for (const labels::LabelContent &c : m_contents) {
        const QString reason = labels::RefusalReason(c, size, code);
        if (reason.isEmpty())
            fitting << labels::LayOutLabel(c, size, code);
        else
            m_refusals << reason;
    }
    if (m_refusals.isEmpty())
        m_layouts = fitting;
    refusalsLabel->setText(m_refusals.isEmpty()
            ? QString()
            : QStringLiteral("印刷できないラベルがあります:\n") + m_refusals.join(QLatin1Char('\n')));
    refusalsLabel->setVisible(!m_refusals.isEmpty());
    const bool printable = m_refusals.isEmpty() && !m_layouts.isEmpty();
    printButton->setEnabled(printable);
    pdfButton->setEnabled(printable && m_files);
    statusLabel->setText(QStringLiteral("ラベル %1 枚、%2 ページ")
                             .arg(m_contents.size())
                             .arg(labels::PageCount(size, int(m_contents.size()))));

    // The first page of those that can be printed, so a refusal still shows what the others look like.
    m_preview = QImage();
    if (!fitting.isEmpty()) {
        const QSizeF mm = labels::PageSize(size, fitting, 0);
        m_preview = QImage(
            qRound(mm.width() * PreviewDpi / 25.4), qRound(mm.height() * PreviewDpi / 25.4), QImage::Format_RGB32);
        m_preview.setDotsPerMeterX(qRound(PreviewDpi / 0.0254));
        m_preview.setDotsPerMeterY(qRound(PreviewDpi / 0.0254));
        m_preview.fill(Qt::white);
        QPainter painter(&m_preview);
        labels::ScaleToMillimetres(painter);
        labels::PaintPage(painter, fitting, size, 0);
    }
    const QSize room = previewView->minimumSize();
    const QPixmap shown = QPixmap::fromImage(m_preview);
    previewView->setPixmap(shown.width() > room.width() || shown.height() > room.height()
            ? shown.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation)
            : shown);
}

void Tlabelprint::printClicked()
{
    if (m_layouts.isEmpty())
        return;
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QStringLiteral("セルのラベル"));
    printer.setFullPage(true);
    printer.setPageLayout(PageLayoutOf(labels::PageSize(labelSize(), m_layouts, 0)));
    if (PrintDialog && PrintDialog(printer))
        print(printer);
}

void Tlabelprint::print(QPrinter &printer)
{
    if (m_layouts.isEmpty())
        return;
    const labels::LabelSize &size = labelSize();
    printer.setFullPage(true);
    printer.setPageLayout(PageLayoutOf(labels::PageSize(size, m_layouts, 0)));
    QPainter painter;
    if (!painter.begin(&printer)) {
        errors::ShowWarning(QStringLiteral("印刷を始められません"));
        return;
    }
    const int pages = labels::PageCount(size, int(m_layouts.size()));
    for (int page = 0; page < pages; ++page) {
        if (page > 0) {
            // A tape label's page is as long as the label.
            printer.setPageLayout(PageLayoutOf(labels::PageSize(size, m_layouts, page)));
            printer.newPage();
        }
        painter.resetTransform();
        labels::ScaleToMillimetres(painter);
        labels::PaintPage(painter, m_layouts, size, page);
    }
    painter.end();
    statusLabel->setText(QStringLiteral("印刷しました: %1 ページ").arg(pages));
}

void Tlabelprint::pdfClicked()
{
    if (m_layouts.isEmpty() || !m_files)
        return;
    const QString path = SaveDialog ? SaveDialog() : QString();
    if (!path.isEmpty())
        savePdf(path);
}

void Tlabelprint::savePdf(const QString &path)
{
    if (m_layouts.isEmpty() || !m_files)
        return;
    // Drawn here, where the fonts are; only the writing goes to the file writer.
    QByteArray bytes;
    try {
        bytes = labels::LabelsPdf(m_contents, labelSize(), symbology());
    } catch (const labels::LabelError &e) {
        errors::ShowWarning(QString::fromUtf8(e.what()));
        emit saved();
        return;
    }
    pdfButton->setEnabled(false);
    m_files->write(path, bytes, this, [this, path](const QString &error) {
        pdfButton->setEnabled(!m_layouts.isEmpty());
        if (error.isEmpty())
            statusLabel->setText(QStringLiteral("保存しました: %1").arg(path));
        else
            errors::ShowWarning(QStringLiteral("ファイル %1 を作成できません").arg(path));
        emit saved();
    });
}

void Tlabelprint::prefixEdited()
{
    const QString prefix = prefixEdit->text().trimmed();
    if (!m_service || !prefixEdit->isEnabled() || prefix == m_prefix)
        return;
    m_prefix = prefix;
    m_service->writeScannerPrefix(prefix, this, [this](const library::Reply<library::Nothing> &r) {
        if (!r.ok())
            errors::ShowWarning(r.error);
        emit prefixWritten();
    });
}
