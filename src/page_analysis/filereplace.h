// Writing a whole file so that it is either the complete new content or left as it was.
#pragma once

#include <QByteArray>
#include <QString>

// Writes bytes to path: into a new file beside it, renamed over path once complete, so that a
// failure never leaves a partial file behind. Where no new file can be made beside it (a folder
// the user may not write to, a symbolic link) the file is written in place. Returns 0 on success,
// otherwise the errno of the failure.
int replaceFileContents(const QString& path, const QByteArray& bytes);
