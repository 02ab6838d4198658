#include "json/json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// Deeper nesting than the tools ever write is refused, so that a damaged
// line cannot exhaust the stack.
constexpr int kDeepestNesting = 16;
constexpr unsigned kEscapedBytes = 0xF700;  // U+F780 to U+F7FF stand for bytes 0x80 to 0xFF

// Length of the valid UTF-8 sequence starting at text[i], or 0.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b = byte(i);
    if (b < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (b >= 0xC2 && b <= 0xDF) length = 2;
    else if (b == 0xE0) length = 3, low = 0xA0;
    else if ((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF) length = 3;
    else if (b == 0xED) length = 3, high = 0x9F;
    else if (b == 0xF0) length = 4, low = 0x90;
    else if (b >= 0xF1 && b <= 0xF3) length = 4;
    else if (b == 0xF4) length = 4, high = 0x8F;
    else return 0;
    if (i + length > text.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    return length;
}

// The deepest nesting of arrays and objects outside strings.
int Nesting(const std::string& text) {
    int depth = 0, deepest = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') ++i;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

// A number from its shortest text: an integer when it is whole.
Json NumberOfText(const char* text) {
    const double value = std::strtod(text, nullptr);
    if (value == std::floor(value) && std::fabs(value) < 9007199254740992.0)
        return static_cast<long long>(value);
    return value;
}

}  // namespace

std::string JsonText(const std::string& bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size();) {
        if (const std::size_t n = Utf8Length(bytes, i)) {
            out.append(bytes, i, n);
            i += n;
            continue;
        }
        const unsigned code = kEscapedBytes + static_cast<unsigned char>(bytes[i++]);
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
    return out;
}

std::string BytesOfJsonText(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b == 0xEF && i + 2 < text.size()) {
            const unsigned code = ((b & 0x0Fu) << 12) | ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6) |
                                  (static_cast<unsigned char>(text[i + 2]) & 0x3Fu);
            if (code >= kEscapedBytes + 0x80 && code <= kEscapedBytes + 0xFF) {
                out += static_cast<char>(code - kEscapedBytes);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

Json JsonNumber(double value) {
    if (!std::isfinite(value)) return nullptr;
    char text[40];
    for (int digits = 1; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value) break;
    }
    return NumberOfText(text);
}

Json JsonFloat(float value) {
    if (!std::isfinite(value)) return nullptr;
    char text[40];
    for (int digits = 1; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
        if (std::strtof(text, nullptr) == value) break;
    }
    return NumberOfText(text);
}

std::string JsonDump(const Json& value, int indent) {
    return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

bool ParseJson(const std::string& text, Json& value, std::string& error) {
    if (Nesting(text) > kDeepestNesting) {
        error = "nested deeper than " + std::to_string(kDeepestNesting) + " levels";
        return false;
    }
    value = Json::parse(text, nullptr, false);
    if (value.is_discarded()) {
        error = "not one complete JSON value";
        return false;
    }
    return true;
}
