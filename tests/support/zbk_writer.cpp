#include "tests/support/zbk_writer.h"

#include "common/sha1.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_stream_encoder.h"

namespace {

void Put32(std::vector<unsigned char>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

void PutRecord(std::vector<unsigned char>& out, const std::string& name, uint32_t method, uint32_t unpacked,
               uint32_t reserved, uint32_t time, uint32_t dataSize) {
    out.insert(out.end(), name.begin(), name.end());
    out.push_back(0);
    Put32(out, method);
    Put32(out, unpacked);
    Put32(out, reserved);
    Put32(out, time);
    Put32(out, dataSize);
}

} // namespace

std::vector<unsigned char> Bytes(const std::string& text) { return std::vector<unsigned char>(text.begin(), text.end()); }

TestArchive& TestArchive::Stored(const std::string& name, const std::vector<unsigned char>& data, uint32_t time) {
    TestRecord r;
    r.name = name;
    r.timeStamp = time;
    r.data = data;
    records.push_back(r);
    return *this;
}

TestArchive& TestArchive::Stored(const std::string& name, const std::string& text, uint32_t time) {
    return Stored(name, ::Bytes(text), time);
}

TestArchive& TestArchive::Compressed(const std::string& name, const std::vector<unsigned char>& plain,
                                           uint32_t time) {
    TestRecord r;
    r.name = name;
    r.method = kZbkCompressed;
    r.uncompressedSize = static_cast<uint32_t>(plain.size());
    r.timeStamp = time;
    r.data = EncodeTestStream(plain);
    records.push_back(r);
    return *this;
}

TestArchive& TestArchive::Compressed(const std::string& name, const std::string& text, uint32_t time) {
    return Compressed(name, ::Bytes(text), time);
}

TestArchive& TestArchive::Signed(const std::vector<unsigned char>& block) {
    signature = true;
    signatureBlock = block;
    return *this;
}

std::vector<unsigned char> TestArchive::Bytes() const {
    std::vector<unsigned char> out;
    if (signature) {
        PutRecord(out, "", kZbkVersion, 0, 0, signatureTimeStamp, 0);
        out.insert(out.end(), signatureBlock.begin(), signatureBlock.end());
    }
    for (const TestRecord& r : records) {
        uint32_t dataSize = r.dataSizeOverride >= 0 ? static_cast<uint32_t>(r.dataSizeOverride)
                                                    : static_cast<uint32_t>(r.data.size());
        PutRecord(out, r.name, r.method, r.uncompressedSize, r.reserved, r.timeStamp, dataSize);
        out.insert(out.end(), r.afterRecord.begin(), r.afterRecord.end());
    }
    if (terminator) PutRecord(out, "", terminatorMethod, 0, 0, 0, 0);
    for (const TestRecord& r : records) out.insert(out.end(), r.data.begin(), r.data.end());
    out.insert(out.end(), trailing.begin(), trailing.end());
    if (sealed) {
        Sha1 sha;
        sha.Update(out.data(), out.size());
        Sha1Digest digest = sha.Final();
        out.push_back(0);
        out.insert(out.end(), digest.begin(), digest.end());
    }
    return out;
}

uint32_t TestArchive::HeaderSize() const {
    uint32_t size = 0;
    if (signature) size += 21 + static_cast<uint32_t>(signatureBlock.size());
    for (const TestRecord& r : records) size += static_cast<uint32_t>(r.name.size() + 21 + r.afterRecord.size());
    if (terminator) size += 21;
    return size;
}

uint64_t TestArchive::DataOffset(size_t record) const {
    uint64_t offset = HeaderSize();
    for (size_t i = 0; i < record && i < records.size(); ++i) offset += records[i].data.size();
    return offset;
}

std::vector<unsigned char> SignatureBlock(const std::vector<std::string>& strings) {
    std::vector<unsigned char> out;
    for (const std::string& s : strings) {
        out.insert(out.end(), s.begin(), s.end());
        out.push_back(0);
    }
    out.push_back(0);
    return out;
}

std::vector<unsigned char> DropTail(std::vector<unsigned char> bytes, size_t n) {
    bytes.resize(n < bytes.size() ? bytes.size() - n : 0);
    return bytes;
}

void WriteZbkArchive(const std::string& path, const TestArchive& layout) { WriteFileBytes(path, layout.Bytes()); }
