#pragma once
// The port channel dialog: moves the link to another serial channel.
#include <QDialog>

class NumericField;
class PortWatcher;
class TCommX;
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
    // The port that 設定 moves to the chosen channel, and the watcher that
    // waits for its lost device (the main window's).
    void SetPort(TCommX *port, PortWatcher *watcher);

public slots:
    void BitBtn1Click();
    void BitBtn2Click();

protected:
    void showEvent(QShowEvent *event) override;

private:
    windowsize::FramedGeometry *m_geometry;
    void FormCreate();
    void updateDeviceTip();

    TCommX *m_port = nullptr;
    PortWatcher *m_watcher = nullptr;
};
