// The Shift-JIS codec: every byte string decodes and encodes back to itself,
// and the chunked decoder agrees with the whole-text one however the bytes
// are cut.
#include "core/SjisText.h"

#include <QByteArray>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t cut = data[0];
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    if (sjis::encode(sjis::decode(bytes)) != bytes)
        std::abort();
    sjis::StreamDecoder stream;
    QString chunked;
    const qsizetype step = qsizetype(cut % 7) + 1;
    for (qsizetype i = 0; i < bytes.size(); i += step)
        chunked += stream.feed(bytes.mid(i, step));
    chunked += stream.flush();
    if (chunked != sjis::decodeText(bytes))
        std::abort();
    return 0;
}
