#pragma once
// The settings exchange: answering the discharger's six setting-mode prompts.
#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>

class LineSource;

namespace exchange {

// 0 while idle; during an exchange the number (1 to 6) of the next answer.
extern int ParamStep;
// Timer ticks until the next step; 0 means no step is pending.
extern int ParamWait;
// Bit i is set once prompt i has been answered in the running exchange.
extern int ParamMask;

constexpr int PromptCount = 6;
// Each prompt is six characters at the start of the log's last line.
extern const char *const ParamPrompts[PromptCount];

// The index of the prompt that begins the last line, or -1.
int FindPrompt(const LineSource &log);

// The answer to prompt i: the value in decimal and one CR.
QByteArray AnswerText(qint32 value);

// The six settings in prompt order (Vstop, Vref, Txcyc, Beep, Tstop, Tsel).
qint32 PromptValue(int index);

// One exchange step on the counters above: reads the log's last line, sends
// through transmit, and reports a failure through warn after its lone CR went out.
void Step(const LineSource &log, const std::function<bool(const QByteArray &)> &transmit,
    const std::function<void(const QString &)> &warn);

// Starts an exchange unless one is running (the 設定 button).
void Start();
// Stops a running exchange without sending anything (the cancel button).
void Cancel();

// How the last exchange went, for the dialog's progress line.
enum class Outcome { None, Running, Done, NotInSettingMode, Failed, Cancelled };
extern Outcome LastOutcome;
// "応答 n/6" while an exchange runs (n answers sent), "設定完了" once all six
// went out, the failure's first line after one, empty otherwise.
QString ProgressText();

extern const char *const NotInSettingMode;
extern const char *const SettingFailed;

} // namespace exchange
