#include "numtext.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <cstring>
#include <string>

namespace {

// Guard bytes after the text show any write past the NUL.
struct Buffer {
  std::array<char, 40> bytes;
  Buffer() { bytes.fill('#'); }
  std::string text() const { return std::string(bytes.data()); }
  int writtenLength() const {
    int n = 0;
    while (n < static_cast<int>(bytes.size()) && bytes[n] != '#') {
      ++n;
    }
    return n;
  }
};

std::string ftoaText(float value, int afterpoint) {
  Buffer buffer;
  ftoa(value, buffer.bytes.data(), afterpoint);
  // Exactly the text and its NUL are written.
  EXPECT_EQ(buffer.writtenLength(), static_cast<int>(buffer.text().size()) + 1);
  return buffer.text();
}

TEST(Reverse, SwapsOnlyTheGivenRun) {
  char text[] = "abcdef";
  reverse(text, 4);
  EXPECT_STREQ(text, "dcbaef");
  reverse(text, 5);
  EXPECT_STREQ(text, "eabcdf");
  char one[] = "xy";
  reverse(one, 1);
  reverse(one, 0);
  EXPECT_STREQ(one, "xy");
}

TEST(IntToStr, PadsWithLeadingZerosAndReturnsTheLength) {
  Buffer buffer;
  EXPECT_EQ(intToStr(42, buffer.bytes.data(), 5), 5);
  EXPECT_EQ(buffer.text(), "00042");
  EXPECT_EQ(buffer.writtenLength(), 6);

  Buffer longer;
  EXPECT_EQ(intToStr(123, longer.bytes.data(), 2), 3);
  EXPECT_EQ(longer.text(), "123");

  Buffer max;
  EXPECT_EQ(intToStr(2147483647, max.bytes.data(), 0), 10);
  EXPECT_EQ(max.text(), "2147483647");
}

TEST(IntToStr, ZeroHasNoDigitOfItsOwn) {
  Buffer empty;
  EXPECT_EQ(intToStr(0, empty.bytes.data(), 0), 0);
  EXPECT_EQ(empty.text(), "");
  EXPECT_EQ(empty.writtenLength(), 1);

  Buffer padded;
  EXPECT_EQ(intToStr(0, padded.bytes.data(), 1), 1);
  EXPECT_EQ(padded.text(), "0");
  EXPECT_EQ(intToStr(0, padded.bytes.data(), 3), 3);
  EXPECT_EQ(padded.text(), "000");
}

TEST(IntToStr, NegativeValuesWriteNoSign) {
  // Outside the caller contract; the remainders land below '0'.
  Buffer buffer;
  EXPECT_EQ(intToStr(-7, buffer.bytes.data(), 0), 1);
  EXPECT_EQ(buffer.text(), ")");
  EXPECT_EQ(intToStr(-12, buffer.bytes.data(), 0), 2);
  EXPECT_EQ(buffer.text(), "/.");
}

TEST(Ftoa, CutsTheFractionInsteadOfRounding) {
  EXPECT_EQ(ftoaText(3.14159f, 2), "3.14");
  EXPECT_EQ(ftoaText(2.999f, 2), "2.99");
  EXPECT_EQ(ftoaText(9.99999f, 1), "9.9");
}

TEST(Ftoa, ShowsTheFloatsBinaryValue) {
  // The nearest floats lie just below these decimals.
  EXPECT_EQ(ftoaText(2.05f, 2), "2.04");
  // The scaled fraction is narrowed back to float: 100000001.49 becomes
  // 100000000, where double arithmetic alone would keep ...001.
  EXPECT_EQ(ftoaText(0.1f, 9), ".100000000");
  EXPECT_EQ(ftoaText(123456.789f, 3), "123456.789");
  EXPECT_EQ(ftoaText(16777217.0f, 1), "16777216.0");
}

TEST(Ftoa, PointAndPadding) {
  EXPECT_EQ(ftoaText(12.0f, 0), "12");
  EXPECT_EQ(ftoaText(7.0f, 3), "7.000");
  EXPECT_EQ(ftoaText(0.001f, 2), ".00");
  EXPECT_EQ(ftoaText(0.5f, 3), ".500");
  EXPECT_EQ(ftoaText(0.0f, 0), "");
  EXPECT_EQ(ftoaText(0.05f, 3), ".050");
}

TEST(Ftoa, OutOfRangeValuesStayBoundedAndDefined) {
  // Conversions saturate as on the chip (a plain cast is undefined), and an
  // integer part that does not fit has no meaningful fraction: zeros, so the
  // text never outgrows afterpoint digits after the point.
  EXPECT_EQ(ftoaText(3.0e9f, 0), "2147483647");
  EXPECT_EQ(ftoaText(1.0e20f, 2), "2147483647.00");
  // afterpoint 10: the scaled fraction does not fit an int.
  EXPECT_EQ(ftoaText(0.5f, 10), ".2147483647");
  // NaN converts as 0: nothing before the point, zeros after it.
  EXPECT_EQ(ftoaText(std::numeric_limits<float>::quiet_NaN(), 2), ".00");
}

}  // namespace
