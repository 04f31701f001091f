#include "resources/dialog_templates.h"

#include <iterator>

#include "resources/resource.h"

namespace resources {

static_assert(kSettingsDialog == IDD_SETTINGS, "dialog number differs from resource.h");
static_assert(kFirstIcon == IDI_PROGRAM && kLastIcon == IDI_FRAME4,
              "icon numbers differ from resource.h");

namespace {

// Keep in step with DIALOGEX IDD_SETTINGS in zarnik_viewer.rc; a test compares the two.
constexpr ControlTemplate kSettingsControls[] = {
    {IDC_STATIC, ControlKind::kStatic, "Zarnik Username", 7, 17, 78, 8},
    {IDC_USERNAME, ControlKind::kEdit, "", 87, 15, 96, 14},
    {IDC_STATIC, ControlKind::kStatic, "Zarnik Password (optional)", 7, 37, 78, 16},
    {IDC_PASSWORD, ControlKind::kPasswordEdit, "", 87, 38, 95, 14},
    {IDC_AUTOSTART, ControlKind::kCheckBox, "Autostart with Windows", 71, 62, 112, 10},
    {IDC_COPY_FEED_URL, ControlKind::kPushButton, "Click here to copy feed URL to clipboard", 7, 76,
     176, 14},
    {IDC_OK, ControlKind::kDefaultPushButton, "OK", 7, 94, 80, 14},
    {IDC_CANCEL, ControlKind::kPushButton, "Cancel", 95, 94, 88, 14},
};

constexpr DialogTemplate kDialogs[] = {
    {IDD_SETTINGS, "Settings", 190, 118, "MS Shell Dlg", 8, kSettingsControls,
     static_cast<int>(std::size(kSettingsControls))},
};

}  // namespace

const DialogTemplate* FindDialogTemplate(int resourceId) {
  for (const DialogTemplate& dialog : kDialogs) {
    if (dialog.resourceId == resourceId) {
      return &dialog;
    }
  }
  return nullptr;
}

}  // namespace resources
