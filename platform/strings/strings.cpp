#include "platform/strings/Strings.h"

#include <cstdarg>
#include <cstdio>
#include <limits>

namespace platform {

namespace {

// Bytes up to this value count as blanks for trimming (space and every control byte).
constexpr unsigned char kLastBlank = 0x20;

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= kLastBlank;
}

// Value of a hexadecimal digit, or -1.
int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Length of the hexadecimal prefix at the start of text, 0 when there is none.
size_t HexPrefixLength(const std::string& text) {
    if (text.starts_with("0x") || text.starts_with("0X")) {
        return 2;
    }
    if (text.starts_with('$') || text.starts_with('x') || text.starts_with('X')) {
        return 1;
    }
    return 0;
}

}  // namespace

std::string Trim(const std::string& text) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && IsBlank(text[first])) {
        ++first;
    }
    while (last > first && IsBlank(text[last - 1])) {
        --last;
    }
    return text.substr(first, last - first);
}

int32_t StrToIntDef(const std::string& text, int32_t defaultValue) {
    // The magnitude is accumulated in 64 bits and checked after every digit, so any number of
    // digits is safe; the negative side may reach one more than the positive side.
    constexpr int64_t kMaxPositive = std::numeric_limits<int32_t>::max();
    constexpr int64_t kMaxNegative = kMaxPositive + 1;

    size_t at = HexPrefixLength(text);
    const bool hex = at > 0;
    bool negative = false;
    if (!hex && !text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        at = 1;
    }
    if (at == text.size()) {
        return defaultValue;
    }
    const int base = hex ? 16 : 10;
    const int64_t limit = negative ? kMaxNegative : kMaxPositive;
    int64_t magnitude = 0;
    for (; at < text.size(); ++at) {
        const int digit = HexDigit(text[at]);
        if (digit < 0 || digit >= base) {
            return defaultValue;
        }
        magnitude = magnitude * base + digit;
        if (magnitude > limit) {
            return defaultValue;
        }
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

std::string UpperCase(const std::string& text) {
    std::string upper = text;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return upper;
}

int Pos(const std::string& sub, const std::string& text) {
    if (sub.empty()) {
        return 0;
    }
    const size_t found = text.find(sub);
    return found == std::string::npos ? 0 : static_cast<int>(found) + 1;
}

std::string Copy(const std::string& text, int index, int count) {
    if (index < 1) {
        index = 1;
    }
    const size_t start = static_cast<size_t>(index) - 1;
    if (count < 1 || start >= text.size()) {
        return {};
    }
    return text.substr(start, static_cast<size_t>(count));
}

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list sizing;
    va_copy(sizing, args);
    const int length = std::vsnprintf(nullptr, 0, format, sizing);
    va_end(sizing);
    std::string text;
    if (length > 0) {
        // vsnprintf writes a terminating zero after the text: std::string keeps room for it.
        text.resize(static_cast<size_t>(length));
        std::vsnprintf(text.data(), text.size() + 1, format, args);
    }
    va_end(args);
    return text;
}

}  // namespace platform
