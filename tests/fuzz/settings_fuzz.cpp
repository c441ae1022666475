// Fuzzes the host INI reader and writer and the two conversions of the
// settings file.
//
// Input: a first line "section|key|value" naming one write, then the INI
// text. The target checks that
// - the conversions give what the C library's string-to-long conversions
//   with a 32-bit result give (signed and saturating for decimal, an
//   unsigned 32-bit pattern for hexadecimal), never reading past the text;
// - the write changes only the key's own line, or adds the key (and its
//   section) as new lines: every other line of the text survives unchanged
//   and in order, line ends included;
// - reading the key back gives the written value, and every other key the
//   text names reads as before.
#include "platform/host/ini_file.h"
#include "settings/conversion.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using morvantis::host::IniText;

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "property violated: %s\n", what);
        std::abort();
    }
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// The text in a buffer of exactly its size plus the terminating zero, so
// that the address sanitizer sees any read beyond it.
std::unique_ptr<char[]> exactCopy(std::string_view text)
{
    auto copy = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(copy.get(), text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

std::int32_t referenceDecimal(const char* text)
{
    const long long value = std::strtoll(text, nullptr, 10);
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<std::int32_t>(value);
}

std::uint32_t referenceHex(const char* text)
{
    errno = 0;
    const unsigned long long value = std::strtoull(text, nullptr, 16);
    if (errno == ERANGE) {
        return 0xFFFFFFFFu;
    }
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) {
        ++p;
    }
    const bool negative = *p == '-';
    const unsigned long long magnitude = negative ? 0ull - value : value;
    if (magnitude > 0xFFFFFFFFull) {
        return 0xFFFFFFFFu;
    }
    const auto pattern = static_cast<std::uint32_t>(magnitude);
    return negative ? 0u - pattern : pattern;
}

// The text up to its first NUL and at most `limit` characters.
void checkConversions(std::string_view text, std::size_t limit)
{
    text = text.substr(0, std::min({text.find('\0'), text.size(), limit}));
    const auto copy = exactCopy(text);
    check(morvantis::ParseDecimal(copy.get()) == referenceDecimal(copy.get()), "decimal");
    check(static_cast<std::uint32_t>(morvantis::ParseHexPattern(copy.get())) ==
              referenceHex(copy.get()),
          "hexadecimal");
}

struct Line {
    std::string_view content;
    std::string_view end; // "\r\n", "\n", "\r" or nothing for a last line
    bool operator==(const Line&) const = default;
};

std::vector<Line> splitLines(std::string_view text)
{
    std::vector<Line> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = begin;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n') {
            ++end;
        }
        std::size_t next = end;
        if (next < text.size()) {
            next += text[next] == '\r' && next + 1 < text.size() && text[next + 1] == '\n' ? 2 : 1;
        }
        lines.push_back({text.substr(begin, end - begin), text.substr(end, next - end)});
        begin = next;
    }
    return lines;
}

// The names a write may use: no line ends, no NUL, no blanks at either
// end (the reader drops them); a section name without "]", a key without
// "=" that does not start as a comment or a section does; a value without
// blanks at either end, as the reader gives it back.
std::string cleanName(std::string_view text, std::string_view forbidden)
{
    std::string name;
    for (const char c : text) {
        if (c != '\r' && c != '\n' && c != '\0' && forbidden.find(c) == std::string_view::npos) {
            name += c;
        }
    }
    return std::string(trim(name));
}

std::string cleanKey(std::string_view text)
{
    std::string key = cleanName(text, "=");
    while (!key.empty() && (key.front() == ';' || key.front() == '[' || isBlank(key.front()))) {
        key.erase(0, 1);
    }
    return key;
}

// The key a line "key=value" names, or nothing.
std::optional<std::string_view> keyOfLine(std::string_view line)
{
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
        return std::nullopt;
    }
    return trim(line.substr(0, equals));
}

// Every line but the written key's survives unchanged and in order.
void checkLines(std::string_view before, std::string_view after, const std::string& section,
                const std::string& key, const std::string& value)
{
    const std::vector<Line> old = splitLines(before);
    const std::vector<Line> now = splitLines(after);
    std::size_t head = 0;
    while (head < old.size() && head < now.size() && old[head] == now[head]) {
        ++head;
    }
    std::size_t tail = 0;
    while (tail < old.size() - head && tail < now.size() - head &&
           old[old.size() - 1 - tail] == now[now.size() - 1 - tail]) {
        ++tail;
    }
    const std::vector<Line> removed(old.begin() + long(head), old.end() - long(tail));
    std::vector<Line> added(now.begin() + long(head), now.end() - long(tail));

    const std::string keyLine = key + "=" + value;
    if (removed.size() == 1 && added.size() == 1 && removed[0].end == added[0].end) {
        // The key's line, rewritten with the name as the file spells it.
        const auto oldKey = keyOfLine(removed[0].content);
        check(oldKey && sameName(*oldKey, key), "a line other than the key's changed");
        check(added[0].content == std::string(*oldKey) + "=" + value, "the key's line");
        return;
    }
    // The text's usual line end: its first one.
    const std::string_view usualEnd = old.empty() || old[0].end.empty() ? "\r\n" : old[0].end;
    std::size_t first = head; // the first added line in the new text
    if (removed.size() == 1) {
        // The text's last line had no line end; a line below it gives it one.
        check(head + 1 == old.size() && removed[0].end.empty(), "a line was lost");
        check(added.size() >= 2 && added[0].content == removed[0].content &&
                  added[0].end == usualEnd,
              "the last line changed");
        added.erase(added.begin());
        ++first;
    } else {
        check(removed.empty(), "lines were lost");
    }
    if (added.empty()) {
        return; // the same value again
    }
    const std::string sectionLine = "[" + section + "]";
    if (added.size() == 2 && added[0].content == sectionLine) {
        check(added[0].end == usualEnd && added[1].end == usualEnd,
              "an added section ends unlike the text");
    } else {
        check(added.size() == 1, "more lines than the key and its section");
        check(first > 0 && added[0].end == now[first - 1].end,
              "an added key ends unlike the line above it");
    }
    check(added.back().content == keyLine, "the added key's line");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    checkConversions(input, input.size());
    checkConversions(input, 79); // a value as the settings file hands it on

    const std::size_t headerEnd = std::min(input.find('\n'), input.size());
    const std::string_view header = input.substr(0, headerEnd);
    const std::string_view before = input.substr(std::min(headerEnd + 1, input.size()));

    const std::size_t bar1 = std::min(header.find('|'), header.size());
    const std::size_t bar2 = std::min(header.find('|', bar1 + 1), header.size());
    const std::string section = cleanName(header.substr(0, bar1), "]");
    const std::string key = cleanKey(
        header.substr(std::min(bar1 + 1, header.size()), bar2 - std::min(bar1 + 1, header.size())));
    const std::string value = cleanName(header.substr(std::min(bar2 + 1, header.size())), "");

    // Every section and key the text names, as probes of what must not
    // change; a few of each are enough.
    std::vector<std::string> sections{section};
    std::vector<std::string> keys{key};
    for (const Line& line : splitLines(before)) {
        const std::string_view content = trim(line.content);
        if (!content.empty() && content.front() == '[') {
            const std::size_t close = content.find(']');
            if (close != std::string_view::npos && sections.size() < 4) {
                sections.emplace_back(trim(content.substr(1, close - 1)));
            }
        } else if (const auto name = keyOfLine(content); name && keys.size() < 6) {
            keys.emplace_back(*name);
        }
    }

    IniText ini{std::string(before)};
    std::vector<std::optional<std::string>> oldValues;
    for (const std::string& s : sections) {
        for (const std::string& k : keys) {
            oldValues.push_back(ini.get(s, k));
            if (oldValues.back()) {
                checkConversions(*oldValues.back(), 79);
            }
        }
    }

    ini.set(section, key, value);
    checkLines(before, ini.text(), section, key, value);
    check(ini.get(section, key) == value, "the key reads back as written");

    std::size_t index = 0;
    for (const std::string& s : sections) {
        for (const std::string& k : keys) {
            if (!(sameName(s, section) && sameName(k, key))) {
                check(ini.get(s, k) == oldValues[index], "another key changed");
            }
            ++index;
        }
    }
    return 0;
}
