#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "config/config_encoder.h"
#include "settings/settings_store.h"
#include "tests/support/config_decode.h"
#include "tests/support/config_samples.h"
#include "tests/support/config_shapes.h"
#include "tests/support/config_text.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace cfg;

ConfigLayout LayoutOf(bool tesk) { return tesk ? ConfigLayout::kTesk : ConfigLayout::kKyr; }

// Encodes text; on refusal the bytes are empty and the error says why.
Bytes Encode(const std::string& text, bool tesk, ConfigTextError* error = nullptr) {
    std::vector<uint8_t> out;
    ConfigTextError unused;
    if (!EncodeConfigText(text.data(), text.size(), LayoutOf(tesk), &out, error ? error : &unused)) return {};
    return out;
}

std::string Decode(const Bytes& bytes, bool tesk) {
    DecodeRun run = ExtractConfig(tesk ? Variant::kTesk : Variant::kKyr, bytes);
    EXPECT_EQ(run.processResult, 0);
    return run.text;
}

ConfigDescription Root(std::vector<Entry> entries, std::vector<Constant> constants = {}) {
    ConfigDescription c;
    c.root.entries = std::move(entries);
    c.constants = std::move(constants);
    return c;
}

float FromBits(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Binary to text to binary, and text to binary to text, with comments on and off.
void ExpectRoundTrips(const ConfigDescription& config, bool tesk) {
    Bytes file = EncodedConfig(config, tesk);
    for (bool comments : {true, false}) {
        SCOPED_TRACE(comments ? "comments on" : "comments off");
        PluginSettings.WriteCppComments = comments;
        std::string text = Decode(file, tesk);
        EXPECT_EQ(text, ConfigText(config, tesk, comments));
        ConfigTextError error;
        Bytes again = Encode(text, tesk, &error);
        EXPECT_EQ(ToHex(again), ToHex(file)) << error.line << ":" << error.column << " " << error.message;
        EXPECT_EQ(Decode(again, tesk), text);
    }
}

class ConfigEncode : public ::testing::Test {
protected:
    void SetUp() override { ResetSettingsToDefaults(); }
    void TearDown() override { ResetSettingsToDefaults(); }
};

TEST_F(ConfigEncode, ShapesOfRealFilesRoundTripInBothLayouts) {
    for (bool tesk : {true, false}) {
        std::vector<NamedConfig> shapes = RealWorldShapes(tesk);
        shapes.push_back({"sample", SampleConfig()});
        shapes.push_back({"generated", GeneratedConfig(20)});
        if (tesk) shapes.push_back({"worked example", WorkedExample()});
        for (const NamedConfig& shape : shapes) {
            SCOPED_TRACE(std::string(tesk ? "tesk " : "kyr ") + shape.name);
            ExpectRoundTrips(shape.config, tesk);
        }
    }
}

TEST_F(ConfigEncode, FloatsOfEveryKindAndStringsOfEveryByteRoundTrip) {
    std::vector<Element> floats;
    for (float f : {0.0f, -0.0f, FLT_TRUE_MIN, -FLT_TRUE_MIN, FromBits(0x007FFFFF), FLT_MIN, FLT_MAX, -FLT_MAX,
                    -0.00143862f, 0.1f, 1.5f, 100000000.25f, 16777217.0f, 1e-7f, 123456.789f,
                    std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                    std::numeric_limits<float>::quiet_NaN()})
        floats.push_back(Flt(f));
    // Finite bit patterns spread over the whole range, signs and exponents alike.
    uint32_t bits = 12345;
    for (int i = 0; i < 3000; ++i) {
        bits = bits * 1664525u + 1013904223u;
        if (std::isfinite(FromBits(bits))) floats.push_back(Flt(FromBits(bits)));
    }
    std::string everyByte;
    for (int c = 1; c < 256; ++c) everyByte += static_cast<char>(c);
    std::vector<Entry> entries;
    for (size_t i = 0; i < floats.size(); ++i) entries.push_back(FloatValue("f" + std::to_string(i), floats[i].f));
    ConfigDescription config = Root({StringValue("bytes", everyByte), ClassEntry("Floats", "", std::move(entries)),
                                     ArrayEntry("list", {Arr(floats), Str(everyByte), Str("\"\""), Str("")})});
    for (bool tesk : {true, false}) {
        SCOPED_TRACE(tesk ? "tesk" : "kyr");
        ExpectRoundTrips(config, tesk);
    }
}

// Forms that hands write, each with what it means.
TEST_F(ConfigEncode, HandWrittenForms) {
    struct Case {
        const char* what;
        std::string text;
        ConfigDescription meaning;
        bool kyrToo;
    } cases[] = {
        {"LF line ends, no spaces", "a=1;b[]={};\n", Root({IntValue("a", 1), ArrayEntry("b", {})}), true},
        {"CR LF and tabs", "\ta =\t1 ;\r\n\r\n", Root({IntValue("a", 1)}), true},
        {"comments everywhere", "// x\r\na /* y */ = /**/ 1; // z\r\n/* a\r\nb */", Root({IntValue("a", 1)}), true},
        {"class without entries, one line", "class A{};class B : A {};",
         Root({ClassEntry("A", "", {}), ClassEntry("B", "A", {})}), true},
        {"nested classes", "class A:B{class C{x=2;};y=3;};",
         Root({ClassEntry("A", "B", {ClassEntry("C", "", {IntValue("x", 2)}), IntValue("y", 3)})}), true},
        {"external class and delete", "class X;\ndelete y;", Root({ExternalClass("X"), DeleteEntry("y")}), false},
        {"keywords as names", "class = 1; delete[] = {2};", Root({IntValue("class", 1), ArrayEntry("delete", {Num(2)})}),
         true},
        {"nested and empty arrays", "a[] = {{}, {1, {2}}, 3};",
         Root({ArrayEntry("a", {Arr({}), Arr({Num(1), Arr({Num(2)})}), Num(3)})}), true},
        {"strings: doubled quotes, line break, empty", "s = \"a\"\"b\r\nc\"; t = \"\";",
         Root({StringValue("s", "a\"b\r\nc"), StringValue("t", "")}), true},
        {"integers", "a[] = {0x1F, 0XFFFFFFFF, -0x80000000, +7, -2147483648, 2147483647};",
         Root({ArrayEntry("a", {Num(31), Num(-1), Num(INT32_MIN), Num(7), Num(INT32_MIN), Num(INT32_MAX)})}), true},
        {"floats", "a[] = {1.5, -2e3, 1E-2, .5, 3., 1e-45, inf, -inf};",
         Root({ArrayEntry("a", {Flt(1.5f), Flt(-2000.0f), Flt(0.01f), Flt(0.5f), Flt(3.0f), Flt(FLT_TRUE_MIN),
                                Flt(std::numeric_limits<float>::infinity()),
                                Flt(-std::numeric_limits<float>::infinity())})}),
         true},
        {"defines anywhere, hexadecimal", "#define A 1\r\nx = 1;\r\n  #define B\t0x10 // sixteen\r\n",
         Root({IntValue("x", 1)}, {{"A", 1}, {"B", 16}}), true},
        {"names in another code page", "\xE4nderung = \"\xFC\";", Root({StringValue("\xE4nderung", "\xFC")}), true},
        {"empty text", "", Root({}), true},
    };
    for (const Case& c : cases) {
        for (bool tesk : {true, false}) {
            if (!tesk && !c.kyrToo) continue;
            SCOPED_TRACE(std::string(c.what) + (tesk ? " (tesk)" : " (kyr)"));
            ConfigTextError error;
            EXPECT_EQ(ToHex(Encode(c.text, tesk, &error)), ToHex(EncodedConfig(c.meaning, tesk)))
                << error.line << ":" << error.column << " " << error.message;
        }
    }
}

TEST_F(ConfigEncode, RefusalsSayWhere) {
    struct Case {
        std::string text;
        bool tesk;
        int line, column;
        const char* message; // a part of it
    } cases[] = {
        {"class A\r\n{\r\n\tclass X;\r\n};", false, 3, 2, "no external classes"},
        {"delete y;", false, 1, 1, "no delete entries"},
        {"= 1;", true, 1, 1, "expected an entry"},
        {"class {};", true, 1, 7, "expected a class name"},
        {"class A : {};", true, 1, 11, "base class name"},
        {"a[] = {\"x\" 1};", true, 1, 12, "expected ',' or '}'"},
        {"a = 2147483648;", true, 1, 5, "out of range"},
        {"a = -2147483649;", true, 1, 5, "out of range"},
        {"a = 0x100000000;", true, 1, 5, "out of range"},
        {"a = 1e39;", true, 1, 5, "float range"},
        {"a = 1.2.3;", true, 1, 5, "not a number"},
        {"class A\n{\n\tx = 1;\n", true, 2, 1, "unclosed block"},
        {"a[] =\n\t{1,\n", false, 2, 2, "unclosed block"},
        {"};", true, 1, 1, "closes no block"},
        {"s = \"abc;\n", true, 1, 5, "unclosed string"},
        {std::string("s = \"a\0b\";", 10), true, 1, 7, "zero byte"},
        {"/* open", true, 1, 1, "unclosed comment"},
        {"a = red;", true, 1, 5, "double quotes"},
        {"a = MAX;\n#define MAX 1", true, 1, 5, "double quotes"},
        {"x = 1;\n#include \"other.hpp\"", true, 2, 1, "'#include' is not supported"},
        {"#define TWICE(x) x*2", true, 1, 9, "macros"},
        {"#define NAME \"text\"", true, 1, 14, "integer value"},
        {"#define A 1 2", true, 1, 13, "nothing more"},
        {"a = 1 # 2;", true, 1, 7, "must begin a line"},
        {"a = 1", true, 1, 6, "expected ';'"},
        {"class A {} x", true, 1, 12, "';' after the class"},
        {"class A : B;", true, 1, 12, "expected '{'"},
        {std::string(300, '\0').replace(0, 0, ""), true, 1, 1, "expected an entry"},
    };
    // Deeper than a decode follows: 257 nested classes.
    std::string deep;
    for (int i = 0; i <= kMaxConfigDepth; ++i) deep += "class C{";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ConfigTextError error;
        EXPECT_TRUE(Encode(c.text, c.tesk, &error).empty());
        EXPECT_EQ(error.line, c.line);
        EXPECT_EQ(error.column, c.column);
        EXPECT_NE(error.message.find(c.message), std::string::npos) << error.message;
    }
    ConfigTextError error;
    EXPECT_TRUE(Encode(deep, true, &error).empty());
    EXPECT_EQ(error.column, 8 * kMaxConfigDepth + 8);
    EXPECT_NE(error.message.find("nest more than"), std::string::npos) << error.message;
}

} // namespace
