// A temporary folder that stands in for the program's folder for the life of a test.
#pragma once

#include <QString>
#include <QTemporaryDir>

class TempProgramFolder
{
public:
    TempProgramFolder();
    ~TempProgramFolder();

    // The folder, ending in "/".
    QString path() const;
    // The path of a file in it.
    QString file(const QString& name) const { return path() + name; }

private:
    QTemporaryDir m_dir;
};
