// How the tray shows the shared status decisions: the snapshot's row values,
// colours and tooltips (a token is shortened by the shared status rules).
#pragma once

#include <cstddef>
#include <cstdint>

#include "status_rules.h"

// Values of the snapshot's rows.
inline constexpr wchar_t TEXT_NONE[] = L"(none)";
inline constexpr wchar_t TEXT_UNAVAILABLE[] = L"(unavailable)";
inline constexpr wchar_t TEXT_NOT_CONFIGURED_VALUE[] = L"(not configured)";
inline constexpr wchar_t TEXT_NOT_SET[] = L"(not set)";
inline constexpr wchar_t TEXT_NO_PENDING[] = L"None";
inline constexpr wchar_t FORMAT_PENDING[] = L"%d old IP(s) waiting to remove";

// Status colours (0x00BBGGRR, the layout of COLORREF).
inline constexpr uint32_t COLOR_NEUTRAL = 0x002A170F;
inline constexpr uint32_t COLOR_GREEN = 0x00699605;
inline constexpr uint32_t COLOR_AMBER = 0x000677D9;
inline constexpr uint32_t COLOR_RED = 0x002626DC;

// Colour (0x00BBGGRR) and tooltip text of an allowlist status; null counts as empty.
uint32_t status_color_for(const wchar_t* status);
const wchar_t* status_tooltip_for(const wchar_t* status);
