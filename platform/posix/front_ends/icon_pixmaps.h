#pragma once

// The program's icon resources as pixel images for a desktop panel: the .ico files of the
// resource script, built into the program, decoded and scaled to the sizes panels draw.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

/// One picture in ARGB32 with each pixel's four bytes in network byte order (alpha first), rows
/// top to bottom, as the StatusNotifierItem protocol carries icons.
struct IconPixmap {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> argb;  ///< width * height * 4 bytes
};

/// The sides, in pixels, that IconPixmaps gives: those panels ask for.
constexpr int kIconPixmapSides[] = {16, 22, 24, 32, 48};

/// The icon resource `iconNumber` (as LoadIconA numbers it) at every side of kIconPixmapSides,
/// smallest first, scaled from the largest picture in its file. Empty for a number that names no
/// icon.
std::vector<IconPixmap> IconPixmaps(int iconNumber);

/// The largest picture in the .ico file `bytes`; false for anything but an icon file whose
/// largest picture is a 32-bit bitmap.
bool DecodeIconFile(const std::uint8_t* bytes, std::size_t size, IconPixmap* picture);

/// `picture` scaled to `side` x `side`, each new pixel the area-weighted average of the pixels it
/// covers, colours weighted by their alpha so that transparent pixels add no colour.
IconPixmap ScaleIconPixmap(const IconPixmap& picture, int side);

/// The bytes of the icon file behind resource `iconNumber`, built into the program from the
/// resource script; size 0 when there is none.
struct EmbeddedIconFile {
  const std::uint8_t* bytes = nullptr;
  std::size_t size = 0;
};
EmbeddedIconFile FindEmbeddedIconFile(int iconNumber);

}  // namespace platform
