// SMS driver for a GSM modem in text mode: blocking AT exchanges that read
// and judge each reply.
#pragma once

#include <cstddef>

// What SMSReceive may write: the caller's buffers must be at least this
// long and filled with zeros; no terminator is written after the text.
// A text-mode message holds up to 160 characters; a number up to 15 digits.
inline constexpr size_t kSmsTextSize = 161;
inline constexpr size_t kSenderSize = 16;
// The smallest reply buffer an AT_Response caller may pass without a size.
inline constexpr size_t kShortestReplyBuffer = 7;

// Reads one reply into ATRes (at most size - 1 characters and a zero; the
// rest of a longer reply is read and dropped) and gives 1 when OK stands
// anywhere in the whole reply. Waits for a reply at most 20 character
// time-outs (10 s); gives 0 after that.
unsigned char AT_Response(unsigned char* ATRes, size_t size = kShortestReplyBuffer);
// Attention, then echo off, three attempts each.
void GSM_Init();
// Waits for a new-message indication, reads that message into SMSReturn and
// its sender's number (the originator, without a leading plus sign) into
// Sender, and deletes it once both were delivered whole. A message that could
// not be read whole stays stored, and GSM_Succeeded tells 0.
void SMSReceive(unsigned char* SMSReturn, unsigned char* Sender);
// Sends Text to Number; the first character of Number (its plus sign) is
// not sent. Returns once the modem has confirmed the message, reported an
// error, or stayed silent for 60 s.
void SMSSend(unsigned char* Number, unsigned char* Text);
// 1 when the last GSM_Init, SMSSend or SMSReceive got its final OK, 0 when
// it gave up or the modem refused.
unsigned char GSM_Succeeded();
