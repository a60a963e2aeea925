#include "widgets/ErrorDisplay.h"
#include "core/SjisText.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>

namespace errors {
namespace {

BoxHook &hook()
{
    static BoxHook h;
    return h;
}

bool &hookAnswer()
{
    static bool yes = false;
    return yes;
}

void showBox(BoxKind kind, QMessageBox::Icon icon, const QString &title, const QString &text)
{
    if (hook()) {
        hook()(kind, title, text);
        return;
    }
    QMessageBox box(icon, title, text, QMessageBox::Ok, QApplication::activeWindow());
    box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    box.exec();
}

} // namespace

QString StandardErrorText(const QString &message)
{
    const QByteArray bytes = sjis::encode(message);
    if (!bytes.isEmpty() && uchar(bytes.back()) > uchar('.'))
        return message + QLatin1Char('.');
    return message;
}

void ShowStandardError(const QString &message)
{
    showBox(BoxKind::StandardError, QMessageBox::Critical, QStringLiteral("VOLTRAK"), StandardErrorText(message));
}

void ShowCurrentException()
{
    try {
        throw;
    } catch (const std::exception &e) {
        ShowStandardError(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowStandardError(QStringLiteral("不明なエラーが発生しました"));
    }
}

void ShowWarning(const QString &text)
{
    showBox(BoxKind::Warning, QMessageBox::Warning, QStringLiteral("警告"), text);
}

void ShowMessage(const QString &text)
{
    showBox(BoxKind::Message, QMessageBox::NoIcon, QStringLiteral("VOLTRAK"), text);
}

void ShowReport(const QString &title, const QString &text)
{
    if (hook()) {
        hook()(BoxKind::Message, title, text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, QApplication::activeWindow());
    box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    // A message box sizes itself to its shortest fit; the report's lines name files.
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(
            new QSpacerItem(box.fontMetrics().averageCharWidth() * 60, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
            grid->rowCount(), 0, 1, grid->columnCount());
    box.exec();
}

bool AskYesNo(const QString &text)
{
    const QString title = QStringLiteral("VOLTRAK");
    if (hook()) {
        hook()(BoxKind::Question, title, text);
        return hookAnswer();
    }
    QMessageBox box(
        QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void SetBoxHook(BoxHook h)
{
    hook() = std::move(h);
}

void SetQuestionAnswer(bool yes)
{
    hookAnswer() = yes;
}

} // namespace errors
