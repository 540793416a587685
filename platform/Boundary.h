// Where C++ exceptions stop: window procedures, window handlers and COM methods. Nothing may
// unwind into the system's code, which knows no C++ exceptions. Portable; the Win32 layer
// supplies how an error is shown or reported.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>

constexpr int32_t kEUnexpected = static_cast<int32_t>(0x8000FFFFu);
constexpr int32_t kEPointer = static_cast<int32_t>(0x80004003u);
constexpr int32_t kEOutOfMemory = static_cast<int32_t>(0x8007000Eu);

// An error whose text is written for the user (German), with the system's code where there
// is one.
class ProgramError : public std::runtime_error {
 public:
  explicit ProgramError(const std::string& text, int32_t hresult = kEUnexpected)
      : std::runtime_error(text), hresult_(hresult) {}
  int32_t Hresult() const { return hresult_; }

 private:
  int32_t hresult_;
};

// HRESULT_FROM_WIN32.
int32_t HresultFromWin32(uint32_t code);

// What a caught exception means: the HRESULT a COM method returns for it and a German text.
struct CaughtError {
  int32_t hresult;
  std::string text;  // UTF-8
};

// Call inside a catch block only.
CaughtError DescribeCaughtException();

namespace boundary_detail {
// One error box at a time: an error raised while one is open (a timer tick inside its loop
// failing again) is not stacked on top of it.
bool EnterShow();
void LeaveShow();
}  // namespace boundary_detail

// For window procedures and handlers: runs body; on an exception shows its text through
// show (unless a box from here is already open) and answers fallback. The program goes on.
template <class R, class F, class S>
R GuardWindowCall(F&& body, R fallback, S&& show) noexcept {
  std::string text = "Unerwarteter Fehler";
  try {
    return body();
  } catch (...) {
    try {
      text = DescribeCaughtException().text;
    } catch (...) {
    }
  }
  // Shown outside the catch block: the box runs a message loop of its own.
  if (boundary_detail::EnterShow()) {
    try {
      show(text);
    } catch (...) {
      // Not even the box could be shown: going on is all that is left.
    }
    boundary_detail::LeaveShow();
  }
  return fallback;
}

// For COM methods: answers body's HRESULT, or for an exception its HRESULT after handing
// its text to report (which sets the error information).
template <class F, class R>
int32_t GuardComCall(F&& body, R&& report) noexcept {
  try {
    return body();
  } catch (...) {
    CaughtError e{kEUnexpected, std::string()};
    try {
      e = DescribeCaughtException();
      report(e.text);
    } catch (...) {
    }
    return e.hresult;
  }
}

// A COM member that answers a Boolean as VARIANT_BOOL (-1 true, 0 false): E_POINTER for a
// null out-pointer; false whenever the body did not return normally.
template <class F, class R>
int32_t BoolMember(int16_t* out, F&& body, R&& report) noexcept {
  if (!out) return kEPointer;
  *out = 0;
  return GuardComCall(
      [&]() -> int32_t {
        *out = body() ? -1 : 0;
        return 0;
      },
      report);
}
