// Qt's own texts (Yes and No, the file dialog, context menus) in Japanese, as the rest of the
// program speaks.
#pragma once

class QCoreApplication;

// Loads Qt's Japanese translations from Qt's translations folder into app; false when they are
// not installed (Qt's English texts then stay).
bool installQtTranslations(QCoreApplication& app);
