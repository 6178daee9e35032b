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
int isCall(const char* message);
int isNo(const char* message);
int isCircleSet(const char* message);

// Voice calls and the emergency button.
void pressConfig();
void Int_PressControl();
void makeCall();
void answerCall();
void hangsUpCall();

// Camera link.
void cameraConfig();
void Int_Camera();
void sendCommandToCamera(uint32_t nBase, const uint8_t* nData, int size);
