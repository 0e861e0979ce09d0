// Writes the source of the given page to HTMLSource.txt.
#include "page_analysis/htmlsource.h"

#include "platform/codepage.h"
#include "platform/pathrules.h"
#include "platform/programfolder.h"
#include "platform/runtimeerror.h"
#include "resources/messages.h"
#include "run/runhost.h"
#include "run/runstate.h"
#include "store/fileio.h"
#include "store/writefailure.h"

#include <QDateTime>

bool Write_HTMLSource(RunHost& host, const QString& page, const QByteArray& pageBytes)
{
    RunState& state = host.runState();
    // The path is known before the write so that the report names it even when the write fails.
    state.strHTMLSourceFile = withTrailingSeparator(programFolder()) + Msg::sourceFileName;

    const QByteArray lineEnd = pageBytes.contains("\r\n") ? QByteArray("\r\n") : QByteArray("\n");
    const QString now
        = QDateTime::currentDateTime().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));

    QByteArray content;
    content.reserve(pageBytes.size() + page.size() * 2 + 64);
    content += encodeCp932(Msg::sourceHeader + now);
    content += lineEnd;
    content += encodeCp932(page + Msg::sourceHeaderIs);
    content += lineEnd;
    content += lineEnd;
    // The page goes out as it came in, whatever its encoding: decoding and encoding again would
    // lose every character code page 932 cannot hold.
    content += pageBytes;
    content += lineEnd;

    const FileResult written = writeFileWhole(state.strHTMLSourceFile, content, false);
    if (written.number == 0)
        return true;
    host.Show_Info(Msg::listCannotBeCreated);
    showWriteFailure(state, written.number,
        written.numberAndDescription() + Msg::crlf + state.strHTMLSourceFile);
    return false;
}
