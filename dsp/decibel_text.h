// Decibel values as people read and type them, the same in the panel's
// fields and in every format's text for a parameter: two decimals with a
// point, whatever the host's locale; typed text with a point or a comma.
#pragma once

namespace kv::opamp {

// Reads a decimal number of decibels: optional blanks, a sign, digits with
// a point or a comma, an exponent only when digits follow it; anything
// after the number is ignored ("6 dB" is 6). Answers false, leaving
// `number` alone, when the text holds no number. A number too large for a
// float comes back as ±1e30 (every scale clamps it), one too small as 0.
bool readDecibels(const char* text, float& number);

// Writes `db` with two decimals into `text` (room for 64 characters); a
// value that rounds to zero from below shows as "0.00".
void formatDecibels(float db, char* text);

}  // namespace kv::opamp
