// A temporary folder that stands in for the program's folder.
#include "support/tempprogramfolder.h"

#include "platform/programfolder.h"

TempProgramFolder::TempProgramFolder() { setProgramFolder(m_dir.path()); }

TempProgramFolder::~TempProgramFolder() { setProgramFolder(QString()); }

QString TempProgramFolder::path() const { return m_dir.path() + u'/'; }
