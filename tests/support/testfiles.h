// Small helpers for tests that make and check files: bytes that show any shift or loss, whole
// files read and written, and what a folder holds.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// size bytes of noise made from seed, NUL bytes included, so that any shift or loss shows.
QByteArray noiseBytes(qsizetype size, quint32 seed = 1);
// The same noise beginning with the JPEG start-of-image bytes FF D8.
QByteArray jpegBytes(qsizetype size, quint32 seed = 1);

// The whole file; empty when it cannot be read.
QByteArray readFileBytes(const QString& path);
// Replaces the file by bytes; false when that failed.
bool writeFileBytes(const QString& path, const QByteArray& bytes);
// Every entry of folder, hidden ones too, sorted by name.
QStringList folderEntries(const QString& folder);
