#include "forms/Ulibraryplace.h"

#include "core/FileWriter.h"
#include "core/IniFile.h"
#include "library/LibraryError.h"
#include "library/LibraryLocation.h"
#include "library/ServerLocation.h"
#include "widgets/DialogButtons.h"
#include "widgets/Fonts.h"
#include "widgets/SaveDialog.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <memory>

Tlibraryplace::Tlibraryplace(FileWriter *files, const QString &iniPath, const QString &current, QWidget *parent)
    : QDialog(parent)
    , m_files(files)
    , m_iniPath(iniPath)
    , m_current(current)
{
    setObjectName(QStringLiteral("libraryplace"));
    setWindowTitle(QStringLiteral("セル台帳の場所"));
    setFont(fonts::WindowFont());
    locationEdit = new QLineEdit(this);
    locationEdit->setObjectName(QStringLiteral("locationEdit"));
    locationEdit->setMinimumWidth(fontMetrics().averageCharWidth() * 48);
    locationEdit->setPlaceholderText(QStringLiteral("空欄: 設定ファイルのそばの library.sqlite"));
    browseButton = new QPushButton(QStringLiteral("参照(&B)..."), this);
    tryButton = new QPushButton(QStringLiteral("接続を試す(&T)"), this);
    resultLabel = new QLabel(this);
    resultLabel->setObjectName(QStringLiteral("resultLabel"));
    resultLabel->setWordWrap(true);
    auto *label = new QLabel(QStringLiteral("セル台帳(&L):"), this);
    label->setBuddy(locationEdit);
    auto *help = new QLabel(
        QStringLiteral("ファイル、または PostgreSQL サーバー（postgresql://ユーザー@ホスト/データベース、"
                       "service=名前）。パスワードは ~/.pgpass、PGPASSWORD またはサービスファイルに置きます。"
                       "次に起動したときから使います。"),
        this);
    help->setWordWrap(true);
#ifdef Q_OS_WIN
    help->setText(help->text() + QStringLiteral("\nこの Windows 版は PostgreSQL サーバーのセル台帳を開けません。"));
#endif
    const dialogbuttons::OkCancel buttons = dialogbuttons::Make(this);
    okButton = buttons.ok;
    cancelButton = buttons.cancel;

    auto *row = new QHBoxLayout;
    row->addWidget(locationEdit, 1);
    row->addWidget(browseButton);
    auto *tryRow = new QHBoxLayout;
    tryRow->addWidget(tryButton);
    tryRow->addWidget(resultLabel, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addLayout(row);
    layout->addWidget(help);
    layout->addLayout(tryRow);
    layout->addLayout(buttons.row);

    connect(browseButton, &QPushButton::clicked, this, &Tlibraryplace::browseClicked);
    connect(tryButton, &QPushButton::clicked, this, &Tlibraryplace::tryClicked);
    connect(okButton, &QPushButton::clicked, this, &Tlibraryplace::okClicked);
}

void Tlibraryplace::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    locationEdit->setText(library::StoredLocation(IniFile(m_iniPath)));
    resultLabel->setText(QStringLiteral("使用中: ") + m_current);
    locationEdit->setFocus();
}

QString Tlibraryplace::refusal(const QString &location) const
{
    if (!library::IsServerLocation(location))
        return {};
    const library::ServerLocation where = library::ParseServerLocation(location);
    return where.ok ? QString() : where.reason;
}

void Tlibraryplace::browseClicked()
{
    const QString file = QFileDialog::getSaveFileName(this, QStringLiteral("セル台帳のファイル"), locationEdit->text(),
        QStringLiteral("セル台帳 (*.sqlite)"), nullptr, QFileDialog::DontConfirmOverwrite);
    if (!file.isEmpty())
        locationEdit->setText(file);
}

void Tlibraryplace::tryClicked()
{
    const QString location = locationEdit->text().trimmed();
    if (location.isEmpty()) {
        resultLabel->setText(QStringLiteral("空欄: 設定ファイルのそばの library.sqlite を使います"));
        return;
    }
    if (const QString why = refusal(location); !why.isEmpty()) {
        resultLabel->setText(why);
        return;
    }
    resultLabel->setText(QStringLiteral("試しています..."));
    tryButton->setEnabled(false);
    auto answer = std::make_shared<QString>();
    m_files->run([location, answer] { *answer = library::DescribeLocation(location); }, this,
        [this, answer](const QString &error) {
            tryButton->setEnabled(true);
            resultLabel->setText(error.isEmpty() ? *answer : error);
        });
}

void Tlibraryplace::okClicked()
{
    const QString location = locationEdit->text().trimmed();
    if (const QString why = refusal(location); !why.isEmpty()) {
        resultLabel->setText(why);
        return;
    }
    okButton->setEnabled(false);
    const QString ini = m_iniPath;
    m_files->run(
        [ini, location] {
            IniFile file(ini);
            library::StoreLocation(file, location);
            file.save();
        },
        this,
        [this, location](const QString &error) {
            okButton->setEnabled(true);
            if (!error.isEmpty()) {
                resultLabel->setText(error);
                return;
            }
            emit kept(location);
            accept();
        });
}
