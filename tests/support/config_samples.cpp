#include "tests/support/config_samples.h"

namespace cfg {

ConfigDescription WorkedExample() {
    ConfigDescription c;
    c.constants = {{"MAXVAL", 5}};
    c.root.entries = {
        IntValue("version", 3),
        ClassEntry("Vehicle", "Base",
                   {StringValue("name", "Car"), ArrayEntry("colors", {Flt(1.5f), Arr({Num(2), Num(3)})})}),
        ExternalClass("Base"),
    };
    return c;
}

std::string WorkedExampleText(bool comments) {
    std::string text;
    if (comments) text += "//constant definitions\r\n\r\n";
    text += "#define MAXVAL\t5\r\n"
            "\r\n";
    if (comments) text += "//implementation\r\n\r\n";
    text += "version = 3;\r\n"
            "class Vehicle : Base\r\n"
            "{\r\n"
            "\tname = \"Car\";\r\n"
            "\tcolors[] = \r\n"
            "\t{\r\n"
            "\t\t1.500000,\r\n"
            "\t\t\r\n"
            "\t\t{\r\n"
            "\t\t\t2,\r\n"
            "\t\t\t3\r\n"
            "\t\t}\r\n";
    text += comments ? "\t};//array colors[2]\r\n};//class Vehicle\r\nclass Base{};//abstract class\r\n"
                     : "\t};\r\n};\r\nclass Base{};\r\n";
    return text;
}

ConfigDescription SampleConfig() {
    ConfigDescription c;
    c.rootName = "";
    c.constants = {{"MAX_SPEED", 120}, {"MIN_ARMOR", -5}, {"WHEELS", 4}};
    Entry wheels = ArrayEntry("wheelOffsets", {Arr({Flt(-0.75f), Flt(0.25f)}), Arr({Flt(0.75f), Flt(0.25f)})});
    c.root.entries = {
        IntValue("version", 12),
        StringValue("title", "Sample \"Road\" Pack"),
        ClassEntry("VehicleBase", "", {IntValue("maxSpeed", 90), FloatValue("mass", 1250.5f)}),
        ClassEntry("Truck", "VehicleBase",
                   {IntValue("maxSpeed", 80), StringValue("displayName", "Truck"),
                    ArrayEntry("cargo", {Str("crate"), Str("barrel"), Str("crate")}), wheels,
                    ClassEntry("Turret", "", {FloatValue("turnRate", 0.1f), ArrayEntry("limits", {Num(-30), Num(30)})}),
                    ClassEntry("Markings", "", {})}),
        ClassEntry("Scout", "VehicleBase", {}),
        ArrayEntry("spawnWeights", {Num(3), Num(1), Flt(0.5f), Str("rare"), Arr({})}),
        StringValue("emptyNote", ""),
    };
    return c;
}

ConfigDescription GeneratedConfig(size_t bytes) {
    ConfigDescription c;
    c.constants = {{"LIMIT", 1000}, {"SCALE", 3}};
    // Each unit writes about 230 bytes in either layout.
    size_t units = bytes / 230 + 1;
    c.root.entries.reserve(units + 1);
    c.root.entries.push_back(IntValue("generated", static_cast<int32_t>(units)));
    for (size_t i = 0; i < units; ++i) {
        std::string id = std::to_string(i);
        c.root.entries.push_back(ClassEntry(
            "Item" + id, i % 3 ? "ItemBase" : "",
            {StringValue("displayName", "Item number " + id), IntValue("price", static_cast<int32_t>(i % 997)),
             FloatValue("weight", static_cast<float>(i % 50) * 0.25f),
             ArrayEntry("tags", {Str("common"), Str("tag" + std::to_string(i % 17)), Num(static_cast<int32_t>(i))}),
             ClassEntry("Stats", "", {IntValue("level", static_cast<int32_t>(i % 60)),
                                      ArrayEntry("range", {Flt(0.5f), Arr({Num(1), Num(2)})})})}));
    }
    return c;
}

} // namespace cfg
