// Export and import of the encrypted configuration file, copied exactly as
// stored. The destination is written beside itself first and moved over, so
// neither copy can leave a cut file behind.
#pragma once

#include <cstddef>

inline constexpr wchar_t TEXT_NO_CONFIG_TO_EXPORT[] = L"No saved config found to export.";
inline constexpr wchar_t FORMAT_EXPORT_FAILED[] = L"Could not export config file (error %lu): %s";
inline constexpr wchar_t FORMAT_EXPORT_FAILED_BARE[] = L"Could not export config file (error %lu).";
// When no Windows call failed (a name that does not fit, a refused target).
inline constexpr wchar_t TEXT_EXPORT_FAILED[] = L"Could not export config file.";

enum class transfer_status { done, no_config, failed };

// How a copy ended; error is the Windows error of the failing step (0 when
// there is none to tell).
struct transfer_result {
  transfer_status status = transfer_status::done;
  unsigned long error = 0;
};

// no_config when the data folder holds no configuration file; failed when
// the destination is null or empty, or the copy fails.
[[nodiscard]] transfer_result export_config_file(const wchar_t* destination);
// Replaces whitelist.config of the data folder with the chosen file, whatever
// its content (the sync that follows reports a file that is no configuration).
// failed when the path is null or empty, the file can't be read, or the copy
// fails (the old configuration then stays as it was).
[[nodiscard]] transfer_result import_config_file(const wchar_t* source);

// What the user is told of an export that did not succeed: the missing
// configuration, or the Windows error's own text.
void export_failure_text(transfer_result result, wchar_t* out, size_t cap);
