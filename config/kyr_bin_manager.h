// Binarized configuration files of the first game (KYR), shown as one-entry archives.
// Each distinct string is stored once and referred to by index afterwards; nested class
// bodies follow inline; the constants table, if any, follows the root body.
#pragma once

#include "config/config_bin_manager.h"
#include "config/string_table.h"

class CKyrBinManager : public CConfigBinManager {
public:
    ~CKyrBinManager() override;
    const char* ClassName() override { return "CKyrBinManager"; }
    CKyrArchiveManager* OpenArchive(tOpenArchiveData* openData) override;
    bool CanYouHandleThisFile(char* fileName) override;

protected:
    ConfigLayout Layout() const override { return ConfigLayout::kKyr; }
    std::string RootName() override;
    int DecodeConfig() override;
    int32_t DecodedLength() const override;
    int WriteDecoded(const char* destination) override;
    void DiscardDecoded() override;
    int32_t PackedSize() const override { return m_fileSize - m_headerEnd; }

private:
    int DecodeConstants();
    int DecodeClass(bool isRoot);
    int DecodeClassEntries(int32_t count);
    int DecodeValue();
    int DecodeArray();
    int DecodeStringElement() override;
    // A string reference: the index of a table string, reading and storing a new one when
    // the index is the table's count; -1 when invalid.
    int32_t ReadStringRef();
    // The table's string for a reference just read, or null when the reference was invalid.
    const char* ReadStringRefText();
    void ReleaseConstants();

    CTextBuffer* m_constantsBuffer = nullptr;
    CStringTable* m_stringTable = nullptr;
    int32_t m_headerEnd = 0;
};
