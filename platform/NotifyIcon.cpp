#include "platform/NotifyIcon.h"

void NotifyIcon::Add(const NOTIFYICONDATAA& data) {
  data_ = data;
  Shell_NotifyIconA(NIM_ADD, &data_);
  added_ = true;
}

void NotifyIcon::Modify(const NOTIFYICONDATAA& data) {
  data_ = data;
  if (added_) Shell_NotifyIconA(NIM_MODIFY, &data_);
}

void NotifyIcon::Delete() {
  if (!added_) return;
  Shell_NotifyIconA(NIM_DELETE, &data_);
  added_ = false;
}

void NotifyIcon::Restore() {
  if (added_) Shell_NotifyIconA(NIM_ADD, &data_);
}
