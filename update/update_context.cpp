#include "update/update_context.h"

#include <cstdlib>

std::string TemporaryDirectory() {
  const char* temp = std::getenv("TEMP");
  return temp != nullptr ? std::string(temp) : std::string();
}

UpdateContext TakeUpdateContext() {
  return UpdateContext{TemporaryDirectory(), CopySettings(), ActiveServiceConfig};
}
