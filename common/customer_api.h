// The server's customer endpoints, authorised with a bearer token.
#pragma once

#include <cstddef>

// GET path; on status 200 the body (cut to cap - 1 bytes) lands in body,
// terminated. 0 or -1; body is untouched unless the status was 200.
int customer_api_get(const wchar_t* server_url, const wchar_t* path, const wchar_t* token, char* body,
                     size_t cap);
// The download would leave less free space than the minimum (disk_space.h).
inline constexpr int DOWNLOAD_NO_ROOM = -2;
// GET path; on status 200 the body is streamed into file_path, which is
// replaced only when the whole body arrived and fit. zone_text, when not null,
// becomes the file's "Zone.Identifier" stream before the file takes its name.
// 0, -1, or DOWNLOAD_NO_ROOM (checked before and during the transfer).
int customer_api_download(const wchar_t* server_url, const wchar_t* path, const wchar_t* token,
                          const wchar_t* file_path, const char* zone_text = nullptr);
