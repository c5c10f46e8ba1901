#include "config/kyr_bin_manager.h"

#include <new>

#include "common/string_utils.h"

namespace {

// Header: magic and a u32 that is 4 in this layout; the root's name follows at once.
constexpr int32_t kHeaderSize = 8;
constexpr uint32_t kKyrVariant = 4;

} // namespace

CKyrBinManager::~CKyrBinManager() {
    CloseConfigFile();
    ReleaseConstants();
    delete m_stringTable;
    m_stringTable = nullptr;
}

bool CKyrBinManager::CanYouHandleThisFile(char* fileName) {
    if (m_file) return true;
    if (!OpenConfigFile(fileName)) return false;
    uint8_t header[kHeaderSize];
    bool ok = m_fileSize >= kHeaderSize && std::fread(header, 1, kHeaderSize, m_file) == kHeaderSize;
    if (ok) {
        uint32_t magic = header[0] | header[1] << 8 | header[2] << 16 | static_cast<uint32_t>(header[3]) << 24;
        uint32_t variant = header[4] | header[5] << 8 | header[6] << 16 | static_cast<uint32_t>(header[7]) << 24;
        ok = magic == kConfigMagic && variant == kKyrVariant;
    }
    if (!ok) CloseConfigFile();
    return ok;
}

CKyrArchiveManager* CKyrBinManager::OpenArchive(tOpenArchiveData* openData) {
    if (!openData) return nullptr;
    if (!CanYouHandleThisFile(openData->ArcName)) {
        openData->OpenResult = E_UNKNOWN_FORMAT;
        return nullptr;
    }
    delete m_stringTable;
    m_stringTable = new (std::nothrow) CStringTable();
    if (!m_stringTable) {
        openData->OpenResult = E_NO_MEMORY;
        return nullptr;
    }
    m_textBuffer->Reset();
    m_headerDelivered = false;
    m_depth = 0;
    m_bytesReported = 0;
    long position = std::ftell(m_file);
    m_headerEnd = static_cast<int32_t>(position);
    if (position != kHeaderSize) {
        openData->OpenResult = E_UNKNOWN_FORMAT;
        return nullptr;
    }
    RememberOpenData(openData);
    openData->OpenResult = 0;
    return this;
}

void CKyrBinManager::ReleaseConstants() {
    delete m_constantsBuffer;
    m_constantsBuffer = nullptr;
}

int32_t CKyrBinManager::DecodedLength() const {
    return m_textBuffer->Length() + (m_constantsBuffer ? m_constantsBuffer->Length() : 0);
}

int CKyrBinManager::WriteDecoded(const char* destination) {
    // The constants are read last but belong at the top of the text.
    if (!m_constantsBuffer) return m_textBuffer->WriteToFile(destination);
    int result = m_constantsBuffer->WriteToFile(destination);
    return result != 0 ? result : m_textBuffer->AppendToFile(destination);
}

void CKyrBinManager::DiscardDecoded() {
    m_textBuffer->Reset();
    ReleaseConstants();
    if (m_stringTable) m_stringTable->Clear();
}

int CKyrBinManager::DecodeConfig() {
    if (!m_stringTable) return E_NO_MEMORY;
    m_depth = 0;
    m_bytesReported = 0;
    m_textBuffer->Reset();
    ReleaseConstants();
    m_stringTable->Clear();
    m_out.Restart();
    // Each decode starts right after the header, also when an earlier one stopped midway.
    m_reader.Attach(m_file);
    m_reader.Seek(m_headerEnd);
    m_out.ImplementationHeading();
    int result = ReadStringRef() < 0 ? static_cast<int>(E_BAD_DATA) : DecodeClass(true);
    if (result == 0) result = DecodeConstants();
    if (result == 0 && !m_out.Ok()) result = E_NO_MEMORY;
    return MemoryOrBadData(result);
}

std::string CKyrBinManager::RootName() {
    // The first string of the table, stored inline right after the header; when it cannot
    // be read the new file's root gets an empty name.
    m_reader.Attach(m_file);
    m_reader.Seek(kHeaderSize);
    if (m_reader.ReadCompressedInt() != 0) return std::string();
    OwnedString name;
    if (ReadString(&name) != 0) return std::string();
    return name.p;
}

int32_t CKyrBinManager::ReadStringRef() {
    int32_t index = m_reader.ReadCompressedInt();
    if (index < 0 || index > m_stringTable->Count()) return -1;
    if (index < m_stringTable->Count()) return index;
    OwnedString text;
    if (ReadString(&text) != 0) return -1;
    char* quoted = ReplaceAll(text.p, "\"", "\"\"", true);
    if (!quoted) return -1;
    text.p = nullptr; // consumed by ReplaceAll, or returned as the result
    return m_stringTable->Add(quoted);
}

const char* CKyrBinManager::ReadStringRefText() { return m_stringTable->At(ReadStringRef()); }

int CKyrBinManager::DecodeClass(bool isRoot) {
    const char* name = nullptr;
    OwnedString base;
    if (isRoot) {
        uint8_t rootBase = 1;
        if (!m_reader.ReadByte(&rootBase) || rootBase != 0) return E_BAD_DATA;
    } else {
        name = ReadStringRefText();
        if (!name || !*name) return E_BAD_DATA;
        if (int r = ReadString(&base)) return r;
    }
    int32_t count = m_reader.ReadCompressedInt();
    if (count < 0) return E_BAD_DATA;
    if (count == 0) {
        if (!isRoot) m_out.EmptyClassLine(name, base.p);
        return 0;
    }
    if (!isRoot) {
        if (m_depth >= kMaxConfigDepth) return E_BAD_DATA;
        m_out.ClassHead(name, base.p);
        m_out.ClassBlockOpening();
    }
    if (int r = DecodeClassEntries(count)) return r;
    if (int r = ReportBytes(static_cast<int32_t>(m_reader.Tell() - m_bytesReported))) return r;
    if (!isRoot) m_out.ClassClose(name);
    return 0;
}

int CKyrBinManager::DecodeClassEntries(int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        uint8_t type = 0;
        if (!m_reader.ReadByte(&type)) return E_BAD_DATA;
        int result;
        switch (type) {
        case 0: result = DecodeClass(false); break;
        case 1: result = DecodeValue(); break;
        case 2: result = DecodeArray(); break;
        default: result = E_BAD_DATA; break;
        }
        if (result != 0) return result;
        if (!m_out.Ok()) return E_NO_MEMORY;
    }
    return 0;
}

int CKyrBinManager::DecodeValue() {
    uint8_t subtype = 0;
    if (!m_reader.ReadByte(&subtype)) return E_BAD_DATA;
    const char* name = ReadStringRefText();
    if (!name || !*name) return E_BAD_DATA;
    switch (subtype) {
    case 0: {
        const char* text = ReadStringRefText();
        if (!text) return E_BAD_DATA;
        m_out.StringValueLine(name, text);
        return 0;
    }
    case 1: {
        float value = 0;
        if (!m_reader.ReadFloat(&value)) return E_BAD_DATA;
        m_out.FloatValueLine(name, value);
        return 0;
    }
    case 2: {
        int32_t value = 0;
        if (!m_reader.ReadI32(&value)) return E_BAD_DATA;
        m_out.IntValueLine(name, value);
        return 0;
    }
    default: return E_BAD_DATA;
    }
}

int CKyrBinManager::DecodeArray() {
    const char* name = ReadStringRefText();
    if (!name || !*name) return E_BAD_DATA;
    int32_t count = m_reader.ReadCompressedInt();
    if (count < 0) return E_BAD_DATA;
    m_out.ArrayHead(name);
    if (int r = DecodeArrayElements(count)) return r;
    m_out.ArrayClose(name, count);
    return 0;
}

int CKyrBinManager::DecodeStringElement() {
    const char* text = ReadStringRefText();
    if (!text) return E_BAD_DATA;
    m_out.StringElement(text);
    return 0;
}

int CKyrBinManager::DecodeConstants() {
    if (m_reader.Tell() >= m_fileSize) return 0;
    int32_t count = 0;
    if (!m_reader.ReadI32(&count)) return E_BAD_DATA;
    if (count >= 1) {
        m_constantsBuffer = new (std::nothrow) CTextBuffer();
        if (!m_constantsBuffer || !m_constantsBuffer->Data()) return E_NO_MEMORY;
        CConfigTextWriter constants(*m_constantsBuffer, m_depth);
        constants.ConstantsHeading();
        if (int r = DecodeConstantEntries(count, constants)) return r;
        constants.ConstantsEnd();
        if (!constants.Ok()) return E_NO_MEMORY;
    }
    return ReportBytes(m_fileSize - m_bytesReported);
}
