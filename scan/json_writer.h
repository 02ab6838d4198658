// The few pieces of JSON that vm-scan writes: strings, numbers and null.
#pragma once

#include <string>

// A JSON string: valid UTF-8 passes through, other bytes are taken as
// Latin-1 characters (texts of the recording are 8-bit), control characters
// and quotes are escaped.
std::string JsonString(const std::string& text);
// The shortest text that reads back as the same double; null when not finite.
std::string JsonNumber(double value);
// The shortest text that reads back as the same float; null when not finite.
std::string JsonFloat(float value);
