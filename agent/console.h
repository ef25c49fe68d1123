// Console output of the command-line paths.
#pragma once

// Formats (Microsoft meaning, see text.h) and writes to stdout through the
// C runtime's wide output; every line ends in "\n" written by its format.
void console_print(const wchar_t* format, ...);
// The same to stderr: the reason that follows a failure's written line, kept
// apart so that stdout's texts stay as they are.
void console_print_error(const wchar_t* format, ...);
// Prints last_api_error when it holds a text, else fallback, as one line.
void console_print_failure(const wchar_t* fallback);
