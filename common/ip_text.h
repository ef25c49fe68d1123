// Recognising IP address texts and finding them in answers (pure text logic).
#pragma once

#include <cstddef>

inline constexpr size_t IP_TEXT_MAX_BYTES = 63;

// True for a plain IPv4 dotted quad or an IPv6 address (no port, no zone,
// no blanks, nothing else).
bool is_ip_address_text(const char* text);

// The value of the member "ipv4" (or, when that name is absent, "ip") of a
// client-ip answer: up to 63 bytes between the quotes, copied into out (64
// bytes). false when there is no such string value.
bool scan_client_ip_answer(const char* answer, char* out, size_t cap);

// Strips leading and trailing blanks (space, tab, CR, LF) in place.
char* trim_blanks(char* text);
