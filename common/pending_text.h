// The pending-delete queue in memory and its file text.
#pragma once

#include <string>

#include "data_folder.h"

// The queue holds at most this many addresses; readers take at most this
// many bytes of the file.
inline constexpr int PENDING_MAX = 32;
inline constexpr size_t PENDING_READ_MAX = 4095;

struct pending_list {
  wchar_t entries[PENDING_MAX][IP_CAPACITY] = {};
  int count = 0;
};

// Addresses are compared ignoring letter case everywhere.
bool same_ip(const wchar_t* a, const wchar_t* b);
// Index of ip in list, or -1.
int pending_find(const pending_list& list, const wchar_t* ip);
// Appends ip (cut to 63 units); false when the list already holds max entries.
bool pending_append(pending_list& list, const wchar_t* ip, int max = PENDING_MAX);
// Drops every entry of list that dropped holds; keeps the others in order.
void pending_drop_all(pending_list& list, const pending_list& dropped);

// Reads the file text leniently: CR, LF or any run of both end a line, blanks
// around an address are removed; lines that are not a plain IPv4 or IPv6
// address and repeated addresses are skipped; at most max entries.
void parse_pending_text(const char* text, pending_list& out, int max = PENDING_MAX);
// A line of a state file as an address: blanks around it removed, then a
// plain IPv4 or IPv6 address or nothing. ip holds IP_CAPACITY units.
bool address_line(const char* line, size_t len, wchar_t* ip);

// One UTF-8 address per line, each line ending in one LF.
std::string format_pending_text(const pending_list& list);
