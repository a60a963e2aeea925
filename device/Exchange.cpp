#include "device/Exchange.h"
#include "core/LogLines.h"
#include "core/Settings.h"

namespace exchange {

int ParamStep = 0;
int ParamWait = 0;
int ParamMask = 0;

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
    if (ParamMask == (1 << PromptCount) - 1)
        return;
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
}

void Cancel()
{
    ParamStep = 0;
}

} // namespace exchange
