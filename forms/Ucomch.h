#pragma once
// The port channel dialog: moves the link to another serial channel.
#include <QDialog>

class NumericField;
class QLabel;
class QPushButton;
class QFrame;

namespace windowsize {
class FramedGeometry;
}

class Tcomch : public QDialog
{
    Q_OBJECT
public:
    explicit Tcomch(QWidget *parent = nullptr);
    ~Tcomch() override;

    NumericField *CSpComch;
    QLabel *StaticText1;
    QLabel *StaticText2;
    QPushButton *BitBtn1; // 設定
    QPushButton *BitBtn2; // キャンセル
    QLabel *StaticText3;
    QFrame *Panel1;

    // Where the tool tip reads what the system knows about a device (tests: a fake tree).
    QString SysfsRoot = QStringLiteral("/sys");

    // Sets the field from the stored channel, brought into 1 to 32.
    void PushSettings();

public slots:
    void BitBtn1Click();
    void BitBtn2Click();

protected:
    void showEvent(QShowEvent *event) override;

private:
    windowsize::FramedGeometry *m_geometry;
    void FormCreate();
    void updateDeviceTip();
};
