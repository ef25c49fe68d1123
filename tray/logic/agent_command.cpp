#include "agent_command.h"

#include <initializer_list>
#include <new>
#include <string>

#include "command_line.h"
#include "notify_rules.h"
#include "text.h"

namespace {
struct argument {
  const wchar_t* text;
  bool quoted;
};

bool build(const wchar_t* program_path, std::initializer_list<argument> arguments, wchar_t* out, size_t cap) {
  if (!out || cap == 0) return false;
  out[0] = L'\0';
  if (!program_path || !*program_path) return false;
  try {
    std::wstring line;
    // The first word is always quoted: with no application name given, the
    // system finds the program by it.
    append_quoted_argument(line, program_path, true);
    for (const argument& a : arguments) append_quoted_argument(line, a.text ? a.text : L"", a.quoted);
    if (line.size() >= cap) return false;
    return copy_bounded(out, cap, line.c_str());
  } catch (const std::bad_alloc&) {
    out[0] = L'\0';
    return false;
  }
}
}  // namespace

bool sync_command_line(const wchar_t* program_path, wchar_t* out, size_t cap) {
  return build(program_path, {{L"sync", false}}, out, cap);
}

bool files_command_line(const wchar_t* program_path, const wchar_t* name, const wchar_t* token, wchar_t* out,
                        size_t cap) {
  return build(program_path,
               {{L"files", false}, {L"--name", false}, {name, true}, {L"--token", false}, {token, true}}, out,
               cap);
}

void sync_failure_balloon_text(const wchar_t* result_text, const wchar_t* last_error, wchar_t* out,
                               size_t cap) {
  const wchar_t* text = TEXT_SYNC_FAILED_SHORT;
  if (result_text && *result_text)
    text = result_text;
  else if (last_error && *last_error)
    text = last_error;
  cut_balloon_text(text, out, cap);
}
