// Icon files decoded and scaled for a desktop panel.
#include "platform/posix/front_ends/icon_pixmaps.h"

#include <algorithm>
#include <cmath>

namespace platform {
namespace {

constexpr std::size_t kDirectorySize = 6;
constexpr std::size_t kEntrySize = 16;
constexpr std::size_t kBitmapHeaderSize = 40;

std::uint32_t LittleEndian(const std::uint8_t* bytes, std::size_t count) {
  std::uint32_t value = 0;
  for (std::size_t i = count; i-- > 0;) {
    value = (value << 8) | bytes[i];
  }
  return value;
}

}  // namespace

bool DecodeIconFile(const std::uint8_t* bytes, std::size_t size, IconPixmap* picture) {
  if (bytes == nullptr || size < kDirectorySize || LittleEndian(bytes, 2) != 0 ||
      LittleEndian(bytes + 2, 2) != 1) {
    return false;
  }
  const std::size_t count = LittleEndian(bytes + 4, 2);
  if (count == 0 || size < kDirectorySize + count * kEntrySize) {
    return false;
  }
  // The entry with the most pixels; a width or height byte of 0 means 256.
  std::size_t best = 0;
  std::uint32_t bestArea = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* entry = bytes + kDirectorySize + i * kEntrySize;
    const std::uint32_t area =
        (entry[0] == 0 ? 256u : entry[0]) * (entry[1] == 0 ? 256u : entry[1]);
    if (area > bestArea) {
      best = i;
      bestArea = area;
    }
  }
  const std::uint8_t* entry = bytes + kDirectorySize + best * kEntrySize;
  const std::size_t length = LittleEndian(entry + 8, 4);
  const std::size_t offset = LittleEndian(entry + 12, 4);
  if (offset > size || length > size - offset || length < kBitmapHeaderSize) {
    return false;
  }
  const std::uint8_t* header = bytes + offset;
  const std::int32_t width = static_cast<std::int32_t>(LittleEndian(header + 4, 4));
  // The height counts the colour rows and the mask rows together.
  const std::int32_t doubleHeight = static_cast<std::int32_t>(LittleEndian(header + 8, 4));
  if (LittleEndian(header, 4) != kBitmapHeaderSize || LittleEndian(header + 14, 2) != 32 ||
      LittleEndian(header + 16, 4) != 0 || width <= 0 || width > 256 || doubleHeight <= 0 ||
      doubleHeight % 2 != 0 || doubleHeight / 2 > 256) {
    return false;
  }
  const int height = doubleHeight / 2;
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
  if (length - kBitmapHeaderSize < rowBytes * static_cast<std::size_t>(height)) {
    return false;
  }
  picture->width = width;
  picture->height = height;
  picture->argb.resize(rowBytes * static_cast<std::size_t>(height));
  // Rows are stored bottom-up, each pixel as blue, green, red, alpha.
  const std::uint8_t* rows = header + kBitmapHeaderSize;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* source = rows + static_cast<std::size_t>(height - 1 - y) * rowBytes;
    std::uint8_t* target = picture->argb.data() + static_cast<std::size_t>(y) * rowBytes;
    for (int x = 0; x < width; ++x, source += 4, target += 4) {
      target[0] = source[3];
      target[1] = source[2];
      target[2] = source[1];
      target[3] = source[0];
    }
  }
  return true;
}

IconPixmap ScaleIconPixmap(const IconPixmap& picture, int side) {
  IconPixmap scaled;
  scaled.width = side;
  scaled.height = side;
  scaled.argb.assign(static_cast<std::size_t>(side) * side * 4, 0);
  if (picture.width <= 0 || picture.height <= 0 || side <= 0) {
    return scaled;
  }
  const double stepX = static_cast<double>(picture.width) / side;
  const double stepY = static_cast<double>(picture.height) / side;
  for (int y = 0; y < side; ++y) {
    const double top = y * stepY;
    const double bottom = top + stepY;
    for (int x = 0; x < side; ++x) {
      const double left = x * stepX;
      const double right = left + stepX;
      double alpha = 0;
      double colour[3] = {0, 0, 0};
      for (int sy = static_cast<int>(top); sy < picture.height && sy < bottom; ++sy) {
        const double coverY = std::min(bottom, sy + 1.0) - std::max(top, static_cast<double>(sy));
        for (int sx = static_cast<int>(left); sx < picture.width && sx < right; ++sx) {
          const double cover =
              coverY * (std::min(right, sx + 1.0) - std::max(left, static_cast<double>(sx)));
          const std::uint8_t* pixel =
              picture.argb.data() + (static_cast<std::size_t>(sy) * picture.width + sx) * 4;
          const double weight = cover * pixel[0];
          alpha += weight;
          for (int c = 0; c < 3; ++c) {
            colour[c] += weight * pixel[1 + c];
          }
        }
      }
      std::uint8_t* target = scaled.argb.data() + (static_cast<std::size_t>(y) * side + x) * 4;
      target[0] = static_cast<std::uint8_t>(std::lround(alpha / (stepX * stepY)));
      for (int c = 0; c < 3 && alpha > 0; ++c) {
        target[1 + c] = static_cast<std::uint8_t>(std::lround(colour[c] / alpha));
      }
    }
  }
  return scaled;
}

std::vector<IconPixmap> IconPixmaps(int iconNumber) {
  const EmbeddedIconFile file = FindEmbeddedIconFile(iconNumber);
  IconPixmap picture;
  if (!DecodeIconFile(file.bytes, file.size, &picture)) {
    return {};
  }
  std::vector<IconPixmap> pixmaps;
  for (int side : kIconPixmapSides) {
    pixmaps.push_back(
        side == picture.width && side == picture.height ? picture : ScaleIconPixmap(picture, side));
  }
  return pixmaps;
}

}  // namespace platform
