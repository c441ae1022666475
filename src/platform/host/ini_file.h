// A small INI reader and writer that behaves like the Windows profile
// functions where the library relies on them: names compare without regard
// to case, the first matching section and key count, a missing key gives
// nothing, and a write changes only its own key's line. Every other line,
// the file's line ends included, is kept byte for byte.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace morvantis::host {

// The parts of the file, as lines. Line ends may be "\r\n", "\n" or a lone
// "\r"; a last line without one is kept as it is.
class IniText {
public:
    explicit IniText(std::string text);

    // The value of `key` in `section`, white space around it removed.
    std::optional<std::string> get(std::string_view section, std::string_view key) const;

    // Replaces the value of `key` in `section`, or adds the key (below the
    // section's last line that holds something, ending as that line does)
    // or the section (at the end of the text, with the text's first line
    // end, "\r\n" for a text without one).
    void set(std::string_view section, std::string_view key, std::string_view value);

    const std::string& text() const { return text_; }

private:
    struct Line {
        std::size_t begin; // offset of the first character
        std::size_t end;   // offset of the line end (or of the text's end)
        std::size_t next;  // offset of the next line
    };
    std::optional<Line> lineAt(std::size_t offset) const;
    std::string_view content(const Line& line) const;
    std::string_view newline() const;

    std::string text_;
};

// Reads the whole file; nothing when it cannot be read.
std::optional<std::string> ReadTextFile(const std::string& path);

// Replaces the file with `text` through a temporary file and a rename, so
// that a write that fails leaves the old file as it was. False on failure.
bool ReplaceTextFile(const std::string& path, const std::string& text);

} // namespace morvantis::host
