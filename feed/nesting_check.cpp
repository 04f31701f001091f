#include "feed/nesting_check.h"

#include <tinyxml.h>

#include <cctype>
#include <cstring>
#include <string>
#include <utility>

namespace {

bool IsSpace(char c) {
  return std::isspace(static_cast<unsigned char>(c));
}

// Every byte from 127 up counts as a letter to TinyXML.
bool IsAlpha(char c) {
  return static_cast<unsigned char>(c) >= 127 || std::isalpha(static_cast<unsigned char>(c));
}

bool IsNameChar(char c) {
  return IsAlpha(c) || std::isdigit(static_cast<unsigned char>(c)) || c == '_' || c == '-' ||
         c == '.' || c == ':';
}

// Prefix test, like TinyXML's StringEqual. Tags are ASCII, and no byte from 128 up folds to ASCII.
bool StartsWith(const char* p, const char* tag, bool ignoreCase) {
  for (; *tag != '\0'; ++p, ++tag) {
    const bool same =
        ignoreCase ? static_cast<unsigned char>(*p) < 128 && std::tolower(*p) == std::tolower(*tag)
                   : *p == *tag;
    if (*p == '\0' || !same) {
      return false;
    }
  }
  return true;
}

const char* ReadName(const char* p) {
  if (!IsAlpha(*p) && *p != '_') {
    return nullptr;
  }
  while (IsNameChar(*p)) {
    ++p;
  }
  return p;
}

// The position just past the next `c`, or nullptr.
const char* PastNext(const char* p, char c) {
  p = std::strchr(p, c);
  return p == nullptr ? nullptr : p + 1;
}

// Follows TiXmlDocument::LoadFile and TinyXML 2.6's recursive descent step by step, keeping only
// the number of open elements. Every pointer-returning step mirrors one TinyXML routine and
// returns nullptr exactly where that routine returns 0, after which TinyXML parses nothing more.
//
// Element names are not kept: TinyXML either matches an end tag against the open element or
// stops, so taking every end tag as a match can only overcount. Duplicate attributes, which also
// stop TinyXML, are ignored for the same reason.
class NestingScan {
 public:
  NestingScan(std::string fileBytes, std::size_t limit, TiXmlEncoding encoding)
      : text_(std::move(fileBytes)),
        limit_(limit),
        encodingKnown_(encoding != TIXML_ENCODING_UNKNOWN),
        utf8_(encoding == TIXML_ENCODING_UTF8) {
    // LoadFile's copy ends at the first NUL byte and turns CR LF and lone CR into LF.
    text_.resize(std::strlen(text_.c_str()));
    std::size_t kept = text_.find('\r');
    if (kept != std::string::npos) {
      for (std::size_t i = kept; i < text_.size(); ++i) {
        const bool cr = text_[i] == '\r';
        text_[kept++] = cr ? '\n' : text_[i];
        i += cr && i + 1 < text_.size() && text_[i + 1] == '\n';
      }
      text_.resize(kept);
    }
    end_ = text_.c_str() + text_.size();
  }

  // True when the count passes the limit or TinyXML would read beyond its buffer. Follows
  // TiXmlDocument::Parse's node loop merged with TiXmlElement::ReadValue's: at depth 0 the
  // document level, otherwise the content of the innermost open element.
  bool Run() {
    const char* p = text_.c_str();
    bool encodingKnown = encodingKnown_;
    if (!encodingKnown && StartsWith(p, "\xEF\xBB\xBF", false)) {
      utf8_ = encodingKnown = true;
    }
    std::size_t depth = 0;
    for (p = SkipSpace(p); *p != '\0'; p = SkipSpace(p)) {
      if (*p != '<') {
        if (depth == 0) {
          break;  // TinyXML stops at text outside the root
        }
        p = ReadText(p, '<', nullptr);
        if (p != nullptr) {
          --p;  // back to the '<' that ended the text
        }
      } else if (depth > 0 && p[1] == '/') {
        // A matching "</name>" holds no '>' before its last byte.
        p = PastNext(p, '>');
        --depth;
      } else if (StartsWith(p, "<?xml", true)) {
        // The first declaration at the top level sets the encoding, unless a byte-order mark did.
        const bool setsEncoding = depth == 0 && !encodingKnown;
        std::string encoding;
        p = ReadDeclaration(p + 5, setsEncoding ? &encoding : nullptr);
        if (p != nullptr && setsEncoding) {
          const char* name = encoding.c_str();  // TinyXML reads it as a C string
          encodingKnown = true;
          utf8_ =
              *name == '\0' || StartsWith(name, "UTF-8", true) || StartsWith(name, "UTF8", true);
        }
      } else if (StartsWith(p, "<!--", false) || StartsWith(p, "<![CDATA[", false)) {
        // Comments and CDATA run byte by byte to their terminator, without entities or UTF-8.
        const bool comment = p[2] == '-';
        p = std::strstr(p + (comment ? 4 : 9), comment ? "-->" : "]]>");
        if (p != nullptr) {
          p += 3;
        }
      } else if (IsAlpha(p[1]) || p[1] == '_') {
        if (++depth > limit_) {
          return true;
        }
        p = ReadStartTag(p + 1, &depth);
      } else {
        // Anything else, "<!DOCTYPE" included, is a TiXmlUnknown read to the first '>'.
        p = PastNext(p, '>');
      }
      if (p == nullptr) {
        break;
      }
    }
    return overrun_;
  }

 private:
  // In UTF-8 TinyXML also skips the byte-order mark and the non-characters EF BF BE / EF BF BF.
  const char* SkipSpace(const char* p) const {
    for (;;) {
      const auto* u = reinterpret_cast<const unsigned char*>(p);
      if (utf8_ && u[0] == 0xEF &&
          ((u[1] == 0xBB && u[2] == 0xBF) || (u[1] == 0xBF && (u[2] == 0xBE || u[2] == 0xBF)))) {
        p += 3;
      } else if (IsSpace(*p)) {
        ++p;
      } else {
        return p;
      }
    }
  }

  // A byte that ReadText passes over one at a time and as it is: not its terminator `end`, not the
  // end of the text, not the start of an entity and (in UTF-8) not the lead byte of a longer
  // sequence.
  bool IsPlain(char c, char end) const {
    return c != '\0' && c != '&' && c != end &&
           (!utf8_ || TiXmlBase::utf8ByteTable[static_cast<unsigned char>(c)] == 1);
  }

  // TinyXML's GetChar: one byte, an entity, or in UTF-8 a whole sequence as its lead byte
  // declares, whatever the following bytes are.
  const char* GetChar(const char* p, std::string* decoded) {
    const int length = utf8_ ? TiXmlBase::utf8ByteTable[static_cast<unsigned char>(*p)] : 1;
    if (length == 1 && *p == '&') {
      return GetEntity(p, decoded);
    }
    // TinyXML steps over the terminating NUL here and parses whatever memory follows.
    if (end_ - p < length) {
      overrun_ = true;
      return nullptr;
    }
    if (decoded != nullptr) {
      decoded->append(p, length);
    }
    return p + length;
  }

  // Values are decoded only before the document's encoding is known, when TinyXML keeps one byte
  // per character reference.
  static const char* GetEntity(const char* p, std::string* decoded) {
    if (p[1] == '#' && p[2] != '\0') {
      // TinyXML jumps to the next ';' and checks only the digits after the last 'x' (or '#')
      // before it, so anything in between, '<' included, is skipped unread.
      const bool hex = p[2] == 'x';
      const char* semicolon = hex && p[3] == '\0' ? nullptr : std::strchr(p + (hex ? 3 : 2), ';');
      if (semicolon == nullptr) {
        return nullptr;
      }
      unsigned long code = 0;
      unsigned scale = 1;
      for (const char* q = semicolon - 1; *q != (hex ? 'x' : '#'); --q) {
        const bool digit = *q >= '0' && *q <= '9';
        if (!digit && !(hex && std::isxdigit(static_cast<unsigned char>(*q)))) {
          return nullptr;
        }
        code += scale * static_cast<unsigned>(digit ? *q - '0' : (*q | 0x20) - 'a' + 10);
        scale *= hex ? 16 : 10;
      }
      if (decoded != nullptr) {
        *decoded += static_cast<char>(code);
      }
      return semicolon + 1;
    }
    static const struct {
      const char* name;
      std::size_t length;
      char value;
    } kNamed[] = {{"&amp;", 5, '&'},
                  {"&lt;", 4, '<'},
                  {"&gt;", 4, '>'},
                  {"&quot;", 6, '"'},
                  {"&apos;", 6, '\''}};
    for (const auto& entity : kNamed) {
      if (entity.name[1] == p[1] && std::strncmp(entity.name, p, entity.length) == 0) {
        if (decoded != nullptr) {
          *decoded += entity.value;
        }
        return p + entity.length;
      }
    }
    return p + 1;  // TinyXML drops an unrecognised '&' from the value
  }

  // TinyXML's ReadText up to a one-byte terminator: the position after it, or nullptr. Its
  // white-space condensing reads space bytes one at a time, just as GetChar does.
  const char* ReadText(const char* p, char end, std::string* decoded) {
    if (decoded != nullptr) {
      decoded->clear();
    }
    while (p != nullptr && *p != '\0' && *p != end) {
      // Most of a feed is plain text: step over it without going through GetChar.
      if (decoded == nullptr) {
        while (IsPlain(*p, end)) {
          ++p;
        }
      }
      if (*p != '\0' && *p != end) {
        p = GetChar(p, decoded);
      }
    }
    return p == nullptr || *p == '\0' ? nullptr : p + 1;
  }

  // TiXmlAttribute::Parse: a name, '=', then a quoted value or a bare one that ends at white
  // space, '/' or '>'.
  const char* ReadAttribute(const char* p, std::string* value) {
    p = ReadName(SkipSpace(p));
    if (p == nullptr) {
      return nullptr;
    }
    p = SkipSpace(p);
    if (*p != '=') {
      return nullptr;
    }
    p = SkipSpace(p + 1);
    if (*p == '"' || *p == '\'') {
      return ReadText(p + 1, *p, value);
    }
    if (value != nullptr) {
      value->clear();
    }
    for (; *p != '\0' && !IsSpace(*p) && *p != '/' && *p != '>'; ++p) {
      if (*p == '"' || *p == '\'') {
        return nullptr;
      }
      if (value != nullptr) {
        *value += *p;
      }
    }
    return p;
  }

  // TiXmlDeclaration::Parse after "<?xml": only version, encoding and standalone are read as
  // attributes (so their quoted values may hold '>'); any other word is skipped to white space
  // or '>'.
  const char* ReadDeclaration(const char* p, std::string* encoding) {
    while (p != nullptr && *p != '\0') {
      if (*p == '>') {
        return p + 1;
      }
      p = SkipSpace(p);
      if (StartsWith(p, "version", true) || StartsWith(p, "standalone", true)) {
        p = ReadAttribute(p, nullptr);
      } else if (StartsWith(p, "encoding", true)) {
        p = ReadAttribute(p, encoding);
      } else {
        while (*p != '\0' && *p != '>' && !IsSpace(*p)) {
          ++p;
        }
      }
    }
    return nullptr;
  }

  // TiXmlElement::Parse from just after '<' up to the end of the start tag. An empty-element tag
  // closes the element again.
  const char* ReadStartTag(const char* p, std::size_t* depth) {
    p = ReadName(SkipSpace(p));
    while (p != nullptr && *p != '\0') {
      p = SkipSpace(p);
      if (*p == '/') {
        --*depth;
        return p[1] == '>' ? p + 2 : nullptr;
      }
      if (*p == '>') {
        return p + 1;
      }
      p = ReadAttribute(p, nullptr);
    }
    return nullptr;
  }

  std::string text_;  // the bytes as TinyXML's Parse sees them
  const char* end_;   // text_'s terminating NUL
  std::size_t limit_;
  bool encodingKnown_;  // set by the caller rather than by the file
  bool utf8_;
  bool overrun_ = false;
};

}  // namespace

bool MayNestDeeperThan(std::string fileBytes, std::size_t limit, TiXmlEncoding encoding) {
  return NestingScan(std::move(fileBytes), limit, encoding).Run();
}
