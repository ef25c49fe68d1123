// Export and import of the encrypted configuration file, copied exactly as
// stored. The destination is written beside itself first and moved over, so
// neither copy can leave a cut file behind.
#pragma once

// 0 on success; -1 when the destination is null or empty, when there is no
// configuration file, or when the copy fails.
int export_config_file(const wchar_t* destination);
// Replaces whitelist.config of the data folder with the chosen file, whatever
// its content (the sync that follows reports a file that is no configuration).
// 0 on success; -1 when the path is null or empty, the file can't be read, or
// the copy fails (the old configuration then stays as it was).
int import_config_file(const wchar_t* source);
