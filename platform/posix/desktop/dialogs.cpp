// Modeless dialogs built from the program's templates: their controls are plain data of the
// dialog's window, changed by the dialog functions and by the front end's input.
#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/posix/desktop/window_table.h"

namespace platform {
namespace {

using resources::ControlKind;

DialogControl* FindControl(WindowRecord& record, int controlId) {
  auto found = std::find_if(record.controls.begin(), record.controls.end(),
                            [&](const DialogControl& control) { return control.id == controlId; });
  return found == record.controls.end() ? nullptr : &*found;
}

DialogView ViewOf(const WindowRecord& record) {
  DialogView view;
  view.dialog = record.handle;
  view.caption = record.title;
  view.controls = record.controls;
  for (DialogControlView& shown : view.controls) {
    if (shown.kind == ControlKind::kPasswordEdit) {
      shown.text.assign(shown.text.size(), '*');
    }
  }
  return view;
}

// Changes one control of a dialog under its lock; tells the front end when the dialog is showing.
// Returns false when there is no such dialog or control, or `change` refuses the control.
template <typename Change>
bool ChangeControl(HWND dialog, int controlId, Change change) {
  std::shared_ptr<WindowRecord> record = TheOne<WindowTable>().Find(dialog);
  if (!record || record->dialogProcedure == nullptr) {
    return false;
  }
  {
    std::lock_guard<std::mutex> hold(record->lock);
    DialogControl* control = FindControl(*record, controlId);
    if (control == nullptr || !change(*control)) {
      return false;
    }
  }
  ReportDialog(*record, DialogChange::kChanged);
  return true;
}

// Reads one control of a dialog under its lock; false when there is no such dialog or control.
template <typename Read>
bool ReadControl(HWND dialog, int controlId, Read read) {
  std::shared_ptr<WindowRecord> record = TheOne<WindowTable>().Find(dialog);
  if (!record) {
    return false;
  }
  std::lock_guard<std::mutex> hold(record->lock);
  const DialogControl* control = FindControl(*record, controlId);
  if (control != nullptr) {
    read(*control);
  }
  return control != nullptr;
}

// The kind of a dialog's control, checked before input is queued; false when there is none.
bool ControlKindOf(HWND dialog, int controlId, ControlKind* kind) {
  return ReadControl(dialog, controlId,
                     [kind](const DialogControl& control) { *kind = control.kind; });
}

bool RunOnDialogThread(HWND dialog, MessageQueue::Task task, const MSG* then = nullptr) {
  std::shared_ptr<WindowRecord> record = TheOne<WindowTable>().Find(dialog);
  return record && record->queue->RunOnThread(std::move(task), then);
}

MSG ClickOf(HWND dialog, int controlId) {
  return MSG{dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(controlId), BN_CLICKED),
             0,      0,          {0, 0}};
}

}  // namespace

void ReportDialog(WindowRecord& record, DialogChange change) {
  FrontEndInUse frontEnd;
  if (record.dialogProcedure == nullptr || !frontEnd) {
    return;
  }
  DialogView view;
  {
    std::lock_guard<std::mutex> hold(record.lock);
    // A dialog that was never shown is news to nobody, except that it is now shown.
    if (!record.visible && change != DialogChange::kHidden) {
      return;
    }
    view = ViewOf(record);
  }
  frontEnd->OnDialog(change, view);
}

bool SetDialogControlText(HWND dialog, int controlId, const std::string& text) {
  ControlKind kind;
  if (!ControlKindOf(dialog, controlId, &kind) || !IsEdit(kind)) {
    return false;
  }
  return RunOnDialogThread(dialog, [dialog, controlId, text] {
    ChangeControl(dialog, controlId, [&](DialogControl& control) {
      control.text = text;
      return true;
    });
  });
}

bool ToggleDialogCheckBox(HWND dialog, int controlId) {
  ControlKind kind;
  if (!ControlKindOf(dialog, controlId, &kind) || kind != ControlKind::kCheckBox) {
    return false;
  }
  // The box toggles, then its click reaches the dialog, both in order with other input.
  const MSG click = ClickOf(dialog, controlId);
  return RunOnDialogThread(
      dialog,
      [dialog, controlId] {
        ChangeControl(dialog, controlId, [](DialogControl& control) {
          control.checked = !control.checked;
          return true;
        });
      },
      &click);
}

bool PressDialogButton(HWND dialog, int controlId) {
  ControlKind kind;
  if (!ControlKindOf(dialog, controlId, &kind)) {
    return false;
  }
  if (kind == ControlKind::kCheckBox) {
    return ToggleDialogCheckBox(dialog, controlId);
  }
  if (!IsPushButton(kind)) {
    return false;
  }
  const MSG click = ClickOf(dialog, controlId);
  return PostMessageA(click.hwnd, click.message, click.wParam, click.lParam) != FALSE;
}

}  // namespace platform

using platform::DialogControl;
using platform::TheOne;
using platform::WindowRecord;
using platform::WindowTable;

HWND CreateDialogParamA(HINSTANCE /*instance*/, LPCSTR templateName, HWND owner, DLGPROC procedure,
                        LPARAM param) {
  const resources::DialogTemplate* layout =
      IS_INTRESOURCE(templateName) ? resources::FindDialogTemplate(
                                         static_cast<int>(reinterpret_cast<UINT_PTR>(templateName)))
                                   : nullptr;
  if (layout == nullptr || procedure == nullptr) {
    platform::SetLastErrorCode(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  std::shared_ptr<WindowRecord> record = platform::NewWindowRecord(owner, layout->caption);
  if (!record) {
    return nullptr;
  }
  record->dialogProcedure = procedure;
  for (int i = 0; i < layout->controlCount; ++i) {
    const resources::ControlTemplate& control = layout->controls[i];
    record->controls.push_back(DialogControl{control.id, control.kind, control.text, false});
  }
  HWND dialog = TheOne<WindowTable>().Add(std::move(record));
  // No control takes the focus here: there is no keyboard to give it to.
  procedure(dialog, WM_INITDIALOG, 0, param);
  return dialog;
}

BOOL SetDlgItemTextA(HWND dialog, int controlId, LPCSTR text) {
  return platform::ChangeControl(dialog, controlId, [&](DialogControl& control) {
    control.text = text != nullptr ? text : "";
    return true;
  });
}

UINT GetDlgItemTextA(HWND dialog, int controlId, LPSTR buffer, int size) {
  if (buffer == nullptr || size <= 0) {
    return 0;
  }
  std::size_t length = 0;
  platform::ReadControl(dialog, controlId, [&](const DialogControl& control) {
    length = std::min(control.text.size(), static_cast<std::size_t>(size) - 1);
    std::memcpy(buffer, control.text.data(), length);
  });
  buffer[length] = '\0';
  return static_cast<UINT>(length);
}

BOOL CheckDlgButton(HWND dialog, int controlId, UINT check) {
  return platform::ChangeControl(dialog, controlId, [&](DialogControl& control) {
    if (control.kind != resources::ControlKind::kCheckBox) {
      return false;
    }
    control.checked = check == BST_CHECKED;
    return true;
  });
}

UINT IsDlgButtonChecked(HWND dialog, int controlId) {
  bool checked = false;
  platform::ReadControl(dialog, controlId,
                        [&](const DialogControl& control) { checked = control.checked; });
  return checked ? BST_CHECKED : BST_UNCHECKED;
}
