// Whether a written header starts with a signature record, and what its block holds.
#include <new>

#include "archive/zbk_archive_manager.h"
#include "settings/settings_store.h"

int CZbkArchiveManager::AddSignatureRecord(ZbkEntryList* newList, ZbkEntryList* oldList, int blockFailureCode) {
    SettingsLock lock;
    // The games look every file of an archive up below the folder that its header block
    // names: a rewrite keeps the old record and block byte for byte unless the settings ask
    // for the configured block in their place.
    bool configuredWanted = PluginSettings.ForceZbkSignature && !PluginSettings.KeepOriginalSignatureSuffix;
    if (oldList && oldList->hasSignature && oldList->count > 0 && !configuredWanted)
        return KeepSignatureRecord(newList, *oldList);
    if (!PluginSettings.ForceZbkSignature) return E_SUCCESS;
    ZbkEntry* record = new (std::nothrow) ZbkEntry();
    if (!record) return E_NO_MEMORY;
    record->packingMethod = MethodVersion;
    if (newList->AddEntry(record) < 0) {
        delete record;
        return E_NO_MEMORY;
    }
    StringList* block = nullptr;
    try {
        block = new StringList();
    } catch (...) {
        return blockFailureCode;
    }
    // Unset or empty strings are left out of a configured block.
    block->Add(PluginSettings.ZbkSignatureSuffixKey);
    block->Add(PluginSettings.ZbkSignatureSuffixValue);
    newList->SetSignatureBlock(block);
    delete block;
    return E_SUCCESS;
}

int CZbkArchiveManager::KeepSignatureRecord(ZbkEntryList* newList, const ZbkEntryList& oldList) {
    ZbkEntry* record = CopyRecord(*oldList.entries[0]);
    if (!record) return E_NO_MEMORY;
    if (newList->AddEntry(record) < 0) {
        delete record;
        return E_NO_MEMORY;
    }
    return newList->CopySignatureBlock(oldList) ? E_SUCCESS : E_NO_MEMORY;
}
