// Fuzzes the attribute scan over decoded page text: every value found lies in the text, right
// after its pattern, and holds no double quote.
#include "fuzzcheck.h"
#include "page_analysis/attributescan.h"
#include "page_analysis/linkextraction.h"
#include "page_analysis/pagetext.h"
#include "support/fakehost.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text
        = decodePageText(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    FakeHost host;
    for (const QString& pattern : { srcPattern, hrefPattern }) {
        AttributeScan scan(text, pattern);
        QString value;
        int values = 0;
        while (scan.next(host, value) == AttributeScan::Step::Value) {
            FUZZ_CHECK(!value.contains(u'"'));
            FUZZ_CHECK(text.contains(value));
            FUZZ_CHECK(++values <= text.size());
            (void)isImageValue(value);
            (void)isPageValue(value);
        }
    }
    return 0;
}
