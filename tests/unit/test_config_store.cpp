// The configuration file: byte format against vectors made with the openssl
// CLI, the size rules of the reader, and the load/save operations.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "agent_state.h"
#include "config_cipher.h"
#include "test_support.h"
#include "tray_files.h"

namespace {
// Made with: iv=000102030405060708090a0b0c0d0e0f
//   (printf "$iv" | xxd -r -p; printf '%s' "$plaintext" |
//    openssl enc -aes-128-cfb -K 52773854714c6d3256624e35785a6337 -iv $iv) | base64 -w0
struct known_answer {
  const char* plaintext;
  const char* file_text;
};
constexpr known_answer KNOWN_ANSWERS[] = {
    {"x", "AAECAwQFBgcICQoLDA0OD/4="},
    {"token=abcdefghij", "AAECAwQFBgcICQoLDA0OD/JcKAoPvOICSwtMyC5ygpk="},
    {"token=0123456789abcdefghijklmnop", "AAECAwQFBgcICQoLDA0OD/JcKAoPvLNRGlwdm38t08oRnjQrz+0gSOA0zNLbzD+u"},
    {"token=abc\nserver_url=https://example.test\nfiles_name=\nfiles_token=\n",
     "AAECAwQFBgcICQoLDA0OD/JcKAoPvOICS2VayztsjoE6dgGbj0qH3b839D7dSdYhN21NMqWtfuZ3OQoA3ZsmQSGzSAiB21B3Q3te2"
     "URHy2ZJWaQ="},
};
constexpr uint8_t TEST_IV[CIPHER_BLOCK_BYTES] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

std::string decode_base64(const std::string& text) {
  static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned bits = 0, value = 0;
  for (char c : text) {
    size_t i = alphabet.find(c);
    if (i == std::string::npos) break;
    value = (value << 6) | static_cast<unsigned>(i);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((value >> bits) & 0xff);
    }
  }
  return out;
}

class config_store : public ::testing::Test {
 protected:
  temp_program_data data;
  std::wstring config_file = data.file(L"whitelist.config");
};
}  // namespace

TEST(config_cipher, matches_openssl_cfb128_in_both_directions) {
  for (const known_answer& v : KNOWN_ANSWERS) {
    std::string expected = decode_base64(v.file_text).substr(CIPHER_BLOCK_BYTES);
    size_t len = std::strlen(v.plaintext);
    ASSERT_EQ(expected.size(), len);
    std::string out(len, '\0');
    ASSERT_EQ(config_cipher(TEST_IV, reinterpret_cast<const uint8_t*>(v.plaintext),
                            reinterpret_cast<uint8_t*>(out.data()), len, cipher_direction::encrypt),
              0);
    EXPECT_EQ(out, expected) << "plaintext of " << len << " bytes";
    ASSERT_EQ(config_cipher(TEST_IV, reinterpret_cast<const uint8_t*>(expected.data()),
                            reinterpret_cast<uint8_t*>(out.data()), len, cipher_direction::decrypt),
              0);
    EXPECT_EQ(out, v.plaintext);
  }
}

TEST_F(config_store, reads_files_written_by_openssl) {
  data.create_folder();
  for (const known_answer& v : KNOWN_ANSWERS) {
    write_bytes(config_file, v.file_text);
    char text[CONFIG_TEXT_CAPACITY];
    ASSERT_EQ(read_config_file(config_file.c_str(), text, sizeof text), 0);
    EXPECT_STREQ(text, v.plaintext);
  }
}

TEST_F(config_store, writes_base64_of_fresh_iv_and_ciphertext) {
  const char* plaintext = KNOWN_ANSWERS[3].plaintext;
  ASSERT_EQ(write_config_file(config_file.c_str(), plaintext), 0);
  std::string first = read_bytes(config_file);
  EXPECT_EQ(first.find_first_of("\r\n"), std::string::npos) << "one line, no line end";
  std::string decoded = decode_base64(first);
  ASSERT_EQ(decoded.size(), CIPHER_BLOCK_BYTES + std::strlen(plaintext));
  std::string plain(decoded.size() - CIPHER_BLOCK_BYTES, '\0');
  config_cipher(reinterpret_cast<const uint8_t*>(decoded.data()),
                reinterpret_cast<const uint8_t*>(decoded.data()) + CIPHER_BLOCK_BYTES,
                reinterpret_cast<uint8_t*>(plain.data()), plain.size(), cipher_direction::decrypt);
  EXPECT_EQ(plain, plaintext);

  ASSERT_EQ(write_config_file(config_file.c_str(), plaintext), 0);
  EXPECT_NE(read_bytes(config_file), first) << "every save draws a new initialisation vector";
  EXPECT_EQ(list_folder(data.folder()), L"whitelist.config") << "no temporary file left behind";
}

TEST_F(config_store, reader_size_rules) {
  data.create_folder();
  char text[CONFIG_TEXT_CAPACITY];
  struct {
    std::string file;
    int expected;
    const char* why;
  } cases[] = {
      {"", -1, "empty file"},
      {std::string(CONFIG_FILE_MAX_BYTES + 1, 'A'), -1, "file over 64 KiB"},
      {"AAECAwQFBgcICQoLDA0ODw==", -1, "initialisation vector only (16 bytes)"},
      {"AAECAwQFBgcICQoLDA0OD/4=", 0, "17 bytes: one-byte plaintext"},
      {"!!!!not base64!!!!", -1, "not Base64"},
  };
  for (const auto& c : cases) {
    write_bytes(config_file, c.file);
    EXPECT_EQ(read_config_file(config_file.c_str(), text, sizeof text), c.expected) << c.why;
  }
  EXPECT_EQ(read_config_file(data.file(L"missing").c_str(), text, sizeof text), -1);

  // The plaintext must fit the caller's buffer with its terminator.
  std::string exact(CONFIG_TEXT_CAPACITY - 1, 'a'), over(CONFIG_TEXT_CAPACITY, 'a');
  ASSERT_EQ(write_config_file(config_file.c_str(), exact.c_str()), 0);
  EXPECT_EQ(read_config_file(config_file.c_str(), text, sizeof text), 0);
  EXPECT_EQ(std::strlen(text), exact.size());
  ASSERT_EQ(write_config_file(config_file.c_str(), over.c_str()), 0);
  EXPECT_EQ(read_config_file(config_file.c_str(), text, sizeof text), -1);
}

TEST_F(config_store, tray_and_agent_read_each_others_files) {
  ASSERT_EQ(tray_config_save(L"tok\u00e9n", L"https://srv.example:8443//", L"Acme Ltd", L"ft", nullptr, 0), 0);
  ASSERT_EQ(config_load(), 0);
  EXPECT_STREQ(agent_config.token, L"tok\u00e9n");
  EXPECT_STREQ(agent_config.server_url, L"https://srv.example:8443/") << "only one slash is removed";
  EXPECT_STREQ(agent_config.files_name, L"Acme Ltd");
  EXPECT_STREQ(agent_config.files_token, L"ft");

  wcscpy(agent_config.token, L"agent-token");
  wcscpy(agent_config.server_url, L"http://127.0.0.1:8080");
  agent_config.files_name[0] = L'\0';
  ASSERT_EQ(config_save(), 0);
  wchar_t token[TOKEN_CAPACITY], url[SERVER_URL_CAPACITY], name[FILES_NAME_CAPACITY];
  ASSERT_EQ(tray_config_load(token, TOKEN_CAPACITY, url, SERVER_URL_CAPACITY, name, FILES_NAME_CAPACITY,
                             nullptr, 0),
            0);
  EXPECT_STREQ(token, L"agent-token");
  EXPECT_STREQ(url, L"http://127.0.0.1:8080");
  EXPECT_STREQ(name, L"");

  char text[CONFIG_TEXT_CAPACITY];
  ASSERT_EQ(read_config_file(config_file.c_str(), text, sizeof text), 0);
  EXPECT_STREQ(text, "token=agent-token\nserver_url=http://127.0.0.1:8080\nfiles_name=\nfiles_token=ft\n");
}

TEST_F(config_store, tray_save_refuses_missing_values_and_keeps_the_file) {
  ASSERT_EQ(tray_config_save(L"t", L"https://a", nullptr, nullptr, nullptr, 0), 0);
  std::string before = read_bytes(config_file);
  wchar_t message[64] = L"";
  EXPECT_EQ(tray_config_save(L"t", L"", nullptr, nullptr, message, 64), -1);
  EXPECT_STREQ(message, L"Rule token and server URL are required.");
  EXPECT_EQ(tray_config_save(nullptr, L"https://a", nullptr, nullptr, message, 64), -1);
  EXPECT_EQ(read_bytes(config_file), before);
}

TEST_F(config_store, saves_that_would_be_cut_fail_and_keep_the_old_file) {
  ASSERT_EQ(tray_config_save(L"t", L"https://a", nullptr, nullptr, nullptr, 0), 0);
  std::string before = read_bytes(config_file);
  // 200 characters of three UTF-8 bytes each do not fit the 511-byte field.
  std::wstring wide_token(200, L'\u20ac');
  wchar_t message[64] = L"";
  EXPECT_EQ(tray_config_save(wide_token.c_str(), L"https://a", nullptr, nullptr, message, 64), -1);
  EXPECT_STREQ(message, L"Failed to write encrypted config.");
  EXPECT_EQ(read_bytes(config_file), before);
}

TEST_F(config_store, failed_load_empties_the_record_but_keeps_last_ip) {
  wcscpy(agent_config.token, L"stale");
  wcscpy(agent.last_ip, L"198.51.100.1");
  EXPECT_EQ(config_load(), -1);
  EXPECT_STREQ(agent_config.token, L"");
  EXPECT_STREQ(agent.last_ip, L"198.51.100.1");

  // After a successful load last_ip is what the file says: here nothing.
  ASSERT_EQ(tray_config_save(L"t", L"https://a", nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(config_load(), 0);
  EXPECT_STREQ(agent.last_ip, L"");
}

TEST_F(config_store, agent_save_writes_last_ip_only_when_known) {
  wcscpy(agent_config.token, L"t");
  wcscpy(agent_config.server_url, L"https://a");
  agent.last_ip[0] = L'\0';
  ASSERT_EQ(config_save(), 0);
  EXPECT_FALSE(file_exists(data.file(L"last_ip.txt")));
  wcscpy(agent.last_ip, L"203.0.113.7");
  ASSERT_EQ(config_save(), 0);
  EXPECT_EQ(read_bytes(data.file(L"last_ip.txt")), "203.0.113.7");
}

TEST_F(config_store, save_fails_without_base_folder) {
  _wputenv_s(L"ProgramData", (data.base() + L"\\no\\such").c_str());
  init_paths();
  wcscpy(agent_config.token, L"t");
  wcscpy(agent_config.server_url, L"https://a");
  EXPECT_EQ(config_save(), -1);
}
