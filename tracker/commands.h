// Command lines that carry a build-time setting, put together at compile time.
#pragma once

#include "tracker/settings.h"
#include "tracker/state.h"

namespace tracker {

// The number as it is, "+" and 12 digits: a second '+' before it is no dial
// string the modem takes, and the emergency call would never go out.
inline constexpr auto kDialCommand = concatenate("ATD", settings::kCaretakerNumber, ";\r\n");
static_assert(kDialCommand.size() == 20, "the dial line is 19 characters");

// CR alone: an LF after it may reach the modem after its prompt and become
// the text's first character.
inline constexpr auto kSmsSendCommand = concatenate("AT + CMGS = \"", settings::kCaretakerNumber, "\"\r");
static_assert(kSmsSendCommand.size() == 29, "the send command line is 28 characters");

inline constexpr auto kPostUrl =
    concatenate("AT+HTTPPARA=\"URL\",\"http://", settings::kReportServer, ":5000/postData\"\r\n");
inline constexpr auto kApnCommand = concatenate("AT+SAPBR=3,1,\"APN\",\"", settings::kApn, "\"\r\n");
// With a key built in, both HTTP scripts send it (the modem adds the line
// to the request's headers).
inline constexpr auto kServerKeyCommand =
    concatenate("AT+HTTPPARA=\"USERDATA\",\"X-Tracker-Key: ", settings::kServerKey, "\"\r\n");
inline constexpr bool kSendsServerKey = sizeof(settings::kServerKey) > 1;
inline constexpr auto kGetUrl =
    concatenate("AT+HTTPPARA=\"URL\",\"http://", settings::kReportServer, ":5000/getCircle\"\r\n");

}  // namespace tracker
