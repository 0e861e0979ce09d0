// The open and save file dialogs behind a property bag.
#include "dialogs/clsgetopenfile.h"

#include "platform/messagebox.h"
#include "platform/runtimeerror.h"
#include "resources/messages.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <exception>

namespace {
constexpr int OpenMode = 1;
constexpr int SaveMode = 2;
constexpr qint32 MinimumFileBuffer = 260;
} // namespace

void clsGetOpenFile::ShowOpen() { ShowFileDialog(OpenMode); }

void clsGetOpenFile::ShowSave() { ShowFileDialog(SaveMode); }

QString clsGetOpenFile::Make_FilterString(const QString& filter)
{
    QString result = filter;
    result.replace(u'|', QChar(0));
    result.append(QChar(0));
    return result;
}

QStringList clsGetOpenFile::nameFilters(const QString& filter)
{
    // Read the way the platform dialog reads its NUL-separated list: pairs until the first
    // empty string.
    const QStringList parts = Make_FilterString(filter).split(QChar(0));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts.at(i);
        const QString& pattern = parts.at(i + 1);
        if (description.isEmpty() || pattern.isEmpty())
            break;
        QStringList patterns;
        for (const QString& part : pattern.split(u';', Qt::SkipEmptyParts)) {
            const QString trimmed = part.trimmed();
            // "*.*" means every file on Windows, but only names with a dot elsewhere.
            patterns.append(trimmed == u"*.*" ? QStringLiteral("*") : trimmed);
        }
        filters.append(description + u" (" + patterns.join(u' ') + u')');
    }
    return filters;
}

QString clsGetOpenFile::preselectedName(const QString& fileName, qint32 maxFileSize)
{
    const qint32 bufferSize = qMax(maxFileSize, MinimumFileBuffer);
    QString name = fileName.left(bufferSize - 1);
    const qsizetype nul = name.indexOf(QChar(0));
    if (nul >= 0)
        name.truncate(nul);
    return name;
}

void clsGetOpenFile::ShowFileDialog(int mode)
{
    m_extendedError = 0;
    m_pendingError = 0;
    if (mode != OpenMode && mode != SaveMode)
        return;

    try {
        QFileDialog dialog(m_owner);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        // The pattern list stays out of sight: each description already names its pattern.
        dialog.setOption(QFileDialog::HideNameFilterDetails);
        if (mode == OpenMode) {
            dialog.setAcceptMode(QFileDialog::AcceptOpen);
            if (m_flags & OFN_ALLOWMULTISELECT)
                dialog.setFileMode(QFileDialog::ExistingFiles);
            else if (m_flags & OFN_FILEMUSTEXIST)
                dialog.setFileMode(QFileDialog::ExistingFile);
            else
                dialog.setFileMode(QFileDialog::AnyFile);
        } else {
            dialog.setAcceptMode(QFileDialog::AcceptSave);
            dialog.setFileMode(QFileDialog::AnyFile);
            if (!(m_flags & OFN_OVERWRITEPROMPT))
                dialog.setOption(QFileDialog::DontConfirmOverwrite);
        }
        if (!m_dialogTitle.isEmpty())
            dialog.setWindowTitle(m_dialogTitle);

        const QStringList filters = nameFilters(m_filter);
        if (!filters.isEmpty()) {
            dialog.setNameFilters(filters);
            const qsizetype index
                = m_filterIndex >= 1 && m_filterIndex <= filters.size() ? m_filterIndex - 1 : 0;
            dialog.selectNameFilter(filters.at(index));
        }
        if (!m_initDir.isEmpty())
            dialog.setDirectory(m_initDir);
        const QString name = preselectedName(m_fileName, m_maxFileSize);
        if (!name.isEmpty())
            dialog.selectFile(name);
        QString suffix = m_defaultExt;
        while (suffix.startsWith(u'.'))
            suffix.remove(0, 1);
        dialog.setDefaultSuffix(suffix);

        const QStringList chosen
            = dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
        if (chosen.isEmpty()) {
            if (m_cancelError)
                m_pendingError = ErrorNumber::DialogCancelled;
            return;
        }

        if (!(m_flags & OFN_ALLOWMULTISELECT)) {
            m_fileName = QDir::toNativeSeparators(chosen.first());
            m_fileTitle = QFileInfo(chosen.first()).fileName();
        } else if (m_flags & OFN_EXPLORER) {
            const QString folder
                = QDir::toNativeSeparators(QFileInfo(chosen.first()).absolutePath());
            QString list = folder;
            for (const QString& file : chosen)
                list += QChar(0) + QFileInfo(file).fileName();
            m_fileName = list;
            m_directoryName = folder;
        }
    } catch (const std::exception&) {
        // Reported once; the call then ends as a failed dialog, so the caller does not take the
        // unchanged FileName for a choice.
        showMessage(runtimeErrorDescription(ErrorNumber::OutOfMemory), MessageIcon::Warning,
            Msg::titleShowFileDialog);
        if (m_cancelError)
            m_pendingError = ErrorNumber::DialogCancelled;
    }
}
