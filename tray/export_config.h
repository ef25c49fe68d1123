// Copies the encrypted configuration file, exactly as stored, to a place the user chose.
#pragma once

// 0 on success; -1 when the destination is null or empty, when there is no
// configuration file, or when the copy fails. The destination is written
// beside itself first and moved over, so it is never left cut.
int export_config_file(const wchar_t* destination);
