// The one place that decides how kelo-host writes a whole output file.
#pragma once

#include <string>
#include <string_view>

// Writes `bytes` as the file at `path`: a regular file is written beside its
// target under a temporary name and renamed over it once complete, so a
// failed or interrupted write never leaves a half file under the user's
// name. Throws IoError naming `displayName`.
void WriteWholeFile(const std::string& displayName, const std::string& path, std::string_view bytes);
