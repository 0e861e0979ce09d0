// The About box's fixed texts: what the program is, its version, and where its documents are.
#pragma once

#include <QString>

namespace About {

inline const QString description1 = QStringLiteral("インターネットＪＰＧ／ＪＰＥＧ画像");
inline const QString description2 = QStringLiteral("自動収集ソフト");
inline const QString programName = QStringLiteral("Pixhound");
inline const QString version = QStringLiteral("Ver.3.1");
inline const QString creditLine = QStringLiteral("Pixhound Project");

// The captions of the two links: the program's help page and its README.
inline const QString homePageLink = QStringLiteral("ヘルプページを開く");
inline const QString readmeLink = QStringLiteral("説明書 (README) を開く");

inline const QString caption = QStringLiteral("バージョン情報");

// The program's icon, as a Qt resource.
inline const QString iconResource = QStringLiteral(":/pixhound.svg");

} // namespace About
