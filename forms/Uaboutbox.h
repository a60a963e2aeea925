#pragma once
// Version and usage window.
#include <QDialog>

class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;
namespace windowsize {
class FramedGeometry;
}

class TAboutBox : public QDialog
{
    Q_OBJECT
public:
    explicit TAboutBox(QWidget *parent = nullptr);

    QFrame *Panel1;
    QLabel *ProgramIcon;
    QLabel *ProductName;
    QLabel *Version;
    QPlainTextEdit *Memo1;
    QPushButton *OKButton;

    static QString VersionLine();
    static QString UsageText();

public slots:
    void OKButtonClick();

protected:
    bool event(QEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    void showEvent(QShowEvent *e) override;

private:
    void FormActivate();
    windowsize::FramedGeometry *m_geometry;
};
