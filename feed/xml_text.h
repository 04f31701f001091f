#pragma once

#include <string>

/// The encoding that the XML declaration at the start of `fileBytes` names, as written: the
/// declaration may follow white space, but not a byte-order mark (a file with one is UTF-8
/// whatever it declares). Empty when there is no declaration or it names no encoding.
std::string DeclaredEncoding(const std::string& fileBytes);

/// True when a file declaring `encoding` is in a legacy encoding, one to convert to UTF-8 before
/// it is read: anything but no name at all and the names of UTF-8 (read as TinyXML reads them,
/// any name starting "UTF-8" or "UTF8") and of the other Unicode forms, which a declaration
/// readable as ASCII cannot truly be in.
bool IsLegacyEncoding(const std::string& encoding);

/// Makes `text` valid UTF-8 holding only characters XML 1.0 allows: each maximal ill-formed
/// sequence (as Unicode defines it) becomes U+FFFD, and the C0 controls other than tab, LF and CR,
/// U+FFFE and U+FFFF are dropped. Text that needs neither stays byte for byte as it is, and the
/// result is then false.
bool MakeXmlText(std::string& text);
