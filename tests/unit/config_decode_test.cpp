#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "config/config_bin_manager.h"
#include "settings/settings_store.h"
#include "tests/support/config_decode.h"
#include "tests/support/config_samples.h"
#include "tests/support/config_shapes.h"
#include "tests/support/config_text.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace cfg;

const char* Name(Variant v) { return v == Variant::kTesk ? "tesk" : "kyr"; }

Bytes Write(Variant v, const ConfigDescription& c) { return v == Variant::kTesk ? WriteTeskConfig(c) : WriteKyrConfig(c); }

ConfigDescription Root(std::vector<Entry> entries) {
    ConfigDescription c;
    c.root.entries = std::move(entries);
    return c;
}

class ConfigDecode : public ::testing::Test {
protected:
    void SetUp() override { ResetSettingsToDefaults(); }
    void TearDown() override { ResetSettingsToDefaults(); }
};

TEST_F(ConfigDecode, WorkedExampleWithAndWithoutComments) {
    for (bool comments : {true, false}) {
        SCOPED_TRACE(comments ? "comments on" : "comments off");
        PluginSettings.WriteCppComments = comments;
        DecodeRun run = ExtractConfig(Variant::kTesk, WriteTeskConfig(WorkedExample()));
        ASSERT_EQ(run.processResult, 0);
        EXPECT_EQ(run.text, WorkedExampleText(comments));
    }
}

TEST_F(ConfigDecode, MinimalFilesOfBothLayouts) {
    // The smallest useful files: one i32 value a = 5 at the root.
    const ConfigDescription c = Root({IntValue("a", 5)});
    const Bytes tesk = Hex("00 72 61 50  00 00 00 00  08 00 00 00  1A 00 00 00  00 01  01 02  61 00  05 00 00 00"
                           "00 00 00 00");
    const Bytes kyr = Hex("00 72 61 50  04 00 00 00  00 00  00 01  01 02  01 61 00  05 00 00 00");
    EXPECT_EQ(ToHex(WriteTeskConfig(c)), ToHex(tesk));
    EXPECT_EQ(ToHex(WriteKyrConfig(c)), ToHex(kyr));
    for (bool comments : {true, false}) {
        PluginSettings.WriteCppComments = comments;
        std::string expected = comments ? "//implementation\r\n\r\na = 5;\r\n" : "a = 5;\r\n";
        for (Variant v : {Variant::kTesk, Variant::kKyr}) {
            SCOPED_TRACE(std::string(Name(v)) + (comments ? " comments on" : " comments off"));
            DecodeRun run = ExtractConfig(v, v == Variant::kTesk ? tesk : kyr);
            ASSERT_EQ(run.processResult, 0);
            EXPECT_EQ(run.text, expected);
        }
    }
}

TEST_F(ConfigDecode, ScalarAndStringForms) {
    struct Case {
        Entry entry;
        const char* line;
    } cases[] = {
        {IntValue("n", -7), "n = -7;"},
        {IntValue("n", std::numeric_limits<int32_t>::min()), "n = -2147483648;"},
        {FloatValue("f", 1.5f), "f = 1.500000;"},
        {FloatValue("f", 0.1f), "f = 0.100000;"},
        {FloatValue("f", 100000000.25f), "f = 100000000.000000;"},
        // Six decimals only where they read back as the same float.
        {FloatValue("f", -0.0f), "f = -0.000000;"},
        {FloatValue("f", -0.0000001f), "f = -1e-07;"},
        {FloatValue("f", -0.00143862f), "f = -0.00143862;"},
        {FloatValue("f", 1e-45f), "f = 1e-45;"},
        {FloatValue("f", 3.4028235e38f), "f = 340282346638528859811704183484516925440.000000;"},
        {FloatValue("f", std::numeric_limits<float>::infinity()), "f = inf;"},
        {FloatValue("f", -std::numeric_limits<float>::infinity()), "f = -inf;"},
        {FloatValue("f", std::numeric_limits<float>::quiet_NaN()), "f = nan;"},
        {StringValue("s", ""), "s = \"\";"},
        {StringValue("s", "a\"b"), "s = \"a\"\"b\";"},
        {StringValue("s", "\"\""), "s = \"\"\"\"\"\";"},
    };
    PluginSettings.WriteCppComments = false;
    for (Variant v : {Variant::kTesk, Variant::kKyr}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(Name(v)) + " " + c.line);
            DecodeRun run = ExtractConfig(v, Write(v, Root({c.entry})));
            ASSERT_EQ(run.processResult, 0);
            EXPECT_EQ(run.text, std::string(c.line) + "\r\n");
        }
    }
}

TEST_F(ConfigDecode, ArrayForms) {
    struct Case {
        const char* what;
        std::vector<Element> elements;
        const char* text; // comments on
    } cases[] = {
        {"empty", {}, "list[] = \r\n{\r\n};//array list[0]\r\n"},
        {"nested last", {Num(1), Arr({Num(2)})}, "list[] = \r\n{\r\n\t1,\r\n\t\r\n\t{\r\n\t\t2\r\n\t}\r\n};//array list[2]\r\n"},
        {"nested first", {Arr({}), Str("x\"y")}, "list[] = \r\n{\r\n\t\r\n\t{\r\n\t},\r\n\t\"x\"\"y\"\r\n};//array list[2]\r\n"},
    };
    for (Variant v : {Variant::kTesk, Variant::kKyr}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(Name(v)) + " " + c.what);
            DecodeRun run = ExtractConfig(v, Write(v, Root({ArrayEntry("list", c.elements)})));
            ASSERT_EQ(run.processResult, 0);
            EXPECT_EQ(run.text, std::string("//implementation\r\n\r\n") + c.text);
        }
    }
}

TEST_F(ConfigDecode, ClassesWithoutEntriesDifferByLayout) {
    struct Case {
        Variant variant;
        Entry entry;
        bool comments;
        const char* text;
    } cases[] = {
        {Variant::kKyr, ClassEntry("A", "B", {}), true, "class A : B{};//prototype class\r\n"},
        {Variant::kKyr, ClassEntry("A", "", {}), true, "class A{};//abstract class\r\n"},
        {Variant::kKyr, ClassEntry("A", "B", {}), false, "class A : B{};\r\n"},
        {Variant::kTesk, ClassEntry("A", "B", {}), true, "class A : B\r\n{\r\n};//class A\r\n"},
        {Variant::kTesk, ClassEntry("A", "", {}), false, "class A\r\n{\r\n};\r\n"},
        {Variant::kTesk, ClassEntry("", "", {}), false, "class \r\n{\r\n};\r\n"},
        {Variant::kTesk, ExternalClass("X"), true, "class X;//abstract class\r\n"},
        {Variant::kTesk, ExternalClass("X"), false, "class X;\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(Name(c.variant)) + " " + c.text);
        PluginSettings.WriteCppComments = c.comments;
        DecodeRun run = ExtractConfig(c.variant, Write(c.variant, Root({c.entry})));
        ASSERT_EQ(run.processResult, 0);
        EXPECT_EQ(run.text, (c.comments ? std::string("//implementation\r\n\r\n") : std::string()) + c.text);
    }
}

TEST_F(ConfigDecode, NestedClassesIndentAndCloseWithTheirNames) {
    ConfigDescription c = Root({ClassEntry("Outer", "", {ClassEntry("Inner", "Base", {IntValue("x", 1)}), IntValue("y", 2)})});
    const std::string expected = "//implementation\r\n\r\n"
                                 "class Outer\r\n{\r\n"
                                 "\tclass Inner : Base\r\n\t{\r\n\t\tx = 1;\r\n\t};//class Inner\r\n"
                                 "\ty = 2;\r\n"
                                 "};//class Outer\r\n";
    for (Variant v : {Variant::kTesk, Variant::kKyr}) {
        SCOPED_TRACE(Name(v));
        DecodeRun run = ExtractConfig(v, Write(v, c));
        ASSERT_EQ(run.processResult, 0);
        EXPECT_EQ(run.text, expected);
    }
}

TEST_F(ConfigDecode, TeskBodiesMayLieAnywhere) {
    ConfigDescription c = SampleConfig();
    c.root.entries.push_back(ClassEntry("Late", "", {ClassEntry("Deeper", "", {IntValue("z", 9), DeleteEntry("y")})}));
    DecodeRun reference = ExtractConfig(Variant::kTesk, WriteTeskConfig(c));
    ASSERT_EQ(reference.processResult, 0);
    struct Case {
        const char* what;
        TeskLayout layout;
    } cases[4];
    cases[0] = {"reversed", {}};
    cases[0].layout.order = BodyOrder::kReversed;
    cases[1] = {"bodies before their entries", {}};
    cases[1].layout.order = BodyOrder::kBeforeRoot;
    cases[2] = {"constants first", {}};
    cases[2].layout.constantsFirst = true;
    cases[3] = {"body distance not 8", {}};
    cases[3].layout.extraDistance = 5;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        DecodeRun run = ExtractConfig(Variant::kTesk, WriteTeskConfig(c, k.layout));
        ASSERT_EQ(run.processResult, 0);
        EXPECT_EQ(run.text, reference.text);
    }
}

TEST_F(ConfigDecode, ConstantsSection) {
    struct Case {
        const char* what;
        std::vector<Constant> constants;
        bool comments;
        const char* head;
    } cases[] = {
        {"two", {{"A", 1}, {"B", -2}}, true, "//constant definitions\r\n\r\n#define A\t1\r\n#define B\t-2\r\n\r\n"},
        {"empty name skipped", {{"", 1}, {"B", 2}}, true, "//constant definitions\r\n\r\n#define B\t2\r\n\r\n"},
        {"only empty names", {{"", 1}}, true, "//constant definitions\r\n\r\n\r\n"},
        {"comments off", {{"A", 1}}, false, "#define A\t1\r\n\r\n"},
        {"none", {}, true, ""},
    };
    for (Variant v : {Variant::kTesk, Variant::kKyr}) {
        for (const Case& k : cases) {
            SCOPED_TRACE(std::string(Name(v)) + " " + k.what);
            PluginSettings.WriteCppComments = k.comments;
            ConfigDescription c = Root({IntValue("a", 5)});
            c.constants = k.constants;
            KyrLayout kyr;
            kyr.withConstants = true;
            DecodeRun run = ExtractConfig(v, v == Variant::kTesk ? WriteTeskConfig(c) : WriteKyrConfig(c, kyr));
            ASSERT_EQ(run.processResult, 0);
            EXPECT_EQ(run.text, std::string(k.head) + (k.comments ? "//implementation\r\n\r\n" : "") + "a = 5;\r\n");
        }
    }
}

TEST_F(ConfigDecode, TeskDeleteEntryAsFoundInRealFiles) {
    // Type 4, then the name: "delete a;".
    const Bytes minimal = Hex("00 72 61 50  00 00 00 00  08 00 00 00  15 00 00 00  00 01  04 61 00  00 00 00 00");
    EXPECT_EQ(ToHex(WriteTeskConfig(Root({DeleteEntry("a")}))), ToHex(minimal));
    PluginSettings.WriteCppComments = false;
    DecodeRun run = ExtractConfig(Variant::kTesk, minimal);
    ASSERT_EQ(run.processResult, 0);
    EXPECT_EQ(run.text, "delete a;\r\n");

    PluginSettings.WriteCppComments = true;
    ConfigDescription c = Root({ClassEntry(
        "Ui", "",
        {ClassEntry("Screens", "",
                    {ClassEntry("Panel", "BasePanel",
                                {DeleteEntry("Title"), DeleteEntry("Footer"), DeleteEntry("Border"),
                                 StringValue("caption", "Main")})})})});
    run = ExtractConfig(Variant::kTesk, WriteTeskConfig(c));
    ASSERT_EQ(run.processResult, 0);
    EXPECT_EQ(run.text, "//implementation\r\n\r\n"
                        "class Ui\r\n"
                        "{\r\n"
                        "\tclass Screens\r\n"
                        "\t{\r\n"
                        "\t\tclass Panel : BasePanel\r\n"
                        "\t\t{\r\n"
                        "\t\t\tdelete Title;\r\n"
                        "\t\t\tdelete Footer;\r\n"
                        "\t\t\tdelete Border;\r\n"
                        "\t\t\tcaption = \"Main\";\r\n"
                        "\t\t};//class Panel\r\n"
                        "\t};//class Screens\r\n"
                        "};//class Ui\r\n");
}

TEST_F(ConfigDecode, TeskDeleteEntriesWhereverTheyStand) {
    struct Case {
        const char* what;
        std::vector<Entry> entries;
        const char* text; // comments on, after the implementation heading
    } cases[] = {
        {"at the root", {DeleteEntry("a"), IntValue("b", 1), DeleteEntry("c")}, "delete a;\r\nb = 1;\r\ndelete c;\r\n"},
        {"last entry of a class",
         {ClassEntry("C", "B", {IntValue("x", 1), DeleteEntry("y")}), IntValue("z", 2)},
         "class C : B\r\n{\r\n\tx = 1;\r\n\tdelete y;\r\n};//class C\r\nz = 2;\r\n"},
        {"only entry of nested classes",
         {ClassEntry("O", "", {ClassEntry("I", "P", {DeleteEntry("d")}), DeleteEntry("e")})},
         "class O\r\n{\r\n\tclass I : P\r\n\t{\r\n\t\tdelete d;\r\n\t};//class I\r\n\tdelete e;\r\n};//class O\r\n"},
        {"between every other entry type",
         {ClassEntry("M", "",
                     {DeleteEntry("d1"), IntValue("i", -1), DeleteEntry("d2"), FloatValue("f", 0.5f), DeleteEntry("d3"),
                      StringValue("s", "q\""), DeleteEntry("d4"), ArrayEntry("a", {Num(1)}), DeleteEntry("d5"),
                      ClassEntry("K", "", {}), DeleteEntry("d6"), ExternalClass("E"), DeleteEntry("d7")})},
         "class M\r\n{\r\n\tdelete d1;\r\n\ti = -1;\r\n\tdelete d2;\r\n\tf = 0.500000;\r\n\tdelete d3;\r\n"
         "\ts = \"q\"\"\";\r\n\tdelete d4;\r\n\ta[] = \r\n\t{\r\n\t\t1\r\n\t};//array a[1]\r\n\tdelete d5;\r\n"
         "\tclass K\r\n\t{\r\n\t};//class K\r\n\tdelete d6;\r\n\tclass E;//abstract class\r\n\tdelete d7;\r\n"
         "};//class M\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DecodeRun run = ExtractConfig(Variant::kTesk, WriteTeskConfig(Root(c.entries)));
        ASSERT_EQ(run.processResult, 0);
        EXPECT_EQ(run.text, std::string("//implementation\r\n\r\n") + c.text);
        EXPECT_EQ(ListConfig(Variant::kTesk, WriteTeskConfig(Root(c.entries))).header.UnpSize,
                  static_cast<int>(run.text.size()));
    }
}

TEST_F(ConfigDecode, RealWorldShapesDecodeAsTheirTextIsWritten) {
    for (bool tesk : {true, false}) {
        Variant v = tesk ? Variant::kTesk : Variant::kKyr;
        for (const NamedConfig& shape : RealWorldShapes(tesk)) {
            for (bool comments : {true, false}) {
                SCOPED_TRACE(std::string(Name(v)) + " " + shape.name + (comments ? " comments on" : " comments off"));
                PluginSettings.WriteCppComments = comments;
                const std::string expected = ConfigText(shape.config, tesk, comments);
                Bytes bytes = WriteConfig(shape.config, tesk);
                DecodeRun run = ExtractConfig(v, bytes);
                ASSERT_EQ(run.processResult, 0);
                EXPECT_EQ(run.text, expected);
                EXPECT_EQ(ListConfig(v, bytes).header.UnpSize, static_cast<int>(expected.size()));
                // Every byte is reported by the decode itself, except the part of the header
                // that no class owns (the 16 header bytes and the root's base name).
                ASSERT_FALSE(run.progress.empty());
                EXPECT_EQ(run.progress.back().second, tesk ? 17 : 0);
                if (!tesk) continue;
                TeskLayout reversed;
                reversed.order = BodyOrder::kReversed;
                EXPECT_EQ(ExtractConfig(v, WriteTeskConfig(shape.config, reversed)).text, expected);
            }
        }
    }
}

TEST_F(ConfigDecode, KyrStringsAreStoredOnceAndReferredToByIndex) {
    ConfigDescription c = Root({StringValue("q", "re\"use"), StringValue("re\"use", "re\"use"),
                                ArrayEntry("q2", {Str("re\"use"), Str("q")})});
    Bytes bytes = WriteKyrConfig(c);
    std::string asText(bytes.begin(), bytes.end());
    EXPECT_EQ(asText.find("re\"use"), asText.rfind("re\"use")) << "stored inline once";
    PluginSettings.WriteCppComments = false;
    DecodeRun run = ExtractConfig(Variant::kKyr, bytes);
    ASSERT_EQ(run.processResult, 0);
    // Every string that enters the table has its quotes doubled, names included.
    EXPECT_EQ(run.text, "q = \"re\"\"use\";\r\nre\"\"use = \"re\"\"use\";\r\nq2[] = \r\n{\r\n\t\"re\"\"use\",\r\n\t\"q\"\r\n};\r\n");
}

TEST_F(ConfigDecode, TeskNamesAreWrittenAsRead) {
    PluginSettings.WriteCppComments = false;
    DecodeRun run = ExtractConfig(Variant::kTesk, WriteTeskConfig(Root({StringValue("we\"ird", "v\"")})));
    ASSERT_EQ(run.processResult, 0);
    EXPECT_EQ(run.text, "we\"ird = \"v\"\"\";\r\n");
}

// Nesting that is `levels` element blocks deep.
Element NestedArray(int levels) {
    Element e = Arr({Num(1)});
    for (int i = 1; i < levels; ++i) e = Arr({e});
    return e;
}

Entry NestedClasses(int levels) {
    Entry e = ClassEntry("C", "", {IntValue("v", 1)});
    for (int i = 1; i < levels; ++i) e = ClassEntry("C", "", {e});
    return e;
}

TEST_F(ConfigDecode, BadDataIsRefusedWithItsCode) {
    struct Case {
        const char* what;
        Variant variant;
        ConfigDescription config;
        int expected;
        size_t cut = 0; // bytes removed from the end
        KyrLayout kyr = {};
    };
    auto withSubtype = [](Entry e, int subtype) {
        e.valueSubtypeOverride = subtype;
        return e;
    };
    auto withCount = [](Entry e, int32_t count) {
        e.countOverride = count;
        return e;
    };
    ConfigDescription shortTeskBody = Root({IntValue("a", 5)});
    shortTeskBody.root.countOverride = 2;
    ConfigDescription shortKyrBody = shortTeskBody;
    KyrLayout badRoot;
    badRoot.rootBaseByte = 1;
    std::vector<Case> cases = {
        {"value subtype 3", Variant::kTesk, Root({withSubtype(IntValue("a", 1), 3)}), 12},
        {"value subtype 3", Variant::kKyr, Root({withSubtype(IntValue("a", 1), 3)}), 12},
        {"entry type 5", Variant::kTesk, Root({RawEntry({5, 'x', 0})}), 12},
        {"entry type 3", Variant::kKyr, Root({RawEntry({3, 1, 'x', 0})}), 12},
        {"entry type 4", Variant::kKyr, Root({RawEntry({4, 1, 'x', 0})}), 12},
        {"delete with an empty name", Variant::kTesk, Root({DeleteEntry("")}), 12},
        {"element type 4", Variant::kTesk, Root({ArrayEntry("l", {RawElement({4})})}), 12},
        {"element type 4", Variant::kKyr, Root({ArrayEntry("l", {RawElement({4})})}), 12},
        {"empty value name", Variant::kTesk, Root({IntValue("", 1)}), 12},
        {"empty value name", Variant::kKyr, Root({IntValue("", 1)}), 12},
        {"empty array name", Variant::kTesk, Root({ArrayEntry("", {})}), 12},
        {"empty array name", Variant::kKyr, Root({ArrayEntry("", {})}), 12},
        {"empty external class name", Variant::kTesk, Root({ExternalClass("")}), 12},
        {"empty class name", Variant::kKyr, Root({ClassEntry("", "", {})}), 12},
        {"continuation byte 0 in a count", Variant::kTesk, Root({RawEntry({2, 'l', 0, 0x85, 0x00})}), 12},
        {"continuation byte 0 in a count", Variant::kKyr, Root({RawEntry({2, 1, 'l', 0, 0x85, 0x00})}), 12},
        {"reference above the count", Variant::kKyr, Root({RawEntry({1, 2, 5})}), 12},
        // The four zero bytes of the constants table that follows read as four empty strings.
        {"array count beyond the elements", Variant::kTesk, Root({withCount(ArrayEntry("l", {Num(1)}), 10)}), 12},
        {"array count beyond the elements", Variant::kKyr, Root({withCount(ArrayEntry("l", {Num(1)}), 2)}), 12},
        {"entry count beyond the entries", Variant::kTesk, shortTeskBody, 12},
        {"entry count beyond the entries", Variant::kKyr, shortKyrBody, 12},
        {"root base byte not 0", Variant::kKyr, Root({}), 12, 0, badRoot},
        {"root base byte missing", Variant::kKyr, Root({}), 12, 2},
        {"short i32 value", Variant::kKyr, Root({IntValue("a", 1)}), 12, 1},
        {"string runs into the end of the file", Variant::kKyr, Root({StringValue("a", "abc")}), 12, 1},
        {"arrays nested past the limit", Variant::kTesk, Root({ArrayEntry("l", {NestedArray(256)})}), 12},
        {"arrays nested past the limit", Variant::kKyr, Root({ArrayEntry("l", {NestedArray(256)})}), 12},
        {"classes nested past the limit", Variant::kTesk, Root({NestedClasses(257)}), 12},
        {"classes nested past the limit", Variant::kKyr, Root({NestedClasses(257)}), 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(Name(c.variant)) + " " + c.what);
        Bytes bytes = c.variant == Variant::kTesk ? WriteTeskConfig(c.config) : WriteKyrConfig(c.config, c.kyr);
        bytes.resize(bytes.size() - c.cut);
        DecodeRun run = ExtractConfig(c.variant, bytes);
        ASSERT_EQ(run.openResult, 0);
        EXPECT_EQ(run.processResult, c.expected);
        EXPECT_FALSE(run.written) << "a failed decode writes nothing";
        DecodeRun list = ListConfig(c.variant, bytes);
        EXPECT_EQ(list.headerResult, c.expected) << "listing decodes too";
    }
}

TEST_F(ConfigDecode, NestingUpToTheLimitIsFine) {
    for (Variant v : {Variant::kTesk, Variant::kKyr}) {
        SCOPED_TRACE(Name(v));
        EXPECT_EQ(ExtractConfig(v, Write(v, Root({ArrayEntry("l", {NestedArray(255)})}))).processResult, 0);
        EXPECT_EQ(ExtractConfig(v, Write(v, Root({NestedClasses(256)}))).processResult, 0);
    }
}

TEST_F(ConfigDecode, TeskFailuresOfTheFileLayout) {
    ConfigDescription oneValue = Root({IntValue("a", 5)});
    struct Case {
        const char* what;
        ConfigDescription config;
        TeskLayout layout;
        int expected;
        size_t cut;
    };
    std::vector<Case> cases;
    {
        TeskLayout l;
        l.constantsOffsetOverride = 0x80000000u; // negative as a signed offset: passes the header check
        cases.push_back({"constants count unreadable", oneValue, l, 18, 0});
    }
    {
        TeskLayout l;
        l.constantsCountOverride = 2; // the second constant's name is missing
        ConfigDescription c = oneValue;
        c.constants = {{"K", 1}};
        cases.push_back({"constant name at the end of the file", c, l, 11, 0});
        ConfigDescription d = oneValue;
        d.constants = {{"K", 1}};
        cases.push_back({"constant value unreadable", d, TeskLayout{}, 18, 2});
    }
    {
        TeskLayout l;
        l.constantsFirst = true;
        cases.push_back({"short i32 value", oneValue, l, 12, 1});
        cases.push_back({"class body offset cut short", Root({RawEntry({0, 'c', 0, 0x10, 0x00})}), l, 12, 0});
        cases.push_back({"string runs into the end of the file", Root({StringValue("a", "abc")}), l, 12, 1});
        cases.push_back({"delete name runs into the end of the file",
                         Root({ClassEntry("C", "B", {IntValue("a", 1), DeleteEntry("Title")})}), l, 12, 1});
    }
    {
        Entry loop = ClassEntry("Self", "", {});
        loop.bodyRef = 0; // the root's own body
        cases.push_back({"class offset back into the root body", Root({IntValue("a", 1), loop}), TeskLayout{}, 12, 0});
        Entry inner = ClassEntry("Inner", "", {});
        inner.bodyRef = 1; // its parent's body
        cases.push_back({"class offset back into the parent body",
                         Root({ClassEntry("Outer", "", {IntValue("b", 1), inner})}), TeskLayout{}, 12, 0});
        // The root body is at 16: base, count, then the value's type, subtype and "zero" end at
        // 25, where four zero bytes read as a body of its own: no base, no entries. Followed
        // blindly it would decode as an empty class.
        cases.push_back({"class offset into the part of its parent already read",
                         Root({IntValue("zero", 0), RawEntry({0, 'X', 0, 25, 0, 0, 0})}), TeskLayout{}, 12, 0});
    }
    {
        // Each of 40 bodies names the next one twice: a loop-free file that would make the
        // decoder repeat the deepest body 2^40 times.
        ConfigDescription c = Root({});
        Entry owned = ClassEntry("n", "", {IntValue("v", 1)});
        for (int index = 40; index >= 1; --index) {
            Entry ref = ClassEntry("n", "", {});
            ref.bodyRef = index;
            Entry parent = ClassEntry("n", "", {owned, ref});
            owned = parent;
        }
        c.root.entries = owned.body.entries;
        cases.push_back({"bodies shared exponentially", c, TeskLayout{}, 12, 0});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bytes = WriteTeskConfig(c.config, c.layout);
        bytes.resize(bytes.size() - c.cut);
        DecodeRun run = ExtractConfig(Variant::kTesk, bytes);
        ASSERT_EQ(run.openResult, 0);
        EXPECT_EQ(run.processResult, c.expected);
        EXPECT_FALSE(run.written);
    }
}

TEST_F(ConfigDecode, KyrConstantsFailures) {
    ConfigDescription c = Root({IntValue("a", 5)});
    c.constants = {{"K", 1}};
    KyrLayout l;
    l.withConstants = true;
    Bytes valueCut = WriteKyrConfig(c, l);
    valueCut.resize(valueCut.size() - 2);
    EXPECT_EQ(ExtractConfig(Variant::kKyr, valueCut).processResult, 18);
    Bytes countCut = WriteKyrConfig(Root({IntValue("a", 5)}));
    countCut.push_back(1); // one byte where a four-byte count belongs
    EXPECT_EQ(ExtractConfig(Variant::kKyr, countCut).processResult, 12);
}

TEST_F(ConfigDecode, RecognitionByContent) {
    ConfigDescription c = Root({IntValue("a", 5)});
    Bytes tesk = WriteTeskConfig(c);
    Bytes kyr = WriteKyrConfig(c);
    auto teskWith = [&](const TeskLayout& l) { return WriteTeskConfig(c, l); };
    TeskLayout variant4, variant7, byte16, farConstants;
    variant4.variantField = 4;
    variant7.variantField = 7;
    byte16.byte16 = 1;
    farConstants.constantsOffsetOverride = tesk.size() - 3;
    Bytes badMagic = tesk;
    badMagic[1] = 0x73;
    struct Case {
        const char* what;
        Bytes bytes;
        bool tesk, kyr;
    } cases[] = {
        {"second-game file", tesk, true, false},
        {"first-game file", kyr, false, true},
        {"u32 at offset 4 is 4", teskWith(variant4), false, true},
        {"u32 at offset 4 is 7", teskWith(variant7), false, false},
        {"byte 16 not 0", teskWith(byte16), false, false},
        {"constants offset past size - 4", teskWith(farConstants), false, false},
        {"wrong magic", badMagic, false, false},
        {"first-game header cut to 7 bytes", Bytes(kyr.begin(), kyr.begin() + 7), false, false},
        {"first-game header alone", Bytes(kyr.begin(), kyr.begin() + 8), false, true},
        {"empty file", {}, false, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        TempDir dir;
        std::string path = dir.File("x.bin");
        SaveConfig(path, k.bytes);
        EXPECT_EQ(MakeConfigManager(Variant::kTesk)->CanYouHandleThisFile(&path[0]), k.tesk);
        EXPECT_EQ(MakeConfigManager(Variant::kKyr)->CanYouHandleThisFile(&path[0]), k.kyr);
        EXPECT_EQ(ListConfig(Variant::kTesk, k.bytes).openResult, k.tesk ? 0 : 14);
        EXPECT_EQ(ListConfig(Variant::kKyr, k.bytes).openResult, k.kyr ? 0 : 14);
    }
}

TEST_F(ConfigDecode, HeaderInListAndExtractMode) {
    for (Variant v : {Variant::kTesk, Variant::kKyr}) {
        SCOPED_TRACE(Name(v));
        ConfigDescription c = SampleConfig();
        KyrLayout kyr;
        kyr.withConstants = true;
        Bytes bytes = v == Variant::kTesk ? WriteTeskConfig(c) : WriteKyrConfig(c, kyr);
        DecodeRun extracted = ExtractConfig(v, bytes, "my.config.bin");
        ASSERT_EQ(extracted.processResult, 0);
        DecodeRun listed = ListConfig(v, bytes, "my.config.bin");
        ASSERT_EQ(listed.headerResult, 0);
        EXPECT_STREQ(listed.header.FileName, "my.config.cpp");
        EXPECT_NE(std::string(listed.header.ArcName).find("my.config.bin"), std::string::npos);
        EXPECT_EQ(listed.header.UnpSize, static_cast<int>(extracted.text.size())) << "list size = extracted size";
        EXPECT_EQ(extracted.header.UnpSize, static_cast<int>(bytes.size())) << "extract mode shows the file size";
        EXPECT_EQ(listed.header.PackSize, static_cast<int>(bytes.size()) - (v == Variant::kTesk ? 16 : 8));
        EXPECT_EQ(static_cast<uint32_t>(listed.header.FileAttr), platform::HostFileAttribute());
        EXPECT_NE(listed.header.FileTime, 0);
    }
}

TEST_F(ConfigDecode, HeaderLeavesOtherFieldsAlone) {
    TempDir dir;
    std::string path = dir.File("a.bin");
    SaveConfig(path, WriteKyrConfig(Root({IntValue("a", 5)})));
    auto m = MakeConfigManager(Variant::kKyr);
    tOpenArchiveData open = {};
    open.ArcName = &path[0];
    ASSERT_EQ(m->OpenArchive(&open), m.get());
    tHeaderData h;
    std::memset(&h, 0x5A, sizeof h);
    ASSERT_EQ(m->ReadHeader(&h), 0);
    EXPECT_EQ(h.Flags, 0x5A5A5A5A);
    EXPECT_EQ(h.HostOS, 0x5A5A5A5A);
    EXPECT_EQ(h.FileCRC, 0x5A5A5A5A);
    EXPECT_EQ(h.UnpVer, 0x5A5A5A5A);
    EXPECT_EQ(h.Method, 0x5A5A5A5A);
    EXPECT_EQ(h.CmtSize, 0x5A5A5A5A);
    EXPECT_EQ(m->ReadHeader(&h), 10);
    EXPECT_EQ(m->ProcessFile(PK_SKIP, nullptr, nullptr), 0);
    EXPECT_EQ(m->ProcessFile(7, nullptr, nullptr), 24);
}

TEST_F(ConfigDecode, EntryNames) {
    std::string longName(300, 'n');
    struct Case {
        std::string arcName, entry;
    } cases[] = {
        {"config.bin", "config.cpp"},
        {"my.config.bin", "my.config.cpp"},
        {"dir.with.dots/config", "config.cpp"},
        {"dir\\sub.d\\config", "config.cpp"},
        {"config.", "config.cpp"},
        {".bin", ".bin.cpp"},
        {"/x/" + longName + ".bin", longName + ".cpp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arcName);
        char* name = MakeConfigEntryName(c.arcName.c_str());
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(std::string(name), c.entry);
        std::free(name);
    }
    // The host's name fields hold 259 bytes and a terminator.
    DecodeRun run = ListConfig(Variant::kKyr, WriteKyrConfig(Root({IntValue("a", 5)})), std::string(250, 'k') + ".bin");
    ASSERT_EQ(run.headerResult, 0);
    EXPECT_EQ(std::string(run.header.FileName), std::string(250, 'k') + ".cpp");
    EXPECT_EQ(std::strlen(run.header.ArcName), 259u);
}

TEST_F(ConfigDecode, TestAndSkipDoNotDecode) {
    Bytes damaged = WriteTeskConfig(Root({RawEntry({9})}));
    TempDir dir;
    std::string path = dir.File("d.bin");
    SaveConfig(path, damaged);
    auto m = MakeConfigManager(Variant::kTesk);
    tOpenArchiveData open = {};
    open.ArcName = &path[0];
    open.OpenMode = PK_OM_EXTRACT;
    m->OpenArchive(&open);
    tHeaderData h = {};
    ASSERT_EQ(m->ReadHeader(&h), 0);
    EXPECT_EQ(m->ProcessFile(PK_TEST, nullptr, nullptr), 0);
    std::string out = dir.File("out.cpp");
    EXPECT_EQ(m->ProcessFile(PK_EXTRACT, nullptr, &out[0]), 12);
    EXPECT_FALSE(FileExists(out));
}

TEST_F(ConfigDecode, ProgressReports) {
    ConfigDescription nested = Root({ClassEntry("C", "", {IntValue("v", 1)})});
    ConfigDescription withConstants = nested;
    withConstants.constants = {{"K", 7}};
    KyrLayout kyrConstants;
    kyrConstants.withConstants = true;
    using Reports = std::vector<std::pair<std::string, int>>;
    struct Case {
        const char* what;
        Variant variant;
        Bytes bytes;
        Reports expected; // after the header's and the destination's announcements
    } cases[] = {
        // constants (file size - offset), then the root's own bytes, then the remainder.
        {"tesk minimal", Variant::kTesk, WriteTeskConfig(Root({IntValue("a", 5)})), {{"<null>", 4}, {"<null>", 9}, {"<null>", 17}}},
        // The nested class counts its name, offset, base, count and entry; the root its
        // count and the class's type byte.
        {"tesk nested", Variant::kTesk, WriteTeskConfig(nested), {{"<null>", 4}, {"<null>", 16}, {"<null>", 2}, {"<null>", 17}}},
        // A delete entry's type byte and name belong to the class that holds it: 11 for C
        // (name, offset, base, count, 4 "v"), 5 for the root (count, the types 0 and 4, "w").
        {"tesk delete entries", Variant::kTesk, WriteTeskConfig(Root({ClassEntry("C", "", {DeleteEntry("v")}), DeleteEntry("w")})),
         {{"<null>", 4}, {"<null>", 11}, {"<null>", 5}, {"<null>", 17}}},
        {"kyr minimal", Variant::kKyr, WriteKyrConfig(Root({IntValue("a", 5)})), {{"<null>", 21}, {"<null>", 0}}},
        {"kyr nested with constants", Variant::kKyr, WriteKyrConfig(withConstants, kyrConstants),
         {{"<null>", 27}, {"<null>", 0}, {"<null>", 10}, {"<null>", 0}}},
        {"kyr empty root", Variant::kKyr, WriteKyrConfig(Root({})), {{"<null>", 12}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DecodeRun run = ExtractConfig(c.variant, c.bytes);
        ASSERT_EQ(run.processResult, 0);
        ASSERT_GE(run.progress.size(), 2u);
        EXPECT_NE(run.progress[0].first.find("config.bin"), std::string::npos);
        EXPECT_NE(run.progress[1].first.find("out.cpp"), std::string::npos);
        EXPECT_EQ(run.progress[0].second, 0);
        EXPECT_EQ(run.progress[1].second, 0);
        EXPECT_EQ(Reports(run.progress.begin() + 2, run.progress.end()), c.expected);
    }
}

TEST_F(ConfigDecode, AbortDuringDecodeWritesNothing) {
    for (Variant v : {Variant::kTesk, Variant::kKyr}) {
        SCOPED_TRACE(Name(v));
        // Reports 1 and 2 announce the archive and the destination; 3 is the decode's first.
        DecodeRun run = ExtractConfig(v, Write(v, SampleConfig()), "config.bin", 3);
        EXPECT_EQ(run.processResult, 21);
        EXPECT_FALSE(run.written);
        DecodeRun header = ExtractConfig(v, Write(v, SampleConfig()), "config.bin", 1);
        EXPECT_EQ(header.headerResult, 21);
    }
}

} // namespace
