// The JSON that the tools write and read (vm-scan's reports, vm-batch's
// manifest), through nlohmann's library, keys kept in the order they are put.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

using Json = nlohmann::ordered_json;

// A text as it goes into JSON: valid UTF-8 as it is, and each byte that is not
// part of a valid UTF-8 sequence as the private-use character U+F700 + byte
// (U+F780 to U+F7FF), so that any file name survives; BytesOfJsonText gives
// the very bytes back.
std::string JsonText(const std::string& bytes);
std::string BytesOfJsonText(const std::string& text);

// The shortest number that reads back as the same double, or float; whole
// values as integers; null when not finite.
Json JsonNumber(double value);
Json JsonFloat(float value);

// One line of JSON (`indent` < 0), or the value indented by `indent` blanks.
std::string JsonDump(const Json& value, int indent = -1);

// Parses one whole JSON text. False with a message when it is not one
// complete value, or nests deeper than anything the tools write.
bool ParseJson(const std::string& text, Json& value, std::string& error);
