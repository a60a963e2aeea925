#pragma once
// "判定の基準": the two limits of the health grades, and the largest internal
// resistance and self-discharge of "良" and "可" (empty: no limit), kept in the
// cell library.
#include <QDialog>

#include <optional>

class QDoubleSpinBox;
class QLabel;
class QLineEdit;
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
    QLineEdit *goodResistanceEdit; // "良" up to this internal resistance (mΩ); empty: no limit
    QLineEdit *fairResistanceEdit; // "可" up to this
    QLineEdit *goodSelfDischargeEdit; // "良" up to this self-discharge (mV/日)
    QLineEdit *fairSelfDischargeEdit; // "可" up to this
    QLabel *messageLabel;
    QPushButton *okButton;
    QPushButton *cancelButton;

    // True once the stored limits are in the fields.
    bool isLoaded() const { return m_loaded; }
    // A figure's limit as typed: empty is none; otherwise a number above 0,
    // "." as the point. False when the text is neither.
    static bool ParseLimit(const QString &text, std::optional<double> &limit);

public slots:
    void okClicked();

signals:
    void loaded();

private:
    library::LibraryService *m_service;
    bool m_loaded = false;
};
