// The modal loops that run now, innermost last, and what a new box or dialog takes from them:
// its owner, and the other windows it keeps disabled while it runs.
#pragma once
#include <windows.h>

#include <optional>
#include <vector>

// Disables the thread's other enabled top-level windows for a modal loop and enables them
// again when it ends.
class DisabledWindows {
 public:
  explicit DisabledWindows(HWND except);
  ~DisabledWindows();
  DisabledWindows(const DisabledWindows&) = delete;
  DisabledWindows& operator=(const DisabledWindows&) = delete;

 private:
  std::vector<HWND> disabled_;
};

// A form's modal loop for its lifetime: the form is the innermost owner, the other windows
// are disabled.
class ModalScope {
 public:
  explicit ModalScope(HWND form);
  ~ModalScope();
  ModalScope(const ModalScope&) = delete;
  ModalScope& operator=(const ModalScope&) = delete;

 private:
  std::optional<DisabledWindows> others_;
};

// The owner of a new dialog or message box: the innermost modal form, else the main window.
HWND DialogOwner();
