#include "json/json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

// Deeper nesting than the manifest ever has is refused, so that a damaged
// line cannot exhaust the stack.
constexpr int kDeepestNesting = 16;

struct Parser {
    const std::string& text;
    std::size_t at = 0;
    std::string error;

    bool Fail(const std::string& what) {
        if (error.empty()) error = what + " at byte " + std::to_string(at);
        return false;
    }
    void SkipSpace() {
        while (at < text.size() &&
               (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r'))
            ++at;
    }
    bool Literal(const char* word) {
        const std::string w = word;
        if (text.compare(at, w.size(), w) != 0) return Fail("unknown word");
        at += w.size();
        return true;
    }
    bool Hex4(unsigned& code) {
        if (at + 4 > text.size()) return Fail("short \\u escape");
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text[at++];
            code <<= 4;
            if (c >= '0' && c <= '9') code |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f') code |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') code |= static_cast<unsigned>(c - 'A' + 10);
            else return Fail("bad \\u escape");
        }
        return true;
    }
    static void PutUtf8(std::string& out, unsigned code) {
        if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        }
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
    bool String(std::string& out) {
        ++at;  // the opening quote
        out.clear();
        for (;;) {
            if (at >= text.size()) return Fail("unterminated string");
            const char c = text[at++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return Fail("control character in string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at >= text.size()) return Fail("unterminated string");
            const char e = text[at++];
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    unsigned code = 0;
                    if (!Hex4(code)) return false;
                    if (code < 0x100) {
                        out += static_cast<char>(code);  // one byte, as JsonQuote wrote it
                    } else if (code >= 0xD800 && code < 0xDC00) {
                        unsigned low = 0;
                        if (text.compare(at, 2, "\\u") != 0) return Fail("lone surrogate");
                        at += 2;
                        if (!Hex4(low)) return false;
                        if (low < 0xDC00 || low >= 0xE000) return Fail("lone surrogate");
                        PutUtf8(out, 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00));
                    } else if (code >= 0xDC00 && code < 0xE000) {
                        return Fail("lone surrogate");
                    } else {
                        PutUtf8(out, code);
                    }
                    break;
                }
                default:
                    return Fail("bad escape");
            }
        }
    }
    bool Number(int64_t& out) {
        const bool negative = text[at] == '-';
        if (negative) ++at;
        if (at >= text.size() || text[at] < '0' || text[at] > '9') return Fail("bad number");
        if (text[at] == '0' && at + 1 < text.size() && text[at + 1] >= '0' && text[at + 1] <= '9')
            return Fail("leading zero");
        uint64_t magnitude = 0;
        const uint64_t limit = negative ? uint64_t{1} << 63 : static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
            const auto digit = static_cast<uint64_t>(text[at] - '0');
            if (magnitude > (limit - digit) / 10) return Fail("number out of range");
            magnitude = magnitude * 10 + digit;
        }
        if (at < text.size() && (text[at] == '.' || text[at] == 'e' || text[at] == 'E'))
            return Fail("not a whole number");
        out = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
        return true;
    }
    bool Value(JsonValue& value, int depth) {
        SkipSpace();
        if (at >= text.size()) return Fail("missing value");
        const char c = text[at];
        if (c == '{' || c == '[') {
            if (depth >= kDeepestNesting) return Fail("nesting too deep");
            const bool object = c == '{';
            const char close = object ? '}' : ']';
            value.kind = object ? JsonValue::Kind::Object : JsonValue::Kind::Array;
            ++at;
            SkipSpace();
            if (at < text.size() && text[at] == close) {
                ++at;
                return true;
            }
            for (;;) {
                SkipSpace();
                if (object) {
                    if (at >= text.size() || text[at] != '"') return Fail("expected a member name");
                    std::string key;
                    if (!String(key)) return false;
                    SkipSpace();
                    if (at >= text.size() || text[at] != ':') return Fail("expected ':'");
                    ++at;
                    value.members.emplace_back(std::move(key), JsonValue());
                    if (!Value(value.members.back().second, depth + 1)) return false;
                } else {
                    value.items.emplace_back();
                    if (!Value(value.items.back(), depth + 1)) return false;
                }
                SkipSpace();
                if (at >= text.size()) return Fail("unterminated value");
                if (text[at] == ',') {
                    ++at;
                    continue;
                }
                if (text[at] == close) {
                    ++at;
                    return true;
                }
                return Fail("expected ',' or a closing bracket");
            }
        }
        if (c == '"') {
            value.kind = JsonValue::Kind::String;
            return String(value.text);
        }
        if (c == '-' || (c >= '0' && c <= '9')) {
            value.kind = JsonValue::Kind::Number;
            return Number(value.number);
        }
        if (c == 't' || c == 'f') {
            value.kind = JsonValue::Kind::Bool;
            value.boolean = c == 't';
            return Literal(value.boolean ? "true" : "false");
        }
        if (c == 'n') {
            value.kind = JsonValue::Kind::Null;
            return Literal("null");
        }
        return Fail("unexpected character");
    }
};

// Length of the valid UTF-8 sequence starting at text[i], or 0.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b = byte(i);
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

}  // namespace

const JsonValue* JsonValue::Find(const std::string& key) const {
    if (kind != Kind::Object) return nullptr;
    for (const auto& [name, member] : members)
        if (name == key) return &member;
    return nullptr;
}

bool ParseJson(const std::string& text, JsonValue& value, std::string& error) {
    Parser parser{text, 0, std::string()};
    value = JsonValue();
    bool ok = parser.Value(value, 0);
    if (ok) {
        parser.SkipSpace();
        if (parser.at != text.size()) ok = parser.Fail("text after the value");
    }
    if (!ok) error = parser.error;
    return ok;
}

std::string JsonQuote(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b == '"' || b == '\\') {
            out += '\\';
            out += text[i++];
        } else if (b == '\n') {
            out += "\\n", ++i;
        } else if (b == '\t') {
            out += "\\t", ++i;
        } else if (b < 0x20 || b == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", b);
            out += escape, ++i;
        } else if (b < 0x80) {
            out += text[i++];
        } else if (const std::size_t n = Utf8Length(text, i)) {
            out.append(text, i, n);
            i += n;
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", b);
            out += escape, ++i;
        }
    }
    return out + "\"";
}

std::string JsonNumber(double value) {
    if (!std::isfinite(value)) return "null";
    char text[40];
    for (int digits = 1; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value) break;
    }
    return text;
}

std::string JsonFloat(float value) {
    if (!std::isfinite(value)) return "null";
    char text[40];
    for (int digits = 1; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
        if (std::strtof(text, nullptr) == value) break;
    }
    return text;
}
