#include <cstdio>
#include <filesystem>
#include <string>

#include "tools/archive_session.h"
#include "tools/host.h"
#include "tools/progress.h"

namespace {

const char kDecodeHelp[] =
    "Opens CONFIG through the plug-in in extract mode, as the file manager does, and\n"
    "extracts its one entry: the binarized configuration decoded to text, with CR LF line\n"
    "ends. Either game's layout is recognised by content. Comment lines follow the\n"
    "plug-in's WriteCppComments setting (see --ini).\n"
    "\n"
    "options:\n"
    "  -o OUT, --output OUT  write the text to OUT (default: standard output); OUT is\n"
    "                        written only when the decode succeeded\n"
    "\n"
    "A file that is no configuration gives 14, a damaged one 12.\n"
    "\n"
    "examples:\n"
    "  kyrzbk decode examples/tesk_config.bin\n"
    "  kyrzbk decode examples/kyr_config.bin -o kyr_config.cpp\n";

// Where the plug-in extracts to before the text is passed on; removed afterwards.
class ScratchFile {
public:
    ScratchFile() {
        std::error_code ec;
        std::string folder = std::filesystem::temp_directory_path(ec).u8string();
        if (FILE* f = platform::CreateUniqueFile(ec ? std::string() : folder, "kyrzbk-decode", &m_path))
            std::fclose(f);
    }
    ~ScratchFile() {
        if (!m_path.empty()) platform::DeleteFileAt(m_path.c_str());
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// Copies the file's bytes to the stream; the host result code of the first failure.
int CopyFile(const std::string& from, FILE* to) {
    FILE* in = platform::OpenFile(from.c_str(), "rb");
    if (!in) return E_EOPEN;
    char buffer[65536];
    int result = 0;
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) {
        if (std::fwrite(buffer, 1, n, to) != n) {
            result = E_EWRITE;
            break;
        }
    }
    if (result == 0 && std::ferror(in)) result = E_EREAD;
    std::fclose(in);
    return result;
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

int Extract(HostContext& ctx, const std::string& config, const std::string& scratch) {
    ArchiveSession session(*ctx.api, config, PK_OM_EXTRACT);
    if (int r = session.Open(HostProgress)) return r;
    tHeaderDataEx header;
    int r = session.NextHeader(&header);
    if (r == E_END_ARCHIVE) return E_UNKNOWN_FORMAT; // an archive without entries is no configuration
    if (r != 0) return r;
    // A configuration opens as exactly one entry named *.cpp; anything else is some other archive.
    if (!EndsWith(header.FileName, ".cpp")) return E_UNKNOWN_FORMAT;
    if (int e = session.Process(PK_EXTRACT, "", scratch)) return e;
    if (session.NextHeader(&header) != E_END_ARCHIVE) return E_UNKNOWN_FORMAT;
    return session.Close();
}

int Decode(HostContext& ctx, const std::vector<std::string>& args) {
    std::string config, out;
    bool haveOut = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" || args[i] == "--output") {
            if (i + 1 >= args.size()) return UsageError("decode: -o needs a file name");
            out = args[++i];
            haveOut = true;
        } else if (config.empty() && !args[i].empty() && args[i][0] != '-') {
            config = args[i];
        } else {
            return UsageError("decode: unexpected argument " + args[i]);
        }
    }
    if (config.empty()) return UsageError("decode: no configuration file given");

    ScratchFile scratch;
    if (scratch.Path().empty()) return ReportFailure("temporary file", E_ECREATE);
    int result = Extract(ctx, config, scratch.Path());
    FinishProgress();
    if (result != 0) return ReportFailure(config, result);

    if (!haveOut) {
        result = CopyFile(scratch.Path(), stdout);
        if (std::fflush(stdout) != 0 && result == 0) result = E_EWRITE;
        return result ? ReportFailure("standard output", result) : 0;
    }
    FILE* f = platform::OpenFile(out.c_str(), "wb");
    if (!f) return ReportFailure(out, E_ECREATE);
    result = CopyFile(scratch.Path(), f);
    if (std::fclose(f) != 0 && result == 0) result = E_EWRITE;
    return result ? ReportFailure(out, result) : 0;
}

HostCommandRegistration registration({60, "decode", "CONFIG [-o OUT]",
                                      "decode a binarized configuration file to text", Decode, kDecodeHelp});

} // namespace
