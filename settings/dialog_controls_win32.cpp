// The options dialog on the Windows dialog manager: the template from the plug-in's own
// resources, a dialog procedure that finds the dialog object in the window's user slot, and
// the controls reached through the dialog manager's functions.
#if defined(_WIN32)

#include <windows.h>

#include "settings/options_dialog.h"
#include "settings/options_dialog_ids.h"

namespace {

class Win32DialogControls final : public DialogControls {
public:
    explicit Win32DialogControls(const COptionsDialog& dialog) : m_dialog(dialog) {}

    bool IsChecked(int id) override { return IsDlgButtonChecked(Window(), id) == BST_CHECKED; }
    void SetChecked(int id, bool checked) override {
        SendDlgItemMessageA(Window(), id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    int TextLength(int id) override { return GetWindowTextLengthA(GetDlgItem(Window(), id)); }
    int GetText(int id, char* buffer, int size) override {
        return static_cast<int>(GetDlgItemTextA(Window(), id, buffer, size));
    }
    void SetText(int id, const char* text) override { SetDlgItemTextA(Window(), id, text); }
    void Enable(int id, bool enabled) override { EnableWindow(GetDlgItem(Window(), id), enabled ? TRUE : FALSE); }
    void EndDialog(int code) override { ::EndDialog(Window(), code); }

private:
    HWND Window() const { return static_cast<HWND>(m_dialog.Window()); }

    const COptionsDialog& m_dialog;
};

INT_PTR CALLBACK StaticDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    COptionsDialog* dialog;
    if (message == WM_INITDIALOG) {
        // A previous value of 0 is indistinguishable from failure except by the last error.
        SetLastError(0);
        if (SetWindowLongPtrA(hwnd, DWLP_USER, lParam) == 0 && GetLastError() != 0) {
            EndDialog(hwnd, IDC_CANCEL);
            return TRUE;
        }
        dialog = reinterpret_cast<COptionsDialog*>(lParam);
        dialog->SetWindow(hwnd);
    } else {
        dialog = reinterpret_cast<COptionsDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
        // Messages that arrive before WM_INITDIALOG.
        if (!dialog) return FALSE;
    }
    // No exception may unwind through the dialog manager's frames.
    try {
        return dialog->DialogProc(message, wParam, lParam) ? TRUE : FALSE;
    } catch (...) {
        return FALSE;
    }
}

} // namespace

void COptionsDialog::DoModal() {
    Win32DialogControls controls(*this);
    SetControls(&controls);
    DialogBoxParamA(static_cast<HINSTANCE>(m_instance), MAKEINTRESOURCEA(IDD_OPTIONS), static_cast<HWND>(m_parent),
                    StaticDialogProc, reinterpret_cast<LPARAM>(this));
    SetControls(nullptr);
    m_hwnd = nullptr;
}

#endif
