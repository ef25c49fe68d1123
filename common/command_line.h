// Building command lines for child processes (pure text logic).
#pragma once

#include <string>

// Appends arg to command_line, preceded by a blank when the line is not empty,
// quoted so that CommandLineToArgvW and the C runtime give back exactly arg:
// quotes are escaped, and backslashes doubled where they precede a quote.
// always_quote: quotes even a plain word.
void append_quoted_argument(std::wstring& command_line, const wchar_t* arg, bool always_quote = false);
