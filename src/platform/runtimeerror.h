// Failures as the user sees them: a runtime error number and its Japanese description.
#pragma once

#include <QString>

namespace ErrorNumber {
constexpr int Overflow = 6;
constexpr int OutOfMemory = 7;
constexpr int SubscriptOutOfRange = 9;
// An unexpected failure inside the program itself.
constexpr int InternalError = 51;
constexpr int BadFileName = 52;
constexpr int FileNotFound = 53;
constexpr int DiskFull = 61;
constexpr int DeviceUnavailable = 68;
constexpr int PermissionDenied = 70;
constexpr int PathFileAccess = 75;
constexpr int PathNotFound = 76;
constexpr int DialogCancelled = 32755;
}

// One failure: its number and the description a Japanese system shows for it.
struct RuntimeError
{
    int number = 0;
    QString description;

    // "number:description", the text of the program's error boxes.
    QString numberAndDescription() const;
};

// The Japanese description of a runtime error number ("パスが見つかりません。" for 76).
QString runtimeErrorDescription(int number);

// The runtime error for an operating-system error code (errno): ENOENT → 76 or 53 (see
// missingMeansFile), EACCES/EPERM/EROFS → 70, EEXIST → 75, ENOSPC/EDQUOT → 61,
// ENAMETOOLONG/EINVAL/EILSEQ → 52, ENOTDIR → 76, ENODEV/ENXIO/EIO → 68, anything else → 75.
RuntimeError runtimeErrorFromErrno(int errnoValue, bool missingMeansFile = false);

// The error as a value, built from its number alone.
RuntimeError runtimeError(int number);
