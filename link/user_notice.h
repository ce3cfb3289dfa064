// The two failures that a person at the setup dialog must be told about at
// once. The shared code only raises them; the program that owns the engine
// decides whether they become message boxes (the setup dialog) or nothing
// (the service, which writes its own event log entry instead).
#pragma once

enum class UserNotice {
  kPortOpenFailed,  // "Error opening COM port"
  kConnectFailed,   // "Communications Error"
};

// Called on the engine's own thread; returns when the person has seen it.
using UserNoticeHandler = void (*)(UserNotice notice);

// nullptr (the default) shows nothing.
void SetUserNoticeHandler(UserNoticeHandler handler);
void RaiseUserNotice(UserNotice notice);
