// Failures as the user sees them.
#include "platform/runtimeerror.h"

#include <cerrno>

QString RuntimeError::numberAndDescription() const
{
    return QString::number(number) + u':' + description;
}

QString runtimeErrorDescription(int number)
{
    switch (number) {
    case ErrorNumber::Overflow:
        return QStringLiteral("オーバーフローしました。");
    case ErrorNumber::OutOfMemory:
        return QStringLiteral("メモリが不足しています。");
    case ErrorNumber::SubscriptOutOfRange:
        return QStringLiteral("インデックスが有効範囲にありません。");
    case ErrorNumber::BadFileName:
        return QStringLiteral("ファイル名または番号が不正です。");
    case ErrorNumber::FileNotFound:
        return QStringLiteral("ファイルが見つかりません。");
    case ErrorNumber::DiskFull:
        return QStringLiteral("ディスクの空き容量が不足しています。");
    case ErrorNumber::DeviceUnavailable:
        return QStringLiteral("デバイスが準備されていません。");
    case ErrorNumber::PermissionDenied:
        return QStringLiteral("書き込みできません。");
    case ErrorNumber::PathFileAccess:
        return QStringLiteral("パス名が無効です。");
    case ErrorNumber::PathNotFound:
        return QStringLiteral("パスが見つかりません。");
    case ErrorNumber::DialogCancelled:
        return QStringLiteral("[キャンセル] が選択されました。");
    default:
        return QStringLiteral("アプリケーション定義またはオブジェクト定義のエラーです。");
    }
}

RuntimeError runtimeError(int number)
{
    return RuntimeError { number, runtimeErrorDescription(number) };
}

RuntimeError runtimeErrorFromErrno(int errnoValue, bool missingMeansFile)
{
    switch (errnoValue) {
    case ENOENT:
        return runtimeError(
            missingMeansFile ? ErrorNumber::FileNotFound : ErrorNumber::PathNotFound);
    case ENOTDIR:
        return runtimeError(ErrorNumber::PathNotFound);
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
        return runtimeError(ErrorNumber::PermissionDenied);
    case EEXIST:
    case EISDIR:
        return runtimeError(ErrorNumber::PathFileAccess);
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return runtimeError(ErrorNumber::DiskFull);
    case ENAMETOOLONG:
    case EINVAL:
    case EILSEQ:
        return runtimeError(ErrorNumber::BadFileName);
    case ENODEV:
    case ENXIO:
    case EIO:
    case ENOMEDIUM:
        return runtimeError(ErrorNumber::DeviceUnavailable);
    default:
        return runtimeError(ErrorNumber::PathFileAccess);
    }
}
