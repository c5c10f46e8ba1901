// The growable byte buffer in which managers build output and stage extracted data.
#pragma once

#include <cstdint>

class CTextBuffer {
public:
    CTextBuffer() { Init(); }
    ~CTextBuffer() { Release(); }
    CTextBuffer(const CTextBuffer&) = delete;
    CTextBuffer& operator=(const CTextBuffer&) = delete;

    void Init();
    void Reset();
    void Release();
    int32_t Reserve(int32_t n);

    int32_t Append(const char* text);
    int32_t AppendBytes(const void* bytes, int32_t n);
    // For producers that write in place: room for n more bytes behind the content (null when
    // the buffer cannot grow); CommitAppend(k) with k <= n then adds the bytes written there.
    char* AppendRoom(int32_t n);
    void CommitAppend(int32_t n);
    int32_t AppendNewLines(int32_t n);
    int32_t AppendTabs(int32_t n);
    int32_t AppendSpaces(int32_t n);
    void AppendEquals() { Append("="); }
    void AppendOpenBrace() { Append("{"); }
    void AppendCloseBrace() { Append("}"); }
    void AppendArrayAssign() { Append("[] ="); }
    void AppendClassKeyword() { Append("class"); }
    void AppendDefineKeyword() { Append("#define"); }
    int32_t AppendInt(int32_t value);
    int32_t AppendFloat(float value);
    void AppendBool(int flag) { Append((flag & 0xFF) ? "1" : "0"); }
    void AppendQuoted(const char* text);

    int WriteToFile(const char* path) const;
    int AppendToFile(const char* path) const;
    int WriteRangeToFile(const char* path, int32_t offset, int32_t count) const;
    void Finalize();

    char* Data() const { return data; }
    int32_t Length() const { return length; }
    int32_t Capacity() const { return capacity; }

private:
    int32_t AppendRun(char fill, int32_t n);
    int WriteBytes(const char* path, const char* mode, int32_t offset, int32_t count) const;

    char* data;
    int32_t capacity;
    int32_t length;
};
