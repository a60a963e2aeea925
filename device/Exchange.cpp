#include "device/Exchange.h"
#include "core/LogLines.h"
#include "core/Settings.h"

namespace exchange {

int ParamStep = 0;
int ParamWait = 0;
int ParamMask = 0;
Outcome LastOutcome = Outcome::None;

const char *const ParamPrompts[PromptCount] = {
    "Vstop:",
    " Vref:",
    "TXcyc:",
    " Beep:",
    "Tstop:",
    " Tsel:",
};

const char *const NotInSettingMode = "設定モードになっていません\r\n放電開始ボタンを長く押してください";
const char *const SettingFailed = "設定に失敗しました\r\n放電器のバージョンを確認してください";

int FindPrompt(const LineSource &log)
{
    const int n = log.lineCount();
    if (n <= 0)
        return -1;
    const QByteArray head = log.line(n - 1).left(6);
    for (int i = 0; i < PromptCount; ++i) {
        if (head == ParamPrompts[i])
            return i;
    }
    return -1;
}

QByteArray AnswerText(qint32 value)
{
    return QByteArray::number(value) + '\r';
}

qint32 PromptValue(int index)
{
    switch (index) {
    case 0: return settings::Vstop;
    case 1: return settings::Vref;
    case 2: return settings::Txcyc;
    case 3: return settings::Beep;
    case 4: return settings::Tstop;
    case 5: return settings::Tsel;
    }
    return 0;
}

void Step(const LineSource &log, const std::function<bool(const QByteArray &)> &transmit,
    const std::function<void(const QString &)> &warn)
{
    if (ParamStep == 0)
        return;
    const int i = FindPrompt(log);
    if (i < 0) {
        ParamStep = 0;
        LastOutcome = Outcome::NotInSettingMode;
        transmit(QByteArray("\r"));
        warn(QString::fromUtf8(NotInSettingMode));
        return;
    }
    transmit(AnswerText(PromptValue(i)));
    ParamMask |= 1 << i;
    ParamWait = 5;
    ++ParamStep;
    if (ParamStep <= PromptCount)
        return;
    ParamStep = 0;
    if (ParamMask == (1 << PromptCount) - 1) {
        LastOutcome = Outcome::Done;
        return;
    }
    LastOutcome = Outcome::Failed;
    transmit(QByteArray("\r"));
    warn(QString::fromUtf8(SettingFailed));
}

void Start()
{
    if (ParamStep != 0)
        return;
    ParamMask = 0;
    ParamWait = 2;
    ParamStep = 1;
    LastOutcome = Outcome::Running;
}

void Cancel()
{
    if (ParamStep != 0)
        LastOutcome = Outcome::Cancelled;
    ParamStep = 0;
}

QString ProgressText()
{
    const auto firstLine = [](const char *text) { return QString::fromUtf8(text).section(QLatin1Char('\r'), 0, 0); };
    switch (LastOutcome) {
    case Outcome::Running:
        return QStringLiteral("応答 %1/%2").arg(qBound(0, ParamStep - 1, PromptCount)).arg(PromptCount);
    case Outcome::Done: return QStringLiteral("設定完了");
    case Outcome::NotInSettingMode: return firstLine(NotInSettingMode);
    case Outcome::Failed: return firstLine(SettingFailed);
    case Outcome::None:
    case Outcome::Cancelled: break;
    }
    return QString();
}

} // namespace exchange
