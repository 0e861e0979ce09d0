// Writes the source of the given page to HTMLSource.txt in the program's folder.
#pragma once

#include <QByteArray>
#include <QString>

class RunHost;

// Writes the two header lines (the local time, the address + " is"), an empty line and the page
// bytes unchanged, each piece followed by CR LF when the page holds a CR LF pair, LF otherwise.
// Sets strHTMLSourceFile before opening. False after a failure, which it has reported.
bool Write_HTMLSource(RunHost& host, const QString& page, const QByteArray& pageBytes);
