#include "forms/Ucomch.h"
#include "core/Settings.h"
#include "forms/Forms.h"
#include "forms/Uvoltrak.h"
#include "serial/Commx.h"
#include "serial/DeviceDescription.h"
#include "serial/PortMap.h"
#include "serial/PortWatcher.h"
#include "widgets/Fonts.h"
#include "widgets/NumericField.h"
#include "widgets/WindowSize.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>

Tcomch::Tcomch(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("comch"));
    setWindowTitle(QStringLiteral("RS232C通信ch設定"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowCloseButtonHint);
    setFont(fonts::WindowFont());
    setFixedSize(201, 143);
    m_geometry = new windowsize::FramedGeometry(this);

    Panel1 = new QFrame(this);
    Panel1->setGeometry(0, -8, 201, 153);
    Panel1->setFrameShape(QFrame::NoFrame);

    CSpComch = new NumericField(this);
    CSpComch->setGeometry(123, 16, 52, 21);
    CSpComch->setRange(1, 32);
    CSpComch->setValue(1);

    StaticText1 = new QLabel(QStringLiteral("RS-232C通信ｃh"), this);
    StaticText1->setGeometry(13, 16, 88, 16);
    StaticText2 = new QLabel(QStringLiteral("(COM1～)"), this);
    StaticText2->setGeometry(38, 29, 55, 16);

    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("設定"), this);
    BitBtn1->setGeometry(13, 48, 80, 28);
    BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("キャンセル"), this);
    BitBtn2->setGeometry(110, 48, 80, 28);
    // Enter presses the focused button; from the field it presses 設定.
    BitBtn1->setAutoDefault(true);
    BitBtn2->setAutoDefault(true);
    BitBtn1->setDefault(true);

    StaticText3 = new QLabel(this);
    StaticText3->setGeometry(0, 90, 201, 53);
    StaticText3->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);

    setTabOrder(CSpComch, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
    Panel1->lower();

    connect(BitBtn1, &QPushButton::clicked, this, &Tcomch::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &Tcomch::BitBtn2Click);
    connect(CSpComch, &NumericField::changed, this, &Tcomch::updateDeviceTip);
    FormCreate();
}

Tcomch::~Tcomch()
{
    // Destroying the field may clamp it once more; this half-destroyed dialog
    // must not hear of it.
    CSpComch->disconnect(this);
}

void Tcomch::FormCreate()
{
    StaticText3->setText(QStringLiteral("注：USBポートで通信するときは、\r\n"
                                        "システムの設定を確認してください。\r\n"
                                        "　（9600BPS,8bit,1stop,PN,無手順）"));
}

void Tcomch::PushSettings()
{
    CSpComch->setValue(settings::Comch);
}

void Tcomch::updateDeviceTip()
{
    bool ok = false;
    const int channel = CSpComch->text().toInt(&ok);
    const QString device = ok ? ResolveChannel(channel) : QString();
    CSpComch->setToolTip(device.isEmpty()
            ? QStringLiteral("COM%1: 装置なし").arg(CSpComch->text())
            : QStringLiteral("COM%1: %2").arg(channel).arg(DescribeSerialDevice(device, SysfsRoot)));
}

void Tcomch::SetPort(TCommX *port, PortWatcher *watcher)
{
    m_port = port;
    m_watcher = watcher;
}

void Tcomch::BitBtn1Click()
{
    const int channel = CSpComch->value();
    settings::Comch = channel;
    if (m_port) {
        if (m_watcher)
            m_watcher->Forget(); // the user's choice ends any wait for a lost device
        m_port->PortClose();
        m_port->setPortNo(channel);
        m_port->PortOpen(); // a failure is shown by the application; the dialog stays open
        if (m_watcher)
            m_watcher->Remember(m_port->DevicePath());
    }
    hide();
}

void Tcomch::BitBtn2Click()
{
    hide();
}

void Tcomch::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    forms::PushSettingsToDialogs();
    updateDeviceTip();
    if (!event->spontaneous()) {
        // Each show as the first: over the main window, on the field.
        m_geometry->centreOn(forms::main);
        CSpComch->setFocus(Qt::OtherFocusReason);
    }
}
