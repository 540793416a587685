#include "platform/Boundary.h"

#include <exception>
#include <new>
#include <stdexcept>
#include <system_error>

namespace {
bool g_showing = false;

}  // namespace

int32_t HresultFromWin32(uint32_t code) {
  return static_cast<int32_t>(code) <= 0 ? static_cast<int32_t>(code)
                                         : static_cast<int32_t>((code & 0xFFFFu) | 0x80070000u);
}

CaughtError DescribeCaughtException() {
  try {
    throw;
  } catch (const ProgramError& e) {
    return {e.Hresult(), e.what()};
  } catch (const std::bad_alloc&) {
    return {kEOutOfMemory, "Nicht genügend Arbeitsspeicher"};
  } catch (const std::system_error& e) {
    // The system's own code where the error carries one (Win32 numbers on Windows).
    const int code = e.code().value();
    const bool system = e.code().category() == std::system_category() && code != 0;
    return {system ? HresultFromWin32(static_cast<uint32_t>(code)) : kEUnexpected,
            "Systemfehler " + std::to_string(code) + ": " + e.what()};
  } catch (const std::exception& e) {
    return {kEUnexpected, std::string("Unerwarteter Fehler: ") + e.what()};
  } catch (...) {
    return {kEUnexpected, "Unerwarteter Fehler"};
  }
}

namespace boundary_detail {
bool EnterShow() {
  if (g_showing) return false;
  g_showing = true;
  return true;
}
void LeaveShow() { g_showing = false; }
}  // namespace boundary_detail
