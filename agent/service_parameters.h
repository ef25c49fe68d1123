// The service's optional settings under its Parameters key in the registry,
// which administrators may set; read at start and at every reload.
#pragma once

// The re-assertion period in milliseconds (0: off): ReassertSeconds, or the
// build's default when the value is missing or not a REG_DWORD (logged).
unsigned long long reassert_period_ms();
