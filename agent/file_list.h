// Reading the customer and file-list answers of the files command: a plain
// text scan (pure text logic), plus the checks on what the server sends.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr size_t FILES_RESPONSE_CAPACITY = 32768;
// A match this close to the buffer's end may have been cut by it.
inline constexpr size_t FILES_MATCH_TAIL_BYTES = 20;
inline constexpr size_t FILE_NAME_MAX_BYTES = 259;

// The number after the first "id": in body; -1 when there is none or it is
// not a positive number.
long find_first_id(const char* body);

struct file_entry {
  long id;
  std::string_view name;  // raw bytes between the quotes, escapes not decoded
};

// Walks the records that hold an "id": key, in order, each with the
// "original_name" (else "file_name") of the same record, in whatever order
// the keys come. A record without a positive id or a name is skipped; the
// walk stops at an id near the buffer's end, an unterminated or too long name.
class file_list_walker {
 public:
  explicit file_list_walker(const char* body, size_t buffer_capacity = FILES_RESPONSE_CAPACITY)
      : body_(body), cursor_(body), capacity_(buffer_capacity) {}
  bool next(file_entry& entry);

 private:
  const char* body_;
  const char* cursor_;
  size_t capacity_;
};

// True when the body looks like an empty list: "[" and "]" and no "id":.
bool is_empty_file_list(const char* body);

// True for a name that is safe to create in the files folder as it is: no
// path separators, drive or stream colon, characters Windows forbids, "."
// or "..", trailing dot or blank, or reserved device name.
bool is_plain_file_name(std::string_view name);

// True for a name the shell renders or follows as a shortcut (".lnk", ".url",
// ".scf", ".library-ms", ".searchConnector-ms", in any case): such a file can
// point its icon at a network share, and showing the folder then sends the
// user's credentials there.
bool is_shortcut_name(std::string_view name);

// Percent-encodes every byte but the unreserved ones (RFC 3986), so a name
// reaches its own path segment and nothing else.
std::string percent_encode(std::string_view text);
