// Fuzzes link resolution: the first line of the input is the page address, the rest the link.
#include "fuzzcheck.h"
#include "web/getlinkurl.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString input = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype newline = input.indexOf(u'\n');
    const QString page = newline < 0 ? input : input.left(newline);
    const QString link = newline < 0 ? QString() : input.mid(newline + 1);

    QString result = QStringLiteral("stale");
    const bool resolved = Get_LinkAbsURL(page, link, result);
    FUZZ_CHECK(resolved || result.isEmpty());

    QString path, root;
    if (Get_UrlPath(page, path))
        FUZZ_CHECK(path.endsWith(u'/'));
    if (Get_UrlRoot(page, root))
        FUZZ_CHECK(root.endsWith(u'/'));

    QString rest;
    const int steps = Cut_ParentDirs(link, rest);
    FUZZ_CHECK(steps >= 0 && rest.size() <= link.size() + 1);
    return 0;
}
