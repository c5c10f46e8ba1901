#include "config/tesk_bin_manager.h"

#include "common/string_utils.h"

namespace {

// Header: magic, a u32 that is 0 in this layout, body distance, constants offset, and the
// root's empty base name at offset 16.
constexpr int64_t kBodyDistanceBase = 8;

} // namespace

bool CTeskBinManager::CanYouHandleThisFile(char* fileName) {
    if (m_file) return true;
    if (!OpenConfigFile(fileName)) return false;
    m_reader.Attach(m_file);
    uint32_t magic = 0, variant = 1, distance = 0, constants = 0;
    uint8_t rootBase = 1;
    bool ok = m_reader.ReadU32(&magic) && magic == kConfigMagic && m_reader.ReadU32(&variant) && variant == 0 &&
              m_reader.ReadU32(&distance) && m_reader.ReadU32(&constants) &&
              // Compared as signed numbers, as the layout's own readers do.
              static_cast<int32_t>(constants) <= m_fileSize - 4 && m_reader.ReadByte(&rootBase) && rootBase == 0;
    if (!ok) {
        CloseConfigFile();
        return false;
    }
    m_bodyStart = kBodyDistanceBase + distance;
    m_constantsOffset = static_cast<int32_t>(constants);
    return true;
}

CKyrArchiveManager* CTeskBinManager::OpenArchive(tOpenArchiveData* openData) {
    if (!openData) return nullptr;
    if (!CanYouHandleThisFile(openData->ArcName)) {
        openData->OpenResult = E_UNKNOWN_FORMAT;
        return nullptr;
    }
    m_bytesReported = 0;
    m_textBuffer->Reset();
    m_headerDelivered = false;
    m_depth = 0;
    RememberOpenData(openData);
    openData->OpenResult = 0;
    return this;
}

int CTeskBinManager::DecodeConfig() {
    m_depth = 0;
    m_bytesReported = 0;
    m_activeCount = 0;
    m_textBuffer->Reset();
    m_out.Restart();
    m_reader.Attach(m_file);
    int result = DecodeConstants();
    if (result != 0) return MemoryOrBadData(result);
    m_out.ImplementationHeading();
    m_reader.Seek(m_bodyStart + 1);
    int64_t unusedResume = 0, unusedBytes = 0;
    result = DecodeClass(true, &unusedResume, &unusedBytes);
    m_textBuffer->Finalize();
    if (result == 0 && !m_out.Ok()) result = E_NO_MEMORY;
    return MemoryOrBadData(result);
}

int CTeskBinManager::DecodeConstants() {
    m_reader.Seek(m_constantsOffset);
    int32_t count = 0;
    if (!m_reader.ReadI32(&count)) return E_EREAD;
    if (count >= 1) {
        m_out.ConstantsHeading();
        if (int r = DecodeConstantEntries(count, m_out)) return r;
        m_out.ConstantsEnd();
    }
    return ReportBytes(static_cast<int32_t>(m_fileSize - m_constantsOffset));
}

bool CTeskBinManager::LeadsIntoActiveBody(int64_t offset) const {
    for (int32_t i = 0; i < m_activeCount; ++i)
        if (offset >= m_activeBodies[i].start && offset < m_activeBodies[i].readTo) return true;
    return false;
}

int CTeskBinManager::DecodeClass(bool isRoot, int64_t* resumeAt, int64_t* subtreeBytes) {
    int64_t consumedAtStart = m_reader.Consumed();
    OwnedString name;
    int64_t bodyStart = m_bodyStart;
    if (!isRoot) {
        if (int r = ReadString(&name)) return r;
        uint32_t offset = 0;
        if (!m_reader.ReadU32(&offset)) return E_BAD_DATA;
        *resumeAt = m_reader.Tell();
        bodyStart = offset;
        m_activeBodies[m_activeCount - 1].readTo = *resumeAt;
        if (LeadsIntoActiveBody(bodyStart) || m_depth >= kMaxConfigDepth) return E_BAD_DATA;
        if (m_reader.Tell() != bodyStart) m_reader.Seek(bodyStart);
        OwnedString base;
        if (int r = ReadString(&base)) return r;
        m_out.ClassHead(name.p, base.p);
        m_out.ClassBlockOpening();
    }
    m_activeBodies[m_activeCount++] = BodyRange{bodyStart, bodyStart};
    int64_t nestedBytes = 0;
    int result = DecodeClassEntries(&nestedBytes);
    --m_activeCount;
    if (result != 0) return result;
    *subtreeBytes = m_reader.Consumed() - consumedAtStart;
    if (int r = ReportBytes(static_cast<int32_t>(*subtreeBytes - nestedBytes))) return r;
    if (!isRoot) m_out.ClassClose(name.p);
    return 0;
}

int CTeskBinManager::DecodeClassEntries(int64_t* nestedBytes) {
    int32_t count = m_reader.ReadCompressedInt();
    if (count < 0) return E_BAD_DATA;
    for (int32_t i = 0; i < count; ++i) {
        uint8_t type = 0;
        if (!m_reader.ReadByte(&type)) return E_BAD_DATA;
        int result;
        switch (type) {
        case 0: {
            int64_t resumeAt = 0, bytes = 0;
            result = DecodeClass(false, &resumeAt, &bytes);
            if (result == 0) {
                m_reader.Seek(resumeAt);
                *nestedBytes += bytes;
            }
            break;
        }
        case 1: result = DecodeValue(); break;
        case 2: result = DecodeArray(); break;
        case 3: result = DecodeNamedLine(&CConfigTextWriter::ExternalClassLine); break;
        // Real files use it to drop a member that the class inherits.
        case 4: result = DecodeNamedLine(&CConfigTextWriter::DeleteLine); break;
        default: result = E_BAD_DATA; break;
        }
        if (result != 0) return result;
        if (!m_out.Ok()) return E_NO_MEMORY;
        if (OverRead()) return E_BAD_DATA;
    }
    return 0;
}

int CTeskBinManager::DecodeValue() {
    uint8_t subtype = 0;
    if (!m_reader.ReadByte(&subtype)) return E_BAD_DATA;
    OwnedString name;
    if (int r = ReadString(&name)) return r;
    if (!*name.p) return E_BAD_DATA;
    switch (subtype) {
    case 0: {
        OwnedString text;
        if (int r = ReadString(&text)) return r;
        char* quoted = ReplaceAll(text.p, "\"", "\"\"", true);
        if (!quoted) return E_NO_MEMORY;
        text.p = quoted; // the source now belongs to the result, or is the result
        m_out.StringValueLine(name.p, text.p);
        return 0;
    }
    case 1: {
        float value = 0;
        if (!m_reader.ReadFloat(&value)) return E_BAD_DATA;
        m_out.FloatValueLine(name.p, value);
        return 0;
    }
    case 2: {
        int32_t value = 0;
        if (!m_reader.ReadI32(&value)) return E_BAD_DATA;
        m_out.IntValueLine(name.p, value);
        return 0;
    }
    default: return E_BAD_DATA;
    }
}

int CTeskBinManager::DecodeArray() {
    OwnedString name;
    if (int r = ReadString(&name)) return r;
    if (!*name.p) return E_BAD_DATA;
    int32_t count = m_reader.ReadCompressedInt();
    if (count < 0) return E_BAD_DATA;
    m_out.ArrayHead(name.p);
    if (int r = DecodeArrayElements(count)) return r;
    m_out.ArrayClose(name.p, count);
    return 0;
}

int CTeskBinManager::DecodeStringElement() {
    OwnedString text;
    if (int r = ReadString(&text)) return r;
    char* quoted = ReplaceAll(text.p, "\"", "\"\"", true);
    if (!quoted) return E_NO_MEMORY;
    text.p = quoted;
    m_out.StringElement(text.p);
    return 0;
}

int CTeskBinManager::DecodeNamedLine(void (CConfigTextWriter::*line)(const char*)) {
    OwnedString name;
    if (int r = ReadString(&name)) return r;
    // Nothing is declared or inherited under an empty name.
    if (!*name.p) return E_BAD_DATA;
    (m_out.*line)(name.p);
    return 0;
}
