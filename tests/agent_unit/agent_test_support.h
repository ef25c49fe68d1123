// Shared set-up of the agent tests: a private data folder, a configured
// record, the network double reset, and the state files at hand.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent_state.h"
#include "fake_network.h"
#include "test_support.h"

class agent_test : public ::testing::Test {
 protected:
  temp_program_data data;

  void SetUp() override {
    data.create_folder();
    reset_fake_network();
    agent_config = config_record{};
    wcscpy(agent_config.token, L"token-A");
    wcscpy(agent_config.server_url, L"https://allowlist.test");
    agent.last_ip[0] = L'\0';
  }

  std::wstring pending_file() const { return data.file(L"pending_delete_ips.txt"); }
  std::string pending_text() const { return read_bytes(pending_file()); }
  std::string log_text() const { return read_bytes(data.file(L"service.log")); }
  // The messages of service.log, without their time stamps and line ends.
  std::vector<std::string> log_messages() const {
    std::vector<std::string> out;
    std::string text = log_text();
    for (size_t pos = 0; pos < text.size();) {
      size_t end = text.find("\r\n", pos);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(pos, end - pos);
      out.push_back(line.size() > 20 ? line.substr(20) : line);
      pos = end + 2;
    }
    return out;
  }
};
