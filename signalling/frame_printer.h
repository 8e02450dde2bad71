#pragma once
// The LAPD and Q.931 frame printer for the ISDN link traces: writes the text
// of one frame, NUL-terminated, into `out` (1024 octets). Frames shorter
// than 3 octets leave `out` untouched.

void dlogframe(const unsigned char* frame, int length, bool network_to_user, char* out);
