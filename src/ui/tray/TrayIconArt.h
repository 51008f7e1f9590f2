// The tray icon's picture: the monochrome Quillet glyph in the panel's ink, with a red "!"
// badge in its lower right corner while the history has a warning. Tray hosts show a picture
// only, so the badge is part of it.
//
//   tray.setIcon(TrayIconArt::icon(ink, warning));
//
// Main thread only.
#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>

namespace quillet::TrayIconArt {

// The grey of freedesktop symbolic icons: readable on light and dark panels alike.
inline const QColor neutralInk{0xbe, 0xbe, 0xbe};
inline const QColor badgeColour{0xe0, 0x1b, 0x24};

QImage image(int size, const QColor& ink, bool badge);
// Sizes 16 to 64, so the host picks the one that matches its panel.
QIcon icon(const QColor& ink, bool badge);

}  // namespace quillet::TrayIconArt
