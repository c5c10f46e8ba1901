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
    text += comments ? "\t};//array colors[2]\r\n};//class Vehicle\r\nclass Base;//abstract class\r\n"
                     : "\t};\r\n};\r\nclass Base;\r\n";
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

std::string SampleConfigText(bool tesk) {
    std::string t = "//constant definitions\r\n"
                    "\r\n"
                    "#define MAX_SPEED\t120\r\n"
                    "#define MIN_ARMOR\t-5\r\n"
                    "#define WHEELS\t4\r\n"
                    "\r\n"
                    "//implementation\r\n"
                    "\r\n"
                    "version = 12;\r\n"
                    "title = \"Sample \"\"Road\"\" Pack\";\r\n"
                    "class VehicleBase\r\n"
                    "{\r\n"
                    "\tmaxSpeed = 90;\r\n"
                    "\tmass = 1250.500000;\r\n"
                    "};//class VehicleBase\r\n"
                    "class Truck : VehicleBase\r\n"
                    "{\r\n"
                    "\tmaxSpeed = 80;\r\n"
                    "\tdisplayName = \"Truck\";\r\n"
                    "\tcargo[] = \r\n"
                    "\t{\r\n"
                    "\t\t\"crate\",\r\n"
                    "\t\t\"barrel\",\r\n"
                    "\t\t\"crate\"\r\n"
                    "\t};//array cargo[3]\r\n"
                    "\twheelOffsets[] = \r\n"
                    "\t{\r\n"
                    "\t\t\r\n"
                    "\t\t{\r\n"
                    "\t\t\t-0.750000,\r\n"
                    "\t\t\t0.250000\r\n"
                    "\t\t},\r\n"
                    "\t\t\r\n"
                    "\t\t{\r\n"
                    "\t\t\t0.750000,\r\n"
                    "\t\t\t0.250000\r\n"
                    "\t\t}\r\n"
                    "\t};//array wheelOffsets[2]\r\n"
                    "\tclass Turret\r\n"
                    "\t{\r\n"
                    "\t\tturnRate = 0.100000;\r\n"
                    "\t\tlimits[] = \r\n"
                    "\t\t{\r\n"
                    "\t\t\t-30,\r\n"
                    "\t\t\t30\r\n"
                    "\t\t};//array limits[2]\r\n"
                    "\t};//class Turret\r\n";
    t += tesk ? "\tclass Markings\r\n\t{\r\n\t};//class Markings\r\n" : "\tclass Markings{};//abstract class\r\n";
    t += "};//class Truck\r\n";
    t += tesk ? "class Scout : VehicleBase\r\n{\r\n};//class Scout\r\n"
              : "class Scout : VehicleBase{};//prototype class\r\n";
    t += "spawnWeights[] = \r\n"
         "{\r\n"
         "\t3,\r\n"
         "\t1,\r\n"
         "\t0.500000,\r\n"
         "\t\"rare\",\r\n"
         "\t\r\n"
         "\t{\r\n"
         "\t}\r\n"
         "};//array spawnWeights[5]\r\n"
         "emptyNote = \"\";\r\n";
    return t;
}

Bytes SampleConfigFile(bool tesk) {
    if (tesk) {
        // Laid out as the games' own files are, so that encoding its text gives it back.
        TeskLayout layout;
        layout.subtreeEnds = true;
        return WriteTeskConfig(SampleConfig(), layout);
    }
    KyrLayout layout;
    layout.withConstants = true;
    return WriteKyrConfig(SampleConfig(), layout);
}

ConfigDescription GeneratedConfig(size_t units) {
    ConfigDescription c;
    c.constants = {{"LIMIT", 1000}, {"SCALE", 3}};
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
