#pragma once
// "装着セル": which cell is in which bay of the discharger. Four fields, Bat1
// to Bat4, completed from the labels the library knows; Enter moves on to the
// next field, so a barcode scanner that types a label and Enter fills the
// four in a row. The labels go into the bay assignment as they are typed and
// stay there for every following run until changed. A scanner's prefix, when
// the library names one, is taken off what it types.
#include "library/Records.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QStringListModel;
namespace library {
class BayAssignment;
class LibraryService;
} // namespace library
namespace windowsize {
class FramedGeometry;
}

class Tbays : public QWidget
{
    Q_OBJECT
public:
    // service may be null (no library): the fields still fill the assignment,
    // without completion.
    Tbays(library::BayAssignment *bays, library::LibraryService *service, QWidget *parent = nullptr);

    QLineEdit *bayEdits[4]; // Bat1 .. Bat4
    QPushButton *clearButton; // クリア
    QPushButton *closeButton; // 閉じる
    QLabel *statusLabel; // "記録しました: <time>"

    // The labels the fields complete from.
    QStringList completions() const;
    // The scanner's prefix taken off, as read from the library when the window is shown or the setting changed.
    QString scannerPrefix() const { return m_prefix; }

public slots:
    void clearClicked();
    void closeClicked();
    // Reads the known labels again.
    void refreshCompletions();
    // Reads the scanner's prefix again.
    void refreshScannerPrefix();
    // A run went into the library (or was there already).
    void runRecorded(const library::RecordResult &result, const QDateTime &when);

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void takeFromAssignment();
    void enterPressed(int field);
    void typed(int field, const QString &text);
    // The field's text is taken (Enter, a completion chosen, the field left for another).
    void accepted(int field);
    // Escape: each bay back to what it held before the edit in progress, a refused label gone.
    void dropUnaccepted();

    library::BayAssignment *m_bays;
    library::LibraryService *m_service;
    QStringListModel *m_labels;
    QString m_prefix;
    windowsize::FramedGeometry *m_geometry;
    bool m_placed = false;
    bool m_refused[4] = {false, false, false, false}; // the field's label is in another bay
    // The bay as it was when the field's edit began, and whether it was typed in since without being taken.
    library::BayCell m_beforeTyping[4];
    bool m_typing[4] = {false, false, false, false};
};
