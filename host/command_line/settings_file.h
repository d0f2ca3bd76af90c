// kelo-host's settings files: one NAME=VALUE a line, names as --describe
// prints them, '#' starting a comment line. The plug-in never sees them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/files/file_plan.h"
#include "host/filter/filter_plugin.h"

// Applies every line of `text` in order; a bad line throws SettingError
// naming `displayName` and the line's number.
void ApplySettingsText(const FilterDescription& description, const std::string& displayName, std::string_view text,
                       FilterSettings& settings);
// Reads the file at `path` and applies it; IoError when it cannot be read.
void ApplySettingsFile(const FilterDescription& description, const std::string& displayName, const std::string& path,
                       FilterSettings& settings);
// Every setting in effect, in the descriptor's order, as a file that reads
// back to the same settings.
std::string FormatSettings(const FilterDescription& description, const FilterSettings& settings);
// The --set arguments for the settings that differ from the defaults,
// quoted for a POSIX shell.
std::string SetArguments(const FilterDescription& description, const FilterSettings& settings);
// `text` as one word of a POSIX shell command line.
std::string ShellQuoted(const std::string& text);

// The descriptor's defaults, then each file in order, then every --set.
FilterSettings SettingsInEffect(const FilterDescription& description, const std::vector<PlannedFile>& files,
                                const std::vector<std::string>& assignments);
// kelo-host --save-settings: the settings in effect into `file`.
void SaveSettings(const PlannedFile& file, const FilterDescription& description, const FilterSettings& settings);
