// Test-data generator: a simple greedy encoder that turns bytes into a valid compressed
// entry stream (flag bytes, literals, back-references into an 18-space window, byte sum).
// It exists so that tests and benchmarks have compressed data of any content; it is not the
// plug-in's compressor and its bytes need not match that compressor's.
#pragma once

#include <vector>

std::vector<unsigned char> EncodeTestStream(const std::vector<unsigned char>& plain);
// The same bytes as literals only, eight to a flag byte, so that a test knows where each
// token lies: byte i of the input is byte i + i / 8 + 1 of the stream.
std::vector<unsigned char> LiteralTestStream(const std::vector<unsigned char>& plain);
// Sum of the bytes modulo 2^32, the checksum that ends a stream.
unsigned ByteSum(const std::vector<unsigned char>& bytes);
