#pragma once

#include <string>

// The user's temporary folder without a trailing separator; empty when Windows names none.
std::string UserTempDirectory();
