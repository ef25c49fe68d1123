// The files command's scan of the server's answers and its checks on file
// names: the places where an odd answer could download the wrong thing or
// write outside the files folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file_list.h"

namespace {
std::vector<std::pair<long, std::string>> walk(const std::string& body, size_t cap = FILES_RESPONSE_CAPACITY) {
  std::vector<std::pair<long, std::string>> out;
  file_list_walker walker(body.c_str(), cap);
  for (file_entry e; walker.next(e);) out.emplace_back(e.id, std::string(e.name));
  return out;
}
using entries = std::vector<std::pair<long, std::string>>;
}  // namespace

TEST(file_list, walk_rules) {
  EXPECT_EQ(walk(R"([{"id":1,"original_name":"a.txt"},{"id": 2,"file_name":"b.txt"}])"),
            (entries{{1, "a.txt"}, {2, "b.txt"}}));
  EXPECT_EQ(walk(R"([{"id":1,"file_name":"f","original_name":"o"}])"), (entries{{1, "o"}}))
      << "original_name wins";
  // Each id with its own record's name, whatever the key order; a record
  // without a usable id or name is skipped and never lends its name.
  EXPECT_EQ(walk(R"([{"file_name":"a","id":1},{"size":3,"id":2,"x":"y","original_name":"b"},)"
                 R"({"id":"3","original_name":"c"},{"id":0,"original_name":"d"},{"id":5},)"
                 R"({"original_name":"f","id":6}])"),
            (entries{{1, "a"}, {2, "b"}, {6, "f"}}));
  EXPECT_EQ(walk(R"([{"id":1,"original_name":"unterminated)"), entries{});
  EXPECT_EQ(walk(R"({"id":1,"original_name":")" + std::string(260, 'n') + R"("})"), entries{});
  EXPECT_EQ(walk(R"({"id":1,"original_name":")" + std::string(259, 'n') + R"("})").size(), 1u);
  EXPECT_EQ(walk(R"({"id":99999999999,"original_name":"a"})"), entries{}) << "an id that overflows";
}

TEST(file_list, matches_near_the_buffer_end_are_not_trusted) {
  std::string record = R"({"id":5,"original_name":"late"})";
  // The "id": key stands one byte into the record.
  EXPECT_EQ(walk(std::string(79, ' ') + record, 100), entries{}) << "a match in the last 20 bytes of the buffer";
  EXPECT_EQ(walk(std::string(78, ' ') + record, 100).size(), 1u);
}

TEST(file_list, customer_id_and_empty_list) {
  EXPECT_EQ(find_first_id(R"({"name":"x","id": 42})"), 42);
  EXPECT_EQ(find_first_id(R"({"id":"42"})"), -1);
  EXPECT_EQ(find_first_id(R"({"id" : 42})"), -1) << "the key must be followed directly by the colon";
  EXPECT_EQ(find_first_id(R"({"id":-3})"), -1);
  EXPECT_TRUE(is_empty_file_list("[]"));
  EXPECT_TRUE(is_empty_file_list("{\"files\": [ ]}"));
  EXPECT_FALSE(is_empty_file_list(R"([{"id":"1"}])"));
  EXPECT_FALSE(is_empty_file_list("not json"));
}

TEST(file_list, only_plain_names_are_written) {
  for (const char* ok : {"report.pdf", "a b.txt", "caf\xc3\xa9.txt", ".hidden", "conf.txt", "COM10", "x..y"})
    EXPECT_TRUE(is_plain_file_name(ok)) << ok;
  for (const char* bad : {"", ".", "..", "..\\evil.txt", "../evil.txt", "a/b", "a\\b", "C:\\x", "C:x", "x:stream",
                          "CON", "con.txt", "Lpt1", "NUL .txt", "aux", "COM3.log", "a?b", "a*b", "a|b", "a<b",
                          "a\"b", "tab\there", "trail.", "trail ", "COM\xc2\xb9", "lpt\xc2\xb3.txt",
                          "Com\xc2\xb2 .log"})
    EXPECT_FALSE(is_plain_file_name(bad)) << bad;
}

TEST(file_list, percent_encoding_keeps_names_in_their_segment) {
  EXPECT_EQ(percent_encode("BIRCH_LLC-1.x~"), "BIRCH_LLC-1.x~");
  EXPECT_EQ(percent_encode("A/B?c#d%e f"), "A%2FB%3Fc%23d%25e%20f");
  EXPECT_EQ(percent_encode("caf\xc3\xa9"), "caf%C3%A9");
}
