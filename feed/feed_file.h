#pragma once

#include <cstddef>
#include <string>

class TiXmlDocument;

/// Feed files larger than this are not loaded: a feed is a few hundred kilobytes at most, and
/// TinyXML needs several times a file's size in memory.
constexpr std::size_t kMaxFeedFileBytes = 64u << 20;

/// Feed files that could nest elements deeper than this are not loaded: TinyXML parses, prints
/// and frees documents recursively, one stack frame per level. Feeds nest four or five deep.
constexpr std::size_t kMaxFeedNesting = 256;

/// Loads the file at `path` into `document` as TinyXML's LoadFile would (up to the first NUL byte,
/// line ends normalised to LF), always as UTF-8 text: a file that declares a legacy encoding the
/// system knows is converted from it first, then every byte sequence that is not valid UTF-8
/// becomes U+FFFD and characters XML 1.0 forbids are dropped (character references are TinyXML's
/// to decode). A valid UTF-8 file is parsed byte for byte. A file that is missing, unreadable,
/// larger than kMaxFeedFileBytes or nested deeper than kMaxFeedNesting leaves `document` empty.
/// Returns the parse's verdict (false when the file was refused): a false result can still leave
/// the nodes parsed before an error.
bool LoadFeedFile(TiXmlDocument& document, const std::string& path);

/// Saves `document` to `path` as TinyXML's SaveFile prints it, as a text file (line ends
/// platform::kTextLineEnd), replacing any older file in one
/// step: a reader that opens `path` meanwhile gets the old file or the new one, each whole. On
/// failure returns false, the older file stays as it was and no temporary file is left.
bool SaveFeedFile(const TiXmlDocument& document, const std::string& path);
