#include "tests/support/config_shapes.h"

#include <cfloat>
#include <utility>

namespace cfg {

namespace {

// A chain of 30 classes, each derived from the one before, as real files declare whole
// families of variants; and a class nested 12 levels deep, each level derived from a class
// of the level above, as real files nest parts inside parts.
ConfigDescription InheritanceChain(bool tesk) {
    ConfigDescription c;
    c.constants = {{"LEVELS", 30}};
    if (tesk) c.root.entries = {ExternalClass("BaseItem"), ExternalClass("BasePart")};
    std::string base = "BaseItem";
    for (int i = 0; i < 30; ++i) {
        std::string name = "Item_" + std::to_string(i);
        std::vector<Entry> entries = {IntValue("level", i), StringValue("label", "Item " + std::to_string(i))};
        if (i % 4 == 0) entries.push_back(FloatValue("scale", 1.0f + static_cast<float>(i) / 8));
        c.root.entries.push_back(ClassEntry(name, base, std::move(entries)));
        base = name;
    }
    Entry part = ClassEntry("Part_11", "BasePart", {IntValue("depth", 11)});
    for (int depth = 10; depth >= 0; --depth)
        part = ClassEntry("Part_" + std::to_string(depth), depth ? "Part_" + std::to_string(depth - 1) : "",
                          {IntValue("depth", depth), part, StringValue("after", "inner done")});
    c.root.entries.push_back(part);
    return c;
}

// One class of 600 entries of every kind, the way a single large table of settings looks.
ConfigDescription HundredsOfEntries(bool tesk) {
    ConfigDescription c;
    std::vector<Entry> entries;
    for (int i = 0; i < 600; ++i) {
        std::string name = "key" + std::to_string(i);
        switch (i % 5) {
        case 0: entries.push_back(IntValue(name, i * 37 - 5000)); break;
        case 1: entries.push_back(FloatValue(name, static_cast<float>(i) * 0.125f)); break;
        case 2: entries.push_back(StringValue(name, "value " + std::to_string(i))); break;
        case 3: entries.push_back(ArrayEntry(name, {Num(i), Flt(0.5f), Str("x")})); break;
        default:
            entries.push_back(tesk && i % 10 == 4 ? ExternalClass("Ref" + std::to_string(i))
                                                  : ClassEntry("Sub" + std::to_string(i), "", {IntValue("id", i)}));
        }
    }
    c.root.entries = {IntValue("before", 1), ClassEntry("Table", "", std::move(entries)), IntValue("after", 2)};
    return c;
}

// Empty classes with and without a base, at the root, nested, and one holding nothing but
// empty classes: placeholders that real files keep for their derived classes to fill.
ConfigDescription EmptyClasses() {
    ConfigDescription c;
    c.root.entries = {
        ClassEntry("Placeholder", "", {}),
        ClassEntry("Derived", "Placeholder", {}),
        ClassEntry("Holder", "", {ClassEntry("A", "", {}), ClassEntry("B", "A", {}), ClassEntry("C", "", {})}),
        ClassEntry("Mixed", "Holder", {IntValue("n", 1), ClassEntry("Inner", "", {}), IntValue("m", 2)}),
        ClassEntry("Last", "", {}),
    };
    return c;
}

// Arrays of arrays, four levels deep, with empty arrays among them, a table of pairs and a
// long flat list, as real files keep positions, colours and tables of values.
ConfigDescription ArraysOfArrays() {
    ConfigDescription c;
    std::vector<Element> pairs, flat;
    for (int i = 0; i < 100; ++i) pairs.push_back(Arr({Str("name" + std::to_string(i)), Flt(static_cast<float>(i) / 4)}));
    for (int i = 0; i < 500; ++i) flat.push_back(Num(i * i - 1000));
    c.root.entries = {
        ArrayEntry("deep", {Arr({Arr({Arr({Num(1), Num(2)}), Arr({})}), Flt(0.25f)}), Arr({}), Str("end")}),
        ArrayEntry("colors", {Arr({Flt(1), Flt(0.5f), Flt(0), Flt(1)}), Arr({Flt(0.2f), Flt(0.2f), Flt(0.2f), Flt(0.8f)})}),
        ArrayEntry("pairs", std::move(pairs)),
        ArrayEntry("flat", std::move(flat)),
        ArrayEntry("empty", {}),
        ArrayEntry("onlyEmpty", {Arr({}), Arr({Arr({})})}),
        ClassEntry("Inside", "", {ArrayEntry("grid", {Arr({Num(1), Num(0)}), Arr({Num(0), Num(1)})})}),
    };
    return c;
}

// Strings as texts in real files are: quoted words, line breaks of both kinds, tabs,
// comment and brace characters, bytes of a national code page, and long paragraphs.
ConfigDescription Strings() {
    std::string paragraph;
    for (int i = 0; i < 60; ++i) paragraph += "Line " + std::to_string(i) + " of a \"long\" text;\r\n";
    ConfigDescription c;
    c.root.entries = {
        StringValue("quoted", "say \"hello\""),
        StringValue("onlyQuotes", "\"\"\""),
        StringValue("crlf", "first\r\nsecond"),
        StringValue("lf", "first\nsecond\n"),
        StringValue("tab", "a\tb"),
        StringValue("syntax", "// not a comment; {braces} [] = ,"),
        StringValue("codePage", "caf\xe9 \xa9 \xff"),
        StringValue("empty", ""),
        StringValue("paragraph", paragraph),
        ArrayEntry("texts", {Str("\"a\""), Str("line\r\nbreak"), Str(""), Str("x\"")}),
        ClassEntry("Texts", "", {StringValue("title", "The \"Best\"\r\nTitle")}),
    };
    return c;
}

// Floats from the smallest denormal to the largest finite value, both signs, the values
// that round at the sixth decimal, and integers a float cannot hold exactly.
ConfigDescription Floats() {
    const float magnitudes[] = {0.0f,    1e-45f,  FLT_MIN, 1e-7f,  4.9e-7f, 5e-7f,     5.1e-7f, 0.1f,
                                0.3333333f, 1.0f, 2.5e-3f, 123.456f, 1e6f,  16777217.0f, 1e10f,   1e20f,
                                3.0e30f, FLT_MAX};
    std::vector<Entry> values;
    std::vector<Element> elements;
    int i = 0;
    for (float m : magnitudes) {
        for (float f : {m, -m}) {
            values.push_back(FloatValue("f" + std::to_string(i++), f));
            elements.push_back(Flt(f));
        }
    }
    ConfigDescription c;
    c.root.entries = {ClassEntry("Floats", "", std::move(values)), ArrayEntry("all", std::move(elements))};
    return c;
}

// Classes that drop members they inherit, at the start, in the middle and at the end of a
// class, at the root, in nested classes, and a class of nothing but deletes.
ConfigDescription Deletes() {
    ConfigDescription c;
    c.root.entries = {
        ExternalClass("BasePanel"),
        DeleteEntry("OldRoot"),
        ClassEntry("Screens", "",
                   {ClassEntry("Panel", "BasePanel",
                               {DeleteEntry("Title"), DeleteEntry("Footer"), DeleteEntry("Border"),
                                IntValue("width", 640), ArrayEntry("size", {Num(640), Num(480)})}),
                    ClassEntry("Dialog", "Panel",
                               {StringValue("text", "Sure?"), DeleteEntry("size"), FloatValue("fade", 0.5f)}),
                    ClassEntry("Bare", "Dialog", {ExternalClass("Part"), DeleteEntry("text")}),
                    ClassEntry("Stripped", "Panel", {DeleteEntry("width"), DeleteEntry("Part")})}),
        DeleteEntry("Legacy"),
    };
    return c;
}

} // namespace

std::vector<NamedConfig> RealWorldShapes(bool tesk) {
    std::vector<NamedConfig> shapes = {
        {"inheritance_chain", InheritanceChain(tesk)}, {"hundreds_of_entries", HundredsOfEntries(tesk)},
        {"empty_classes", EmptyClasses()},             {"arrays_of_arrays", ArraysOfArrays()},
        {"strings", Strings()},                        {"floats", Floats()},
    };
    if (tesk) shapes.push_back({"deletes", Deletes()});
    return shapes;
}

ConfigDescription RealWorldConfig(size_t copies, bool tesk) {
    const std::vector<NamedConfig> shapes = RealWorldShapes(tesk);
    ConfigDescription c;
    c.constants = {{"COPIES", static_cast<int32_t>(copies)}};
    for (size_t i = 0; i < copies; ++i) {
        std::vector<Entry> copy;
        for (const NamedConfig& shape : shapes)
            copy.push_back(ClassEntry(shape.name, "", shape.config.root.entries));
        c.root.entries.push_back(ClassEntry("Copy" + std::to_string(i), "", std::move(copy)));
    }
    return c;
}

} // namespace cfg
