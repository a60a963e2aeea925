#pragma once
// The discharger settings dialog: edits the six device settings and starts the
// exchange that writes them into a discharger in setting mode.
#include <QDialog>

class NumericField;
class RadioGroup;
class QGroupBox;
class QLabel;
class QPushButton;
namespace windowsize {
class FramedGeometry;
}

class Tparam : public QDialog
{
    Q_OBJECT
public:
    explicit Tparam(QWidget *parent = nullptr);

    QGroupBox *GroupBox1;
    NumericField *CSpVstop;
    NumericField *CSpVref;
    NumericField *CSpTstop;
    RadioGroup *RGpTsel;
    RadioGroup *RGpTxcyc;
    RadioGroup *RGpBeep;
    QPushButton *BitBtn1; // 設定
    QPushButton *BitBtn2; // キャンセル
    QLabel *StatusLine; // the exchange's progress, under the group box

    // Sets the controls from the stored settings.
    void PushSettings();
    // Shows how the exchange stands in StatusLine.
    void ShowProgress();

public slots:
    void BitBtn1Click();
    void BitBtn2Click();
    // Esc: the cancel button.
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    // The close box only hides: a running exchange goes on.
    void closeEvent(QCloseEvent *event) override;

private:
    windowsize::FramedGeometry *m_geometry;
};

// One exchange step, called by the main window's timer.
void AnswerPrompt();
