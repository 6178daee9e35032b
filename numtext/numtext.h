// Number-to-text conversion into caller buffers.
//
// The caller's buffer must hold the text and its NUL: for intToStr the larger
// of the digit count and d, plus one; for ftoa the integer digits, the point,
// afterpoint digits and the NUL. Values are expected to be 0 or more, with an
// integer part below 2^31 and afterpoint at most 9.
#pragma once

// Reverses the first len characters of str in place; writes no NUL.
void reverse(char* str, int len);

// Writes x in decimal, zero-padded to at least d digits, then a NUL.
// Returns the number of characters written before the NUL. A zero x gives
// no digit of its own, so x = 0 with d = 0 is the empty text.
int intToStr(int x, char str[], int d);

// Writes n with afterpoint digits after the point, cut rather than rounded.
// An integer part of 0 gives no digit before the point; afterpoint 0 gives
// no point.
void ftoa(float n, char* res, int afterpoint);
