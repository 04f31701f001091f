#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

#include "resources/dialog_templates.h"

namespace {

using resources::ControlKind;
using resources::ControlTemplate;
using resources::DialogTemplate;

const std::string kResourceDir = std::string(ZV_TEST_DATA_DIR) + "/../resources";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Trim(const std::string& text) {
  const char* space = " \t\r\n";
  size_t first = text.find_first_not_of(space);
  if (first == std::string::npos) {
    return "";
  }
  return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// Splits at `separator`, but not inside double quotes.
std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts(1);
  bool quoted = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
    }
    if (c == separator && !quoted) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  for (std::string& part : parts) {
    part = Trim(part);
  }
  return parts;
}

// The resource script as the resource compiler sees it: statements one per line, symbols
// resolved through the #define lines of resource.h.
class ResourceScript {
 public:
  ResourceScript() {
    std::istringstream header(ReadFile(kResourceDir + "/resource.h"));
    for (std::string line; std::getline(header, line);) {
      std::istringstream words(line);
      std::string directive, name, value;
      if (words >> directive >> name >> value && directive == "#define") {
        defines_[name] = value;
      }
    }
    std::istringstream script(ReadFile(kResourceDir + "/zarnik_viewer.rc"));
    for (std::string line; std::getline(script, line);) {
      line = Trim(line);
      if (!line.empty() && line.rfind("//", 0) != 0 && line[0] != '#') {
        lines_.push_back(line);
      }
    }
  }

  int Number(std::string token) const {
    while (defines_.count(token) != 0) {
      token = defines_.at(token);
    }
    if (token.size() > 2 && token.front() == '(' && token.back() == ')') {
      token = token.substr(1, token.size() - 2);
    }
    size_t used = 0;
    int value = std::stoi(token, &used, 0);
    EXPECT_EQ(used, token.size()) << "not a number: " << token;
    return value;
  }

  static std::string Text(const std::string& token) {
    EXPECT_TRUE(token.size() >= 2 && token.front() == '"' && token.back() == '"') << token;
    return token.size() >= 2 ? token.substr(1, token.size() - 2) : token;
  }

  // The keyword of a statement and its comma-separated arguments.
  static std::pair<std::string, std::vector<std::string>> Statement(const std::string& line) {
    size_t end = line.find_first_of(" \t");
    if (end == std::string::npos) {
      return {line, {}};
    }
    return {line.substr(0, end), Split(line.substr(end), ',')};
  }

  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  std::map<std::string, std::string> defines_;
  std::vector<std::string> lines_;
};

std::set<std::string> StyleFlags(const std::string& expression) {
  std::vector<std::string> flags = Split(expression, '|');
  return std::set<std::string>(flags.begin(), flags.end());
}

TEST(SettingsDialogTemplate, MatchesTheDesignedLayout) {
  const DialogTemplate* dialog = resources::FindDialogTemplate(resources::kSettingsDialog);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->resourceId, 5);
  EXPECT_STREQ(dialog->caption, "Settings");
  EXPECT_EQ(dialog->width, 190);
  EXPECT_EQ(dialog->height, 118);
  EXPECT_STREQ(dialog->fontName, "MS Shell Dlg");
  EXPECT_EQ(dialog->pointSize, 8);

  const ControlTemplate expected[] = {
      {-1, ControlKind::kStatic, "Zarnik Username", 7, 17, 78, 8},
      {1003, ControlKind::kEdit, "", 87, 15, 96, 14},
      {-1, ControlKind::kStatic, "Zarnik Password (optional)", 7, 37, 78, 16},
      {1004, ControlKind::kPasswordEdit, "", 87, 38, 95, 14},
      {1012, ControlKind::kCheckBox, "Autostart with Windows", 71, 62, 112, 10},
      {1013, ControlKind::kPushButton, "Click here to copy feed URL to clipboard", 7, 76, 176, 14},
      {1001, ControlKind::kDefaultPushButton, "OK", 7, 94, 80, 14},
      {1002, ControlKind::kPushButton, "Cancel", 95, 94, 88, 14},
  };
  ASSERT_EQ(dialog->controlCount, static_cast<int>(std::size(expected)));
  for (int i = 0; i < dialog->controlCount; ++i) {
    const ControlTemplate& actual = dialog->controls[i];
    SCOPED_TRACE("control " + std::to_string(i));
    EXPECT_EQ(actual.id, expected[i].id);
    EXPECT_EQ(actual.kind, expected[i].kind);
    ASSERT_NE(actual.text, nullptr);
    EXPECT_STREQ(actual.text, expected[i].text);
    EXPECT_EQ(actual.x, expected[i].x);
    EXPECT_EQ(actual.y, expected[i].y);
    EXPECT_EQ(actual.width, expected[i].width);
    EXPECT_EQ(actual.height, expected[i].height);
  }
}

// A label wraps at word breaks; each line of it must be seen whole. A dialog unit is a quarter of
// the font's average character width and an eighth of its height, so with a tenth to spare a
// character takes 4.4 units across and a line 8 down.
TEST(SettingsDialogTemplate, LabelsHaveRoomForTheirWholeText) {
  const DialogTemplate* dialog = resources::FindDialogTemplate(resources::kSettingsDialog);
  ASSERT_NE(dialog, nullptr);
  for (int i = 0; i < dialog->controlCount; ++i) {
    const ControlTemplate& label = dialog->controls[i];
    if (label.kind != ControlKind::kStatic) {
      continue;
    }
    int lines = 1;
    double lineWidth = 0;
    for (const std::string& word : Split(label.text, ' ')) {
      const double wordWidth = 4.4 * static_cast<double>(word.size());
      const double widened = lineWidth == 0 ? wordWidth : lineWidth + 4.4 + wordWidth;
      EXPECT_LE(wordWidth, label.width) << label.text;
      if (widened > label.width) {
        ++lines;
        lineWidth = wordWidth;
      } else {
        lineWidth = widened;
      }
    }
    EXPECT_LE(8 * lines, label.height) << label.text;
    ASSERT_LT(i + 1, dialog->controlCount);
    EXPECT_LE(label.x + label.width, dialog->controls[i + 1].x) << "overlaps the edit beside it";
  }
}

TEST(SettingsDialogTemplate, UnknownNumbersFindNothing) {
  for (int id : {0, -1, 4, 6, 111, 1001}) {
    EXPECT_EQ(resources::FindDialogTemplate(id), nullptr) << id;
  }
}

// The Windows build takes the dialog from the resource script and the desktop layer from the C++
// table: both must describe the same dialog, control by control.
TEST(ResourceScriptTest, DialogAgreesWithTheTemplateTable) {
  ResourceScript script;
  const DialogTemplate* dialog = resources::FindDialogTemplate(resources::kSettingsDialog);
  ASSERT_NE(dialog, nullptr);

  const std::vector<std::string>& lines = script.Lines();
  size_t at = 0;
  while (at < lines.size() && lines[at].find(" DIALOGEX ") == std::string::npos) {
    ++at;
  }
  ASSERT_LT(at, lines.size()) << "no DIALOGEX in the script";
  std::vector<std::string> header = Split(lines[at].substr(lines[at].find("DIALOGEX") + 8), ',');
  EXPECT_EQ(script.Number(lines[at].substr(0, lines[at].find(' '))), dialog->resourceId);
  ASSERT_EQ(header.size(), 4u);
  EXPECT_EQ(script.Number(header[2]), dialog->width);
  EXPECT_EQ(script.Number(header[3]), dialog->height);

  std::vector<ControlTemplate> controls;
  std::vector<std::string> texts;  // owns what controls[i].text points to
  std::set<std::string> dialogStyle;
  for (++at; at < lines.size() && lines[at] != "BEGIN"; ++at) {
    auto [keyword, arguments] = ResourceScript::Statement(lines[at]);
    if (keyword == "STYLE") {
      dialogStyle = StyleFlags(lines[at].substr(keyword.size()));
    } else if (keyword == "CAPTION") {
      EXPECT_EQ(ResourceScript::Text(arguments.at(0)), dialog->caption);
    } else if (keyword == "FONT") {
      ASSERT_GE(arguments.size(), 2u);
      EXPECT_EQ(script.Number(arguments[0]), dialog->pointSize);
      EXPECT_EQ(ResourceScript::Text(arguments[1]), dialog->fontName);
    } else {
      ADD_FAILURE() << "unexpected dialog statement: " << lines[at];
    }
  }
  // A caption without a system menu (no close box), created hidden.
  EXPECT_EQ(dialogStyle,
            (std::set<std::string>{"DS_SETFONT", "DS_MODALFRAME", "WS_POPUP", "WS_CAPTION"}));

  texts.reserve(lines.size());
  for (++at; at < lines.size() && lines[at] != "END"; ++at) {
    auto [keyword, arguments] = ResourceScript::Statement(lines[at]);
    SCOPED_TRACE(lines[at]);
    ControlTemplate control{};
    size_t first = 0;
    if (keyword == "EDITTEXT") {
      ASSERT_EQ(arguments.size(), 6u);
      std::set<std::string> style = StyleFlags(arguments[5]);
      for (const char* flag : {"ES_AUTOHSCROLL", "WS_BORDER", "WS_TABSTOP"}) {
        EXPECT_EQ(style.count(flag), 1u) << flag;
      }
      control.kind =
          style.count("ES_PASSWORD") != 0 ? ControlKind::kPasswordEdit : ControlKind::kEdit;
      texts.push_back("");
    } else {
      static const std::map<std::string, ControlKind> kKinds = {
          {"LTEXT", ControlKind::kStatic},
          {"AUTOCHECKBOX", ControlKind::kCheckBox},
          {"PUSHBUTTON", ControlKind::kPushButton},
          {"DEFPUSHBUTTON", ControlKind::kDefaultPushButton}};
      ASSERT_EQ(kKinds.count(keyword), 1u) << "unexpected control statement";
      ASSERT_EQ(arguments.size(), 6u);
      control.kind = kKinds.at(keyword);
      texts.push_back(ResourceScript::Text(arguments[0]));
      first = 1;
    }
    control.text = texts.back().c_str();
    control.id = script.Number(arguments[first]);
    control.x = script.Number(arguments[first + 1]);
    control.y = script.Number(arguments[first + 2]);
    control.width = script.Number(arguments[first + 3]);
    control.height = script.Number(arguments[first + 4]);
    controls.push_back(control);
  }
  ASSERT_LT(at, lines.size()) << "the dialog has no END";

  ASSERT_EQ(static_cast<int>(controls.size()), dialog->controlCount);
  for (int i = 0; i < dialog->controlCount; ++i) {
    const ControlTemplate& inTable = dialog->controls[i];
    const ControlTemplate& inScript = controls[i];
    SCOPED_TRACE("control " + std::to_string(i) + ": " + inTable.text);
    EXPECT_EQ(inScript.id, inTable.id);
    EXPECT_EQ(inScript.kind, inTable.kind);
    EXPECT_STREQ(inScript.text, inTable.text);
    EXPECT_EQ(inScript.x, inTable.x);
    EXPECT_EQ(inScript.y, inTable.y);
    EXPECT_EQ(inScript.width, inTable.width);
    EXPECT_EQ(inScript.height, inTable.height);
  }
}

uint32_t Little(const std::string& bytes, size_t at, int size) {
  uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) {
    value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
  }
  return value;
}

// Checks one .ico file of a single 32-bit image of `side` pixels, colour and AND mask agreeing
// on which pixels are transparent.
void ExpectValidIcon(const std::string& path, uint32_t side) {
  SCOPED_TRACE(path);
  std::string ico = ReadFile(path);
  ASSERT_GE(ico.size(), 22u + 40u);
  EXPECT_EQ(Little(ico, 0, 2), 0u);  // reserved
  EXPECT_EQ(Little(ico, 2, 2), 1u);  // an icon, not a cursor
  ASSERT_EQ(Little(ico, 4, 2), 1u);  // images
  EXPECT_EQ(Little(ico, 6, 1), side);
  EXPECT_EQ(Little(ico, 7, 1), side);
  EXPECT_EQ(Little(ico, 10, 2), 1u);   // planes
  EXPECT_EQ(Little(ico, 12, 2), 32u);  // bits per pixel
  uint32_t size = Little(ico, 14, 4);
  uint32_t offset = Little(ico, 18, 4);
  ASSERT_GE(offset, 22u);
  ASSERT_EQ(uint64_t{offset} + size, ico.size()) << "the image must end the file";

  const uint32_t maskRowBytes = (side + 31) / 32 * 4;
  ASSERT_EQ(size, 40 + side * side * 4 + side * maskRowBytes);
  EXPECT_EQ(Little(ico, offset, 4), 40u);  // BITMAPINFOHEADER
  EXPECT_EQ(Little(ico, offset + 4, 4), side);
  EXPECT_EQ(Little(ico, offset + 8, 4), 2 * side);  // colour and mask rows
  EXPECT_EQ(Little(ico, offset + 12, 2), 1u);
  EXPECT_EQ(Little(ico, offset + 14, 2), 32u);
  EXPECT_EQ(Little(ico, offset + 16, 4), 0u);  // uncompressed

  const size_t colours = offset + 40;
  const size_t mask = colours + side * side * 4;
  int transparent = 0;
  for (uint32_t row = 0; row < side; ++row) {
    for (uint32_t column = 0; column < side; ++column) {
      bool clear = ico[colours + (row * side + column) * 4 + 3] == 0;
      bool masked = (ico[mask + row * maskRowBytes + column / 8] & (0x80 >> (column % 8))) != 0;
      EXPECT_EQ(clear, masked) << "row " << row << ", column " << column;
      transparent += clear;
    }
  }
  // Rounded corners, an opaque body.
  EXPECT_GT(transparent, 0);
  EXPECT_LT(transparent, static_cast<int>(side * side / 4));
}

TEST(ResourceScriptTest, IconsAreTheProgramIconAndFourDistinctTrayFrames) {
  ResourceScript script;
  std::vector<int> numbers;
  std::vector<std::string> files;
  for (const std::string& line : script.Lines()) {
    std::istringstream words(line);
    std::string name, keyword, file;
    if (words >> name >> keyword >> file && keyword == "ICON") {
      numbers.push_back(script.Number(name));
      files.push_back(kResourceDir + "/" + ResourceScript::Text(file));
    }
  }
  ASSERT_EQ(numbers,
            (std::vector<int>{resources::kFirstIcon, 112, 113, 114, resources::kLastIcon}));
  ExpectValidIcon(files[0], 32);
  std::set<std::string> frames;
  for (size_t i = 1; i < files.size(); ++i) {
    ExpectValidIcon(files[i], 16);
    frames.insert(ReadFile(files[i]));
  }
  EXPECT_EQ(frames.size(), 4u) << "animation frames must differ";
}

// The committed icons are exactly what the script draws, so anyone can redraw them.
TEST(IconScriptTest, RedrawsTheCommittedIconsByteForByte) {
  char folder[] = "/tmp/zv_icons_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  std::string command =
      "python3 '" + kResourceDir + "/make_icons.py' '" + std::string(folder) + "'";
  int status = std::system(command.c_str());
  if (status == 0) {
    for (const char* name : {"tray.ico", "frame1.ico", "frame2.ico", "frame3.ico", "frame4.ico"}) {
      std::string drawn = ReadFile(std::string(folder) + "/" + name);
      EXPECT_FALSE(drawn.empty()) << name;
      EXPECT_TRUE(drawn == ReadFile(kResourceDir + "/icons/" + name)) << name << " differs";
      std::remove((std::string(folder) + "/" + name).c_str());
    }
  }
  rmdir(folder);
  ASSERT_EQ(status, 0) << command;
}

}  // namespace
