// Reading a decimal integer from the start of a text, as the settings dialog and the update
// check both do. Platform-free.
#pragma once

#include <cstdint>
#include <string_view>

// Skips leading white space, takes an optional sign and decimal digits, and stops at the first
// character that cannot continue the number; whatever follows is ignored. Without digits, or
// when the number does not fit a signed 32-bit integer, returns false and leaves value as it was.
bool ParseLeadingInt32(std::string_view text, std::int32_t& value);
