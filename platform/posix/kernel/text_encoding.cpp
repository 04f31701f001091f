// Legacy encodings to UTF-8 through the C library's iconv.
#include "platform/text_encoding.h"

#include <iconv.h>

#include <cerrno>

namespace platform {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// One conversion descriptor, closed when the conversion is done.
class Converter {
 public:
  explicit Converter(const std::string& encoding)
      : handle_(iconv_open("UTF-8", encoding.c_str())) {}
  ~Converter() {
    if (IsOpen()) {
      iconv_close(handle_);
    }
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool IsOpen() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // Converts all of `bytes`, appending to `utf8`. False only on an error other than a byte that
  // stands for no character.
  bool Convert(const std::string& bytes, std::string& utf8) {
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char chunk[16 * 1024];
    while (inLeft > 0) {
      char* out = chunk;
      std::size_t outLeft = sizeof chunk;
      const std::size_t result = iconv(handle_, &in, &inLeft, &out, &outLeft);
      const int error = errno;
      utf8.append(chunk, static_cast<std::size_t>(out - chunk));
      if (result != static_cast<std::size_t>(-1) || error == E2BIG) {
        continue;
      }
      if (error != EILSEQ && error != EINVAL) {
        return false;
      }
      // A byte without a character, or a sequence cut off by the end: one replacement each, and
      // the conversion goes on after it.
      utf8 += kReplacement;
      ++in;
      --inLeft;
      iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    }
    return true;
  }

 private:
  iconv_t handle_;
};

}  // namespace

bool ConvertToUtf8(const std::string& encoding, const std::string& bytes, std::string& utf8) {
  // iconv reads suffixes such as "//IGNORE" as instructions; a declared name never holds them.
  if (encoding.empty() || encoding.find('/') != std::string::npos) {
    return false;
  }
  Converter converter(encoding);
  std::string converted;
  converted.reserve(bytes.size());
  if (!converter.IsOpen() || !converter.Convert(bytes, converted)) {
    return false;
  }
  utf8.swap(converted);
  return true;
}

}  // namespace platform
