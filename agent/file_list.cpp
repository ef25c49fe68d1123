#include "file_list.h"

#include <cstring>

#include "text.h"

namespace {
constexpr char ID_KEY[] = "\"id\":";
constexpr char ORIGINAL_NAME_KEY[] = "\"original_name\":\"";
constexpr char FILE_NAME_KEY[] = "\"file_name\":\"";
constexpr long MAX_ID = 0x7fffffff;

// -1 unless the number there is 1 to MAX_ID.
long read_positive_number(const char* p) {
  long value = parse_decimal(p, MAX_ID);
  return value < 1 ? -1 : value;
}

bool is_reserved_device_name(std::string_view name) {
  // The device names are reserved with any extension and in any case.
  std::string_view stem = trim_view_end(name.substr(0, name.find('.')), " ");
  std::string lower;
  for (char c : stem) lower += ascii_lower(c);
  for (const char* reserved : {"con", "prn", "aux", "nul", "conin$", "conout$"})
    if (lower == reserved) return true;
  if (!lower.starts_with("com") && !lower.starts_with("lpt")) return false;
  std::string_view digit = std::string_view(lower).substr(3);
  // Windows reserves COM1-9 and LPT1-9 written with the superscripts 1, 2
  // and 3 too (UTF-8 C2 B9, C2 B2, C2 B3); COM0 and LPT0 stay reserved here.
  return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xc2\xb9" ||
         digit == "\xc2\xb2" || digit == "\xc2\xb3";
}
}  // namespace

long find_first_id(const char* body) {
  const char* match = std::strstr(body, ID_KEY);
  return match ? read_positive_number(match + std::strlen(ID_KEY)) : -1;
}

bool file_list_walker::next(file_entry& entry) {
  while (cursor_) {
    const char* match = std::strstr(cursor_, ID_KEY);
    const char* from = cursor_;
    cursor_ = nullptr;  // any stop below ends the walk
    if (!match || static_cast<size_t>(match - body_) >= capacity_ - FILES_MATCH_TAIL_BYTES) return false;
    // The record around the id: its name comes from there whatever the
    // order of the keys, never from a neighbour.
    const char* start = match;
    while (start > from && *start != '{') --start;
    const char* end = std::strchr(match, '}');
    std::string_view record(start, end ? static_cast<size_t>(end - start) : std::strlen(start));
    const char* after = record.data() + record.size();
    long id = read_positive_number(match + std::strlen(ID_KEY));
    size_t key = record.find(ORIGINAL_NAME_KEY);
    size_t key_len = std::strlen(ORIGINAL_NAME_KEY);
    if (key == std::string_view::npos) {
      key = record.find(FILE_NAME_KEY);
      key_len = std::strlen(FILE_NAME_KEY);
    }
    if (key == std::string_view::npos || id < 1) {
      cursor_ = after;  // no usable id or name: the next record
      continue;
    }
    const char* name = record.data() + key + key_len;
    const char* close = std::strchr(name, '"');
    if (!close) return false;
    size_t len = static_cast<size_t>(close - name);
    if (len > FILE_NAME_MAX_BYTES) return false;
    entry = {id, std::string_view(name, len)};
    cursor_ = after > close ? after : close + 1;
    return true;
  }
  return false;
}

bool is_empty_file_list(const char* body) {
  return std::strchr(body, '[') && std::strchr(body, ']') && !std::strstr(body, ID_KEY);
}

bool is_plain_file_name(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (unsigned char c : name) {
    if (c < 0x20 || std::strchr("<>:\"/\\|?*", c)) return false;
  }
  if (name.back() == '.' || name.back() == ' ') return false;
  return !is_reserved_device_name(name);
}

bool is_shortcut_name(std::string_view name) {
  for (const char* extension : {".lnk", ".url", ".scf", ".library-ms", ".searchconnector-ms"}) {
    size_t len = std::strlen(extension);
    if (name.size() >= len && equals_ignore_case(name.data() + name.size() - len, len, extension))
      return true;
  }
  return false;
}

std::string percent_encode(std::string_view text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}
