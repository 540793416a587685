// Exceptions stop at window procedures and COM methods: the error is shown or reported in
// German and the caller gets a fallback or an HRESULT.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "platform/Boundary.h"

namespace {
struct Shown {
  std::vector<std::string> texts;
  void operator()(const std::string& t) { texts.push_back(t); }
};
}  // namespace

TEST(Boundary, ExceptionsAreDescribedInGermanWithTheirHresult) {
  auto describe = [](auto thrower) {
    try {
      thrower();
    } catch (...) {
      return DescribeCaughtException();
    }
    return CaughtError{0, ""};
  };
  CaughtError e = describe([] { throw std::bad_alloc(); });
  EXPECT_EQ(e.hresult, kEOutOfMemory);
  EXPECT_EQ(e.text, "Nicht genügend Arbeitsspeicher");
  e = describe([] { throw std::runtime_error("Fehler beim Schreiben des Werts Left"); });
  EXPECT_EQ(e.hresult, kEUnexpected);
  EXPECT_EQ(e.text, "Unerwarteter Fehler: Fehler beim Schreiben des Werts Left");
  e = describe([] { throw 42; });
  EXPECT_EQ(e.hresult, kEUnexpected);
  EXPECT_EQ(e.text, "Unerwarteter Fehler");
  // A system error keeps the system's code, as HRESULT_FROM_WIN32 gives it.
  e = describe([] { throw std::system_error(5, std::system_category(), "open"); });
  EXPECT_EQ(static_cast<uint32_t>(e.hresult), 0x80070005u);
  EXPECT_EQ(e.text.rfind("Systemfehler 5: open", 0), 0u) << e.text;
  e = describe([] { throw std::system_error(0, std::system_category(), "nothing"); });
  EXPECT_EQ(e.hresult, kEUnexpected);
}

TEST(Boundary, AWindowHandlerShowsTheErrorAndGoesOn) {
  Shown shown;
  EXPECT_EQ(GuardWindowCall([]() -> long { return 7; }, 0L, shown), 7);
  EXPECT_TRUE(shown.texts.empty());
  EXPECT_EQ(GuardWindowCall([]() -> long { throw std::runtime_error("kaputt"); }, -1L, shown), -1);
  ASSERT_EQ(shown.texts.size(), 1u);
  EXPECT_EQ(shown.texts[0], "Unerwarteter Fehler: kaputt");
  // The next handler runs as usual.
  EXPECT_EQ(GuardWindowCall([]() -> long { return 3; }, 0L, shown), 3);
}

TEST(Boundary, ErrorsWhileTheBoxIsOpenAreNotStacked) {
  Shown inner;
  int nestedFailures = 0;
  std::vector<std::string> outer;
  // The box's own loop dispatches ticks whose handler fails again and again.
  auto showWithLoop = [&](const std::string& t) {
    outer.push_back(t);
    for (int i = 0; i < 5; ++i)
      if (GuardWindowCall([]() -> int { throw std::runtime_error("tick"); }, 1, inner) == 1) ++nestedFailures;
  };
  EXPECT_EQ(GuardWindowCall([]() -> int { throw std::runtime_error("first"); }, 0, showWithLoop), 0);
  EXPECT_EQ(outer.size(), 1u);
  EXPECT_EQ(nestedFailures, 5);
  EXPECT_TRUE(inner.texts.empty());
  // Once the box is closed the next error is shown again.
  GuardWindowCall([]() -> int { throw std::runtime_error("later"); }, 0, inner);
  EXPECT_EQ(inner.texts.size(), 1u);
  // A box that cannot be shown is contained too.
  EXPECT_EQ(GuardWindowCall([]() -> int { throw 1; }, 9, [](const std::string&) { throw std::bad_alloc(); }), 9);
  GuardWindowCall([]() -> int { throw std::runtime_error("after"); }, 0, inner);
  EXPECT_EQ(inner.texts.size(), 2u);
}

TEST(Boundary, ComMethodsAnswerAnHresultAndReportTheText) {
  std::vector<std::string> reported;
  auto report = [&](const std::string& t) { reported.push_back(t); };
  EXPECT_EQ(GuardComCall([] { return int32_t(1); }, report), 1);  // S_FALSE passes
  EXPECT_EQ(GuardComCall([]() -> int32_t { throw std::logic_error("x"); }, report), kEUnexpected);
  EXPECT_EQ(GuardComCall([]() -> int32_t { throw std::bad_alloc(); }, report), kEOutOfMemory);
  EXPECT_EQ(reported, (std::vector<std::string>{"Unerwarteter Fehler: x", "Nicht genügend Arbeitsspeicher"}));
  // A report that fails itself still gives the HRESULT.
  EXPECT_EQ(GuardComCall([]() -> int32_t { throw std::runtime_error("y"); },
                         [](const std::string&) { throw std::bad_alloc(); }),
            kEUnexpected);
}

TEST(Boundary, BooleanMembers) {
  std::vector<std::string> reported;
  auto report = [&](const std::string& t) { reported.push_back(t); };
  EXPECT_EQ(BoolMember(nullptr, [] { return true; }, report), kEPointer);
  int16_t out = 5;
  EXPECT_EQ(BoolMember(&out, [] { return true; }, report), 0);
  EXPECT_EQ(out, -1);
  EXPECT_EQ(BoolMember(&out, [] { return false; }, report), 0);
  EXPECT_EQ(out, 0);
  out = -1;
  EXPECT_EQ(BoolMember(&out, []() -> bool { throw std::runtime_error("z"); }, report), kEUnexpected);
  EXPECT_EQ(out, 0);  // never a stale true after a failure
  EXPECT_EQ(reported, (std::vector<std::string>{"Unerwarteter Fehler: z"}));
}
