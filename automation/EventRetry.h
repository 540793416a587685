// How long the server goes on trying an event call that a live but busy client refused (its
// message filter rejected it or asked to retry later).
#pragma once
#include <cstdint>

// Every other client's events wait while one is retried, so the limit is short.
constexpr uint32_t kEventRetryAtOnceMs = 100;
constexpr uint32_t kEventRetryStepMs = 100;
constexpr uint32_t kEventRetryLimitMs = 3000;

// The wait before the next try, by the time since the first: at once during the first
// kEventRetryAtOnceMs, then every kEventRetryStepMs; -1 (give up) from kEventRetryLimitMs on.
// The values follow IMessageFilter::RetryRejectedCall, which answers with it.
inline int32_t EventRetryDelay(uint32_t elapsedMs) {
  if (elapsedMs >= kEventRetryLimitMs) return -1;
  return elapsedMs < kEventRetryAtOnceMs ? 0 : static_cast<int32_t>(kEventRetryStepMs);
}
