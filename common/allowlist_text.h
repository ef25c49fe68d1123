// Request body and answer judging of the allowlist API (pure text logic).
#pragma once

#include <cstddef>

inline constexpr size_t ALLOWLIST_RESPONSE_CAPACITY = 8192;
inline constexpr size_t ERROR_EXCERPT_SOURCE_BYTES = 400;
inline constexpr size_t ERROR_EXCERPT_CAPACITY = 512;

// Escapes backslash and double quote, and control characters as \u00XX, so
// the body is always valid JSON. The output is cut to capacity (terminated).
void json_escape(const char* source, char* destination, size_t capacity);

// 2xx, and no "ok":false anywhere in the body.
bool allowlist_answer_accepted(unsigned long status, const char* body);

// The user-facing text for a refused change: the server's "error" string, or
// the status with a printable excerpt of the body, plus a hint when the
// token looks wrong. out is cut to cap (terminated).
void allowlist_refusal_text(unsigned long status, const char* body, char* out, size_t cap);

// Helpers of the above, exposed for tests. The error string's control
// characters become spaces.
void extract_error_string(const char* body, char* out, size_t cap);
void make_body_excerpt(const char* body, char* out, size_t cap);
