// The program's own images: toolbar glyphs (the desktop theme's icon when it
// has one, else a glyph drawn here), the row images of the track list and the
// position bar markers.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace sonarvex {

// A toolbar glyph: the theme icon themeName, else a drawn badge with label.
QIcon ToolIcon(const QString& themeName, const QString& label, unsigned rgb);

// ImageList1: 0 the "В MP3" header image, 1 not copied, 2 copied, 3 data track.
QPixmap ListImage(int index);

// The position bar markers "UP" and "DOWN" (while dragging).
QPixmap MarkerImage(bool down);

}  // namespace sonarvex
