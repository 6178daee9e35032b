// NMEA sentences and the position texts, as pure functions. The sentences
// below are the NMEA reference's own examples, with their checksums as
// published.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apps/tracker/nmea.h"
#include "sim/peers/gps_receiver.h"

namespace {

using position::formatDegrees;
using position::parseSentence;
using position::SentenceKind;

std::string text(int32_t degrees) { return formatDegrees(degrees).text; }

TEST(Nmea, TheReferenceExamplesAndTheirChecksums) {
  // 48 deg 07.038' N, 11 deg 31.000' E: 48.1173 N, 11.516667 E.
  const auto rmc = parseSentence("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A");
  ASSERT_EQ(rmc.kind, SentenceKind::Fix);
  EXPECT_EQ(rmc.fix.latitude, 481173000);
  EXPECT_EQ(rmc.fix.longitude, 115166667);
  const auto gga = parseSentence("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47");
  ASSERT_EQ(gga.kind, SentenceKind::Fix);
  EXPECT_EQ(gga.fix.latitude, 481173000);
  // The bench's receiver frames its sentences the same way.
  EXPECT_EQ(sim::peers::nmeaSentence("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W"),
            "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n");
  EXPECT_EQ(sim::peers::nmeaSentence("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"),
            "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n");
}

TEST(Nmea, AnyTalkerHemispheresAndALowerCaseChecksum) {
  auto parse = [](const std::string& body) {
    return parseSentence(sim::peers::nmeaSentence(body).substr(0, body.size() + 4));
  };
  const auto south = parse("GNRMC,101010.00,A,3351.7292,S,15112.5574,E,0.0,0.0,081226,,,A");
  ASSERT_EQ(south.kind, SentenceKind::Fix);
  EXPECT_EQ(south.fix.latitude, -338621533);
  EXPECT_EQ(south.fix.longitude, 1512092900);
  const auto west = parse("GLGGA,101010.00,3746.4944,N,12225.1640,W,2,08,0.9,10.0,M,0.0,M,,");
  ASSERT_EQ(west.kind, SentenceKind::Fix);
  EXPECT_EQ(west.fix.longitude, -1224194000);
  EXPECT_EQ(parseSentence("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6a").kind,
            SentenceKind::Fix);
}

TEST(Nmea, NoFixOtherSentencesAndEverythingMalformed) {
  auto kind = [](const std::string& body) {
    const std::string sentence = sim::peers::nmeaSentence(body);
    return parseSentence(sentence.substr(0, sentence.size() - 2)).kind;
  };
  EXPECT_EQ(kind("GPRMC,101010.00,V,,,,,,,081226,,,N"), SentenceKind::NoFix);
  EXPECT_EQ(kind("GPGGA,101010.00,,,,,0,00,99.99,,,,,,"), SentenceKind::NoFix);
  EXPECT_EQ(kind("GPRMC,101010.00,A,4100.9082,N,02858.7718,E,0.0,0.0,081226,,,N"), SentenceKind::NoFix);
  EXPECT_EQ(kind("GPGSV,3,1,12,01,40,083,46"), SentenceKind::Other);
  EXPECT_EQ(kind("PMTK001,604,3"), SentenceKind::Other);
  // Fields out of range or out of shape.
  for (const std::string body : {
           "GPRMC,101010.00,A,9100.0000,N,02858.7718,E,0.0,0.0,081226,,,A",   // 91 degrees
           "GPRMC,101010.00,A,9000.0001,N,02858.7718,E,0.0,0.0,081226,,,A",   // past the pole
           "GPRMC,101010.00,A,4160.0000,N,02858.7718,E,0.0,0.0,081226,,,A",   // 60 minutes
           "GPRMC,101010.00,A,4100.9082,N,18100.0000,E,0.0,0.0,081226,,,A",   // 181 degrees
           "GPRMC,101010.00,A,4100.9082,X,02858.7718,E,0.0,0.0,081226,,,A",   // hemisphere
           "GPRMC,101010.00,A,410.9082,N,02858.7718,E,0.0,0.0,081226,,,A",    // 3 digits before the point
           "GPRMC,101010.00,A,4100.9O82,N,02858.7718,E,0.0,0.0,081226,,,A",   // a letter O
           "GPRMC,101010.00,A,4100.,N,02858.7718,E,0.0,0.0,081226,,,A",       // no decimals after the point
           "GPRMC,101010.00,A,,,,,0.0,0.0,081226,,,A",                         // valid without a position
           "GPRMC,101010.00,X,4100.9082,N,02858.7718,E,0.0,0.0,081226,,,A",   // status
           "GPRMC,101010.00,A,4100.9082,N,02858.7718,E,0.0,0.0,081226",       // too few fields
           "GPGGA,101010.00,4100.9082,N,02858.7718,E,x,08,0.9,45.0,M,36.0,M,,",  // quality
           "GPGGA,101010.00,4100.9082,N,02858.7718,E,1,08,0.9,45.0,M,36.0,M,",   // 14 fields
       }) {
    EXPECT_EQ(kind(body), SentenceKind::Invalid) << body;
  }
  // The frame: checksum, its digits, '$', length, stray characters.
  const std::string good = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47";
  EXPECT_EQ(parseSentence("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*48").kind,
            SentenceKind::Invalid);
  EXPECT_EQ(parseSentence("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*4G").kind,
            SentenceKind::Invalid);
  EXPECT_EQ(parseSentence(good.substr(1)).kind, SentenceKind::Invalid);
  EXPECT_EQ(parseSentence(good.substr(0, good.size() - 1)).kind, SentenceKind::Invalid);
  EXPECT_EQ(parseSentence("").kind, SentenceKind::Invalid);
  const std::string longest = sim::peers::nmeaSentence("GPTXT," + std::string(80 - 10, 'x'));
  EXPECT_EQ(longest.size(), 82U);
  EXPECT_EQ(parseSentence(longest.substr(0, 80)).kind, SentenceKind::Other);
  const std::string tooLong = sim::peers::nmeaSentence("GPTXT," + std::string(80 - 9, 'x'));
  EXPECT_EQ(parseSentence(tooLong.substr(0, 81)).kind, SentenceKind::Invalid);
  std::string control = sim::peers::nmeaSentence("GPTXT,a\tb");
  EXPECT_EQ(parseSentence(control.substr(0, control.size() - 2)).kind, SentenceKind::Invalid);
}

TEST(PositionText, NineCharactersWithAsManyDecimalsAsFit) {
  EXPECT_EQ(text(410151370), "41.015137");
  EXPECT_EQ(text(-338688200), "-33.86882");
  EXPECT_EQ(text(1512092900), "151.20929");
  EXPECT_EQ(text(-1224194000), "-122.4194");
  EXPECT_EQ(text(15000000), "1.5000000");
  EXPECT_EQ(text(-15000000), "-1.500000");
  EXPECT_EQ(text(0), "0.0000000");
  EXPECT_EQ(text(1800000000), "180.00000");
  EXPECT_EQ(text(-1800000000), "-180.0000");
  EXPECT_EQ(text(900000000), "90.000000");
  // Rounded to the last decimal, and up into one more whole digit.
  EXPECT_EQ(text(410151375), "41.015138");
  EXPECT_EQ(text(99999999), "9.9999999");
  EXPECT_EQ(text(999999996), "100.00000");
  EXPECT_EQ(text(-99999996), "-10.00000");
  EXPECT_EQ(text(-999999999), "-100.0000");
  for (int32_t degrees : {1, -1, 123456789, -123456789, 1799999999, -899999999}) {
    EXPECT_EQ(text(degrees).size(), 9U) << degrees;
  }
}

}  // namespace
