// Rules about paths that differ between Windows and Linux, as pure functions of the platform's
// conventions, so that both variants can be checked on either platform.
#pragma once

#include <QString>

struct PathConventions
{
    QChar separator; // "\" on Windows, "/" on Linux
    bool driveLetters; // "C:\" roots and a drive test
    bool networkPaths; // "\\server\share\" roots
    QString forbiddenFolderChars; // what the save-folder dialog refuses after the root

    static PathConventions forWindows();
    static PathConventions forLinux();
    static PathConventions forHost(); // the conventions of the platform this build runs on
};

// The path with one separator added unless it already ends in one (empty stays empty).
QString withTrailingSeparator(
    const QString& path, const PathConventions& conventions = PathConventions::forHost());
