#include "common/replacement_file.h"

#include "common/file_io.h"
#include "common/string_utils.h"
#include "platform/platform.h"

namespace {
constexpr size_t kMaxBorrowedName = 40;
} // namespace

std::string FolderOf(const std::string& path) {
    size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

ReplacementFile::ReplacementFile(const std::string& targetPath) : m_target(targetPath) {}

ReplacementFile::~ReplacementFile() { Discard(); }

bool ReplacementFile::Create() {
    const char* name = FindFileName(m_target.c_str());
    std::string prefix = name && *name ? name : "kyrzbk";
    if (!prefix.empty() && platform::IsSeparator(prefix.back())) prefix.pop_back();
    // The temporary name adds a few dozen bytes to the target's, which may already be as
    // long as names go: a long one lends only its first ASCII bytes, which cut nowhere
    // inside a character whatever the code page.
    if (prefix.size() > kMaxBorrowedName) {
        size_t ascii = 0;
        while (ascii < kMaxBorrowedName && static_cast<unsigned char>(prefix[ascii]) < 0x80) ++ascii;
        prefix = ascii > 0 ? prefix.substr(0, ascii) : "kyrzbk";
    }
    m_file = platform::CreateUniqueFile(FolderOf(m_target), "~" + prefix, &m_tempPath);
    // Rebuilding an archive of many small entries should not cost a system call per entry.
    if (m_file) m_buffer = GiveWriteBuffer(m_file);
    return m_file != nullptr;
}

bool ReplacementFile::Commit() {
    if (!m_file) return false;
    bool closed = CloseWritten(m_file);
    m_file = nullptr;
    if (!closed || !ReplaceFile(m_tempPath.c_str(), m_target.c_str())) {
        Discard();
        return false;
    }
    m_tempPath.clear();
    return true;
}

void ReplacementFile::Discard() {
    if (m_file) std::fclose(m_file);
    m_file = nullptr;
    if (!m_tempPath.empty()) platform::DeleteFileAt(m_tempPath.c_str());
    m_tempPath.clear();
}
