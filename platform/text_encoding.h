#pragma once

#include <string>

namespace platform {

/// Converts `bytes`, text in the legacy encoding named `encoding`, to UTF-8 in `utf8`, using the
/// system's own conversion (iconv on Linux, the code pages on Windows). Names are compared without
/// regard to case; at least ISO-8859-1 to ISO-8859-15, windows-1250 to windows-1258, KOI8-R and
/// KOI8-U are known on both systems. A byte, or a sequence of bytes, that stands for no character
/// of the encoding becomes U+FFFD (on Windows: whatever the code page's own table maps it to).
/// False, `utf8` left as it was, when the system does not know the encoding or cannot convert.
bool ConvertToUtf8(const std::string& encoding, const std::string& bytes, std::string& utf8);

}  // namespace platform
