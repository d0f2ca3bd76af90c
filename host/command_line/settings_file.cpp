#include "host/command_line/settings_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host/files/byte_stream.h"
#include "host/files/utf8_path.h"

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
    ByteInput input(file.get(), displayName);
    std::string text(kMaxSettingsFileSize + 1, '\0');
    text.resize(input.Read(text.data(), text.size()));
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
    // Each character as it stands, or 0 for a byte that is not one, or a
    // control character.
    const auto lengthAt = [&](size_t i) {
        const size_t length = Utf8CharLength(std::string_view(text).substr(i));
        const auto byte = static_cast<unsigned char>(text[i]);
        return length == 1 && (byte < 0x20 || byte == 0x7f) ? 0 : length;
    };
    bool stray = false;
    for (size_t i = 0; i < text.size() && !stray; i += std::max<size_t>(lengthAt(i), 1)) stray = !lengthAt(i);
    if (!stray) {
        std::string quoted = "'";
        for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return quoted + "'";
    }
    // A name that is not text (a Unix file name may be any bytes) or holds
    // control characters: spelt byte by byte, so the line shows as text and
    // still names that very file in bash, zsh and a POSIX sh of 2024.
    std::string quoted = "$'";
    for (size_t i = 0; i < text.size(); i += std::max<size_t>(lengthAt(i), 1)) {
        const size_t length = lengthAt(i);
        if (length == 1 && (text[i] == '\'' || text[i] == '\\')) quoted += '\\';
        if (length) {
            quoted.append(text, i, length);
        } else {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(text[i]));
            quoted += escape;
        }
    }
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

FilterSettings SettingsInEffect(const FilterDescription& description, const std::vector<PlannedFile>& files,
                                const std::vector<std::string>& assignments) {
    FilterSettings settings = DefaultSettings(description);
    for (const PlannedFile& file : files) ApplySettingsFile(description, file.name, file.path, settings);
    for (const std::string& assignment : assignments) ApplySetting(description, assignment, settings);
    return settings;
}

void SaveSettings(const PlannedFile& file, const FilterDescription& description, const FilterSettings& settings) {
    WriteWholeFile(file.name, file.path, FormatSettings(description, settings));
}
