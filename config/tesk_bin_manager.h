// Binarized configuration files of the second game (Tesk), shown as one-entry archives.
// Strings are stored inline; nested class bodies lie elsewhere in the file, reached by offset;
// the constants table is found through the header and read first.
#pragma once

#include "config/config_bin_manager.h"

class CTeskBinManager : public CConfigBinManager {
public:
    const char* ClassName() override { return "CTeskBinManager"; }
    CKyrArchiveManager* OpenArchive(tOpenArchiveData* openData) override;
    bool CanYouHandleThisFile(char* fileName) override;

protected:
    ConfigLayout Layout() const override { return ConfigLayout::kTesk; }
    int DecodeConfig() override;
    int32_t DecodedLength() const override { return m_textBuffer->Length(); }
    int WriteDecoded(const char* destination) override { return m_textBuffer->WriteToFile(destination); }
    void DiscardDecoded() override { m_textBuffer->Reset(); }
    int32_t PackedSize() const override { return static_cast<int32_t>(m_fileSize - m_bodyStart); }

private:
    // A class body being decoded: from its start up to where its reading has got.
    struct BodyRange {
        int64_t start;
        int64_t readTo;
    };

    int DecodeConstants();
    // resumeAt receives the position just after a nested class's body offset, where its parent
    // goes on; subtreeBytes the bytes that the class and its nested classes read.
    int DecodeClass(bool isRoot, int64_t* resumeAt, int64_t* subtreeBytes);
    int DecodeClassEntries(int64_t* nestedBytes);
    int DecodeValue();
    int DecodeArray();
    int DecodeStringElement() override;
    // A name, written by `line`: an external class's declaration or a deleted member.
    int DecodeNamedLine(void (CConfigTextWriter::*line)(const char*));
    // A nested body offset that points back into a body still being read would repeat it
    // for ever.
    bool LeadsIntoActiveBody(int64_t offset) const;
    // No valid file makes the decoder read more bytes than it holds: class bodies do not
    // overlap. Files whose offsets share or overlap bodies stop here instead of multiplying
    // their work.
    bool OverRead() const override { return m_reader.Consumed() > m_fileSize; }

    int64_t m_bodyStart = 0;
    int64_t m_constantsOffset = 0;
    BodyRange m_activeBodies[kMaxConfigDepth + 1] = {};
    int32_t m_activeCount = 0;
};
