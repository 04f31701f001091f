#pragma once

#include <tinyxml.h>

#include <cstddef>
#include <string>

/// True when TinyXML 2.6 could nest elements deeper than `limit` while parsing a file whose bytes
/// are `fileBytes` (as read from disk, before LoadFile's own line-end normalisation). The depth is
/// the number of elements open at once, the root element counting 1. Never false for a file that
/// TinyXML would nest deeper than `limit`; may be true for some unusual files that nest less, and
/// is always true for a file that makes TinyXML read past the end of its buffer (in a file read as
/// UTF-8, a multi-byte lead byte in text or an attribute value too close to the end). Takes time
/// linear in the size of the file and never recurses. `encoding` is the one handed to TinyXML:
/// TIXML_ENCODING_UNKNOWN lets the file's byte-order mark or declaration choose, as LoadFile does.
bool MayNestDeeperThan(std::string fileBytes, std::size_t limit,
                       TiXmlEncoding encoding = TIXML_ENCODING_UNKNOWN);
