// The save-folder dialog: the user picks or types the folder the images are saved in.
#pragma once

#include "platform/pathrules.h"

#include <QDialog>

class frmSetSaveFolder : public QDialog
{
    Q_OBJECT
public:
    // Starts from saveFolder (ending in the separator). Show it with exec().
    explicit frmSetSaveFolder(const QString& saveFolder, QWidget* parent = nullptr,
        const PathConventions& conventions = PathConventions::forHost());
    ~frmSetSaveFolder() override;

    // After exec(): whether the user confirmed a folder, and that folder (ending in the separator,
    // a leading "~" turned into the home folder); until confirmed, the folder it started from.
    bool blnSaveFolderOK() const;
    QString strSaveFolder() const;

private:
    struct Impl;
    Impl* m_impl;
};
