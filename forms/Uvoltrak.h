#pragma once
// The main window: tool buttons, the communication log, menus, the 100 ms
// timer that paces the settings exchange, and the serial port.
#include "journal/RunMarker.h"

#include <QMainWindow>
#include <functional>
#include <memory>

class Debounce;
class ElidedLabel;
class FileWriter;
class LogPane;
class PortWatcher;
class QAction;
class QLabel;
class QPushButton;
class QTimer;
class TCommX;
class TCustomCommX;
class Tbays;
class Tcells;
class Tlibrary;
namespace journal {
class Journal;
class PaneSnapshot;
} // namespace journal
namespace settings {
class SettingsSaver;
}
namespace library {
class BayAssignment;
class BayKeeper;
class LibraryService;
class LiveCapture;
} // namespace library
namespace windowsize {
class FramedGeometry;
}

class Tmain : public QMainWindow
{
    Q_OBJECT
public:
    // libraryPath: the cell library's file; empty runs without one.
    explicit Tmain(QWidget *parent = nullptr, const QString &libraryPath = QString());
    ~Tmain() override;

    LogPane *RichEdit1;
    TCommX *CommX1;
    PortWatcher *PortWatcher1; // reopens CommX1 when its lost device returns
    QTimer *Timer1;
    QPushButton *BitBtn1; // 開く
    QPushButton *BitBtn2; // 保存
    QPushButton *BitBtn4; // クリア
    QPushButton *BitBtn3; // 描画
    QLabel *Panel2; // 通信データ title
    // The status bar under the log pane: the port and the bays, the journal,
    // the last run, each on its line; each ends in "…" when cut, its tip whole.
    ElidedLabel *StatusPort;
    ElidedLabel *StatusJournal;
    ElidedLabel *StatusLastRun;
    ElidedLabel *StatusBays; // "装着: 4" or "装着なし"
    // A server library, on a line of its own: "台帳: 接続" or "台帳: 未接続（未送信 n）".
    ElidedLabel *StatusLibrary;

    QAction *Open1, *OpenJournal1, *SaveAs1, *Exit1;
    QAction *Cut1, *Copy1, *Paste1;
    QAction *GraphSetting1, *ParamSetting1, *ComSetting1, *About1;
    QAction *LibraryPlace1; // セル台帳の場所
    class Tlibraryplace *libraryPlace = nullptr;
    QAction *CellList1; // 表示 > セル一覧
    QAction *MountedCells1; // 表示 > 装着セル
    QAction *CellLibrary1; // 表示 > セル台帳
    QAction *ImportToLibrary1; // ファイル > 台帳に取り込む
    Tcells *cells; // the cell list window, owned by this window

    // The cell library and what feeds it; null without a library. The
    // service outlives the windows that use it, the windows this one.
    library::LibraryService *Library1() const { return m_library.get(); }
    library::BayAssignment *Bays1; // the cells in the bays now
    library::LiveCapture *Capture1 = nullptr; // tables received, recorded
    library::BayKeeper *BayKeeper1 = nullptr; // the bays kept in the library
    bool m_paneEdited = false; // the user (or the program) wrote in the pane this run
    FileWriter *Files1; // the files the library's windows save
    Tbays *bays; // 装着セル
    Tlibrary *ledger; // セル台帳

    // File dialogs; tests replace them. They return the chosen path, or an
    // empty string when the user cancels.
    std::function<QString()> OpenDialog;
    std::function<QString()> SaveDialog;
    // The folder the open dialog was last asked to start in (empty: its own choice).
    QString OpenDialogFolder() const { return m_openDialogFolder; }
    // The clock behind the clear command's date stamp and the journal's name.
    std::function<QDateTime()> Clock;
    // Every chunk received from the line, after the journal and the log pane
    // have it: the cell library's capture listens here (typed or opened text
    // never comes this way).
    std::function<void(const QByteArray &)> OnReceived;

    // Where this run's journal goes: "logs" beside the ini file.
    QString JournalFolder() const { return m_journalFolder; }
    journal::Journal *Journal() const { return m_journal.get(); }
    // This run's pane snapshot beside its journal.
    journal::PaneSnapshot *Snapshot() const { return m_snapshot.get(); }
    // Puts the pane's text into the snapshot now (a change waiting or not).
    void TakeSnapshot();

    // Fills the pane with a file, asking first when it does not look like text.
    void OpenFile(const QString &path);

    // The last run the cell library recorded, shown in the status bar; empty hides it.
    void ShowLastRun(const QString &text);
    void ShowBays();
    // Brings the status bar's port and journal texts up to date.
    void UpdateStatus();
    void ShowLibraryConnection(bool connected, int unsent);

    void CommX1Receive(TCustomCommX *Sender, qint32 ReceiveSize);

    // Outer size, frame included, also when the window manager frames the
    // window only after it was sized.
    void SetOuterSize(int width, int height);

public slots:
    void Open1Click();
    void ImportToLibrary1Click();
    void OpenJournal1Click();
    void SaveAs1Click();
    void BitBtn4Click();
    void BitBtn3Click();
    void Timer1Timer();

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void FormCreate();
    void StartJournal();
    void OfferRecovery();
    void JournalFailed();
    void StartLibrary(const QString &path);
    void LibraryUnavailable(const QString &reason, bool readOnly);
    void FolderWarning(const QString &text);
    void createMenus();
    QString runOpenDialog(const QString &folder = {});
    QString runSaveDialog();

    QString m_openDialogFolder;
    QString m_journalFolder;
    journal::RunMarker m_runMarker;
    journal::Unfinished m_unfinished;
    std::unique_ptr<journal::Journal> m_journal;
    std::unique_ptr<library::LibraryService> m_library;
    std::unique_ptr<journal::PaneSnapshot> m_snapshot;
    Debounce *m_snapshotDelay;
    settings::SettingsSaver *m_settingsSaver;
    bool m_folderWarned = false;
    QString m_runName; // this run's journal, marker and snapshot name
    QString m_describedPath, m_device, m_description; // the last device described, cached
    windowsize::FramedGeometry *m_geometry;
};

namespace forms {
// Set once the first show has pushed the settings into the dialogs.
extern bool SettingsPushed;
} // namespace forms
