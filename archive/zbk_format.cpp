#include "archive/zbk_format.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "common/file_io.h"
#include "common/string_list.h"
#include "common/string_utils.h"
#include "frame/wcx.h"
#include "platform/platform.h"

namespace {

uint32_t ReadLE32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

void WriteLE32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

bool IsKnownMethod(uint32_t method) {
    return method == MethodStored || method == MethodCompressed || method == MethodVersion;
}

[[noreturn]] void Fail(int code) { throw code; }

} // namespace

ZbkEntry::~ZbkEntry() { std::free(name); }

uint32_t ZbkEntry::RecordSize() const {
    return static_cast<uint32_t>(name ? std::strlen(name) : 0) + kZbkRecordFixedBytes;
}

void ZbkEntry::ReadEntry(FILE* file) {
    try {
        std::free(name);
        name = ReadZString(file);
        if (!name) Fail(E_UNKNOWN_FORMAT);
        // Some packers wrote forward slashes; the archive convention is the backslash.
        for (char* p = name; *p; ++p)
            if (*p == '/') *p = '\\';
        unsigned char raw[20];
        if (std::fread(raw, 1, sizeof raw, file) != sizeof raw) Fail(E_UNKNOWN_FORMAT);
        packingMethod = ReadLE32(raw);
        uncompressedSize = ReadLE32(raw + 4);
        reserved = ReadLE32(raw + 8);
        timeStamp = ReadLE32(raw + 12);
        dataSize = ReadLE32(raw + 16);
    } catch (int) {
        throw;
    } catch (...) {
        Fail(E_BAD_DATA);
    }
}

int ZbkEntry::WriteEntry(FILE* file) const {
    if (!file) return E_EWRITE;
    size_t nameBytes = name ? std::strlen(name) + 1 : 1;
    if (!WriteFully(file, name ? name : "", nameBytes)) return E_EWRITE;
    unsigned char raw[20];
    WriteLE32(raw, packingMethod);
    WriteLE32(raw + 4, uncompressedSize);
    WriteLE32(raw + 8, reserved);
    WriteLE32(raw + 12, timeStamp);
    WriteLE32(raw + 16, dataSize);
    return WriteFully(file, raw, sizeof raw) ? E_SUCCESS : E_EWRITE;
}

void ZbkEntryList::LoadHeader(FILE* file) {
    if (!file) return;
    if (!platform::SeekFile(file, 0)) Fail(E_EREAD);
    signatureLength = 0;
    for (;;) {
        ZbkEntry* entry = new (std::nothrow) ZbkEntry();
        if (!entry) Fail(E_NO_MEMORY);
        bool isVersion = false;
        try {
            entry->ReadEntry(file);
            isVersion = entry->packingMethod == MethodVersion;
            // A signature record is only understood in first place; anywhere else its block
            // would be read with the wrong length, so such a header is refused outright.
            if (isVersion && count > 0) Fail(E_BAD_DATA);
            if (entry->HasName() && !IsKnownMethod(entry->packingMethod)) Fail(E_UNKNOWN_FORMAT);
        } catch (...) {
            delete entry;
            throw;
        }
        if (AddEntry(entry) < 0) {
            delete entry;
            Fail(E_NO_MEMORY);
        }
        if (isVersion) {
            ReadSignatureBlock(file);
        } else if (!entry->HasName()) {
            ShrinkToFit();
            return;
        }
    }
}

void ZbkEntryList::ReadSignatureBlock(FILE* file) {
    int64_t start = platform::TellFile(file);
    if (start < 0) Fail(E_EREAD);
    int32_t length = 0;
    int previous = 1;
    for (;;) {
        int c = std::fgetc(file);
        if (c == EOF) Fail(E_UNKNOWN_FORMAT);
        ++length;
        // The block is a multi-string: it ends at the empty string, or at once when empty.
        if (c == 0 && (length == 1 || previous == 0)) break;
        previous = c;
    }
    signatureLength = length;
    headerSize += static_cast<uint32_t>(length);
    std::free(signatureBlock);
    signatureBlock = static_cast<char*>(std::malloc(static_cast<size_t>(length)));
    if (!signatureBlock) Fail(E_NO_MEMORY);
    if (!platform::SeekFile(file, start) ||
        std::fread(signatureBlock, 1, static_cast<size_t>(length), file) != static_cast<size_t>(length))
        Fail(E_EREAD);
}

int ZbkEntryList::SaveHeader(FILE* file) const {
    if (!file) return E_EWRITE;
    if (count == 0) return E_SUCCESS;
    if (!platform::SeekFile(file, 0)) return E_EWRITE;
    for (int32_t i = 0; i < count; ++i) {
        int result = entries[i]->WriteEntry(file);
        if (result != E_SUCCESS) return result;
        if (i == 0 && hasSignature && signatureLength > 0) {
            if (!signatureBlock || !WriteFully(file, signatureBlock, static_cast<size_t>(signatureLength)))
                return E_EWRITE;
        }
    }
    return E_SUCCESS;
}

int ZbkEntryList::AddEntry(ZbkEntry* entry) {
    if (!entry || count == INT32_MAX || ReserveEntries(count + 1) != E_SUCCESS) return -1;
    entries[count] = entry;
    headerSize += entry->RecordSize();
    if (count == 0 && entry->packingMethod == MethodVersion) hasSignature = true;
    return count++;
}

int ZbkEntryList::ReserveEntries(int n) {
    if (capacity >= n) return E_SUCCESS;
    int64_t wanted = !entries ? (n > 4 ? n : 4) : (n > 2 * static_cast<int64_t>(capacity) ? n : 2 * static_cast<int64_t>(capacity));
    if (wanted > INT32_MAX || static_cast<uint64_t>(wanted) > SIZE_MAX / sizeof(ZbkEntry*)) return E_NO_MEMORY;
    auto* grown = static_cast<ZbkEntry**>(std::realloc(entries, static_cast<size_t>(wanted) * sizeof(ZbkEntry*)));
    if (!grown) return E_NO_MEMORY;
    std::memset(grown + capacity, 0, static_cast<size_t>(wanted - capacity) * sizeof(ZbkEntry*));
    entries = grown;
    capacity = static_cast<int32_t>(wanted);
    return E_SUCCESS;
}

void ZbkEntryList::ShrinkToFit() {
    if (capacity == count || count == 0) return;
    auto* shrunk = static_cast<ZbkEntry**>(std::realloc(entries, static_cast<size_t>(count) * sizeof(ZbkEntry*)));
    if (!shrunk) return;
    entries = shrunk;
    capacity = count;
}

ZbkEntry* ZbkEntryList::EntryAt(int i) {
    if (i < 0 || i >= count) return nullptr;
    current = i;
    return entries[i];
}

ZbkEntry* ZbkEntryList::FindEntry(const char* name) {
    if (!name || count == 0) return nullptr;
    int start = current >= 0 && current < count ? current : 0;
    for (int step = 0; step < count; ++step) {
        int i = (start + step) % count;
        const ZbkEntry* e = entries[i];
        if (e->HasName() && platform::CompareNoCase(e->name, name) == 0) {
            current = i;
            return entries[i];
        }
    }
    return nullptr;
}

int64_t ZbkEntryList::DataOffset(int i) const {
    if (i < FirstFileIndex() || i >= count - 1) return -1;
    int64_t offset = headerSize;
    for (int k = FirstFileIndex(); k < i; ++k) offset += entries[k]->dataSize;
    return offset;
}

uint64_t ZbkEntryList::TotalDataSize() const {
    uint64_t total = 0;
    for (int k = FirstFileIndex(); k < count - 1; ++k) total += entries[k]->dataSize;
    return total;
}

void ZbkEntryList::SetSignatureBlock(const StringList* list) {
    if (!list) return;
    std::free(signatureBlock);
    signatureBlock = nullptr;
    signatureLength = list->size;
    if (!list->buffer || list->size < 1) return;
    signatureBlock = static_cast<char*>(std::malloc(static_cast<size_t>(list->size)));
    if (signatureBlock) std::memcpy(signatureBlock, list->buffer, static_cast<size_t>(list->size));
}

bool ZbkEntryList::CopySignatureBlock(const ZbkEntryList& from) {
    std::free(signatureBlock);
    signatureBlock = nullptr;
    signatureLength = 0;
    if (!from.signatureBlock || from.signatureLength < 1) return true;
    signatureBlock = static_cast<char*>(std::malloc(static_cast<size_t>(from.signatureLength)));
    if (!signatureBlock) return false;
    std::memcpy(signatureBlock, from.signatureBlock, static_cast<size_t>(from.signatureLength));
    signatureLength = from.signatureLength;
    return true;
}

StringList* ZbkEntryList::SignatureStrings() const {
    if (!signatureBlock || signatureLength < 1) return nullptr;
    // Walk within the block first: a block that does not end in its empty string is not read past its end.
    const char* p = signatureBlock;
    const char* end = signatureBlock + signatureLength;
    while (p < end && *p) {
        const void* zero = std::memchr(p, 0, static_cast<size_t>(end - p));
        if (!zero) return nullptr;
        p = static_cast<const char*>(zero) + 1;
    }
    if (p >= end) return nullptr;
    try {
        return new (std::nothrow) StringList(signatureBlock);
    } catch (...) {
        return nullptr;
    }
}

void ZbkEntryList::ClearEntries() {
    for (int32_t i = 0; i < count; ++i) delete entries[i];
    std::free(entries);
    std::free(signatureBlock);
    entries = nullptr;
    count = 0;
    capacity = 0;
    headerSize = 0;
    current = 0;
    hasSignature = false;
    signatureBlock = nullptr;
    signatureLength = 0;
}
