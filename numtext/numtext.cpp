#include "numtext.h"

#include <climits>
#include <cmath>

namespace {

// Float to int as the Cortex-M4's VCVT does it: truncated toward zero,
// saturated at the int range, NaN as 0. A plain cast is undefined there, and
// the host and the chip would then disagree.
int truncateToInt(float value) {
  if (value != value) {
    return 0;
  }
  if (value >= 2147483648.0f) {
    return INT_MAX;
  }
  if (value < -2147483648.0f) {
    return INT_MIN;
  }
  return static_cast<int>(value);
}

}  // namespace

void reverse(char* str, int len) {
  int i = 0;
  int j = len - 1;
  while (i < j) {
    int temp = str[i];
    str[i] = str[j];
    str[j] = static_cast<char>(temp);
    i++;
    j--;
  }
}

int intToStr(int x, char str[], int d) {
  int i = 0;
  while (x) {
    str[i++] = static_cast<char>((x % 10) + '0');
    x = x / 10;
  }
  while (i < d) {
    str[i++] = '0';
  }
  reverse(str, i);
  str[i] = '\0';
  return i;
}

void ftoa(float n, char* res, int afterpoint) {
  int ipart = truncateToInt(n);
  float fpart = n - static_cast<float>(ipart);
  int i = intToStr(ipart, res, 0);
  if (afterpoint != 0) {
    res[i] = '.';
    if (ipart == INT_MAX || ipart == INT_MIN) {
      // Saturated: n - ipart is no fraction, and its digits would overrun
      // the afterpoint digits the caller made room for.
      fpart = 0.0f;
    }
    fpart = static_cast<float>(fpart * std::pow(10.0, static_cast<double>(afterpoint)));
    intToStr(truncateToInt(fpart), res + i + 1, afterpoint);
  }
}
