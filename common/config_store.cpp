#include "config_store.h"

#include <windows.h>

#include <wincrypt.h>

#include <cstring>
#include <memory>
#include <vector>

#include "config_cipher.h"
#include "data_folder.h"
#include "file_io.h"
#include "folder_security.h"
#include "text.h"

namespace {
bool base64_encode(const std::vector<uint8_t>& bytes, std::string& text) {
  DWORD chars = 0;
  const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  if (!CryptBinaryToStringA(bytes.data(), static_cast<DWORD>(bytes.size()), flags, nullptr, &chars))
    return false;
  text.assign(chars, '\0');
  if (!CryptBinaryToStringA(bytes.data(), static_cast<DWORD>(bytes.size()), flags, text.data(), &chars))
    return false;
  text.resize(chars);  // the second call counts without the terminator
  return true;
}

bool base64_decode(const char* text, DWORD len, std::vector<uint8_t>& bytes) {
  DWORD size = 0;
  if (!CryptStringToBinaryA(text, len, CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr)) return false;
  bytes.resize(size);
  if (!CryptStringToBinaryA(text, len, CRYPT_STRING_BASE64, bytes.data(), &size, nullptr, nullptr))
    return false;
  bytes.resize(size);
  return true;
}

}  // namespace

bool read_config_file(const wchar_t* path, char* out, size_t cap) {
  if (!out || cap == 0) return false;
  out[0] = '\0';
  file_handle file = open_for_reading(path, FILE_SHARE_READ);
  if (!file) return false;
  DWORD size = GetFileSize(file.get(), nullptr);
  if (size == 0 || size == INVALID_FILE_SIZE || size > CONFIG_FILE_MAX_BYTES) return false;
  std::string text(size, '\0');
  size_t got = 0;
  if (!read_up_to(file.get(), text.data(), size, got) || got != size) return false;
  file.reset();

  std::vector<uint8_t> decoded;
  if (!base64_decode(text.data(), size, decoded)) return false;
  if (decoded.size() < CIPHER_BLOCK_BYTES + 1) return false;
  size_t plain_size = decoded.size() - CIPHER_BLOCK_BYTES;
  if (plain_size > cap - 1) return false;
  if (!config_cipher(decoded.data(), decoded.data() + CIPHER_BLOCK_BYTES, reinterpret_cast<uint8_t*>(out),
                     plain_size, cipher_direction::decrypt)) {
    out[0] = '\0';
    return false;
  }
  out[plain_size] = '\0';
  return true;
}

bool write_config_file(const wchar_t* path, const char* text) {
  if (!path || !text) return false;
  size_t len = std::strlen(text);
  std::vector<uint8_t> bytes(CIPHER_BLOCK_BYTES + len);
  if (!random_iv(bytes.data())) return false;
  if (!config_cipher(bytes.data(), reinterpret_cast<const uint8_t*>(text), bytes.data() + CIPHER_BLOCK_BYTES,
                     len, cipher_direction::encrypt))
    return false;
  std::string encoded;
  if (!base64_encode(bytes, encoded)) return false;
  ensure_data_folder(path);
  return replace_file(path, encoded.data(), encoded.size());
}

bool read_config_record(const wchar_t* path, config_record& out) {
  out = config_record{};
  char text[CONFIG_TEXT_CAPACITY];
  if (!read_config_file(path, text, sizeof text)) return false;
  parse_config_text(text, {{out.token, TOKEN_CAPACITY},
                           {out.server_url, SERVER_URL_CAPACITY},
                           {out.files_name, FILES_NAME_CAPACITY},
                           {out.files_token, FILES_TOKEN_CAPACITY}});
  strip_one_trailing_slash(out.server_url);
  return true;
}

bool write_config_values(const wchar_t* path, const wchar_t* token, const wchar_t* server_url,
                         const wchar_t* files_name, const wchar_t* files_token) {
  char token8[CONFIG_UTF8_FIELD_BYTES], url8[CONFIG_UTF8_SERVER_URL_BYTES];
  char name8[CONFIG_UTF8_FIELD_BYTES], files_token8[CONFIG_UTF8_FIELD_BYTES];
  char text[CONFIG_TEXT_CAPACITY];
  if (!wide_to_utf8(token, token8, sizeof token8) || !wide_to_utf8(server_url, url8, sizeof url8) ||
      !wide_to_utf8(files_name, name8, sizeof name8) ||
      !wide_to_utf8(files_token, files_token8, sizeof files_token8) ||
      !format_config_text(token8, url8, name8, files_token8, text, sizeof text))
    return false;
  return write_config_file(path, text);
}
