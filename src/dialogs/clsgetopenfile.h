// A property bag around the open and save file dialogs: set the properties, call ShowOpen or
// ShowSave, read the choice back from the properties. A cancel is reported as the pending error
// 32755 when CancelError is set.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

class clsGetOpenFile
{
public:
    static constexpr int OFN_OVERWRITEPROMPT = 0x2;
    static constexpr int OFN_HIDEREADONLY = 0x4;
    static constexpr int OFN_ALLOWMULTISELECT = 0x200;
    static constexpr int OFN_FILEMUSTEXIST = 0x1000;
    static constexpr int OFN_EXPLORER = 0x80000;

    QString DirectoryName() const { return m_directoryName; }
    QString Filter() const { return m_filter; }
    void sethWnd(QWidget* owner) { m_owner = owner; }
    void ShowOpen();
    void ShowSave();
    QString FileName() const { return m_fileName; }
    void setFileName(const QString& value) { m_fileName = value; }
    void setFilter(const QString& value) { m_filter = value; }
    qint16 FilterIndex() const { return m_filterIndex; }
    void setFilterIndex(qint16 value) { m_filterIndex = value; }
    void setCancelError(bool value) { m_cancelError = value; }
    QString DefaultExt() const { return m_defaultExt; }
    void setDefaultExt(const QString& value) { m_defaultExt = value; }
    QString DialogTitle() const { return m_dialogTitle; }
    void setDialogTitle(const QString& value) { m_dialogTitle = value; }
    qint32 flags() const { return m_flags; }
    void setflags(qint32 value) { m_flags = value; }
    void setInitDir(const QString& value) { m_initDir = value; }
    qint32 MaxFileSize() const { return m_maxFileSize; }
    void setMaxFileSize(qint32 value) { m_maxFileSize = value; }
    void setFileTitle(const QString& value) { m_fileTitle = value; }
    QString FileTitle() const { return m_fileTitle; }
    qint32 ExtendedError() const { return m_extendedError; }

    // The error left pending by the last ShowOpen/ShowSave/ShowFileDialog: 32755 after a cancel
    // or a failed dialog with CancelError set, otherwise 0.
    int pendingError() const { return m_pendingError; }

    // The filter with every "|" replaced by NUL and one more NUL appended.
    static QString Make_FilterString(const QString& filter);

    // Shows the open (mode 1) or save (mode 2) dialog and updates the properties; the chosen path
    // is taken whole, however long. Any other mode shows nothing and only resets ExtendedError.
    // An unexpected failure is reported once in a warning box and ends the call as a failed
    // dialog.
    void ShowFileDialog(int mode);

    // The dialog's name filters, one per description and pattern pair of filter; each keeps its
    // description and lists the pattern's parts in parentheses.
    static QStringList nameFilters(const QString& filter);

    // The name preselected in the dialog: fileName cut to the file buffer (MaxFileSize, at least
    // 260 characters, less one for the terminating NUL) and to the first NUL in it.
    static QString preselectedName(const QString& fileName, qint32 maxFileSize);

private:
    QWidget* m_owner = nullptr;
    bool m_cancelError = false;
    QString m_defaultExt;
    QString m_dialogTitle;
    QString m_fileName;
    QString m_fileTitle;
    QString m_filter;
    qint16 m_filterIndex = 0;
    qint32 m_flags = 0;
    QString m_initDir;
    qint32 m_maxFileSize = 0;
    qint32 m_extendedError = 0;
    QString m_directoryName;
    int m_pendingError = 0;
};
