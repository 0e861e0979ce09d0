// The About box: the program's name, version and maker, with links to its help page and README.
#pragma once

#include <QDialog>

class FrmVer : public QDialog
{
    Q_OBJECT
public:
    explicit FrmVer(QWidget* parent = nullptr);
    ~FrmVer() override;

protected:
    // The box takes the input focus whenever it is shown.
    void showEvent(QShowEvent* event) override;
};
