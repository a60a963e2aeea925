#pragma once
// "判定の基準": the two limits of the health grades, kept in the cell library.
#include <QDialog>

class QDoubleSpinBox;
class QLabel;
class QPushButton;
namespace library {
class LibraryService;
}

class Tgradelimits : public QDialog
{
    Q_OBJECT
public:
    explicit Tgradelimits(library::LibraryService *service, QWidget *parent = nullptr);

    QDoubleSpinBox *goodEdit; // "良" from this health up
    QDoubleSpinBox *fairEdit; // "可" from this health up
    QLabel *messageLabel;
    QPushButton *okButton;
    QPushButton *cancelButton;

    // True once the stored limits are in the fields.
    bool isLoaded() const { return m_loaded; }

public slots:
    void okClicked();

signals:
    void loaded();

private:
    library::LibraryService *m_service;
    bool m_loaded = false;
};
