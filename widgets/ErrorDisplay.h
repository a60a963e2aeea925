#pragma once
// The program's message boxes, in one place each, so tests can replace them.
#include <QString>
#include <functional>

class QWidget;

namespace errors {

// Text of the standard error display: the message plus "." unless its last
// Shift-JIS byte is "." or sorts below it.
QString StandardErrorText(const QString &message);

// Modal box titled "VOLTRAK" with an error icon and OK.
void ShowStandardError(const QString &message);

// Shows the exception being handled with the standard error display; call it
// only inside a catch block. One that is not a std::exception is shown as
// "不明なエラーが発生しました".
void ShowCurrentException();

// Modal box titled "警告" with a warning icon and OK.
void ShowWarning(const QString &text);

// Plain notice titled with the application title.
void ShowMessage(const QString &text);
// A report of several lines titled title, wide enough to read without
// wrapping each line (the import's summary "取り込み結果").
void ShowReport(const QString &title, const QString &text);

// Question titled "VOLTRAK" with Yes and No, Yes the default; true for Yes.
bool AskYesNo(const QString &text);

enum class BoxKind { StandardError, Warning, Message, Question };
using BoxHook = std::function<void(BoxKind, const QString &title, const QString &text)>;
// Replaces every box with the hook (tests); an empty hook restores the real boxes.
void SetBoxHook(BoxHook hook);
// The answer a question gets while the hook is set (tests); No unless set.
void SetQuestionAnswer(bool yes);

} // namespace errors
