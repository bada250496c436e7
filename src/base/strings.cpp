#include "base/strings.h"

#include <algorithm>

namespace bs
{

bool isspacesymb(int c)
{
    return c >= 0x01 && c <= 0x20;
}

namespace
{

std::string_view ltrimView(std::string_view text)
{
    std::size_t start = 0;
    while (start < text.size() && isspacesymb(static_cast<unsigned char>(text[start]))) {
        ++start;
    }
    return text.substr(start);
}

std::string_view rtrimView(std::string_view text)
{
    std::size_t end = text.size();
    while (end > 0 && isspacesymb(static_cast<unsigned char>(text[end - 1]))) {
        --end;
    }
    return text.substr(0, end);
}

std::string_view trimView(std::string_view text)
{
    return rtrimView(ltrimView(text));
}

} // namespace

std::string ltrim(std::string_view text)
{
    return std::string(ltrimView(text));
}

std::string rtrim(std::string_view text)
{
    return std::string(rtrimView(text));
}

std::string trim(std::string_view text)
{
    return std::string(trimView(text));
}

std::vector<std::string> splitVector(std::string_view text, char delimiter, bool trim, bool unique)
{
    std::vector<std::string> result;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(delimiter, start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view piece = text.substr(start, end - start);
        start = end + 1;
        const std::string_view trimmed = trimView(piece);
        if (trimmed.empty()) {
            continue;
        }
        std::string value(trim ? trimmed : piece);
        if (unique && std::find(result.begin(), result.end(), value) != result.end()) {
            continue;
        }
        result.push_back(std::move(value));
    }
    return result;
}

bool splitKeyValue(std::string_view text, std::string& key, std::string& value, char separator, bool trim)
{
    if (text.empty()) {
        return false;
    }
    const std::size_t at = text.find(separator);
    if (at == std::string_view::npos) {
        return false;
    }
    const std::string_view keyPart = text.substr(0, at);
    const std::string_view valuePart = text.substr(at + 1);
    key = trim ? trimView(keyPart) : keyPart;
    value = trim ? trimView(valuePart) : valuePart;
    return true;
}

std::map<std::string, std::string> splitMap(std::string_view text, char separator, bool trim)
{
    std::map<std::string, std::string> result;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string key;
        std::string value;
        if (splitKeyValue(text.substr(start, end - start), key, value, separator, trim)) {
            result.emplace(std::move(key), std::move(value));
        }
        start = end + 1;
    }
    return result;
}

std::string join(const std::vector<std::string>& parts, std::string_view separator)
{
    std::string out;
    if (parts.empty()) {
        return out;
    }
    out.reserve(textSize(parts) + separator.size() * (parts.size() - 1));
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i != 0) {
            out.append(separator);
        }
        out.append(parts[i]);
    }
    return out;
}

std::size_t textSize(const std::vector<std::string>& parts)
{
    std::size_t size = 0;
    for (const auto& part : parts) {
        size += part.size();
    }
    return size;
}

std::size_t countStringOccurrences(std::string_view text, std::string_view pattern)
{
    if (pattern.empty()) {
        return 0;
    }
    std::size_t count = 0;
    std::size_t at = text.find(pattern);
    while (at != std::string_view::npos) {
        ++count;
        at = text.find(pattern, at + pattern.size());
    }
    return count;
}

bool isContainCyrillic(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char ch) {
        const auto b = static_cast<unsigned char>(ch);
        return b == 0xD0 || b == 0xD1 || (b >= 0x80 && b <= 0xBF);
    });
}

std::string addLeadingZeros(std::string_view text, std::size_t width)
{
    if (text.size() >= width) {
        return std::string(text);
    }
    std::string out(width - text.size(), '0');
    out.append(text);
    return out;
}

std::vector<unsigned char> deleteLeadingZeros(const std::vector<unsigned char>& data)
{
    std::size_t start = 0;
    while (start + 1 < data.size() && data[start] == 0) {
        ++start;
    }
    return std::vector<unsigned char>(data.begin() + static_cast<std::ptrdiff_t>(start), data.end());
}

void changeByteOrder(unsigned char* data, std::size_t size)
{
    if (data == nullptr) {
        return;
    }
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        std::swap(data[i], data[i + 1]);
    }
}

} // namespace bs
