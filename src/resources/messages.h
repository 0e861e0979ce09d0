// Every text the program shows or writes, in one place. Line breaks inside messages are CR LF.
#pragma once

#include <QString>

namespace Msg {

inline const QString crlf = QStringLiteral("\r\n");

// Window captions.
inline const QString appName = QStringLiteral("Pixhound");
inline const QString captionSuffix = QStringLiteral(" - Pixhound");
inline const QString captionWorking = QStringLiteral("処理中 - Pixhound");
inline const QString captionDone = QStringLiteral("完了 - Pixhound");
inline const QString filesSuffix = QStringLiteral("Files");

// Titles of message boxes.
inline const QString titleError = QStringLiteral("エラー");
inline const QString titleUrlError = QStringLiteral("URL指定エラー");
inline const QString titleListCreated = QStringLiteral("リスト一覧作成完了");
inline const QString titleCancelConfirm = QStringLiteral("キャンセル確認");
inline const QString titleFileError = QStringLiteral("ファイル指定エラー");
inline const QString titleDownloadComplete = QStringLiteral("ダウンロード完了");
inline const QString titleFolderNameError = QStringLiteral("フォルダ名指定エラー");
inline const QString titleFolderCreateConfirm = QStringLiteral("フォルダ作成確認");
inline const QString titleGetLinkAbsUrlError = QStringLiteral("エラー：Get_LinkAbsURL");
inline const QString titleGetUrlPathError = QStringLiteral("エラー：Get_UrlPath");
inline const QString titleReadImgListError = QStringLiteral("エラー：Read_ImgListFromFile");
inline const QString titleMakeDirSubError = QStringLiteral("エラー：Make_Dir_Sub");
inline const QString titleCheckDriveError = QStringLiteral("エラー：Check_Drive");
inline const QString titleGetFileList = QStringLiteral("Get_FileList");
inline const QString titleShowFileDialog = QStringLiteral("ShowFileDialog");
inline const QString titleHelp = QStringLiteral("ヘルプ");

// The run.
inline const QString invalidUrl = QStringLiteral("URLの指定が不正です");
inline const QString cannotDownload = QStringLiteral("ダウンロードできません");
inline const QString noFiles = QStringLiteral("ダウンロードできるファイルはありません");
inline const QString folderCannotBeCreated = QStringLiteral("フォルダが作成できません");
inline const QString cancelQuestion = QStringLiteral("ダウンロードを中止しますか？");
inline const QString interrupted = QStringLiteral("処理を中断しました");
inline const QString listReportHead = QStringLiteral("ダウンロードリスト一覧を");
inline const QString listReportCreatedAt = QStringLiteral("に作成しました");
inline const QString sourceReportHead = QStringLiteral("指定したHTMLのソースは");
inline const QString sourceReportIsAt = QStringLiteral("にあります");
// The counts under the first line of the completion box and of the list report.
inline QString downloadCounts(
    qsizetype saved, qsizetype present, qsizetype refused, qsizetype listed)
{
    return QStringLiteral("保存 %1件、既存 %2件、拒否・スキップ %3件（リスト全 %4件）")
        .arg(saved)
        .arg(present)
        .arg(refused)
        .arg(listed);
}
inline QString listCount(qsizetype listed) { return QStringLiteral("リスト全 %1件").arg(listed); }
// lblDLFileNum while the list is built: the pages read and the images found so far.
inline QString listProgress(qsizetype pages, qsizetype images)
{
    return QStringLiteral("%1ページ %2枚").arg(pages).arg(images);
}

// Fetching and reading pages.
inline const QString bytesDone = QStringLiteral("Bytes完了)");
inline const QString loadingPage = QStringLiteral("ページを読込中...");
inline const QString creatingList = QStringLiteral("ダウンロードリスト作成中...");
inline const QString analysingPage = QStringLiteral("ページ解析中...");
// A page too large or too deeply nested to parse in reasonable time is read by the old rules.
inline const QString pageReadPlainly
    = QStringLiteral("ページが大きすぎるか入れ子が深すぎるため、従来の方法で読み込みました");

// Why a fetch failed, for the status line; host is the server's name.
inline QString certificateRefused(const QString& host)
{
    return QStringLiteral("証明書を確認できないため") + host
        + QStringLiteral("に接続しませんでした");
}
inline QString hostNotFound(const QString& host)
{
    return host + QStringLiteral("が見つかりません");
}
inline QString connectionRefused(const QString& host)
{
    return host + QStringLiteral("に接続できません");
}
inline QString noAnswer(const QString& host)
{
    return host + QStringLiteral("から応答がありません");
}
inline QString httpError(const QString& host, long status)
{
    return host + QStringLiteral("がエラー") + QString::number(status)
        + QStringLiteral("を返しました");
}
inline QString connectionLost(const QString& host)
{
    return host + QStringLiteral("との接続が途中で切れました");
}
inline QString redirectLoop(const QString& host)
{
    return host + QStringLiteral("の転送先が多すぎるか循環しているため読み込めません");
}
// scheme: the scheme of the address redirected to ("file", say).
inline QString redirectScheme(const QString& scheme)
{
    return QStringLiteral("読み込めない種類のアドレス（") + scheme
        + QStringLiteral(":）に転送されました");
}
// limitMegabytes: the largest body read, in MB. A page without a length is read up to the limit;
// one that announces more is not read at all.
inline QString pageTooLarge(qint64 limitMegabytes)
{
    return QStringLiteral("ページが大きすぎます（上限") + QString::number(limitMegabytes)
        + QStringLiteral("MB）");
}

// HTMLSource.txt and DownloadList.txt.
inline const QString sourceFileName = QStringLiteral("HTMLSource.txt");
inline const QString listFileName = QStringLiteral("DownloadList.txt");
inline const QString sourceHeader = QStringLiteral("The following HTML Source on ");
inline const QString sourceHeaderIs = QStringLiteral(" is");
inline const QString listCannotBeCreated = QStringLiteral("ダウンロードリスト一覧が作成できません");
inline const QString listCreated = QStringLiteral("ダウンロードリスト一覧を作成しました");
inline const QString cannotBeWritten = QStringLiteral("が書き込みできません");
inline const QString checkNotBeingEdited
    = QStringLiteral("ファイルが編集中でないか確認してください");
inline const QString fileNotFound = QStringLiteral("ファイルが見つかりません");
inline const QString listInvalidUrl
    = QStringLiteral("URLの指定が不正です　リストを修正してください");
inline const QString listNotJpeg
    = QStringLiteral("リストにJPGファイル以外のものが含まれています　リストを修正してください");
inline const QString lineLabel = QStringLiteral("行：");
inline const QString listFilter
    = QStringLiteral("テキストファイル(*.txt)|*.txt|すべてのﾌｧｲﾙ(*.*)|*.*");
inline const QString listDialogTitle = QStringLiteral("読込むJPGリストを指定");

// Downloading.
inline const QString skipped = QStringLiteral("をスキップしました");
inline const QString downloading = QStringLiteral("をダウンロード中...");
inline const QString downloaded = QStringLiteral("をダウンロードしました");
inline const QString downloadComplete = QStringLiteral("ダウンロード完了");
inline const QString diskNotWritable = QStringLiteral("ディスクに書き込みできません");
inline const QString folderInvalid = QStringLiteral("指定したフォルダは無効です");
inline const QString imageTooLarge = QStringLiteral("は大きすぎるため保存しませんでした");
inline const QString imageIncomplete = QStringLiteral("は途中で切れたため保存しませんでした");
inline const QString nameTooLong = QStringLiteral("は名前が長すぎるため保存しませんでした");
// Why an image was not saved, when the fetch failed for a reason the status line names.
inline QString imageFailed(const QString& fileName, const QString& reason)
{
    return fileName + QStringLiteral("は保存しませんでした：") + reason;
}
inline const QString nameIsFolder
    = QStringLiteral("は同じ名前のフォルダがあるため保存しませんでした");

// The save-folder dialog.
inline const QString enterFolderName = QStringLiteral("フォルダ名を入力してください");
inline const QString invalidDrive = QStringLiteral("ドライブ名の指定が無効です");
// Where there are no drive letters: a relative path, and a file where the folder should be.
inline const QString folderNotAbsolute
    = QStringLiteral("フォルダは「/」から始まる完全なパスで指定してください");
inline const QString fileInTheWay
    = QStringLiteral("指定した場所にはフォルダではなくファイルがあります");
inline const QString forbiddenFolderChars = QStringLiteral("フォルダ名に次の文字は指定できません");
inline const QString folderMissing = QStringLiteral("指定したフォルダは存在しません");
inline const QString createFolderQuestion = QStringLiteral("フォルダを作成しますか");

// The help page and the README; each is followed by CR LF and the file's path.
inline const QString documentMissing = QStringLiteral("次のファイルが見つかりません");
inline const QString noProgramToOpen = QStringLiteral(
    "ファイルを開くプログラムが見つかりませんでした。次のファイルをブラウザで開いてください");

} // namespace Msg
