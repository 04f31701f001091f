#pragma once

// The program's dialog templates as plain data, the same as the resource script describes: the
// desktop layer builds its dialogs from these where there is no resource compiler. Coordinates
// and sizes are in dialog units, as in the script.

namespace resources {

/// What a control is; each maps to one control statement of the resource script.
enum class ControlKind {
  kStatic,             ///< LTEXT: a left-aligned label
  kEdit,               ///< EDITTEXT, bordered, scrolls horizontally, tab stop
  kPasswordEdit,       ///< the same edit with its characters hidden
  kCheckBox,           ///< AUTOCHECKBOX: toggles itself when clicked
  kPushButton,         ///< PUSHBUTTON
  kDefaultPushButton,  ///< DEFPUSHBUTTON
};

/// One control of a dialog template.
struct ControlTemplate {
  int id;  ///< the control's identifier; -1: no identifier (labels)
  ControlKind kind;
  const char* text;  ///< never null; empty for edits, which start empty
  int x, y, width, height;
};

/// One dialog template. Dialogs made from it have a caption without a system menu (so no close
/// box) and are created hidden: the caller shows them once filled in.
struct DialogTemplate {
  int resourceId;
  const char* caption;
  int width, height;
  const char* fontName;
  int pointSize;
  const ControlTemplate* controls;  ///< in creation (and tab) order
  int controlCount;
};

/// The template with this resource number, or null when there is none. The data is static and
/// lives for the whole run.
const DialogTemplate* FindDialogTemplate(int resourceId);

/// The settings dialog's resource number.
constexpr int kSettingsDialog = 5;
/// The icon resources, numbered without gaps: the program's own icon, then the tray pictures.
constexpr int kFirstIcon = 111;
constexpr int kLastIcon = 115;

}  // namespace resources
