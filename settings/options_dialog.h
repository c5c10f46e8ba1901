// The options dialog, shown modally by ConfigurePacker: edits PluginSettings and may save it.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// The few things the dialog's logic asks of the dialog manager, so that the same logic runs
// against the Windows dialog manager and against a stand-in.
class DialogControls {
public:
    virtual ~DialogControls() = default;
    virtual bool IsChecked(int id) = 0;
    virtual void SetChecked(int id, bool checked) = 0;
    // Length of a control's text in bytes, without the terminator.
    virtual int TextLength(int id) = 0;
    // Copies at most size - 1 bytes of the text and a terminator; the bytes copied, 0 on failure.
    virtual int GetText(int id, char* buffer, int size) = 0;
    virtual void SetText(int id, const char* text) = 0;
    virtual void Enable(int id, bool enabled) = 0;
    virtual void EndDialog(int code) = 0;
};

// The dialog manager's message numbers that the dialog handles.
constexpr unsigned kWmDestroy = 0x0002;
constexpr unsigned kWmInitDialog = 0x0110;
constexpr unsigned kWmCommand = 0x0111;

class COptionsDialog {
public:
    COptionsDialog(platform::WindowHandle parent, platform::ModuleHandle instance);
    COptionsDialog(const COptionsDialog&) = delete;
    COptionsDialog& operator=(const COptionsDialog&) = delete;

    // Runs the dialog and returns when it has closed. Where there is no dialog manager it
    // returns at once.
    void DoModal();

    // The dialog window, bound when the dialog manager has created it.
    void SetWindow(platform::WindowHandle hwnd) { m_hwnd = hwnd; }
    platform::WindowHandle Window() const { return m_hwnd; }
    // Where the logic reaches the controls of the bound window.
    void SetControls(DialogControls* controls) { m_controls = controls; }

    // True for a handled message.
    bool DialogProc(unsigned message, uintptr_t wParam, intptr_t lParam);

    void FillControls();
    void ReadControls();
    void LoadDefaults();
    void UpdateCompressionControls();
    void UpdateFormatsEdit();
    void UpdateSignatureControls();
    void UpdateSuffixEdits();
    void OnSave();
    void OnSessionOnly();
    // A new string (freed with std::free) holding the control's text; null when the control is
    // empty or its text cannot be fetched.
    char* GetControlText(int id);

private:
    bool OnCommand(int id);

    platform::WindowHandle m_parent;
    platform::WindowHandle m_hwnd = nullptr;
    platform::ModuleHandle m_instance;
    DialogControls* m_controls = nullptr;
};

void RunOptionsDialog(platform::WindowHandle parent, platform::ModuleHandle instance);
