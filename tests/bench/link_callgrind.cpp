// A fixed workload for callgrind: 1 MB of the link stream through Poll. With "setup" it
// builds everything but feeds nothing, so the difference of two runs is the receive cost.
#include <cstdio>
#include <cstring>

#include "tests/bench/LinkStream.h"

int main(int argc, char** argv) {
  const bool feed = !(argc > 1 && std::strcmp(argv[1], "setup") == 0);
  const LinkStream s = MakeLinkStream(1 << 20);
  BenchLink link;
  if (feed) link.Feed(s);
  std::printf("bytes: %llu\nframes: %llu delivered: %llu\n",
              static_cast<unsigned long long>(feed ? s.bytes : 0),
              static_cast<unsigned long long>(s.frames),
              static_cast<unsigned long long>(link.delivered));
  return feed && link.delivered != s.frames ? 1 : 0;
}
