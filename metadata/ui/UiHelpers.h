// Small helpers the metadata windows share: colours given as Windows COLORREF
// values, the "OK" and "NO" button glyphs, the default row images.
#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <cstdint>
#include <functional>

class QWidget;

namespace sonarvex {

// 0x00BBGGRR to a colour; the system colours 0x8000000A and 0x80000005 map to
// the palette's inactive border (mid) and base colours.
QColor ColorRefToQColor(std::uint32_t colorRef);

// The window and edit colours of the main window's settings.
struct FormColors {
  std::uint32_t window = 13758449;
  std::uint32_t edit = 13758462;
};

// Gives the form the window colour and every edit, combo box, list and text
// box inside it the edit colour.
void ApplyFormColors(QWidget* form, const FormColors& colors);

// The button glyphs "OK" (a green tick) and "NO" (a red cross).
QIcon Glyph(const char* name);

// Row images: 1 album / not copied, 2 copied, 3 artist / data track.
using ImageProvider = std::function<QPixmap(int index)>;
QPixmap DefaultImage(int index);

}  // namespace sonarvex
