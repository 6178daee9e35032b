// The tracker application: its configuration operations, interrupt
// handlers and the foreground operations offered to the entry program.
#pragma once

#include <cstdint>

// Position texts, written by the position source: up to 9 characters and a
// terminator each.
extern char latitudeResult[10];
extern char longitudeResult[10];

// Console and serial helpers.
void sendUartString(uint32_t nBase, const char* nData);
void flushUART();
void setPins();
void InitPCConsole();
void ledLight(uint8_t led, int millisec);

// Modem link.
void sim900UartConfig();
void Int_sim900();
// The receive handler's two halves: one character into the batch, then the
// batch interpreted as a whole.
void storeModemCharacter(char character);
struct ModemBatchFindings {
  bool call = false;    // a RING ended in the batch
  bool hangUp = false;  // a NO result ended in it
  bool radius = false;  // a radius frame ended in it and was taken
};
ModemBatchFindings interpretModemBatch();
// The modem's answers, for scripts that wait on the line: each character
// the link takes is also read as lines here. A script forgets earlier
// answers before its command, then waits (pumping the line itself, so it
// may wait inside a handler) for the command's final result.
enum class ModemAnswer : uint8_t { None, Ok, Error, Prompt, Busy, NoCarrier, NoAnswer, NoDialTone };
void noteModemCharacter(char character);
void expectModemAnswer();
void pumpModemLink();
// A wait of ms that keeps taking the modem's lines: a text or a RING that
// comes while a handler's script holds the processor is not lost.
void waitTakingModemLines(uint32_t ms);
// With orPress a wait also ends when a press waits for the modem.
[[nodiscard]] ModemAnswer awaitModemAnswer(uint32_t timeoutMs, bool orPress = false);
// An answer taken for stale (the awaited one is still to come); whether a
// dial's connected-line report (+COLP) or a text's reference (+CMGS) came
// since the last expectModemAnswer.
void forgetModemAnswer();
[[nodiscard]] bool connectedLineSeen();
// An HTTP action's result (+HTTPACTION) since the last expectModemAnswer.
[[nodiscard]] bool awaitHttpAction(uint32_t timeoutMs, bool orPress = false);
[[nodiscard]] int httpActionStatus();
// Since last asked: a start-up line (RDY, Call Ready), a power-down line.
[[nodiscard]] bool modemRestarted();
[[nodiscard]] bool modemPoweredDown();
// How many of either have been seen, all told: a wait may watch it change.
[[nodiscard]] uint32_t modemGoneAwayCount();
// The last +CREG report said registered (home or roaming).
[[nodiscard]] bool modemRegistered();
// RING lines seen so far.
[[nodiscard]] uint32_t modemRings();
// The awaited answer: a stale OK (one without the +COLP or +CMGS line of a
// real one, or any OK when a prompt is awaited) is skipped.
[[nodiscard]] ModemAnswer awaitAnswerSkippingStale(uint32_t wait, ModemAnswer wanted);
// "AT" until OK (12 tries), once a text the report sent is through and
// until the line is quiet; no answer notes the modem silent. With orPress
// it also ends, false, when a press waits for the modem.
[[nodiscard]] bool modemAnswersAttention(bool orPress = false);
// The report's text went to the network without waiting for its result,
// and whether that result is still to come.
void noteTextSent();
[[nodiscard]] bool modemTextOnItsWay();

// The modem made ready: AT until it answers, registration awaited (90 s at
// most), direct delivery of texts. Gives way to a press. False: no answer.
bool startModem();
// A script found the modem silent, and whether it still is since.
void noteModemSilent();
[[nodiscard]] bool modemSilent();
// A start-up that gave way to a press before it was done.
[[nodiscard]] bool modemStartPending();
// TRACKER_MODEM_POWER_PIN: whether it is set, and a 1.2-s low on it.
[[nodiscard]] bool modemPowerKeyWired();
void pulseModemPowerKey();
int isCall(const char* message);
int isNo(const char* message);
int isCircleSet(const char* message);

// Voice calls and the emergency button.
void pressConfig();
void Int_PressControl();
void makeCall();
void answerCall();
void hangsUpCall();
// An emergency press whose every call attempt failed and whose SOS text the
// network did not take: the entry program calls again until one gets through.
[[nodiscard]] bool emergencyPending();

// Camera link.
void cameraConfig();
void Int_Camera();
void sendCommandToCamera(uint32_t nBase, const uint8_t* nData, int size);

// SMS. The alert, awaited: whether the network took it.
[[nodiscard]] bool sendSms();
void receiveSms();

// Reports over SMS and HTTP.
void postDataToInterface(const char* lat, const char* lon, const char* pulse);
void postDataToServer(const char* lat, const char* lon, const char* pulse);
void getCircleSizeFromServer();

// The periodic report timer.
void postToDataTimerConfig();
void Int_PostDataTimer();
// The pulse value a report carries: twice the count since the last report,
// held to two digits (10 to 99).
int reportedPulse();

// Pulse sampling.
void pulseSensorConfig();
void pulseSensorTimerConfig();
void Int_PulseTimer();

// The geofence. 1 when the current position lies outside the circle.
int controlDistanceRange();
double distance(double lat1, double lon1, double lat2, double lon2, char unit);
double deg2rad(double deg);
double rad2deg(double rad);
// For the position source: the circle's centre and the latest fix, in
// decimal degrees.
void setReferencePosition(double latitude, double longitude);
void setCurrentPosition(double latitude, double longitude);
// How many times the tracker's handlers have switched UART2 off: a position
// source drops whatever was on its line meanwhile.
uint32_t positionLinkPauses();
