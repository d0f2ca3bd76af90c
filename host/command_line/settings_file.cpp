#include "host/command_line/settings_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host/files/byte_stream.h"

namespace {

// Far beyond any real settings file; a larger one is a wrong file.
constexpr size_t kMaxSettingsFileSize = 1 << 20;

std::string_view Trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

}  // namespace

void ApplySettingsText(const FilterDescription& description, const std::string& displayName, std::string_view text,
                       FilterSettings& settings) {
    // Editors on Windows put a byte-order mark in front of UTF-8, and may
    // save as UTF-16 instead, whose lines would not read as any setting.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    if (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF") {
        throw SettingError(displayName + ": is UTF-16 text; a settings file is UTF-8 (save it as UTF-8)");
    }
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const size_t end = text.find('\n');
        const std::string_view line = Trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        // A message quoting the line would end at the NUL.
        if (line.find('\0') != std::string_view::npos) {
            throw SettingError(displayName + ":" + std::to_string(lineNumber) +
                               ": holds a NUL byte; a settings file is text");
        }
        if (line.empty() || line.front() == '#') continue;
        ApplySetting(description, std::string(line), settings,
                     displayName + ":" + std::to_string(lineNumber) + ": ");
    }
}

void ApplySettingsFile(const FilterDescription& description, const std::string& displayName, const std::string& path,
                       FilterSettings& settings) {
    OpenedFile file = OpenedFile::ForReading(path, displayName);
    std::string text(kMaxSettingsFileSize + 1, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file.get()));
    if (std::ferror(file.get())) throw IoError(displayName + ": cannot read: " + std::strerror(errno));
    if (text.size() > kMaxSettingsFileSize) {
        throw IoError(displayName + ": too large for a settings file (more than " +
                      std::to_string(kMaxSettingsFileSize) + " bytes)");
    }
    ApplySettingsText(description, displayName, text, settings);
}

std::string FormatSettings(const FilterDescription& description, const FilterSettings& settings) {
    std::string text = "# kelo-host settings for " + description.name + "\n";
    for (size_t i = 0; i < description.tracks.size(); ++i) {
        text += description.tracks[i].name + "=" + std::to_string(settings.track[i]) + "\n";
    }
    for (size_t i = 0; i < description.checks.size(); ++i) {
        text += description.checks[i].name + "=" + std::to_string(settings.check[i]) + "\n";
    }
    return text;
}

std::string ShellQuoted(const std::string& text) {
    const bool plain = !text.empty() && text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                                              "0123456789_-.,/:=+@%") == std::string::npos;
    if (plain) return text;
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string SetArguments(const FilterDescription& description, const FilterSettings& settings) {
    std::string arguments;
    const auto add = [&](const std::string& name, int32_t value) {
        if (!arguments.empty()) arguments += ' ';
        arguments += "--set " + ShellQuoted(name + "=" + std::to_string(value));
    };
    for (size_t i = 0; i < description.tracks.size(); ++i) {
        if (settings.track[i] != description.tracks[i].initial) add(description.tracks[i].name, settings.track[i]);
    }
    for (size_t i = 0; i < description.checks.size(); ++i) {
        if (settings.check[i] != (description.checks[i].initial ? 1 : 0)) {
            add(description.checks[i].name, settings.check[i]);
        }
    }
    return arguments;
}
