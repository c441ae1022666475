#include "platform/host/ini_file.h"

#include <cstdio>

namespace morvantis::host {
namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view trim(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// The section name of a "[name]" line, or nothing for any other line.
std::optional<std::string_view> sectionName(std::string_view line)
{
    line = trim(line);
    if (line.empty() || line.front() != '[') {
        return std::nullopt;
    }
    const std::size_t close = line.find(']');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return trim(line.substr(1, close - 1));
}

// The key of a "key=value" line, or nothing for comments and other lines.
std::optional<std::string_view> keyName(std::string_view line)
{
    const std::string_view trimmed = trim(line);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '[') {
        return std::nullopt;
    }
    const std::size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos) {
        return std::nullopt;
    }
    return trim(trimmed.substr(0, equals));
}

} // namespace

IniText::IniText(std::string text) : text_(std::move(text))
{
}

std::optional<IniText::Line> IniText::lineAt(std::size_t offset) const
{
    if (offset >= text_.size()) {
        return std::nullopt;
    }
    const std::size_t end = text_.find_first_of("\r\n", offset);
    if (end == std::string::npos) {
        return Line{offset, text_.size(), text_.size()};
    }
    const bool crlf = text_[end] == '\r' && end + 1 < text_.size() && text_[end + 1] == '\n';
    return Line{offset, end, end + (crlf ? 2 : 1)};
}

std::string_view IniText::content(const Line& line) const
{
    return std::string_view(text_).substr(line.begin, line.end - line.begin);
}

std::string_view IniText::newline() const
{
    const std::size_t end = text_.find_first_of("\r\n");
    if (end != std::string::npos && text_[end] == '\n') {
        return "\n";
    }
    if (end != std::string::npos && (end + 1 == text_.size() || text_[end + 1] != '\n')) {
        return "\r";
    }
    return "\r\n";
}

std::optional<std::string> IniText::get(std::string_view section, std::string_view key) const
{
    bool inSection = false;
    for (auto line = lineAt(0); line; line = lineAt(line->next)) {
        const std::string_view text = content(*line);
        if (const auto name = sectionName(text)) {
            if (inSection) {
                // Only the first section of that name counts.
                return std::nullopt;
            }
            inSection = sameName(*name, section);
        } else if (inSection) {
            const auto found = keyName(text);
            if (found && sameName(*found, key)) {
                const std::string_view trimmed = trim(text);
                return std::string(trim(trimmed.substr(trimmed.find('=') + 1)));
            }
        }
    }
    return std::nullopt;
}

void IniText::set(std::string_view section, std::string_view key, std::string_view value)
{
    bool inSection = false;
    std::optional<Line> above; // the line a new key goes below
    for (auto line = lineAt(0); line; line = lineAt(line->next)) {
        const std::string_view text = content(*line);
        if (const auto name = sectionName(text)) {
            if (inSection) {
                break;
            }
            inSection = sameName(*name, section);
            if (inSection) {
                above = line;
            }
        } else if (inSection) {
            const auto found = keyName(text);
            if (found && sameName(*found, key)) {
                std::string replacement(*found);
                replacement += '=';
                replacement += value;
                text_.replace(line->begin, line->end - line->begin, replacement);
                return;
            }
            if (!trim(text).empty()) {
                above = line;
            }
        }
    }

    // New lines end as the line above them does. Taking the text's usual
    // line end instead could put a lone "\r" before a "\n" of the next
    // line, and the two would read as one line end: a line would be lost.
    std::string eol(newline());
    std::size_t at = text_.size();
    if (above) {
        at = above->next;
        if (above->next != above->end) {
            eol = text_.substr(above->end, above->next - above->end);
        }
    }
    std::string added;
    if (at == text_.size() && !text_.empty() && text_.back() != '\n' && text_.back() != '\r') {
        added += eol; // the last line had no line end
    }
    if (!above) {
        added += '[';
        added += section;
        added += ']';
        added += eol;
    }
    added += key;
    added += '=';
    added += value;
    added += eol;
    text_.insert(at, added);
}

std::optional<std::string> ReadTextFile(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return std::nullopt;
    }
    std::string content;
    char block[4096];
    std::size_t count = 0;
    while ((count = std::fread(block, 1, sizeof block, file)) > 0) {
        content.append(block, count);
    }
    // A read that stopped on an error gives nothing rather than a part of
    // the file, which a write would otherwise store as the whole.
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        return std::nullopt;
    }
    return content;
}

bool ReplaceTextFile(const std::string& path, const std::string& text)
{
    const std::string temporary = path + ".new~";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    // Closing flushes; its failure means the text did not all arrive.
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace morvantis::host
