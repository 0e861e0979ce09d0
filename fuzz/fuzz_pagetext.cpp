// Fuzzes the decoding of page bytes: any bytes give a text, never a crash; plain ASCII stays as it
// is.
#include "page_analysis/pagetext.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString text = decodePageText(bytes);
    (void)declaredCharset(bytes);
    bool ascii = size > 0;
    for (size_t i = 0; i < size; ++i)
        ascii = ascii && data[i] >= 0x20 && data[i] < 0x7F;
    if (ascii && !bytes.toLower().contains("charset") && text != QString::fromLatin1(bytes))
        __builtin_trap();
    return 0;
}
