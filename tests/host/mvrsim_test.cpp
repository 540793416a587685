// Device simulator: frame coding, the receive parser, the answer script and the fault modes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Frames.h"
#include "Options.h"
#include "Responder.h"

using namespace mvrsim;

namespace {

std::vector<RxEvent> FeedAll(FrameParser& p, const Bytes& b) {
  std::vector<RxEvent> ev;
  p.Feed(b.data(), b.size(), ev);
  return ev;
}

std::vector<Frame> FramesOf(const std::vector<RxEvent>& ev) {
  std::vector<Frame> f;
  for (const auto& e : ev)
    if (e.type == RxEvent::FrameDone) f.push_back(e.frame);
  return f;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes Wire(const std::vector<OutChunk>& chunks) {
  Bytes all;
  for (const auto& c : chunks) all.insert(all.end(), c.bytes.begin(), c.bytes.end());
  return all;
}

Frame Rx(const Bytes& wire) { return Decode(wire); }

Config Parsed(std::vector<const char*> args) {
  args.insert(args.begin(), "mvrsim");
  Config cfg;
  std::string err;
  EXPECT_TRUE(ParseArgs(static_cast<int>(args.size()), args.data(), cfg, err)) << err;
  return cfg;
}

const Bytes kAbc = {0x61, 0x62, 0x63};

}  // namespace

TEST(MvrsimEncode, KnownFramesAndLimits) {
  EXPECT_EQ(EncodeData(3, kAbc), (Bytes{0xF3, 0x02, 0x61, 0x62, 0x63, 0xA1, 0x3A}));
  EXPECT_EQ(EncodeCommand(2, 0x41), (Bytes{0x12, 0x41, 0x53}));
  EXPECT_EQ(EncodeCommand(9, 0x00), (Bytes{0x19, 0x00, 0x19}));

  const Bytes big = EncodeData(9, Bytes(256, 0xF9));
  ASSERT_EQ(big.size(), 260u);
  EXPECT_EQ(big[0], 0xF9);
  EXPECT_EQ(big[1], 0xFF);
  const Frame back = Decode(big);
  EXPECT_TRUE(back.intact);
  EXPECT_EQ(back.data.size(), 256u);
}

TEST(MvrsimParser, FindsFramesBehindBytesThatStartNone) {
  // 0xFA/0x1A: right high nibble, channel above 9; 0x25, 0x00, 0xFF: wrong high nibble.
  const Bytes junk = {0x25, 0xFA, 0x00, 0x1A, 0xFF, 0x1F};
  FrameParser p;
  const auto ev = FeedAll(p, Cat({junk, EncodeData(3, kAbc), EncodeCommand(2, 0x41)}));
  ASSERT_EQ(ev.size(), 3u);
  EXPECT_EQ(ev[0].type, RxEvent::Skipped);
  EXPECT_EQ(ev[0].skipped, junk);
  ASSERT_EQ(ev[1].type, RxEvent::FrameDone);
  EXPECT_EQ(ev[1].frame.kind, Kind::Data);
  EXPECT_EQ(ev[1].frame.channel, 3);
  EXPECT_EQ(ev[1].frame.data, kAbc);
  EXPECT_TRUE(ev[1].frame.intact);
  EXPECT_EQ(ev[2].frame.kind, Kind::Command);
  EXPECT_EQ(ev[2].frame.channel, 2);
  EXPECT_EQ(ev[2].frame.value, 0x41);
  EXPECT_FALSE(p.InFrame());
}

TEST(MvrsimParser, ByteByByteGivesTheSameFramesAsOneBlock) {
  Bytes stream;
  for (int ch = 0; ch < kChannels; ++ch)
    stream = Cat({stream, EncodeData(ch, FloodData(ch, 1 + ch * 28)),
                  EncodeCommand(ch, static_cast<uint8_t>(0xF0 | ch))});
  FrameParser whole, single;
  const auto expected = FramesOf(FeedAll(whole, stream));
  std::vector<RxEvent> ev;
  for (uint8_t b : stream) single.Feed(&b, 1, ev);
  const auto got = FramesOf(ev);
  ASSERT_EQ(got.size(), 20u);
  ASSERT_EQ(expected.size(), got.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_TRUE(got[i].intact);
    EXPECT_EQ(got[i].channel, static_cast<int>(i / 2));
    EXPECT_EQ(got[i].wire, expected[i].wire);
  }
}

TEST(MvrsimParser, BrokenFrameIsReportedAndConsumedWhole) {
  Bytes bad = EncodeData(1, {0xF2, 0x00, 0x12});  // header-like bytes inside the data
  bad.back() ^= 0x01;
  Bytes badCmd = EncodeCommand(4, 0x10);
  badCmd[2] ^= 0x80;
  FrameParser p;
  const auto f = FramesOf(FeedAll(p, Cat({bad, badCmd, EncodeCommand(5, 0x77)})));
  ASSERT_EQ(f.size(), 3u);
  EXPECT_FALSE(f[0].intact);
  EXPECT_EQ(f[0].wire, bad);
  EXPECT_FALSE(f[1].intact);
  EXPECT_EQ(f[1].channel, 4);
  EXPECT_TRUE(f[2].intact);
  EXPECT_EQ(f[2].value, 0x77);
}

TEST(MvrsimParser, PartialFrameWaitsAndResetDropsIt) {
  const Bytes w = EncodeData(7, kAbc);
  FrameParser p;
  EXPECT_TRUE(FeedAll(p, Bytes(w.begin(), w.begin() + 4)).empty());
  EXPECT_TRUE(p.InFrame());
  EXPECT_EQ(p.Reset(), Bytes(w.begin(), w.begin() + 4));
  EXPECT_FALSE(p.InFrame());
  // The rest alone is no frame; a fresh frame after it is found.
  const auto f = FramesOf(FeedAll(p, Cat({Bytes(w.begin() + 4, w.end()), w})));
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0].wire, w);
}

TEST(MvrsimText, HexAndLogLines) {
  Bytes b;
  EXPECT_TRUE(ParseHex("61 62,63", b));
  EXPECT_EQ(b, kAbc);
  EXPECT_TRUE(ParseHex("616263", b));
  EXPECT_EQ(b, kAbc);
  EXPECT_TRUE(ParseHex("0x61 0XfF", b));
  EXPECT_EQ(b, (Bytes{0x61, 0xFF}));
  EXPECT_FALSE(ParseHex("616", b));
  EXPECT_FALSE(ParseHex("6g", b));
  EXPECT_FALSE(ParseHex("0x", b));

  EXPECT_EQ(Describe(Decode(EncodeData(3, kAbc))), "data ch=3 len=3 61 62 63 crc=ok");
  EXPECT_EQ(Describe(Decode(EncodeCommand(2, 0x41))), "cmd ch=2 val=41 check=ok");
  Bytes bad = EncodeCommand(2, 0x41);
  bad[2] = 0;
  EXPECT_EQ(Describe(Decode(bad)), "cmd ch=2 val=41 check=bad");
}

TEST(MvrsimScript, ReadsRulesAndNamesTheBadLine) {
  std::vector<Rule> rules;
  std::string err;
  ASSERT_TRUE(ParseScript("# answers\n"
                          "data 3 61 62 63 -> data 78 79   # known request\n"
                          "\n"
                          "data * -> silent\n"
                          "cmd 2 41 -> cmd 42; data 01 02\n"
                          "cmd * * -> echo\n",
                          rules, err))
      << err;
  ASSERT_EQ(rules.size(), 4u);
  EXPECT_EQ(rules[0].channel, 3);
  EXPECT_FALSE(rules[0].anyPayload);
  EXPECT_EQ(rules[0].data, kAbc);
  EXPECT_EQ(rules[0].answers[0].data, (Bytes{0x78, 0x79}));
  EXPECT_EQ(rules[1].channel, -1);
  EXPECT_TRUE(rules[1].answers.empty());
  EXPECT_EQ(rules[1].line, 4);
  ASSERT_EQ(rules[2].answers.size(), 2u);
  EXPECT_EQ(rules[2].answers[0].type, AnswerItem::Command);
  EXPECT_EQ(rules[2].answers[1].type, AnswerItem::Data);
  EXPECT_EQ(rules[3].answers[0].type, AnswerItem::Echo);

  for (const char* bad : {"data 10 * -> echo", "cmd 1 4142 -> echo", "data 1 61 -> silent; echo",
                          "data 1 61 -> ", "data 1 61", "frame 1 -> echo", "cmd 1 * -> cmd"}) {
    std::vector<Rule> r;
    err.clear();
    EXPECT_FALSE(ParseScript(std::string("# first\n") + bad, r, err)) << bad;
    EXPECT_NE(err.find("line 2"), std::string::npos) << err;
  }
  std::vector<Rule> r;
  EXPECT_FALSE(ParseScript("data * -> data " + std::string(257 * 2, 'A'), r, err));
}

TEST(MvrsimArgs, OptionsAndRejects) {
  const Config c = Parsed({"--port", "/tmp/p", "--delay=250", "--garbage", "5", "--split", "0",
                           "--flood", "20:9:256", "--unsolicited", "100:cmd:4:7F",
                           "--answer-cmd", "55", "--send", "F3 02", "--exit-after-frames", "3"});
  EXPECT_EQ(c.port, "/tmp/p");
  EXPECT_EQ(c.delayMs, 250);
  EXPECT_EQ(c.garbage, 5);
  EXPECT_EQ(c.splitMs, 0);
  EXPECT_EQ(c.floodStart.count, 20);
  EXPECT_EQ(c.floodStart.channel, 9);
  EXPECT_EQ(c.floodStart.length, 256u);
  ASSERT_EQ(c.unsolicited.size(), 1u);
  EXPECT_EQ(c.unsolicited[0].frame.value, 0x7F);
  EXPECT_TRUE(c.haveAnswerCmd);
  EXPECT_EQ(c.sendAtStart, (Bytes{0xF3, 0x02}));
  EXPECT_EQ(c.exitAfterFrames, 3);

  const std::vector<std::vector<const char*>> bad = {
      {"--delay", "5"},                        // no port
      {"--port", "p", "--flood", "1:10:5"},    // channel 10
      {"--port", "p", "--flood", "1:1:257"},   // too long
      {"--port", "p", "--answer-cmd", "4142"}, // more than a byte
      {"--port", "p", "--silent=yes"},
      {"--port", "p", "--delay"},
      {"--port", "p", "--bogus"},
  };
  for (auto args : bad) {
    args.insert(args.begin(), "mvrsim");
    Config cfg;
    std::string err;
    EXPECT_FALSE(ParseArgs(static_cast<int>(args.size()), args.data(), cfg, err)) << args[1];
    EXPECT_FALSE(err.empty());
  }
}

TEST(MvrsimAnswer, EchoAnswersAndScriptOrder) {
  Config cfg = Parsed({"--port", "p", "--answer-data", "AA BB"});
  Responder echo(cfg);
  EXPECT_EQ(Wire(echo.Answer(Rx(EncodeCommand(2, 0x41)))), EncodeCommand(2, 0x41));
  EXPECT_EQ(Wire(echo.Answer(Rx(EncodeData(3, kAbc)))), EncodeData(3, {0xAA, 0xBB}));

  std::string err;
  ASSERT_TRUE(ParseScript("data 3 61 62 63 -> data 01\n"
                          "data 3 -> silent\n"
                          "cmd * 41 -> cmd 42; data 09\n",
                          cfg.rules, err));
  Responder r(cfg);
  EXPECT_EQ(Wire(r.Answer(Rx(EncodeData(3, kAbc)))), EncodeData(3, {0x01}));
  EXPECT_TRUE(r.Answer(Rx(EncodeData(3, {0x61}))).empty());
  EXPECT_EQ(Wire(r.Answer(Rx(EncodeData(4, {0x61})))), EncodeData(4, {0xAA, 0xBB}));
  EXPECT_EQ(Wire(r.Answer(Rx(EncodeCommand(6, 0x41)))),
            Cat({EncodeCommand(6, 0x42), EncodeData(6, {0x09})}));
  EXPECT_EQ(Wire(r.Answer(Rx(EncodeCommand(6, 0x40)))), EncodeCommand(6, 0x40));

  Bytes broken = EncodeData(4, kAbc);
  broken[3] ^= 0x01;
  EXPECT_TRUE(r.Answer(Rx(broken)).empty());

  cfg.silent = true;
  EXPECT_TRUE(Responder(cfg).Answer(Rx(EncodeCommand(6, 0x41))).empty());
}

TEST(MvrsimAnswer, FaultsBreakOnlyWhatTheyName) {
  Config cfg = Parsed({"--port", "p", "--corrupt-crc", "--corrupt-check"});
  Responder r(cfg);
  const Frame d = Decode(Wire(r.Answer(Rx(EncodeData(3, kAbc)))));
  EXPECT_FALSE(d.intact);
  EXPECT_EQ(d.data, kAbc);
  const Bytes good = EncodeData(3, kAbc);
  EXPECT_EQ(Bytes(d.wire.begin(), d.wire.end() - 1), Bytes(good.begin(), good.end() - 1));
  EXPECT_NE(d.wire.back(), good.back());
  const auto c = r.Answer(Rx(EncodeCommand(2, 0x41)));
  EXPECT_FALSE(Decode(Wire(c)).intact);
  EXPECT_EQ(Wire(c)[1], 0x41);
  EXPECT_EQ(c[0].log, "TX cmd ch=2 val=41 check=bad");

  // Garbage starts no frame: the receiver still finds exactly the answer behind it.
  Config g = Parsed({"--port", "p", "--garbage", "13", "--delay", "40"});
  Responder rg(g);
  for (int round = 0; round < 3; ++round) {
    const auto chunks = rg.Answer(Rx(EncodeData(5, kAbc)));
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].bytes.size(), 13u);
    EXPECT_EQ(chunks[0].delayMs, 40);
    EXPECT_FALSE(chunks[0].afterPrevious);
    EXPECT_TRUE(chunks[1].afterPrevious);
    EXPECT_EQ(chunks[1].delayMs, 0);
    for (uint8_t b : chunks[0].bytes) EXPECT_FALSE(IsHeader(b));
    FrameParser p;
    const auto f = FramesOf(FeedAll(p, Wire(chunks)));
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].wire, EncodeData(5, kAbc));
  }

  // With several answer frames only the first waits for the delay.
  std::string err;
  ASSERT_TRUE(ParseScript("cmd * * -> cmd 01; cmd 02", g.rules, err));
  const auto two = Responder(g).Answer(Rx(EncodeCommand(1, 0x00)));
  ASSERT_EQ(two.size(), 4u);
  EXPECT_EQ(two[0].delayMs, 40);
  for (size_t i = 1; i < two.size(); ++i) {
    EXPECT_TRUE(two[i].afterPrevious);
    EXPECT_EQ(two[i].delayMs, 0);
  }

  // Split: two pieces that make the whole frame, the second waiting after the first.
  Config s = Parsed({"--port", "p", "--split", "30", "--delay", "5"});
  const auto parts = Responder(s).Answer(Rx(EncodeData(0, Bytes(200, 0x11))));
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].bytes.size(), 102u);
  EXPECT_EQ(parts[0].delayMs, 5);
  EXPECT_TRUE(parts[1].afterPrevious);
  EXPECT_EQ(parts[1].delayMs, 30);
  EXPECT_EQ(Wire(parts), EncodeData(0, Bytes(200, 0x11)));

  // Pieces: answers and periodic frames trickle out N bytes at a time, MS apart.
  const std::string periodic = "50:data:2:" + std::string(200 * 2, '3');
  Config t = Parsed({"--port", "p", "--pieces", "10:5", "--delay", "7", "--unsolicited",
                     periodic.c_str()});
  Responder tr(t);
  const auto answer = tr.Answer(Rx(EncodeData(0, Bytes(200, 0x11))));
  const auto own = tr.Unsolicited(0);
  EXPECT_EQ(answer[0].delayMs, 7);
  EXPECT_EQ(own[0].delayMs, 0);
  for (const auto& out : {answer, own}) {
    ASSERT_EQ(out.size(), 21u);
    for (size_t i = 0; i < out.size(); ++i) {
      EXPECT_EQ(out[i].bytes.size(), i < 20 ? 10u : 4u);
      if (i > 0) {
        EXPECT_TRUE(out[i].afterPrevious);
        EXPECT_EQ(out[i].delayMs, 5);
      }
    }
  }
  EXPECT_EQ(Wire(answer), EncodeData(0, Bytes(200, 0x11)));
  EXPECT_EQ(Wire(own), EncodeData(2, Bytes(200, 0x33)));
  EXPECT_EQ(Parsed({"--port", "p", "--pieces", "10:5"}).piecesMs, 5);
}

TEST(MvrsimAnswer, FloodsAndStartOutput) {
  Config cfg = Parsed({"--port", "p", "--send", "12 41 53", "--flood", "3:8:4", "--start-delay",
                       "70", "--flood-on-frame", "2:1:2"});
  Responder r(cfg);
  const auto start = r.AtStart();
  FrameParser p;
  const auto f = FramesOf(FeedAll(p, Wire(start)));
  ASSERT_EQ(f.size(), 4u);
  EXPECT_EQ(f[0].wire, EncodeCommand(2, 0x41));
  EXPECT_EQ(start[0].log, "TX raw 12 41 53");
  EXPECT_EQ(start[0].delayMs, 70);
  EXPECT_TRUE(start[1].afterPrevious);
  for (uint32_t k = 0; k < 3; ++k) {
    EXPECT_EQ(f[k + 1].channel, 8);
    EXPECT_EQ(f[k + 1].data, FloodData(k, 4));
  }
  EXPECT_EQ(FloodData(255, 3), (Bytes{0xFF, 0x00, 0x01}));

  // After the answer, numbered on from the start flood; not for a broken frame.
  const auto a = FramesOf(FeedAll(p, Wire(r.Answer(Rx(EncodeCommand(0, 0x05))))));
  ASSERT_EQ(a.size(), 3u);
  EXPECT_EQ(a[0].wire, EncodeCommand(0, 0x05));
  EXPECT_EQ(a[1].data, FloodData(3, 2));
  EXPECT_EQ(a[2].data, FloodData(4, 2));
  Bytes broken = EncodeCommand(0, 0x05);
  broken[2] ^= 1;
  EXPECT_TRUE(r.Answer(Rx(broken)).empty());
}
