// The program's own documents: the help page and the README that are installed with it (or, run
// from a build folder, found in the source tree), opened in the desktop's program for them.
#pragma once

#include <QString>

// The help page's path, and the README's (see shippedFile for where they are looked for).
QString helpPagePath();
QString readmePath();

// Opens the local file through the URL opener. When the file is missing, or no program takes it
// (no browser), a warning box titled title says so and gives the file's path.
void openDocument(const QString& path, const QString& title);

// Opens the help page, titling its warnings "ヘルプ".
void openHelp();
