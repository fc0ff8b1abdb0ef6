#pragma once

// Unit names are bytes as the units send them. The window shows them Latin-1 decoded (one
// character per byte), and so does vx418ctl: JSON carries them as that text in UTF-8, people's
// output too, with control characters made harmless.

#include <string>
#include <string_view>

// Every byte as the Latin-1 character of that code, in UTF-8. Never fails.
std::string Latin1ToUtf8(std::string_view bytes);

// Latin1ToUtf8 for a terminal: C0 controls, DEL and C1 controls become '?', so a name cannot end
// a line, split a tab-separated field or drive the terminal.
std::string DisplayText(std::string_view bytes);

// Equal when they differ at most in the case of ASCII letters.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
