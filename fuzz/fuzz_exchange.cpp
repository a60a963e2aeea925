// The settings exchange stepped over arbitrary logs and settings: any prompt
// order, any last line, transmissions that fail.
#include "core/LogLines.h"
#include "core/Settings.h"
#include "device/Exchange.h"
#include "fuzz/FuzzInput.h"

#include <QByteArray>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    settings::ResetToDefaults();
    settings::Vstop = in.take<qint32>();
    settings::Vref = in.take<qint32>();
    settings::Tstop = in.take<qint32>();
    exchange::ParamStep = 0;
    exchange::ParamWait = 0;
    exchange::ParamMask = 0;
    exchange::Start();
    ByteLines log;
    for (int tick = 0; tick < 64 && !in.empty(); ++tick) {
        const uint8_t op = in.byte();
        size_t n = 0;
        const char *b = in.bytes(32, n);
        if (op & 1)
            log.lines().append(QByteArray(b, qsizetype(n)));
        else if (!log.lines().isEmpty())
            log.lines().last().append(b, qsizetype(n));
        if (op & 2)
            exchange::Cancel();
        if (op & 4)
            exchange::Start();
        const bool sendOk = !(op & 8);
        exchange::Step(
            log,
            [&](const QByteArray &s) {
                if (sendOk)
                    log.lines().append(s);
                return sendOk;
            },
            [](const QString &) {});
        if (exchange::ParamStep < 0 || exchange::ParamStep > exchange::PromptCount + 1)
            __builtin_trap();
    }
    return 0;
}
