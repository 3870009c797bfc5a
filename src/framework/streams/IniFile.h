#pragma once
// The INI format of the station's settings file: "[Section]" lines and
// "key=value" lines below them; blank lines and lines opening with ';' or '#'
// are skipped, and so is a line that is neither (a damaged line costs only
// itself). Keys and values are trimmed of spaces; values are UTF-8 text on
// one line. Written whole: a file is replaced at once, private to the user
// (0600) and never through a link, so a crash leaves the old file or the new.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace chatterly {

class IniFile {
  public:
    static IniFile parse(std::string_view text);
    // The file's settings; none when it is missing, unreadable, not a
    // regular file or larger than kLargestFile.
    static IniFile load(const std::string& fileName);
    // Replaces the file with text(). Throws FileError when it cannot.
    void save(const std::string& fileName) const;

    std::optional<std::string> value(const std::string& section, const std::string& key) const;
    // A line break in value is stored as a space: one value, one line.
    void set(const std::string& section, const std::string& key, std::string value);
    std::string text() const;

    static constexpr size_t kLargestFile = 64 * 1024;

  private:
    std::map<std::pair<std::string, std::string>, std::string> values_;
};

}  // namespace chatterly
