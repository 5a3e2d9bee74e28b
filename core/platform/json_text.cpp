#include "platform/json_text.hpp"

#include <cstdio>

namespace torvela {

// The length of the well-formed UTF-8 sequence at `i`, or 0 when there is
// none: no overlong form, no surrogate, nothing past U+10FFFF.
std::size_t utf8_length(std::string_view s, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char b = at(0);
    if (b < 0x80) return 1;
    const std::size_t len = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    if (len == 0 || i + len > s.size()) return 0;
    for (std::size_t k = 1; k < len; ++k)
        if ((at(k) & 0xC0) != 0x80) return 0;
    const unsigned char second = at(1);
    if ((b == 0xE0 && second < 0xA0) || (b == 0xED && second > 0x9F) || (b == 0xF0 && second < 0x90) ||
        (b == 0xF4 && second > 0x8F))
        return 0;
    return len;
}

std::string well_formed_utf8(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = utf8_length(s, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(s.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string json_string(std::string_view s) {
    std::string out = "\"";
    for (std::size_t i = 0; i < s.size();) {
        const char c = s[i];
        const auto byte = static_cast<unsigned char>(c);
        const std::size_t len = utf8_length(s, i);
        char esc[8];
        if (c == '"' || c == '\\') {
            out += '\\', out += c;
        } else if (len > 1) {
            out.append(s.substr(i, len));
            i += len;
            continue;
        } else if (len == 0) {
            // A byte that is no UTF-8 as the lone surrogate U+DC80..U+DCFF,
            // which no character is: never mistaken for U+0080..U+00FF.
            std::snprintf(esc, sizeof esc, "\\uDC%02X", byte);
            out += esc;
        } else if (byte < 0x20 || byte == 0x7F) {
            std::snprintf(esc, sizeof esc, "\\u%04X", byte);
            out += esc;
        } else {
            out += c;
        }
        ++i;
    }
    return out + "\"";
}

namespace {

void append_utf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

struct reader {
    std::string_view s;
    std::size_t i = 0;
    void space() {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    }
    bool take(char c) {
        space();
        if (i >= s.size() || s[i] != c) return false;
        ++i;
        return true;
    }
    bool hex4(unsigned& v) {
        if (i + 4 > s.size()) return false;
        v = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = s[i++];
            v <<= 4;
            if (c >= '0' && c <= '9') v |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f') v |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') v |= static_cast<unsigned>(c - 'A' + 10);
            else return false;
        }
        return true;
    }
    bool string(std::string& out) {
        if (!take('"')) return false;
        while (i < s.size()) {
            const char c = s[i++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i >= s.size()) return false;
            const char e = s[i++];
            switch (e) {
            case '"': case '\\': case '/': out += e; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'u': {
                unsigned cp = 0;
                if (!hex4(cp)) return false;
                if (cp >= 0xDC80 && cp <= 0xDCFF) {
                    out += static_cast<char>(cp - 0xDC00);  // a byte that was no UTF-8
                } else if (cp >= 0xD800 && cp <= 0xDBFF) {
                    unsigned low = 0;
                    if (i + 2 > s.size() || s[i] != '\\' || s[i + 1] != 'u') return false;
                    i += 2;
                    if (!hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
                    append_utf8(out, 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00));
                } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                    return false;
                } else {
                    append_utf8(out, cp);
                }
                break;
            }
            default: return false;
            }
        }
        return false;
    }
    bool number(std::string& out) {
        space();
        const std::size_t from = i;
        if (i < s.size() && s[i] == '-') ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
        if (i == from || (i == from + 1 && s[from] == '-')) return false;
        out.assign(s.substr(from, i - from));
        return true;
    }
};

}  // namespace

std::optional<flat_object> read_flat_object(std::string_view text) {
    reader r{text};
    flat_object o;
    if (!r.take('{')) return std::nullopt;
    if (r.take('}')) {
        r.space();
        return r.i == text.size() ? std::optional(o) : std::nullopt;
    }
    do {
        std::string key, value;
        if (!r.string(key) || !r.take(':')) return std::nullopt;
        r.space();
        if (r.i < text.size() && text[r.i] == '"' ? !r.string(value) : !r.number(value)) return std::nullopt;
        if (!o.emplace(std::move(key), std::move(value)).second) return std::nullopt;
    } while (r.take(','));
    if (!r.take('}')) return std::nullopt;
    r.space();
    if (r.i != text.size()) return std::nullopt;
    return o;
}

}  // namespace torvela
