// settings.dat as anything may have left it: what decodes encodes to bytes that decode to the
// same settings, and encoding those settings again gives the same bytes.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz/fuzz_check.h"
#include "settings/app_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::optional<Settings> decoded = DecodeSettingsFile(bytes);
  if (!decoded) {
    return 0;
  }
  FUZZ_CHECK(decoded->userName.size() <= 255 && decoded->password.size() <= 255);
  const std::string encoded = EncodeSettingsFile(*decoded);
  const std::optional<Settings> again = DecodeSettingsFile(encoded);
  FUZZ_CHECK(again.has_value());
  FUZZ_CHECK(again->userName == decoded->userName && again->password == decoded->password &&
             again->updateInterval == decoded->updateInterval);
  FUZZ_CHECK(EncodeSettingsFile(*again) == encoded);
  return 0;
}
