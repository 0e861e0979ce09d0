// Fuzzes the JPG-list reader: any file is read or refused, and a refused file leaves both lists
// empty so that nothing partial can be written back.
#include "fuzzcheck.h"
#include "platform/programfolder.h"
#include "store/downloadlist.h"
#include "support/fakehost.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString path = QDir::tempPath() + QStringLiteral("/pixhound-fuzz-list-")
        + QString::number(getpid()) + QStringLiteral(".txt");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char*>(data), qint64(size));
    file.close();

    FakeHost host;
    host.state.udtDownload.append(DownloadItem { QStringLiteral("http://h/old.jpg"), QString() });
    host.state.strPageList.append(QStringLiteral("http://h/old.jpg"));
    const bool read = readImageList(host, path);
    const RunState& state = host.state;
    FUZZ_CHECK(state.udtDownload.size() == state.strPageList.addresses().size());
    if (!read)
        FUZZ_CHECK(state.udtDownload.isEmpty());
    for (const DownloadItem& item : state.udtDownload)
        FUZZ_CHECK(!item.URL.contains(u'#') && !item.URL.isEmpty());
    return 0;
}
