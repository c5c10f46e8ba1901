// What the two configuration managers share: a binarized configuration file shown as an
// archive with one entry, the decoded text, named after the file with the extension cpp.
// Listing decodes to learn the text's size; extracting decodes again and writes the text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <string>

#include "config/config_file_reader.h"
#include "config/config_text_parser.h"
#include "config/config_text_writer.h"
#include "frame/archive_manager.h"

// Both layouts start with these four bytes, read as a little-endian u32.
constexpr uint32_t kConfigMagic = 0x50617200;

// A string read from the file, freed when it goes out of scope.
struct OwnedString {
    char* p = nullptr;
    OwnedString() = default;
    ~OwnedString() { std::free(p); }
    OwnedString(const OwnedString&) = delete;
    OwnedString& operator=(const OwnedString&) = delete;
    void Reset(char* q) {
        std::free(p);
        p = q;
    }
};

class CConfigBinManager : public CKyrArchiveManager {
public:
    CConfigBinManager();
    ~CConfigBinManager() override;

    int ReadHeader(tHeaderData* headerData) override;
    int ReadHeaderEx(tHeaderDataEx* headerData) override;
    int ProcessFile(int operation, char* destPath, char* destName) override;
    // The one entry's text can be packed back: it is encoded in the file's own layout and
    // replaces the file. Nothing else can be added, and nothing deleted.
    bool SupportsCapability(int flags) override { return flags == PK_CAPS_MODIFY; }
    int PackFiles(char* packedFile, char* subPath, char* srcPath, char* addList, int flags) override;

protected:
    virtual ConfigLayout Layout() const = 0;
    // The root's name, which the text does not show, as the open file holds it; only the
    // first-game layout stores one.
    virtual std::string RootName() { return std::string(); }

    // Decodes the whole file into the output buffer(s); a host result code.
    virtual int DecodeConfig() = 0;
    // Bytes that writing the decoded text produces.
    virtual int32_t DecodedLength() const = 0;
    virtual int WriteDecoded(const char* destination) = 0;
    // Empties the output and whatever else one decode filled.
    virtual void DiscardDecoded() = 0;
    // The part of the file that holds the configuration itself, shown as the packed size.
    virtual int32_t PackedSize() const = 0;

    // Opens the file for reading and measures it; false (and no file) when either fails.
    bool OpenConfigFile(const char* name);
    void CloseConfigFile();
    // A progress report of n bytes, made only while extracting: 0, or 21 when the user aborts.
    int ReportBytes(int32_t n);
    bool ExtractMode() const { return m_openData && m_openData->OpenMode == PK_OM_EXTRACT; }
    // A failed decode caused by exhausted memory rather than by the file's content.
    int MemoryOrBadData(int result) const;
    // Reads a zero-terminated string into *out: 0; 11 when not even its first byte can be read
    // or memory runs out; 12 when the file ends before its terminator.
    int ReadString(OwnedString* out);
    // The `count` name and value pairs of a constants table as define lines (nameless ones
    // are skipped): a host result code.
    int DecodeConstantEntries(int32_t count, CConfigTextWriter& out);
    // The element block of an array of `count` elements; both layouts share the element
    // kinds and differ only in how a string element is stored.
    int DecodeArrayElements(int32_t count);
    // Reads one string element and writes it quoted: a host result code.
    virtual int DecodeStringElement() = 0;
    // True once a decode has read more than the file holds (a layout whose bodies can be
    // shared by offset uses it to stop inputs that would multiply the work).
    virtual bool OverRead() const { return false; }

    FILE* m_file = nullptr;
    CConfigFileReader m_reader;
    bool m_headerDelivered = false;
    int32_t m_depth = 0;
    int32_t m_fileSize = 0;
    int32_t m_bytesReported = 0;
    CConfigTextWriter m_out;

private:
    // Both header records are filled by the same steps; only the field widths differ.
    template <typename Record>
    int ReadHeaderUnguarded(Record* headerData);
    int ProcessFileUnguarded(int operation, char* destPath, char* destName);
    int PackFilesUnguarded(char* packedFile, char* subPath, char* srcPath, char* addList, int flags);
};

// The entry's name: the file name with its extension replaced by cpp, as a new string
// (freed with std::free); null when memory runs out.
char* MakeConfigEntryName(const char* arcName);
