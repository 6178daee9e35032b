// The report record as the server reads it.
#include <gtest/gtest.h>

#include "server/report_record.h"

namespace {

using server::parseRecord;

TEST(ReportRecord, TheFirmwaresRecordsAreAccepted) {
  const auto full = parseRecord("41.015137,28.979530,72\r\n");
  ASSERT_TRUE(full.report) << full.reason;
  EXPECT_DOUBLE_EQ(*full.report->latitude, 41.015137);
  EXPECT_DOUBLE_EQ(*full.report->longitude, 28.979530);
  EXPECT_EQ(full.report->pulse, 72);
  const auto negative = parseRecord("-33.86882,-122.4194,10\r\n");
  ASSERT_TRUE(negative.report) << negative.reason;
  EXPECT_DOUBLE_EQ(*negative.report->latitude, -33.86882);
  EXPECT_DOUBLE_EQ(*negative.report->longitude, -122.4194);
  // Short texts padded with blanks, as the firmware pads them.
  const auto padded = parseRecord("12.34    ,98.765432,99\r\n");
  ASSERT_TRUE(padded.report) << padded.reason;
  EXPECT_DOUBLE_EQ(*padded.report->latitude, 12.34);
  // Before the first fix the position is blank.
  const auto blank = parseRecord("         ,         ,40\r\n");
  ASSERT_TRUE(blank.report) << blank.reason;
  EXPECT_FALSE(blank.report->latitude);
  EXPECT_FALSE(blank.report->longitude);
  EXPECT_EQ(parseRecord("90.000000,-180.0000,10\r\n").report->longitude, -180.0);
}

TEST(ReportRecord, AnythingElseIsRefusedWithAReason) {
  for (const std::string body : {
           "",                                // empty
           "41.015137,28.979530,72\n",        // 23 bytes
           "41.015137,28.979530,72\r\n\r\n",  // 26 bytes
           "41.015137;28.979530;72\r\n",      // separators
           "41.015137,28.979530,72\n\r",      // line end
           "91.000000,28.979530,72\r\n",      // latitude out of range
           "41.015137,180.00001,72\r\n",      // longitude out of range
           "4l.015137,28.979530,72\r\n",      // a letter
           "41.01.137,28.979530,72\r\n",      // two points
           " 41.01513,28.979530,72\r\n",      // a blank before
           "41.0 5137,28.979530,72\r\n",      // a blank inside
           "-        ,28.979530,72\r\n",      // a sign alone
           "         ,28.979530,72\r\n",      // half a position
           "41.015137,28.979530,7x\r\n",      // pulse
           "41.015137,28.979530, 7\r\n",      // pulse with a leading blank
           "1e1      ,28.979530,72\r\n",      // exponent
           "nan      ,28.979530,72\r\n",      // not a number
       }) {
    const auto parsed = parseRecord(body);
    EXPECT_FALSE(parsed.report) << body;
    EXPECT_FALSE(parsed.reason.empty()) << body;
  }
  EXPECT_FALSE(parseRecord(std::string("41.015137,28.979530,72\r\0", 24)).report);
}

}  // namespace
