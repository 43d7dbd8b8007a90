#pragma once

// What a view or a message box draws for a character: control characters as visible symbols,
// the Control Pictures for C0 and DEL, a replacement mark for C1 controls and for the
// bidirectional embeddings, overrides and isolates, which would otherwise reorder what follows
// them on the screen.
constexpr char32_t VisibleCharacter(char32_t c) {
  if (c < 0x20) return 0x2400 + c;
  if (c == 0x7F) return 0x2421;
  if (c >= 0x80 && c < 0xA0) return 0xFFFD;
  if ((c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069)) return 0xFFFD;
  return c;
}
