// TEMPORARY: public IP detection lands with the network layer on main; this
// placeholder reports "no address" until then and is deleted at that merge.
#include "ip_detect.h"

int tray_detect_public_ip(wchar_t* out, size_t cap) {
  if (out && cap > 0) out[0] = L'\0';
  return -1;
}
