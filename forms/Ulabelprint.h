#pragma once
// "ラベル印刷": the labels of the cells セル台帳 hands over, on a size and in a
// code the user picks: the first page as it will print, the labels that
// cannot be printed with their reasons (then nothing is printed or saved),
// printing through the system's print dialog, the PDF through the file
// writer, and the barcode scanner's prefix that 装着セル takes off. Not in the
// Windows build (the labels layer is not).
#include "labels/LabelLayout.h"

#include <QDialog>
#include <QImage>
#include <QList>
#include <QStringList>

#include <functional>

class FileWriter;
class QComboBox;
class QLabel;
class QLineEdit;
class QPrinter;
class QPushButton;
namespace library {
class LibraryService;
}

class Tlabelprint : public QDialog
{
    Q_OBJECT
public:
    // contents: the labels, in the order printed; service: for the scanner's prefix (may be null); files: where
    // the PDF goes.
    Tlabelprint(const QList<labels::LabelContent> &contents, library::LibraryService *service, FileWriter *files,
        QWidget *parent = nullptr);

    QComboBox *sizeBox; // the label sizes by title
    QComboBox *codeBox; // QR, Code 128, Data Matrix
    QLabel *previewView; // the first page
    QLabel *refusalsLabel; // the labels that cannot be printed, one a line
    QLabel *statusLabel;
    QLineEdit *prefixEdit; // 読み取りの接頭辞: the scanner's prefix
    QPushButton *printButton; // 印刷(&P)...
    QPushButton *pdfButton; // PDF保存(&D)...
    QPushButton *closeButton; // 閉じる

    // Dialogs; tests replace them. An empty path or false means the user cancelled.
    std::function<QString()> SaveDialog;
    std::function<bool(QPrinter &)> PrintDialog;

    const labels::LabelSize &labelSize() const;
    labels::Symbology symbology() const;
    // The first page as previewView shows it, and why labels are refused (empty: all can be printed).
    const QImage &preview() const { return m_preview; }
    const QStringList &refusals() const { return m_refusals; }

public slots:
    void printClicked();
    void pdfClicked();
    // The work behind the buttons once the printer or the file is known.
    void print(QPrinter &printer);
    void savePdf(const QString &path);

signals:
    // The PDF was written, or why not was shown.
    void saved();
    // The scanner's prefix was written to the library, or why not was shown.
    void prefixWritten();

private:
    // Lays the labels out again for the size and code chosen.
    void refresh();
    void prefixEdited();

    QList<labels::LabelContent> m_contents;
    library::LibraryService *m_service;
    FileWriter *m_files;
    QList<labels::LabelLayout> m_layouts; // when none is refused
    QStringList m_refusals;
    QImage m_preview;
    QString m_prefix; // as last read or written
};
