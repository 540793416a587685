// One icon in the notification area: added, changed, added again after the shell has
// restarted, and deleted at the latest with its owner.
#pragma once
#include <windows.h>
#include <shellapi.h>

class NotifyIcon {
 public:
  NotifyIcon() = default;
  ~NotifyIcon() { Delete(); }
  NotifyIcon(const NotifyIcon&) = delete;
  NotifyIcon& operator=(const NotifyIcon&) = delete;

  // Adds the icon the record describes. It counts as added whatever the shell answers: a
  // shell that starts later gets it through Restore.
  void Add(const NOTIFYICONDATAA& data);
  // The added icon takes the record's tip and picture.
  void Modify(const NOTIFYICONDATAA& data);
  // Deletes the icon if it was added.
  void Delete();
  // A restarted shell has lost every icon: the added one comes back.
  void Restore();
  bool Added() const { return added_; }

 private:
  NOTIFYICONDATAA data_{};
  bool added_ = false;
};
