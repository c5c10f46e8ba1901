#include "config/config_bin_manager.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "common/file_io.h"
#include "common/replacement_file.h"
#include "common/string_utils.h"
#include "config/config_encoder.h"
#include "platform/platform.h"

namespace {

// A host name field holds its size less one bytes and a terminator; longer names are cut.
template <size_t N>
void CopyHostName(char (&field)[N], const char* name) {
    std::strncpy(field, name ? name : "", N - 1);
    field[N - 1] = 0;
}

} // namespace

char* MakeConfigEntryName(const char* arcName) {
    const char* fileName = FindFileName(arcName);
    if (!fileName) return nullptr;
    const char* extension = FindExtension(fileName);
    // Without an extension dot (none, or only a leading one) the whole name is kept and gets
    // its own dot: "config" becomes config.cpp rather than configcpp.
    bool hasDot = extension > fileName + 1 && extension[-1] == '.';
    if (!hasDot) return ConcatStrings(fileName, ".cpp");
    size_t stem = static_cast<size_t>(extension - fileName);
    char* copy = static_cast<char*>(std::malloc(stem + 1));
    if (!copy) return nullptr;
    std::memcpy(copy, fileName, stem);
    copy[stem] = 0;
    char* name = ConcatStrings(copy, "cpp");
    std::free(copy);
    return name;
}

CConfigBinManager::CConfigBinManager() : m_out(*m_textBuffer, m_depth) {}

CConfigBinManager::~CConfigBinManager() { CloseConfigFile(); }

bool CConfigBinManager::OpenConfigFile(const char* name) {
    m_file = platform::OpenSharedRead(name);
    if (!m_file) return false;
    m_fileSize = GetOpenFileSize(m_file);
    if (m_fileSize < 0) {
        CloseConfigFile();
        return false;
    }
    return true;
}

void CConfigBinManager::CloseConfigFile() {
    m_reader.Detach();
    if (m_file) std::fclose(m_file);
    m_file = nullptr;
}

int CConfigBinManager::ReportBytes(int32_t n) {
    if (!ExtractMode()) return 0;
    if (ReportProgress(nullptr, n) == 0) return E_EABORTED;
    m_bytesReported += n;
    return 0;
}

int CConfigBinManager::MemoryOrBadData(int result) const {
    return result != 0 && m_reader.OutOfMemory() ? static_cast<int>(E_NO_MEMORY) : result;
}

int CConfigBinManager::ReadString(OwnedString* out) {
    bool terminated = false;
    out->Reset(m_reader.ReadZString(&terminated));
    if (!out->p) return E_NO_MEMORY;
    return terminated ? 0 : static_cast<int>(E_BAD_DATA);
}

int CConfigBinManager::DecodeConstantEntries(int32_t count, CConfigTextWriter& out) {
    for (int32_t i = 0; i < count; ++i) {
        OwnedString name;
        if (int r = ReadString(&name)) return r;
        int32_t value = 0;
        if (!m_reader.ReadI32(&value)) return E_EREAD;
        if (*name.p) out.DefineLine(name.p, value);
        if (!out.Ok()) return E_NO_MEMORY;
    }
    return 0;
}

int CConfigBinManager::ReadHeader(tHeaderData* headerData) {
    return Guarded([&] { return ReadHeaderUnguarded(headerData); });
}

int CConfigBinManager::ReadHeaderEx(tHeaderDataEx* headerData) {
    return Guarded([&] { return ReadHeaderUnguarded(headerData); });
}

template <typename Record>
int CConfigBinManager::ReadHeaderUnguarded(Record* headerData) {
    if (!m_openData) return E_NOT_SUPPORTED;
    if (m_openData->OpenResult != 0) return m_openData->OpenResult;
    if (m_headerDelivered) return E_END_ARCHIVE;
    if (ReportProgress(m_openData->ArcName, 0) == 0) return E_EABORTED;
    bool listing = !ExtractMode();
    if (listing) {
        int result = DecodeConfig();
        if (result != 0) {
            DiscardDecoded();
            return result;
        }
    }
    char* entryName = MakeConfigEntryName(m_openData->ArcName);
    if (!entryName) {
        if (listing) DiscardDecoded();
        return E_NO_MEMORY;
    }
    if (headerData) {
        CopyHostName(headerData->FileName, entryName);
        platform::ToHostSeparators(headerData->FileName);
        // The archive's path came from the host and goes back unchanged: on POSIX a '\'
        // is an ordinary character of a file name.
        CopyHostName(headerData->ArcName, m_openData->ArcName);
        // The entry exists only while the archive is open, so it carries the time of listing.
        headerData->FileTime = MakeHostFileTime(static_cast<int64_t>(std::time(nullptr)));
        headerData->FileAttr = static_cast<int>(platform::HostFileAttribute());
        SetHeaderSizes(headerData, static_cast<uint32_t>(PackedSize()),
                       static_cast<uint32_t>(listing ? DecodedLength() : m_fileSize));
    }
    std::free(entryName);
    if (listing) DiscardDecoded();
    m_headerDelivered = true;
    return 0;
}

int CConfigBinManager::ProcessFile(int operation, char* destPath, char* destName) {
    return Guarded([&] { return ProcessFileUnguarded(operation, destPath, destName); });
}

int CConfigBinManager::ProcessFileUnguarded(int operation, char* destPath, char* destName) {
    if (operation == PK_SKIP || operation == PK_TEST) return 0;
    if (operation != PK_EXTRACT || !m_openData) return E_NOT_SUPPORTED;
    char* destination = ConcatStrings(destPath, destName);
    if (!destination) return E_NO_MEMORY;
    ReportProgress(destination, 0);
    int result = DecodeConfig();
    if (result == 0) result = WriteDecoded(destination);
    std::free(destination);
    DiscardDecoded();
    // Whatever the decode did not report, so that the host's total reaches the file size.
    ReportProgress(nullptr, m_fileSize - m_bytesReported);
    return result;
}

int CConfigBinManager::PackFiles(char* packedFile, char* subPath, char* srcPath, char* addList, int flags) {
    return Guarded([&] { return PackFilesUnguarded(packedFile, subPath, srcPath, addList, flags); });
}

// Holds at most the text, its parsed form and the encoded file at once: a few times the
// text's size.
int CConfigBinManager::PackFilesUnguarded(char* packedFile, char* subPath, char* srcPath, char* addList,
                                          int flags) {
    if (!packedFile || !CanYouHandleThisFile(packedFile)) return E_UNKNOWN_FORMAT;
    // Only the entry that listing shows, at the top, alone: the host's edit-and-save.
    if ((subPath && *subPath) || !addList || !*addList || addList[std::strlen(addList) + 1] != 0)
        return E_NOT_SUPPORTED;
    char* entryName = MakeConfigEntryName(packedFile);
    if (!entryName) return E_NO_MEMORY;
    bool sameName = platform::CompareNoCase(addList, entryName) == 0;
    std::free(entryName);
    if (!sameName) return E_NOT_SUPPORTED;

    std::string source = std::string(srcPath ? srcPath : "") + addList;
    if (ReportProgress(source.c_str(), 0) == 0) return E_EABORTED;
    std::vector<char> text;
    // Offsets in both layouts are signed 32-bit numbers.
    if (int r = ReadWholeFile(source.c_str(), &text, 0x7FFFFFFF)) return r;
    std::vector<uint8_t> bytes;
    ConfigTextError error;
    // The host shows only the code; kyrzbk encode tells where the text went wrong.
    if (!EncodeConfigText(text.data(), text.size(), Layout(), &bytes, &error, RootName())) return E_BAD_DATA;

    // The new file takes the old one's name, which a file still open would prevent on Windows.
    CloseConfigFile();
    ReplacementFile temp(packedFile);
    if (!temp.Create()) return E_ECREATE;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), temp.File()) != bytes.size()) return E_EWRITE;
    if (ReportProgress(source.c_str(), static_cast<int>(text.size())) == 0) return E_EABORTED;
    if (!temp.Commit()) return E_EWRITE;
    if (flags & PK_PACK_MOVE_FILES) platform::DeleteFileAt(source.c_str());
    return 0;
}

int CConfigBinManager::DecodeArrayElements(int32_t count) {
    if (m_depth >= kMaxConfigDepth) return E_BAD_DATA;
    m_out.ElementBlockOpening();
    for (int32_t i = 0; i < count; ++i) {
        uint8_t type = 0;
        if (!m_reader.ReadByte(&type)) return E_BAD_DATA;
        m_out.ElementIndentation();
        switch (type) {
        case 0: {
            if (int r = DecodeStringElement()) return r;
            break;
        }
        case 1: {
            float value = 0;
            if (!m_reader.ReadFloat(&value)) return E_BAD_DATA;
            m_out.FloatElement(value);
            break;
        }
        case 2: {
            int32_t value = 0;
            if (!m_reader.ReadI32(&value)) return E_BAD_DATA;
            m_out.IntElement(value);
            break;
        }
        case 3: {
            int32_t nested = m_reader.ReadCompressedInt();
            if (nested < 0) return E_BAD_DATA;
            if (int r = DecodeArrayElements(nested)) return r;
            break;
        }
        default: return E_BAD_DATA;
        }
        if (i < count - 1) m_out.ElementSeparator();
        m_out.ElementEnd();
        if (!m_out.Ok()) return E_NO_MEMORY;
        if (OverRead()) return E_BAD_DATA;
    }
    m_out.ElementBlockClose();
    return 0;
}
