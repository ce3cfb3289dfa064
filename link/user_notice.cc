#include "link/user_notice.h"

namespace {
UserNoticeHandler g_userNoticeHandler = nullptr;
}  // namespace

void SetUserNoticeHandler(UserNoticeHandler handler) {
  g_userNoticeHandler = handler;
}

void RaiseUserNotice(UserNotice notice) {
  if (g_userNoticeHandler != nullptr) g_userNoticeHandler(notice);
}
