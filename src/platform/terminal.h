#pragma once

// Whether standard error is a terminal that a status line may be drawn on ("\r", "\033[K"):
// progress is for people watching, never for a file, a pipe or a script.
bool StandardErrorIsTerminal();
