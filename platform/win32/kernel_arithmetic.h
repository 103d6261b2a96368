// The kernel's arithmetic helper: a scaled ratio without an overflow in between.
#pragma once

// a × b / c in 64 bits, rounded to the nearest (halves away from zero); -1 when c is 0 or the
// result does not fit in 32 bits.
int MulDiv(int a, int b, int c);
