// The system's character lowering, kept apart so the rules stay plain C++.
#include <windows.h>

#include "status_rules.h"

void lower_in_place(wchar_t* text, size_t len) {
  if (text && len > 0) CharLowerBuffW(text, static_cast<DWORD>(len));
}
