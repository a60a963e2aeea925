#include "forms/Uvoltrak.h"
#include "core/Debounce.h"
#include "core/FileWriter.h"
#include "core/JournalCells.h"
#include "core/LogFile.h"
#include "core/Messages.h"
#include "core/Settings.h"
#include "core/SettingsSaver.h"
#include "core/TextSniff.h"
#include "device/Exchange.h"
#include "forms/DrawGraph.h"
#include "forms/Forms.h"
#include "forms/Ubays.h"
#include "forms/Ucells.h"
#include "forms/Ulibrary.h"
#include "forms/Ulibraryplace.h"
#include "forms/Uparam.h"
#include "journal/Journal.h"
#include "journal/PaneSnapshot.h"
#include "library/BayKeeper.h"
#include "library/Capture.h"
#include "library/LibraryLocation.h"
#include "library/LibraryService.h"
#include "library/LogImport.h"
#include "serial/Commx.h"
#include "serial/DeviceDescription.h"
#include "serial/PortStatus.h"
#include "serial/PortWatcher.h"
#include "widgets/ElidedLabel.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/Fonts.h"
#include "widgets/LogPane.h"
#include "widgets/SettingsStore.h"
#include "widgets/WindowSize.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

namespace forms {
bool SettingsPushed = false;
}

Tmain::Tmain(QWidget *parent, const QString &libraryPath)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("main"));
    setWindowTitle(QStringLiteral("VOLTRAK"));
    setFont(fonts::WindowFont());

    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *toolPanel = new QFrame(central);
    toolPanel->setObjectName(QStringLiteral("Panel1"));
    toolPanel->setFrameShape(QFrame::Panel);
    toolPanel->setFrameShadow(QFrame::Raised);
    toolPanel->setFixedHeight(33);
    const auto button = [toolPanel](const QString &caption, int x, int w) {
        auto *b = new QPushButton(caption, toolPanel);
        b->setGeometry(x, 6, w, 20);
        return b;
    };
    BitBtn1 = button(QStringLiteral("開く"), 13, 45);
    BitBtn2 = button(QStringLiteral("保存"), 71, 46);
    BitBtn4 = button(QStringLiteral("クリア"), 131, 46);
    BitBtn3 = button(QStringLiteral("描画"), 209, 46);
    layout->addWidget(toolPanel);

    Panel2 = new QLabel(QStringLiteral("通　信　デ　ー　タ"), central);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setAlignment(Qt::AlignCenter);
    Panel2->setFrameShape(QFrame::Panel);
    Panel2->setFrameShadow(QFrame::Raised);
    Panel2->setFixedHeight(19);
    layout->addWidget(Panel2);

    RichEdit1 = new LogPane(central);
    layout->addWidget(RichEdit1, 1);
    setCentralWidget(central);

    // Inside the window: its outer size stays the stored one, the pane gives way.
    // Lines of their own, so that the narrow default window shows each field
    // whole: the port and the bays, the journal, the last run once there is
    // one. A field still too long for the window ends in "…"; its tip has the
    // whole text.
    statusBar()->setSizeGripEnabled(false);
    auto *fields = new QWidget(statusBar());
    fields->setObjectName(QStringLiteral("StatusFields"));
    auto *lines = new QVBoxLayout(fields);
    lines->setContentsMargins(0, 0, 4, 0); // off the window's right edge
    lines->setSpacing(0);
    const auto field = [fields](const QString &name) {
        auto *label = new ElidedLabel(fields);
        label->setObjectName(name);
        return label;
    };
    StatusPort = field(QStringLiteral("StatusPort"));
    StatusBays = field(QStringLiteral("StatusBays"));
    StatusBays->hide();
    StatusJournal = field(QStringLiteral("StatusJournal"));
    StatusLastRun = field(QStringLiteral("StatusLastRun"));
    StatusLastRun->hide();
    // Only for a library on a server: reached, or how many captures wait.
    StatusLibrary = field(QStringLiteral("StatusLibrary"));
    StatusLibrary->hide();
    auto *first = new QHBoxLayout;
    first->setSpacing(8);
    first->addWidget(StatusPort, 1); // gives way first
    first->addWidget(StatusBays, 0, Qt::AlignRight);
    lines->addLayout(first);
    lines->addWidget(StatusJournal);
    lines->addWidget(StatusLibrary);
    lines->addWidget(StatusLastRun);
    statusBar()->addWidget(fields, 1);

    cells = new Tcells(RichEdit1, this);
    Clock = [] { return QDateTime::currentDateTime(); };
    StartLibrary(libraryPath);
    createMenus();
    RichEdit1->setPopupActions({Cut1, Copy1, Paste1});

    connect(BitBtn1, &QPushButton::clicked, this, &Tmain::Open1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &Tmain::SaveAs1Click);
    connect(BitBtn4, &QPushButton::clicked, this, &Tmain::BitBtn4Click);
    connect(BitBtn3, &QPushButton::clicked, this, &Tmain::BitBtn3Click);

    Timer1 = new QTimer(this);
    Timer1->setInterval(100);
    connect(Timer1, &QTimer::timeout, this, &Tmain::Timer1Timer);
    Timer1->start();

    CommX1 = new TCommX(this);
    CommX1->OnReceive = [this](TCustomCommX *sender, qint32 size) { CommX1Receive(sender, size); };
    PortWatcher1 = new PortWatcher(CommX1, this);
    CommX1->OnLost = [this](TCustomCommX *, const QString &path) { return PortWatcher1->PortLost(path); };

    // What the user changed in the pane is on the disk a few seconds later,
    // also while typing goes on; received text alone is the journal's.
    m_snapshotDelay = new Debounce(2000, 5000, this);
    connect(m_snapshotDelay, &Debounce::due, this, &Tmain::TakeSnapshot);
    m_settingsSaver = new settings::SettingsSaver([] { return settings::IniFilePath(); }, 1000, this);

    m_geometry = new windowsize::FramedGeometry(this);
    resize(277, 400);
    FormCreate();
    // From here on: emptying the pane at start-up is nobody's change.
    connect(RichEdit1, &LogPane::userChanged, m_snapshotDelay, &Debounce::poke);
    connect(RichEdit1, &LogPane::userChanged, this, [this] { m_paneEdited = true; });
    m_settingsSaver->baseline();
    UpdateStatus();
}

Tmain::~Tmain()
{
    // The port's threads call back into this window; stop them first.
    CommX1->PortClose();
    // What was received still reaches the disk; the run marker and the
    // snapshot stay, as this end did not go through the close path.
    m_journal->close();
    m_snapshot->finish();
    m_settingsSaver->finish();
    // The windows go before the library they read; the library finishes
    // what it was asked to record before it closes.
    delete ledger;
    delete bays;
    delete Capture1;
    // Hands the bays typed last to the library, before it closes.
    delete BayKeeper1;
    m_library.reset();
}

void Tmain::StartLibrary(const QString &path)
{
    Bays1 = new library::BayAssignment(this);
    if (!path.isEmpty()) {
        m_library = std::make_unique<library::LibraryService>(path, library::OutboxPathBeside(settings::IniFilePath()));
        connect(m_library.get(), &library::LibraryService::connectionChanged, this, &Tmain::ShowLibraryConnection);
        connect(m_library.get(), &library::LibraryService::openFailed, this,
            [this](const QString &reason) { LibraryUnavailable(reason, false); });
        connect(m_library.get(), &library::LibraryService::opened, this, [this](bool writable, const QString &reason) {
            if (!writable)
                LibraryUnavailable(reason, true);
        });
        connect(m_library.get(), &library::LibraryService::failed, this,
            [](const QString &text) { errors::ShowWarning(text); });
        // The status bar names the last run the library recorded, and says
        // when it went to no cell at all.
        connect(m_library.get(), &library::LibraryService::runRecorded, this,
            [this](const library::RecordResult &result, const QDateTime &when) {
                if (result.isNew || result.queued)
                    ShowLastRun((result.queued ? QStringLiteral("未送信: ") : QStringLiteral("記録: "))
                        + when.toString(QStringLiteral("MM/dd HH:mm"))
                        + (result.assignedBays == 0 ? QStringLiteral(" 装着なし") : QString()));
            });
        // The bays of the last session come back, and follow the library's cells.
        BayKeeper1 = new library::BayKeeper(Bays1, m_library.get(), int(settings::Comch), this);
        connect(BayKeeper1, &library::BayKeeper::failed, this, [](const QString &text) { errors::ShowWarning(text); });
        connect(Bays1, &library::BayAssignment::changed, this, &Tmain::ShowBays);
        ShowBays();
        // The line's bytes as they arrive; the time, channel and settings of
        // the moment a table ends.
        Capture1 = new library::LiveCapture(
            m_library.get(), Bays1, [this] { return Clock(); }, [] { return analysis::CurrentCapacityParameters(); },
            [] { return int(settings::Comch); }, this);
        // The bays written into the log above the table, in the import's own
        // form, so a saved log brings its cells back when it is imported.
        // The journal stays the bytes received; the bays and the time go
        // beside it, so importing the journal gives what the capture recorded.
        connect(Capture1, &library::LiveCapture::captured, this, [this](const library::RunInput &run) {
            if (const auto place = library::PlaceCellsLine(*RichEdit1, run))
                RichEdit1->insertLineAbove(place->line, place->text);
            if (m_journal)
                m_journal->appendCells(journalcells::Line({run.when, library::RowsKey(run.rows).toHex(),
                    QStringList(std::begin(run.labels), std::end(run.labels))}));
        });
        OnReceived = [this](const QByteArray &received) {
            if (Capture1)
                Capture1->feed(received);
        };
    }
    Files1 = new FileWriter(this);
    bays = new Tbays(Bays1, m_library.get(), this);
    ledger = new Tlibrary(m_library.get(), Files1, this);
}

void Tmain::LibraryUnavailable(const QString &reason, bool readOnly)
{
    // The rest of the program goes on as without a library; a file of a
    // newer version can still be read.
    if (readOnly) {
        ledger->setWritable(false);
    } else {
        delete Capture1;
        Capture1 = nullptr;
        MountedCells1->setEnabled(false);
        CellLibrary1->setEnabled(false);
        ledger->hide();
        bays->hide();
    }
    ImportToLibrary1->setEnabled(false);
    errors::ShowWarning(library::CannotOpenTitle() + QStringLiteral("\n") + reason);
}

void Tmain::createMenus()
{
    // Five menus must fit the window's default width of 277 pixels; with the
    // style's wider item padding the last one went behind an overflow button.
    menuBar()->setStyleSheet(QStringLiteral("QMenuBar { spacing: 0px; } QMenuBar::item { padding: 2px 4px; }"));
    QMenu *file = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    Open1 = file->addAction(QStringLiteral("開く(&O)..."), this, &Tmain::Open1Click);
    OpenJournal1 = file->addAction(QStringLiteral("受信記録を開く(&R)..."), this, &Tmain::OpenJournal1Click);
    ImportToLibrary1 = file->addAction(QStringLiteral("台帳に取り込む(&I)..."), this, &Tmain::ImportToLibrary1Click);
    ImportToLibrary1->setEnabled(m_library != nullptr);
    SaveAs1 = file->addAction(QStringLiteral("名前をつけて保存(&A)..."), this, &Tmain::SaveAs1Click);
    file->addSeparator();
    Exit1 = file->addAction(QStringLiteral("終了(&X)"), this, &QWidget::close);

    QMenu *edit = menuBar()->addMenu(QStringLiteral("編集(&E)"));
    Cut1 = edit->addAction(QStringLiteral("切り取り(&T)"), RichEdit1, &QPlainTextEdit::cut);
    Cut1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    Copy1 = edit->addAction(QStringLiteral("コピー(&C)"), RichEdit1, &QPlainTextEdit::copy);
    Copy1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    Paste1 = edit->addAction(QStringLiteral("貼り付け(&P)"), RichEdit1, &QPlainTextEdit::paste);
    Paste1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_V));

    QMenu *setup = menuBar()->addMenu(QStringLiteral("設定(&S)"));
    GraphSetting1
        = setup->addAction(QStringLiteral("グラフの設定(&G)"), this, [] { forms::ShowForm(forms::FormId::Parag); });
    ParamSetting1
        = setup->addAction(QStringLiteral("放電器の設定(&V)"), this, [] { forms::ShowForm(forms::FormId::Param); });
    ComSetting1 = setup->addAction(QStringLiteral("通信設定(&C)"), this, [] { forms::ShowForm(forms::FormId::Comch); });
    LibraryPlace1 = setup->addAction(QStringLiteral("セル台帳の場所(&L)..."), this, [this] {
        if (!libraryPlace) {
            libraryPlace = new Tlibraryplace(
                Files1, settings::IniFilePath(), m_library ? m_library->path() : QStringLiteral("（なし）"), this);
            connect(libraryPlace, &Tlibraryplace::kept, this, [this](const QString &) {
                statusBar()->showMessage(QStringLiteral("セル台帳の場所は次の起動から使います"), 5000);
            });
        }
        libraryPlace->show();
        libraryPlace->raise();
        libraryPlace->activateWindow();
    });

    QMenu *view = menuBar()->addMenu(QStringLiteral("表示(&V)"));
    CellList1 = view->addAction(QStringLiteral("セル一覧(&L)..."), this, [this] {
        // A list already open is brought up to date, as a newly shown one is.
        if (cells->isVisible())
            cells->Button1Click();
        cells->show();
        cells->raise();
        cells->activateWindow();
    });
    const auto showWindow = [](QWidget *w) {
        w->show();
        w->raise();
        w->activateWindow();
    };
    MountedCells1 = view->addAction(QStringLiteral("装着セル(&M)..."), this, [this, showWindow] { showWindow(bays); });
    CellLibrary1 = view->addAction(QStringLiteral("セル台帳(&B)..."), this, [this, showWindow] { showWindow(ledger); });
    MountedCells1->setEnabled(m_library != nullptr);
    CellLibrary1->setEnabled(m_library != nullptr);

    QMenu *help = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
    About1 = help->addAction(
        QStringLiteral("バージョン情報+使用方法(&A)..."), this, [] { forms::ShowForm(forms::FormId::AboutBox); });
}

void Tmain::SetOuterSize(int width, int height)
{
    m_geometry->setOuterSize(width, height);
}

void Tmain::FormCreate()
{
    settings::LoadSettings();
    StartJournal();
    CommX1->setPortNo(settings::Comch);
    try {
        CommX1->PortOpen();
    } catch (const std::exception &e) {
        // Start-up goes on with the port closed; the user can pick another channel.
        errors::ShowStandardError(QString::fromUtf8(e.what()));
        return;
    }
    PortWatcher1->Remember(CommX1->DevicePath());
    RichEdit1->clear();
}

void Tmain::StartJournal()
{
    const QString ini = settings::IniFilePath();
    m_journalFolder = journal::FolderFor(ini);
    m_unfinished = journal::FindUnfinished(m_journalFolder, ini);
    const QDateTime start = Clock();
    // Without a marker there is no recovery for this run; the journal itself
    // reports the folder's trouble when the first byte arrives.
    m_runMarker.create(m_journalFolder, start, ini);
    m_journal = std::make_unique<journal::Journal>(m_journalFolder, start, m_runMarker.index());
    connect(m_journal.get(), &journal::Journal::writeFailed, this, &Tmain::JournalFailed);
    connect(m_journal.get(), &journal::Journal::cellsWriteFailed, this,
        [this] { FolderWarning(QStringLiteral("受信記録のセルの控えを書き込めません")); });
    // Named like the marker, which is what the next start looks for.
    m_runName = journal::RunName(start, m_runMarker.index());
    m_snapshot = std::make_unique<journal::PaneSnapshot>(
        m_journalFolder + QLatin1Char('/') + m_runName + QStringLiteral(".pane"));
    connect(m_snapshot.get(), &journal::PaneSnapshot::writeFailed, this,
        [this] { FolderWarning(QStringLiteral("ログ画面の控えを書き込めません")); });
}

void Tmain::JournalFailed()
{
    FolderWarning(QStringLiteral("受信記録を書き込めません"));
    UpdateStatus();
}

void Tmain::FolderWarning(const QString &text)
{
    // Journal and snapshot share the folder: its trouble is told once.
    if (m_folderWarned)
        return;
    m_folderWarned = true;
    errors::ShowWarning(text);
}

void Tmain::TakeSnapshot()
{
    m_snapshotDelay->cancel();
    // Every received byte the text holds is counted, and only those: a
    // character still waiting for its second byte belongs to the journal's tail.
    RichEdit1->flushReceived();
    const qint64 length = m_journal->appendedBytes() - RichEdit1->heldBytes();
    m_snapshot->write(RichEdit1->toPlainText(), length, Clock());
}

void Tmain::OfferRecovery()
{
    if (m_unfinished.isNull())
        return;
    journal::Unfinished run = std::move(m_unfinished);
    const journal::RecoveryOffer offer = journal::ReadRecovery(run.journalPath(), run.snapshotPath());
    const bool yes = errors::AskYesNo(journal::RecoveryQuestion(offer));
    // Asked once: the marker and the snapshot go whatever the answer, the journal stays.
    run.dismiss();
    if (!yes)
        return;
    QString text = journal::RecoveredText(offer.snapshot, offer.received);
    if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    // What this run receives follows on a line of its own, after the boundary.
    text += journal::RestartLine(Clock()) + QLatin1Char('\n');
    RichEdit1->insertAtStart(text);
    // The recovered text is this run's now; its snapshot is not left to the delay.
    TakeSnapshot();
}

void Tmain::OpenFile(const QString &path)
{
    if (!textsniff::LooksLikeText(textsniff::ReadHead(path))
        && !errors::AskYesNo(QStringLiteral("テキストファイルではないようです。開きますか？")))
        return;
    RichEdit1->loadFile(path);
}

void Tmain::ShowBays()
{
    const int n = Bays1->assignedCount();
    StatusBays->setText(n > 0 ? QStringLiteral("装着: %1").arg(n) : QStringLiteral("装着なし"));
    StatusBays->setToolTip(QStringLiteral("装着セル: ") + StatusBays->text());
    StatusBays->show();
}

void Tmain::ShowLibraryConnection(bool connected, int unsent)
{
    QString text = connected ? QStringLiteral("台帳: 接続") : QStringLiteral("台帳: 未接続");
    if (unsent > 0)
        text += QStringLiteral("（未送信 %1）").arg(unsent);
    StatusLibrary->setText(text);
    StatusLibrary->setToolTip(text + QStringLiteral("\n") + m_library->path());
    StatusLibrary->show();
}

void Tmain::ShowLastRun(const QString &text)
{
    StatusLastRun->setText(text);
    StatusLastRun->setToolTip(text);
    StatusLastRun->setVisible(!text.isEmpty());
}

void Tmain::UpdateStatus()
{
    portstatus::State state = portstatus::State::Closed;
    if (CommX1->IsOpen())
        state = portstatus::State::Open;
    else if (PortWatcher1->IsWatching())
        state = portstatus::State::Waiting;
    const QString configured = CommX1->DevicePath();
    if (state == portstatus::State::Open && configured != m_describedPath) {
        // The device itself, not a link to it (by-id names, the simulator's
        // link); sysfs and the link are read once per device, not at every tick.
        m_describedPath = configured;
        const QString target = QFileInfo(configured).canonicalFilePath();
        m_device = target.isEmpty() ? configured : target;
        m_description = DescribeSerialDevice(configured);
    }
    const QString path = state == portstatus::State::Open ? m_device : configured;
    const QString port = portstatus::Text(state, CommX1->PortNo(), path, m_description);
    if (StatusPort->text() != port) {
        StatusPort->setText(port);
        // The narrow window cuts a long device and adapter name short; the tip shows it whole.
        StatusPort->setToolTip(port);
    }

    // Named as it will be until the first byte creates it.
    const QString file = m_journal->filePath();
    const QString name = file.isEmpty() ? m_runName + QStringLiteral(".log") : QFileInfo(file).fileName();
    // The name alone; the tip says where.
    const QString journalText = m_journal->failed() ? QStringLiteral("受信記録を書き込めません") : name;
    if (StatusJournal->text() != journalText) {
        StatusJournal->setText(journalText);
        StatusJournal->setToolTip(
            QStringLiteral("受信記録: ") + (file.isEmpty() ? m_journalFolder + QLatin1Char('/') + name : file));
    }
}

void Tmain::CommX1Receive(TCustomCommX *, qint32 ReceiveSize)
{
    if (ReceiveSize <= 0)
        return;
    // One read for all waiting bytes: the same bytes as one read per byte,
    // without a system call for each.
    QByteArray buffer(ReceiveSize, Qt::Uninitialized);
    const qint32 n = CommX1->ReceiveBlock(buffer.data(), ReceiveSize);
    if (n <= 0)
        return;
    buffer.truncate(n);
    m_journal->append(buffer.constData(), n);
    RichEdit1->appendReceived(buffer);
    if (OnReceived)
        OnReceived(buffer);
}

QString Tmain::runOpenDialog(const QString &folder)
{
    m_openDialogFolder = folder;
    if (OpenDialog)
        return OpenDialog();
    QFileDialog dlg(this, QString(), folder);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setNameFilter(messages::LogFileFilter());
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return QString();
    return dlg.selectedFiles().constFirst();
}

QString Tmain::runSaveDialog()
{
    if (SaveDialog)
        return SaveDialog();
    const QString txt = QStringLiteral("テキストファイル　(*.txt)");
    const QString log = QStringLiteral("ログファイル　(*.log)");
    QFileDialog dlg(this);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setNameFilters({txt, log});
    dlg.setDefaultSuffix(QStringLiteral("txt"));
    // A name typed without extension takes the chosen type's.
    connect(&dlg, &QFileDialog::filterSelected, &dlg, [&dlg, log](const QString &filter) {
        dlg.setDefaultSuffix(filter == log ? QStringLiteral("log") : QStringLiteral("txt"));
    });
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return QString();
    return dlg.selectedFiles().constFirst();
}

void Tmain::Open1Click()
{
    const QString path = runOpenDialog();
    if (!path.isEmpty())
        OpenFile(path);
}

void Tmain::ImportToLibrary1Click()
{
    if (!ledger->OpenDialog)
        return;
    const QStringList paths = ledger->OpenDialog();
    if (!paths.isEmpty())
        ledger->Import(paths);
}

void Tmain::OpenJournal1Click()
{
    const QString path = runOpenDialog(m_journalFolder);
    if (path.isEmpty())
        return;
    // A run whose pane was kept shows as it was at its end, notes included.
    const QString pane = journal::SnapshotPathFor(path);
    if (QFileInfo::exists(pane)) {
        const journal::RecoveryOffer run = journal::ReadRecovery(path, pane);
        if (run.snapshot) {
            RichEdit1->loadText(journal::RecoveredText(run.snapshot, run.received));
            return;
        }
    }
    OpenFile(path);
}

void Tmain::SaveAs1Click()
{
    const QString path = runSaveDialog();
    if (!path.isEmpty())
        RichEdit1->saveFile(path);
}

void Tmain::BitBtn4Click()
{
    RichEdit1->clearWithStamp(Clock());
}

void Tmain::BitBtn3Click()
{
    DrawGraphFrom(*RichEdit1);
}

void Tmain::Timer1Timer()
{
    Timer1->setInterval(100);
    if (exchange::ParamWait > 0) {
        --exchange::ParamWait;
        if (exchange::ParamWait == 0)
            AnswerPrompt();
    }
    m_settingsSaver->check();
    UpdateStatus();
}

void Tmain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!forms::SettingsPushed) {
        forms::SettingsPushed = true;
        forms::PushSettingsToDialogs();
        OfferRecovery();
    }
}

void Tmain::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    // The size the window is laid out with before its first show is not the
    // user's; only a shown window's size is recorded.
    if (!isVisible())
        return;
    const QSize s = windowsize::outer(this);
    settings::Wmain = s.width();
    settings::Hmain = s.height();
}

void Tmain::closeEvent(QCloseEvent *event)
{
    CommX1->PortClose();
    // A write still going finishes first; the close then writes the settings itself.
    m_settingsSaver->finish();
    try {
        settings::SaveSettings();
    } catch (...) {
        errors::ShowMessage(QStringLiteral("エラー"));
    }
    // The pane as it is now stays beside the journal when the user wrote in
    // it (notes, cells lines): nothing typed is lost on a normal close either.
    m_snapshotDelay->cancel();
    if (m_paneEdited) {
        TakeSnapshot();
        m_snapshot->finish();
    } else {
        m_snapshot->remove();
    }
    // Everything received is on the disk before the marker says the run ended well.
    m_journal->close();
    m_runMarker.remove();
    event->accept();
    // The other windows may still be shown; closing the main window ends the program.
    QCoreApplication::quit();
}
