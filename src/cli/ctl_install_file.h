#pragma once

// Reading an installation file, which may come from anywhere, before its fields are looked at:
// a bounded size, plain JSON text, no key twice in one object, a bounded nesting. The fields
// themselves are ParseInstallation's (cli/ctl_install.h).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "cli/ctl_output.h"

// An exported venue of a thousand units is under 300 KiB.
inline constexpr std::size_t kMaxInstallationFileBytes = 16 * 1024 * 1024;
// An installation nests four deep (document, units, unit, receivers).
inline constexpr std::size_t kMaxInstallationDepth = 16;

// The JSON document of text; nullopt and why when it is not JSON, is larger than
// kMaxInstallationFileBytes, nests deeper than kMaxInstallationDepth or has a key twice in one
// object (the last value must not silently win).
std::optional<Json> ParseInstallationText(std::string_view text, std::string& error);

// An installation document as files hold it: indented by two, invalid text replaced, one line
// end at the end.
std::string InstallationFileText(const Json& document);

// The same for the file at path, read only up to the limit (a device such as /dev/zero ends at
// once); the error names the file.
std::optional<Json> ReadInstallationDocument(const std::string& path, std::string& error);
