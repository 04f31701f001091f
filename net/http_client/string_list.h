#pragma once

#include <memory>
#include <string>
#include <vector>

/// An ordered list of text lines, each a copy made when it is added. The text `at` hands out stays
/// valid and unchanged until its own entry is removed or the list is cleared or destroyed; adding
/// or removing other entries does not move it. Movable (the texts move along, their pointers stay
/// valid); not copyable.
class StringList {
 public:
  StringList() = default;
  StringList(StringList&&) = default;
  StringList& operator=(StringList&&) = default;
  StringList(const StringList&) = delete;
  StringList& operator=(const StringList&) = delete;

  /// Adds a copy of `text` at the end. Returns 1; 0 for a null text, which adds nothing.
  int append(const char* text);
  /// Removes every entry. Returns 1.
  int clear();
  int count() const;
  /// The text of entry `index` (from 0), or nullptr when there is no such entry.
  const char* at(int index) const;
  /// Removes entry `index`; later entries move up by one. Returns 1, or 0 when there is no such
  /// entry.
  int removeAt(int index);

 private:
  bool contains(int index) const;

  // Each text lives in a block of its own, so growing the vector never moves a text.
  std::vector<std::unique_ptr<const std::string>> lines;
};
