// Reads configuration text, as the decoders write it or as edited by hand, into a
// ConfigDocument for one of the two binary layouts. Whatever that layout cannot hold is
// refused here, with the line and column where it stands, so that encoding cannot fail on
// the content.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "config/config_document.h"

enum class ConfigLayout { kTesk, kKyr };

struct ConfigTextError {
    int32_t line = 0;   // from 1
    int32_t column = 0; // from 1, in bytes (a tab is one column)
    std::string message;
};

// Fills doc from text[0, size); the text must outlive doc. False, with error filled, when
// the text is refused. Throws std::bad_alloc when memory runs out.
bool ParseConfigText(const char* text, size_t size, ConfigLayout layout, ConfigDocument* doc,
                     ConfigTextError* error);
