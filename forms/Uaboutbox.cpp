#include "forms/Uaboutbox.h"
#include "forms/Forms.h"
#include "forms/Uvoltrak.h"
#include "widgets/AppIcon.h"
#include "widgets/Fonts.h"
#include "widgets/WindowSize.h"

#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>

TAboutBox::TAboutBox(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("バージョン情報+使用方法"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(fonts::WindowFont());
    // 492 x 277 is the outer size, frame included.
    m_geometry = new windowsize::FramedGeometry(this);
    m_geometry->setOuterSize(492, 277);

    Panel1 = new QFrame(this);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setLineWidth(2);

    ProgramIcon = new QLabel(Panel1);
    ProgramIcon->setGeometry(8, 8, 44, 44);
    ProgramIcon->setScaledContents(true);
    ProgramIcon->setPixmap(appicon::Pixmap(44));

    ProductName = new QLabel(QStringLiteral("バッテリー放電器 放電データ表示ツール"), Panel1);
    ProductName->setGeometry(64, 12, 400, 18);
    Version = new QLabel(Panel1);
    Version->setGeometry(64, 36, 400, 18);

    Memo1 = new QPlainTextEdit(Panel1);
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setFont(fonts::FixedFont(13));

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setDefault(true);
    OKButton->setAutoDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &TAboutBox::OKButtonClick);
    OKButton->setFocus();
}

QString TAboutBox::VersionLine()
{
    return QStringLiteral("Ver4.01　　(2006-12-05)");
}

QString TAboutBox::UsageText()
{
    static const char *const lines[] = {
        "●「バッテリ放電器(ZEPH4)」が出力する放電データをグラフ化するためのツールです。",
        "●放電完了後、電池を外してから放電開始スイッチをちょんと押すと測定した放電特性データを送出します。このプログラ"
        "ムはそのデータを受け取ってグラフにします。",
        "●放電器が出力する通信データを文字として主画面に表示されます。",
        "●「描画」を押すとグラフ表示します。",
        "●グラフ化するデータは、毎分ごとのデータではなく、放電完了後に一括出力するデータです。",
        "●「開く」と「保存」でこのデータをファイルにして扱えます。単純なテキストフィアルです。",
        "●主画面のデータにコメントを入力すれば、その文字を含めて保存することができます。",
        "●放電器とは9ピンD-SUBシリアルケーブルで接続してください。",
        "●「9600BPS,8bitデータ,1stop bit,non parity」で通信します。",
        "●USB<->"
        "シリアル変換インターフェースケーブルを使うときはマイコンピュータのシステム・ハードウェア・デバイスマネージャー"
        "で通信の設定を変えなければならない場合があります。",
        "●放電終止電圧など放電器の設定を行うときは、放電開始ボタンを長押しします。",
        "●グラフ画面を右クリックするとグラフイメージが保存できます。(BMPあるいはWMF,EMF)",
        "●グラフ画面のダブルクリックで、グラフの大きさを記録します。",
        "●「クリア」で主画面の文字を消し、日時を先頭行に付加します。",
        "●「放電器の設定」で諸注意。",
        "　・放電停止時間を0にしておくと、時間経過では放電停止しません。",
        "　・放電時間を記録できるのは最大255までです。",
        "　　「放電時間記録間隔選択」を10秒や1秒に設定すると",
        "　　放電終了まで経過時間を記録できないことがあります。",
    };
    QString text;
    for (const char *line : lines) {
        text += QString::fromUtf8(line);
        text += QStringLiteral("\r\n");
    }
    text += QStringLiteral("\r\n");
    return text;
}

void TAboutBox::FormActivate()
{
    Version->setText(VersionLine());
    // The memo shows CR LF as one break, as the text file would.
    Memo1->setPlainText(UsageText().replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

void TAboutBox::OKButtonClick()
{
    hide();
}

bool TAboutBox::event(QEvent *e)
{
    if (e->type() == QEvent::WindowActivate)
        FormActivate();
    return QDialog::event(e);
}

void TAboutBox::showEvent(QShowEvent *e)
{
    QDialog::showEvent(e);
    FormActivate();
    if (!e->spontaneous()) {
        // Each show over the main window, at the size it was given.
        m_geometry->centreOn(forms::main);
        OKButton->setFocus(Qt::OtherFocusReason);
    }
}

void TAboutBox::resizeEvent(QResizeEvent *e)
{
    QDialog::resizeEvent(e);
    // The panel and the memo follow the width; their heights stay.
    Panel1->setGeometry(0, 0, width(), 209);
    Memo1->setGeometry(2, 209 - 2 - 135, width() - 4, 135);
    OKButton->setGeometry((width() - 75) / 2, 209 + qMax(4, (height() - 209 - 25) / 2), 75, 25);
}
