// The About box's fixed texts: what the program is, its version, and how to reach its maker.
#pragma once

#include <QString>

namespace About {

inline const QString description1 = QStringLiteral("インターネットＪＰＧ／ＪＰＥＧ画像");
inline const QString description2 = QStringLiteral("自動収集ソフト");
inline const QString programName = QStringLiteral("Pixhound");
inline const QString version = QStringLiteral("Ver.3.1");
inline const QString creditLine = QStringLiteral("Pixhound Project");

// Each is shown as a label and opened by a click on it.
inline const QString homePage = QStringLiteral("https://pixhound.example.org/");
inline const QString mailAddress = QStringLiteral("pixhound@example.org");

inline const QString caption = QStringLiteral("バージョン情報");

// The program's icon and the help page, as Qt resources.
inline const QString iconResource = QStringLiteral(":/pixhound.svg");
inline const QString helpResource = QStringLiteral(":/help/index.html");

} // namespace About
