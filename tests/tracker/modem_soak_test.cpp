// A soak of the modem interpreter: the output of a plausible modem, echo on,
// with calls, hang-ups, SMS texts and HTTP answers, cut into batches at
// random as the receive FIFO would hand them over. Every RING, every NO
// result and every well-formed radius must be seen once, in the batch that
// holds its deciding character, and nothing else may change the state.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/tracker/tracker_bench.h"

namespace {

using namespace tracker_test;

enum class Decides { Ring, No, Radius };

struct Marker {
  size_t at;  // index of the deciding character in the stream
  Decides what;
  int radius;
};

struct ModemStream {
  std::string text;
  std::vector<Marker> markers;
};

// Words a text may hold that look like the modem's own: none may count.
const std::vector<std::string> kTextWords = {"BRING", "A", "COAT", "NO", "RING", "ME", "NOW", "NORA", "OK",
                                             "NO CARRIER", "@5pm", "@-5$", "@1e3$", "hello", "12:00"};
const std::vector<std::string> kEchoes = {"AT\r", "ATA\r", "ATH\r", "AT+CMGF=1\r", "AT+CNMI=2,2,0,0,0\r",
                                          "AT+CMGS=\"+905551234567\"\r", "AT+HTTPINIT\r",
                                          "AT+HTTPACTION=0\r", "AT+HTTPREAD\r", "AT+SAPBR=1,1\r"};
const std::vector<std::string> kResults = {"\r\nOK\r\n", "\r\nERROR\r\n", "\r\nCONNECT\r\n", "\r\nBUSY\r\n",
                                           "\r\n+HTTPACTION:0,200,5\r\n", "\r\n> ", "\r\n+CMGS: 12\r\n"};

ModemStream plausibleModem(std::mt19937& random, size_t events) {
  ModemStream stream;
  auto pick = [&random](const std::vector<std::string>& from) {
    return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(random)];
  };
  auto mark = [&stream](const std::string& before, const std::string& marker, Decides what, int radius) {
    stream.text += before;
    stream.text += marker;
    stream.markers.push_back(Marker{stream.text.size() - 1, what, radius});
  };
  for (size_t event = 0; event < events; ++event) {
    switch (std::uniform_int_distribution<int>(0, 9)(random)) {
      case 0:
        stream.text += pick(kEchoes);
        break;
      case 1:
        stream.text += pick(kResults);
        break;
      case 2:
        mark("\r\n", "RING", Decides::Ring, 0);
        stream.text += "\r\n";
        if (random() % 2 == 0) {
          stream.text += "\r\n+CLIP: \"+905551234567\",145,\"\",0,\"" + pick(kTextWords) + "\",0\r\n";
        }
        break;
      case 3: {
        static const std::vector<std::string> kNoResults = {" CARRIER", " ANSWER", " DIALTONE"};
        mark("\r\n", "NO", Decides::No, 0);
        stream.text += pick(kNoResults) + "\r\n";
        break;
      }
      case 4:
      case 5: {
        // An SMS delivered to the line, perhaps with a radius in it.
        std::string body;
        for (int word = std::uniform_int_distribution<int>(0, 5)(random); word > 0; --word) {
          body += pick(kTextWords) + " ";
        }
        stream.text += "\r\n+CMT: \"+905551234567\",\"\",\"26/12/08,10:00:00+12\"\r\n" + body;
        if (random() % 3 == 0) {
          const int radius = std::uniform_int_distribution<int>(1, 9999)(random);
          mark("@" + std::to_string(radius), "$", Decides::Radius, radius);
        }
        stream.text += "\r\n";
        break;
      }
      case 6: {
        const int radius = std::uniform_int_distribution<int>(1, 9999)(random);
        const std::string digits = std::to_string(radius);
        stream.text += "\r\n+HTTPREAD:" + std::to_string(digits.size() + 2) + "\r\n";
        mark("@" + digits, "$", Decides::Radius, radius);
        stream.text += "\r\nOK\r\n";
        break;
      }
      case 7: {
        // A server answer that is no radius.
        static const std::vector<std::string> kJunk = {"@5pm", "@1e3$", "@-5$", "@$", "@12345$", "@0$", "@ 42$"};
        const std::string junk = pick(kJunk);
        stream.text += "\r\n+HTTPREAD:" + std::to_string(junk.size()) + "\r\n" + junk + "\r\nOK\r\n";
        break;
      }
      default:
        stream.text += "\r\nOK\r\n";
        break;
    }
  }
  return stream;
}

struct Figures {
  int ringsMissed = 0;
  int ringsInvented = 0;
  int hangUpsMissed = 0;
  int hangUpsInvented = 0;
  int radiusWrong = 0;
  int wrongCallState = 0;
};

// Runs the three tests over each batch as the handler does, and compares
// with what the markers in that batch call for.
Figures soak(unsigned seed, size_t events) {
  std::mt19937 random(seed);
  const ModemStream stream = plausibleModem(random, events);
  std::vector<size_t> cuts;
  for (size_t at = 0; at < stream.text.size();) {
    at += std::uniform_int_distribution<size_t>(1, 16)(random);
    cuts.push_back(std::min(at, stream.text.size()));
  }

  Bench bench;
  const auto run = bench.run(
      [&stream, &cuts] {
        setPins();
        Figures figures;
        size_t from = 0;
        size_t marker = 0;
        int expectedState = 0;
        int expectedRadius = 0;
        for (size_t to : cuts) {
          bool ring = false;
          bool no = false;
          bool radius = false;
          for (; marker < stream.markers.size() && stream.markers[marker].at < to; ++marker) {
            const Marker& found = stream.markers[marker];
            ring = ring || found.what == Decides::Ring;
            no = no || found.what == Decides::No;
            if (found.what == Decides::Radius && !radius) {
              radius = true;
              expectedRadius = found.radius;
            }
          }
          const std::string batch = stream.text.substr(from, to - from);
          const int call = isCall(batch.c_str());
          const int hangUp = isNo(batch.c_str());
          (void)isCircleSet(batch.c_str());
          figures.ringsMissed += ring && call == 0;
          figures.ringsInvented += !ring && call != 0;
          figures.hangUpsMissed += no && hangUp == 0;
          figures.hangUpsInvented += !no && hangUp != 0;
          figures.radiusWrong += tracker::circleSize != expectedRadius;
          expectedState = no ? 0 : ring ? 1 : expectedState;
          figures.wrongCallState += tracker::callStatusFlag != expectedState;
          from = to;
        }
        note(std::to_string(figures.ringsMissed) + " " + std::to_string(figures.ringsInvented) + " " +
             std::to_string(figures.hangUpsMissed) + " " + std::to_string(figures.hangUpsInvented) + " " +
             std::to_string(figures.radiusWrong) + " " + std::to_string(figures.wrongCallState));
      },
      seconds(36000));
  EXPECT_TRUE(run.ok()) << run.failure();
  Figures figures;
  std::istringstream(noteText(run, 0)) >> figures.ringsMissed >> figures.ringsInvented >> figures.hangUpsMissed >>
      figures.hangUpsInvented >> figures.radiusWrong >> figures.wrongCallState;
  return figures;
}

TEST(ModemSoak, EveryMarkerIsSeenOnceAndNothingElseCounts) {
  for (unsigned seed : {1U, 2U, 3U}) {
    const Figures figures = soak(seed, 2000);
    EXPECT_EQ(figures.ringsMissed, 0) << "seed " << seed;
    EXPECT_EQ(figures.ringsInvented, 0) << "seed " << seed;
    EXPECT_EQ(figures.hangUpsMissed, 0) << "seed " << seed;
    EXPECT_EQ(figures.hangUpsInvented, 0) << "seed " << seed;
    EXPECT_EQ(figures.radiusWrong, 0) << "seed " << seed;
    EXPECT_EQ(figures.wrongCallState, 0) << "seed " << seed;
  }
}

}  // namespace
