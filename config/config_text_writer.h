// The forms in which decoded configuration is written as text: classes, values, arrays and
// constants, with the optional comment parts that label what each closing brace ends.
#pragma once

#include <cstdint>

#include "common/text_buffer.h"

class CConfigTextWriter {
public:
    // depth is the manager's indentation depth, shared by every writer of one decode.
    CConfigTextWriter(CTextBuffer& buffer, int32_t& depth) : m_buffer(buffer), m_depth(depth) {}

    void ConstantsHeading();
    void DefineLine(const char* name, int32_t value);
    void ConstantsEnd();
    void ImplementationHeading();

    void ClassHead(const char* name, const char* base);
    void ClassBlockOpening();
    void ClassClose(const char* name);
    void EmptyClassLine(const char* name, const char* base);
    void ExternalClassLine(const char* name);
    // Removes a member that the class inherits; real second-game files hold these.
    void DeleteLine(const char* name);

    void StringValueLine(const char* name, const char* quotedText);
    void FloatValueLine(const char* name, float value);
    void IntValueLine(const char* name, int32_t value);

    void ArrayHead(const char* name);
    void ElementBlockOpening();
    void ElementIndentation();
    void StringElement(const char* quotedText);
    void FloatElement(float value);
    void IntElement(int32_t value);
    void ElementSeparator();
    void ElementEnd();
    void ElementBlockClose();
    void ArrayClose(const char* name, int32_t count);

    // False once any append has failed (out of memory): the text is then incomplete.
    bool Ok() const { return m_ok; }
    // Forgets an earlier failure, for the next decode into an emptied buffer.
    void Restart() { m_ok = true; }

private:
    void Text(const char* text);
    void NewLine();
    void Indent();
    void Check(int32_t appendResult) { m_ok = m_ok && appendResult >= 0; }

    CTextBuffer& m_buffer;
    int32_t& m_depth;
    bool m_ok = true;
};
