#pragma once
// Answers the program's own file dialogs as a user would: a name in the
// dialog's name field, then Enter.
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

// Waits (from the event loop) for the next file dialog and gives it name in
// folder as a whole path, so no folder of that name where the dialog opens
// (the working folder) is taken instead. The timer belongs to the caller, so a
// dialog that never comes leaves nothing behind.
inline void AnswerFileDialog(QTimer &watch, const QString &folder, const QString &name)
{
    QObject::disconnect(&watch, nullptr, nullptr, nullptr);
    QObject::connect(&watch, &QTimer::timeout, &watch, [&watch, folder, name] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        watch.stop();
        auto *field = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (!field) {
            dialog->reject();
            return;
        }
        // Set rather than typed: the completion list would take the keys of a whole path.
        field->setText(folder + QLatin1Char('/') + name);
        QTest::keyClick(field, Qt::Key_Return);
    });
    watch.start(10);
}
