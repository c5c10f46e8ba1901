#include "config/config_text_writer.h"

#include "config/config_float_text.h"
#include "settings/settings_store.h"

namespace {

// Read at every comment part, so a change of the setting applies from the next decode on.
bool Comments() {
    SettingsLock lock;
    return PluginSettings.WriteCppComments;
}

} // namespace

void CConfigTextWriter::Text(const char* text) { Check(m_buffer.Append(text)); }

void CConfigTextWriter::NewLine() { Check(m_buffer.AppendNewLines(1)); }

void CConfigTextWriter::Indent() { Check(m_buffer.AppendTabs(m_depth)); }

void CConfigTextWriter::ConstantsHeading() {
    if (!Comments()) return;
    Text("//constant definitions");
    NewLine();
    NewLine();
}

void CConfigTextWriter::DefineLine(const char* name, int32_t value) {
    Text("#define");
    Check(m_buffer.AppendSpaces(1));
    Text(name);
    Check(m_buffer.AppendTabs(1));
    Check(m_buffer.AppendInt(value));
    NewLine();
}

void CConfigTextWriter::ConstantsEnd() { NewLine(); }

void CConfigTextWriter::ImplementationHeading() {
    if (!Comments()) return;
    Text("//implementation");
    NewLine();
    NewLine();
}

void CConfigTextWriter::ClassHead(const char* name, const char* base) {
    Indent();
    Text("class");
    Check(m_buffer.AppendSpaces(1));
    Text(name);
    if (base && *base) {
        Text(" : ");
        Text(base);
    }
}

void CConfigTextWriter::ClassBlockOpening() {
    NewLine();
    Indent();
    Text("{");
    NewLine();
    ++m_depth;
}

void CConfigTextWriter::ClassClose(const char* name) {
    --m_depth;
    Indent();
    Text("};");
    if (Comments()) {
        Text("//class ");
        Text(name);
    }
    NewLine();
}

void CConfigTextWriter::EmptyClassLine(const char* name, const char* base) {
    ClassHead(name, base);
    Text("{};");
    if (Comments()) Text(base && *base ? "//prototype class" : "//abstract class");
    NewLine();
}

void CConfigTextWriter::ExternalClassLine(const char* name) {
    Indent();
    Text("class");
    Check(m_buffer.AppendSpaces(1));
    Text(name);
    // "{}" would define an empty class; a class defined elsewhere is only declared.
    Text(";");
    if (Comments()) Text("//abstract class");
    NewLine();
}

void CConfigTextWriter::DeleteLine(const char* name) {
    Indent();
    Text("delete");
    Check(m_buffer.AppendSpaces(1));
    Text(name);
    Text(";");
    NewLine();
}

void CConfigTextWriter::StringValueLine(const char* name, const char* quotedText) {
    Indent();
    Text(name);
    Text(" = ");
    StringElement(quotedText);
    Text(";");
    NewLine();
}

void CConfigTextWriter::FloatValueLine(const char* name, float value) {
    Indent();
    Text(name);
    Text(" = ");
    FloatElement(value);
    Text(";");
    NewLine();
}

void CConfigTextWriter::IntValueLine(const char* name, int32_t value) {
    Indent();
    Text(name);
    Text(" = ");
    IntElement(value);
    Text(";");
    NewLine();
}

void CConfigTextWriter::ArrayHead(const char* name) {
    Indent();
    Text(name);
    Text("[] =");
    Check(m_buffer.AppendSpaces(1));
}

void CConfigTextWriter::ElementBlockOpening() {
    NewLine();
    Indent();
    Text("{");
    NewLine();
    ++m_depth;
}

void CConfigTextWriter::ElementIndentation() { Indent(); }

void CConfigTextWriter::StringElement(const char* quotedText) {
    // Quotes inside the text were doubled when it was read.
    Text("\"");
    Text(quotedText);
    Text("\"");
}

void CConfigTextWriter::FloatElement(float value) {
    char text[kConfigFloatTextSize];
    Check(m_buffer.AppendBytes(text, FormatConfigFloat(value, text)));
}

void CConfigTextWriter::IntElement(int32_t value) { Check(m_buffer.AppendInt(value)); }

void CConfigTextWriter::ElementSeparator() { Text(","); }

void CConfigTextWriter::ElementEnd() { NewLine(); }

void CConfigTextWriter::ElementBlockClose() {
    --m_depth;
    Indent();
    Text("}");
}

void CConfigTextWriter::ArrayClose(const char* name, int32_t count) {
    Text(";");
    if (Comments()) {
        Text("//array ");
        Text(name);
        Text("[");
        Check(m_buffer.AppendInt(count));
        Text("]");
    }
    NewLine();
}
