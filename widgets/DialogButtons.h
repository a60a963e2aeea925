#pragma once
// The OK / キャンセル row at the foot of the program's small dialogs.
class QDialog;
class QHBoxLayout;
class QPushButton;

namespace dialogbuttons {

struct OkCancel {
    QPushButton *ok; // the default button (Enter); the caller connects it
    QPushButton *cancel; // rejects the dialog, as Escape does
    QHBoxLayout *row; // both at the right, to go under the dialog's fields
};

OkCancel Make(QDialog *dialog);

} // namespace dialogbuttons
