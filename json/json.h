// The little JSON that the tools read and write: vm-batch's manifest (objects,
// arrays, strings, whole numbers, true, false and null; one value per line)
// and vm-scan's reports.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    int64_t number = 0;  // whole numbers only
    std::string text;
    std::vector<JsonValue> items;                              // Array
    std::vector<std::pair<std::string, JsonValue>> members;    // Object, in file order

    // The member `key` of an object; null when absent or not an object.
    const JsonValue* Find(const std::string& key) const;
};

// Parses one whole JSON text (white space around it allowed). False with a
// message naming the byte offset when the text is not one complete value.
bool ParseJson(const std::string& text, JsonValue& value, std::string& error);

// `text` as a JSON string with its quotes. Bytes that are not part of a valid
// UTF-8 sequence and control characters are written as \u00XX, which
// ParseJson turns back into the same single byte, so any file name survives
// the round trip.
std::string JsonQuote(const std::string& text);
// The shortest text that reads back as the same double; null when not finite.
std::string JsonNumber(double value);
// The shortest text that reads back as the same float; null when not finite.
std::string JsonFloat(float value);
