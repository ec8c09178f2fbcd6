#include "Names.h"

#include <algorithm>

namespace Names {

namespace {

// Length of the UTF-8 sequence starting at text[i] and its code point, or 0
// when the bytes there are malformed (overlong, surrogate, out of range).
std::size_t sequenceAt(std::string_view text, std::size_t i, char32_t *codePoint)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length;
    char32_t value;
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (byte(i + k) & 0x3F);
    }
    static constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < smallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *codePoint = value;
    return length;
}

bool isControl(char32_t c)
{
    return c < 0x20 || c == 0x7F;
}

} // namespace

std::optional<std::u32string> decodeUtf8(std::string_view text)
{
    std::u32string result;
    for (std::size_t i = 0; i < text.size();) {
        char32_t c;
        const std::size_t length = sequenceAt(text, i, &c);
        if (length == 0)
            return std::nullopt;
        result.push_back(c);
        i += length;
    }
    return result;
}

std::string cutUtf8(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return std::string(text);
    std::size_t end = maxBytes;
    // Step back over continuation bytes to the start of the cut sequence.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return std::string(text.substr(0, end));
}

std::string folderNameForLabel(std::string_view label)
{
    std::string name;
    for (std::size_t i = 0; i < label.size();) {
        char32_t c;
        const std::size_t length = sequenceAt(label, i, &c);
        if (length == 0) {
            name += '_';
            ++i;
            continue;
        }
        if (isControl(c) || c == U'/')
            name += '_';
        else
            name.append(label.substr(i, length));
        i += length;
    }
    const auto isSpace = [](char c) { return c == ' '; };
    const auto first = std::find_if_not(name.begin(), name.end(), isSpace);
    const auto last = std::find_if_not(name.rbegin(), name.rend(), isSpace).base();
    name = first < last ? std::string(first, last) : std::string();
    if (name.empty())
        name = "Untitled";
    if (name.front() == '.')
        name.insert(0, 1, '_');
    // NAME_MAX is 255; leave room for a " NNNN" suffix.
    return cutUtf8(name, 240);
}

std::string candidateFolderName(const std::string &base, int attempt)
{
    return attempt == 0 ? base : base + ' ' + std::to_string(attempt);
}

std::string volumeLabelForFolder(std::string_view folderName)
{
    const std::string label = cutUtf8(folderName, 32);
    return label.empty() ? std::string("Untitled") : label;
}

std::optional<std::string> udfNameProblem(std::string_view name)
{
    const std::optional<std::u32string> codePoints = decodeUtf8(name);
    if (!codePoints)
        return std::string("the name is not valid UTF-8");
    bool wide = false;
    for (const char32_t c : *codePoints) {
        if (c > 0xFFFF)
            return std::string(
                "the name has a character beyond U+FFFF, which UDF here cannot hold");
        if (isControl(c))
            return std::string("the name has a control character, which UDF here cannot hold");
        if (c == U'*' || c == U':' || c == U';' || c == U'?' || c == U'\\')
            return std::string("the name has one of * : ; ? \\, which UDF here cannot hold");
        wide = wide || c > 0xFF;
    }
    const std::size_t limit = wide ? 127 : 254;
    if (codePoints->size() > limit)
        return "the name is longer than the " + std::to_string(limit) +
               " characters a UDF name can hold" +
               (wide ? std::string(" when it has characters beyond U+00FF") : std::string());
    return std::nullopt;
}

} // namespace Names
