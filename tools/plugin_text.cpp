#include "tools/plugin_text.h"

#include "common/unicode_text.h"
#include "platform/platform.h"

std::vector<WideChar> WideArg(const std::string& s) {
    std::u16string wide = Utf8ToUtf16(s.c_str());
    return std::vector<WideChar>(wide.c_str(), wide.c_str() + wide.size() + 1);
}

bool AnsiArg(const std::string& s, std::vector<char>* out) {
    std::string ansi;
    if (!platform::ToArchiveText(s, &ansi)) return false;
    out->assign(ansi.begin(), ansi.end());
    out->push_back(0);
    return true;
}

int ForwardWideText(tProcessDataProc to, WideChar* text, int count) {
    if (!text) return to(nullptr, count);
    std::string utf8;
    if (!Utf16ToUtf8(text, &utf8)) utf8 = "?";
    return to(&utf8[0], count);
}
