#pragma once
// The graph settings dialog: the eight settings that shape the graph and the
// capacity estimate. Every change is stored at once; "描画" redraws.
#include <QDialog>

class LineSource;
class NumericField;
class RadioGroup;
class QGroupBox;
class QPushButton;

namespace windowsize {
class FramedGeometry;
}

class Tparag : public QDialog
{
    Q_OBJECT
public:
    explicit Tparag(QWidget *parent = nullptr);
    ~Tparag() override;

    QGroupBox *GroupBox1;
    QGroupBox *GroupBox2;
    NumericField *CSpGtmax;
    NumericField *CSpGvmax;
    NumericField *CSpGwide;
    NumericField *CSpGheit;
    NumericField *CSpHteiko;
    NumericField *CSpHvds;
    RadioGroup *RGpHtime;
    RadioGroup *RGpHdisp;
    QPushButton *Button1; // OK
    QPushButton *Button2; // 描画

    // Sets the eight controls from the settings; the fields clamp and their
    // change handlers store the clamped values back.
    void PushSettings();
    // Shows the size the graph window recorded; the fields clamp to their
    // ranges and store what they show.
    void ShowGraphSize(int width, int height);
    // The log that 描画 draws from (the main window's).
    void SetLog(const LineSource *log) { m_log = log; }

public slots:
    void CSpGtmaxChange();
    void CSpGvmaxChange();
    void CSpGwideChange();
    void CSpGheitChange();
    void CSpHteikoChange();
    void CSpHvdsChange();
    void RGpHtimeClick();
    void RGpHdispClick();
    void Button1Click();
    void Button2Click();

private:
    windowsize::FramedGeometry *m_geometry;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    const LineSource *m_log = nullptr;
};
