#include "framework/streams/IniFile.h"

#include <algorithm>

#include "framework/streams/FileStream.h"
#include "framework/streams/FrameworkError.h"
#include "framework/streams/ReplacingFileStream.h"

namespace chatterly {
namespace {

std::string_view trimmed(std::string_view text) {
    const auto notSpace = text.find_first_not_of(" \t\r");
    if (notSpace == std::string_view::npos) {
        return {};
    }
    return text.substr(notSpace, text.find_last_not_of(" \t\r") - notSpace + 1);
}

}  // namespace

IniFile IniFile::parse(std::string_view text) {
    IniFile file;
    std::string section;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            continue;
        }
        if (line.front() == '[' && line.back() == ']') {
            section = std::string(trimmed(line.substr(1, line.size() - 2)));
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos || section.empty()) {
            continue;
        }
        file.values_[{section, std::string(trimmed(line.substr(0, equals)))}] =
            std::string(trimmed(line.substr(equals + 1)));
    }
    return file;
}

IniFile IniFile::load(const std::string& fileName) {
    try {
        FileStream stream(fileName, FileStream::Mode::Read);
        const std::vector<uint8_t> bytes = stream.readAll(kLargestFile);
        return parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    } catch (const FrameworkError&) {
        return {};
    }
}

void IniFile::save(const std::string& fileName) const {
    ReplacingFileStream stream(fileName, ReplacingFileStream::Kind::Private);
    const std::string bytes = text();
    stream.write(bytes.data(), bytes.size());
    stream.commit();
}

std::optional<std::string> IniFile::value(const std::string& section,
                                          const std::string& key) const {
    const auto found = values_.find({section, key});
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void IniFile::set(const std::string& section, const std::string& key, std::string value) {
    std::replace_if(
        value.begin(), value.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    values_[{section, key}] = std::string(trimmed(value));
}

std::string IniFile::text() const {
    std::string out;
    const std::string* section = nullptr;
    for (const auto& [where, value] : values_) {
        if (!section || *section != where.first) {
            out += (section ? "\n[" : "[") + where.first + "]\n";
            section = &where.first;
        }
        out += where.second + "=" + value + "\n";
    }
    return out;
}

}  // namespace chatterly
