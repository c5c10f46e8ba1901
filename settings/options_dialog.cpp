#include "settings/options_dialog.h"

#include <cstdlib>

#include "common/text_line.h"
#include "settings/format_list.h"
#include "settings/options_dialog_ids.h"
#include "settings/settings_store.h"

COptionsDialog::COptionsDialog(platform::WindowHandle parent, platform::ModuleHandle instance)
    : m_parent(parent), m_instance(instance) {}

#if !defined(_WIN32)
// Without the Windows dialog manager there is nothing to show: the settings are edited in
// the settings file itself.
void COptionsDialog::DoModal() {
    (void)m_parent;
    (void)m_instance;
}
#endif

bool COptionsDialog::DialogProc(unsigned message, uintptr_t wParam, intptr_t) {
    if (!m_controls) return false;
    switch (message) {
    case kWmDestroy:
        m_hwnd = nullptr;
        return true;
    case kWmInitDialog:
        FillControls();
        return true;
    case kWmCommand:
        // Only clicks (and the keys that stand for them) act; edit notifications do not.
        if (((wParam >> 16) & 0xFFFF) != 0) return false;
        return OnCommand(static_cast<int>(wParam & 0xFFFF));
    default:
        return false;
    }
}

bool COptionsDialog::OnCommand(int id) {
    switch (id) {
    case IDC_SAVE:
        OnSave();
        return true;
    case IDC_CANCEL:
        m_controls->EndDialog(IDC_CANCEL);
        return true;
    case IDC_USE_COMPRESSION:
        UpdateCompressionControls();
        return true;
    case IDC_COMPRESS_ALL:
        UpdateFormatsEdit();
        return true;
    case IDC_FORCE_SIGNATURE:
        UpdateSignatureControls();
        return true;
    case IDC_KEEP_SUFFIX:
        UpdateSuffixEdits();
        return true;
    case IDC_LOAD_DEFAULTS:
        LoadDefaults();
        return true;
    case IDC_SESSION_ONLY:
        OnSessionOnly();
        return true;
    default:
        return false;
    }
}

void COptionsDialog::FillControls() {
    SettingsLock lock;
    m_controls->SetChecked(IDC_USE_COMPRESSION, PluginSettings.UseCompression);
    m_controls->SetChecked(IDC_COMPRESS_ALL, PluginSettings.CompressAll);
    if (PluginSettings.CompressFormats) {
        if (char* formats = JoinFormatList(*PluginSettings.CompressFormats)) {
            m_controls->SetText(IDC_FORMATS, formats);
            std::free(formats);
        }
    }
    m_controls->SetChecked(IDC_FORCE_SIGNATURE, PluginSettings.ForceZbkSignature);
    m_controls->SetChecked(IDC_KEEP_SUFFIX, PluginSettings.KeepOriginalSignatureSuffix);
    m_controls->SetText(IDC_SUFFIX_KEY, PluginSettings.ZbkSignatureSuffixKey ? PluginSettings.ZbkSignatureSuffixKey : "");
    m_controls->SetText(IDC_SUFFIX_VALUE,
                        PluginSettings.ZbkSignatureSuffixValue ? PluginSettings.ZbkSignatureSuffixValue : "");
    m_controls->SetChecked(IDC_WRITE_COMMENTS, PluginSettings.WriteCppComments);
    UpdateCompressionControls();
    UpdateSignatureControls();
}

void COptionsDialog::LoadDefaults() {
    m_controls->SetChecked(IDC_USE_COMPRESSION, true);
    UpdateCompressionControls();
    m_controls->SetChecked(IDC_COMPRESS_ALL, false);
    UpdateFormatsEdit();
    m_controls->SetText(IDC_FORMATS, kDefaultCompressFormats);
    m_controls->SetChecked(IDC_FORCE_SIGNATURE, false);
    m_controls->SetChecked(IDC_KEEP_SUFFIX, false);
    m_controls->SetText(IDC_SUFFIX_KEY, kDefaultSignatureSuffixKey);
    m_controls->SetText(IDC_SUFFIX_VALUE, kDefaultSignatureSuffixValue);
    UpdateSignatureControls();
    m_controls->SetChecked(IDC_WRITE_COMMENTS, true);
}

void COptionsDialog::UpdateCompressionControls() {
    m_controls->Enable(IDC_COMPRESS_ALL, m_controls->IsChecked(IDC_USE_COMPRESSION));
    UpdateFormatsEdit();
}

void COptionsDialog::UpdateFormatsEdit() {
    m_controls->Enable(IDC_FORMATS,
                       m_controls->IsChecked(IDC_USE_COMPRESSION) && !m_controls->IsChecked(IDC_COMPRESS_ALL));
}

void COptionsDialog::UpdateSignatureControls() {
    m_controls->Enable(IDC_KEEP_SUFFIX, m_controls->IsChecked(IDC_FORCE_SIGNATURE));
    UpdateSuffixEdits();
}

void COptionsDialog::UpdateSuffixEdits() {
    bool own = m_controls->IsChecked(IDC_FORCE_SIGNATURE) && !m_controls->IsChecked(IDC_KEEP_SUFFIX);
    m_controls->Enable(IDC_SUFFIX_KEY, own);
    m_controls->Enable(IDC_SUFFIX_VALUE, own);
}

char* COptionsDialog::GetControlText(int id) {
    int length = m_controls->TextLength(id);
    if (length <= 0) return nullptr;
    char* text = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
    if (!text) return nullptr;
    if (m_controls->GetText(id, text, length + 1) == 0) {
        std::free(text);
        return nullptr;
    }
    return text;
}

void COptionsDialog::ReadControls() {
    SettingsLock lock;
    // Disabled controls are read too: their values are kept for when they apply again.
    PluginSettings.UseCompression = m_controls->IsChecked(IDC_USE_COMPRESSION);
    PluginSettings.CompressAll = m_controls->IsChecked(IDC_COMPRESS_ALL);
    if (char* formats = GetControlText(IDC_FORMATS)) {
        SetCompressFormats(ParseFormatList(RemoveBlanks(formats)));
        std::free(formats);
    }
    PluginSettings.ForceZbkSignature = m_controls->IsChecked(IDC_FORCE_SIGNATURE);
    PluginSettings.KeepOriginalSignatureSuffix = m_controls->IsChecked(IDC_KEEP_SUFFIX);
    if (char* key = GetControlText(IDC_SUFFIX_KEY)) {
        SetSignatureSuffixKey(key);
        std::free(key);
    }
    if (char* value = GetControlText(IDC_SUFFIX_VALUE)) {
        SetSignatureSuffixValue(value);
        std::free(value);
    }
    PluginSettings.WriteCppComments = m_controls->IsChecked(IDC_WRITE_COMMENTS);
}

void COptionsDialog::OnSave() {
    ReadControls();
    // A failed save is not reported: the values apply in memory all the same.
    SaveSettings();
    m_controls->EndDialog(IDC_SAVE);
}

void COptionsDialog::OnSessionOnly() {
    ReadControls();
    m_controls->EndDialog(IDC_SESSION_ONLY);
}

void RunOptionsDialog(platform::WindowHandle parent, platform::ModuleHandle instance) {
    COptionsDialog dialog(parent, instance);
    dialog.DoModal();
}
