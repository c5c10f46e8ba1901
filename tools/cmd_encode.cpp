#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "config/config_encoder.h"
#include "platform/platform.h"
#include "tools/host.h"

namespace {

const char kEncodeHelp[] =
    "Encodes configuration text, as decode writes it or edited by hand, into a binarized\n"
    "configuration file. The text may use any spacing and line ends, // and /* */\n"
    "comments, '#define NAME integer' lines, classes with or without a base, 'class X;'\n"
    "and (second game only) 'delete X;'. Strings are written in double quotes, a quote\n"
    "inside one doubled; integers in decimal or hexadecimal (0x...); floats with a point or\n"
    "an exponent, or inf, -inf, nan.\n"
    "\n"
    "options:\n"
    "  -o OUT, --output OUT  write the file to OUT (default: standard output); OUT is\n"
    "                        written only when the whole text was accepted\n"
    "  --layout tesk|kyr     the second game's layout (tesk, the default) or the first's\n"
    "\n"
    "Text that the layout cannot hold gives 12 with the line and column, and writes\n"
    "nothing. The same encoder runs when the file manager packs an edited entry back into\n"
    "its configuration file (or kyrzbk pack CONFIG DIR NAME), which shows only the code:\n"
    "run encode on the text to see where it went wrong.\n"
    "\n"
    "examples:\n"
    "  kyrzbk encode config.cpp -o config.bin\n"
    "  kyrzbk encode kyr_config.cpp --layout kyr -o kyr_config.bin\n";

int WriteBytes(FILE* f, const std::vector<uint8_t>& bytes) {
    return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() ? 0 : E_EWRITE;
}

int Encode(HostContext&, const std::vector<std::string>& args) {
    std::string textPath, out, layoutName = "tesk";
    bool haveOut = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" || args[i] == "--output") {
            if (i + 1 >= args.size()) return UsageError("encode: -o needs a file name");
            out = args[++i];
            haveOut = true;
        } else if (args[i] == "--layout") {
            if (i + 1 >= args.size()) return UsageError("encode: --layout needs tesk or kyr");
            layoutName = args[++i];
        } else if (textPath.empty() && !args[i].empty() && args[i][0] != '-') {
            textPath = args[i];
        } else {
            return UsageError("encode: unexpected argument " + args[i]);
        }
    }
    if (textPath.empty()) return UsageError("encode: no text file given");
    if (layoutName != "tesk" && layoutName != "kyr") return UsageError("encode: --layout is tesk or kyr");
    ConfigLayout layout = layoutName == "kyr" ? ConfigLayout::kKyr : ConfigLayout::kTesk;

    std::vector<char> text;
    if (int r = ReadWholeFile(textPath.c_str(), &text)) return ReportFailure(textPath, r);
    std::vector<uint8_t> bytes;
    ConfigTextError error;
    bool encoded = false;
    try {
        encoded = EncodeConfigText(text.data(), text.size(), layout, &bytes, &error);
    } catch (const std::bad_alloc&) {
        return ReportFailure(textPath, E_NO_MEMORY);
    }
    if (!encoded) {
        std::fprintf(stderr, "kyrzbk: %s:%d:%d: %s\n", textPath.c_str(), error.line, error.column,
                     error.message.c_str());
        return ReportFailure(textPath, E_BAD_DATA);
    }
    if (!haveOut) {
        int r = WriteBytes(stdout, bytes);
        if (std::fflush(stdout) != 0 && r == 0) r = E_EWRITE;
        return r ? ReportFailure("standard output", r) : 0;
    }
    FILE* f = platform::OpenFile(out.c_str(), "wb");
    if (!f) return ReportFailure(out, E_ECREATE);
    int r = WriteBytes(f, bytes);
    if (std::fclose(f) != 0 && r == 0) r = E_EWRITE;
    return r ? ReportFailure(out, r) : 0;
}

HostCommandRegistration registration({65, "encode", "TEXT [-o OUT] [--layout tesk|kyr]",
                                      "encode configuration text into a binarized configuration file", Encode,
                                      kEncodeHelp});

} // namespace
