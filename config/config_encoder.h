// Lays out a ConfigDocument as a binarized configuration file, in either layout. What the
// layouts cannot hold the parser has refused already; the one limit left is the file's size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/config_document.h"
#include "config/config_text_parser.h"

// Second-game layout: the root body at offset 16, then every nested body in depth-first
// order, each class's nested bodies right behind its own; after each body's entries the
// offset just past its whole subtree; then the constants table (count 0 when empty). This
// is how the games' files are laid out, so that a decoded file encodes to the same bytes.
// First-game layout: bodies inline, each distinct string stored once, where it first
// appears, behind the root's name; the constants table only when there are constants.
// False when the file would reach 2 GiB (out is then empty).
bool EncodeConfig(const ConfigDocument& doc, ConfigLayout layout, std::vector<uint8_t>* out,
                  const std::string& kyrRootName = std::string());

// Parses and encodes in one step: the text's refusal, or the size limit, in *error.
bool EncodeConfigText(const char* text, size_t size, ConfigLayout layout, std::vector<uint8_t>* out,
                      ConfigTextError* error, const std::string& kyrRootName = std::string());
