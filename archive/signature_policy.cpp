// Whether a written header starts with a signature record, and what its block holds.
#include <new>

#include "archive/zbk_archive_manager.h"
#include "settings/settings_store.h"

int CZbkArchiveManager::AddSignatureRecord(ZbkEntryList* newList, ZbkEntryList* oldList, int blockFailureCode) {
    if (!PluginSettings.ForceZbkSignature) return E_SUCCESS;
    ZbkEntry* record = new (std::nothrow) ZbkEntry();
    if (!record) return E_NO_MEMORY;
    record->packingMethod = MethodVersion;
    if (newList->AddEntry(record) < 0) {
        delete record;
        return E_NO_MEMORY;
    }
    StringList* block = nullptr;
    if (oldList && PluginSettings.KeepOriginalSignatureSuffix && oldList->hasSignature)
        block = oldList->SignatureStrings();
    if (!block) {
        try {
            block = new StringList();
        } catch (...) {
            return blockFailureCode;
        }
        // Unset or empty strings are left out of a configured block.
        block->Add(PluginSettings.ZbkSignatureSuffixKey);
        block->Add(PluginSettings.ZbkSignatureSuffixValue);
    }
    newList->SetSignatureBlock(block);
    delete block;
    return E_SUCCESS;
}
