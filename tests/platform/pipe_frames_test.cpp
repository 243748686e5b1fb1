#include "platform/pipe_frames.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace korvo::platform {
namespace {

// However the stream is cut into pieces, the same messages come out, empty
// ones included; a length above the largest message ends the stream.
TEST(FrameReader, GivesTheMessagesOfAStreamCutAnywhere) {
  const std::vector<std::string> messages = {"", "a", std::string(kMaxFrameLength, 'z'), "end"};
  std::string stream;
  for (const auto& m : messages) stream += EncodeFrame(m);
  for (size_t piece : {size_t{1}, size_t{3}, size_t{4}, size_t{5}, size_t{4099}, stream.size()}) {
    FrameReader reader;
    std::vector<std::string> got;
    for (size_t at = 0; at < stream.size(); at += piece) {
      reader.Feed(stream.data() + at, std::min(piece, stream.size() - at));
      std::string m;
      while (reader.Next(&m)) got.push_back(m);
    }
    EXPECT_EQ(got, messages) << "pieces of " << piece;
    EXPECT_EQ(reader.pending(), 0u);
    EXPECT_FALSE(reader.malformed());
  }
}

TEST(FrameReader, RefusesALengthAboveTheLargestMessage) {
  struct Case {
    const char* name;
    std::string stream;
    size_t before;  // messages that come out first
  };
  const Case cases[] = {
      {"one byte too long", std::string("\x01\x10\x00\x00", 4) + std::string(4097, 'x'), 0},
      {"4 GiB", EncodeFrame("ok") + std::string("\xFF\xFF\xFF\xFF", 4), 1},
  };
  for (const auto& c : cases) {
    FrameReader reader;
    reader.Feed(c.stream.data(), c.stream.size());
    std::string m;
    size_t n = 0;
    while (reader.Next(&m)) ++n;
    EXPECT_EQ(n, c.before) << c.name;
    EXPECT_TRUE(reader.malformed()) << c.name;
    reader.Feed(EncodeFrame("late").data(), 8);
    EXPECT_FALSE(reader.Next(&m)) << c.name << ": nothing after the refusal";
  }
}

// A reader of sessions gives the marks between the messages, wherever the
// stream is cut; a reader of one session refuses them as oversize lengths.
TEST(FrameReader, TakesTheMarksBetweenSessions) {
  std::string stream = EncodeFrame("last");
  AppendMark(&stream, kFrameEnd);
  AppendMark(&stream, kFrameOpen);
  stream += EncodeFrame("");
  const std::vector<std::string> expected = {"last", "<end>", "<open>", ""};
  for (size_t piece : {size_t{1}, size_t{2}, size_t{5}, stream.size()}) {
    FrameReader reader(true);
    std::vector<std::string> got;
    for (size_t at = 0; at < stream.size(); at += piece) {
      reader.Feed(stream.data() + at, std::min(piece, stream.size() - at));
      std::string m;
      for (FrameReader::Item item; (item = reader.Take(&m)) != FrameReader::kNone;)
        got.push_back(item == FrameReader::kEnd ? "<end>" : item == FrameReader::kOpen ? "<open>" : m);
    }
    EXPECT_EQ(got, expected) << "pieces of " << piece;
    EXPECT_FALSE(reader.malformed());
  }
  FrameReader single;
  single.Feed(stream.data(), stream.size());
  std::string m;
  EXPECT_TRUE(single.Next(&m));
  EXPECT_FALSE(single.Next(&m));
  EXPECT_TRUE(single.malformed());
}

// Messages waiting on a message socket become frames in order, many per
// call (more than one call's worth here), empty ones included, also when the
// peer has closed behind them; what follows them is told apart: nothing
// more, the peer's end, or a message too long.
TEST(WaitingMessages, BecomeFramesUpToWhatFollowsThem) {
  std::vector<std::string> many;
  for (int i = 0; i < 150; ++i) many.push_back(std::string(static_cast<size_t>(i * 37 % 4097), char('a' + i % 26)));
  const struct {
    const char* name;
    std::vector<std::string> messages;
    bool close;
    Waiting after;
    size_t framed;  // messages that come out
  } cases[] = {
      {"many, then nothing", many, false, Waiting::kNone, many.size()},
      {"empty and full, then the end", {"", std::string(kMaxFrameLength, 'x'), "", "z"}, true, Waiting::kEnd, 4},
      {"one too long", {"ok", std::string(kMaxFrameLength + 1, 'y')}, false, Waiting::kTooLong, 1},
  };
  for (const auto& c : cases) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair), 0);
    const int size = 4 << 20;
    setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    std::vector<std::string_view> views(c.messages.begin(), c.messages.end());
    ASSERT_TRUE(SendMessages(pair[0], views)) << c.name;
    if (c.close) close(pair[0]);
    std::string frames, expected;
    EXPECT_EQ(AppendWaitingMessages(pair[1], &frames, SIZE_MAX), c.after) << c.name;
    for (size_t i = 0; i < c.framed; ++i) expected += EncodeFrame(c.messages[i]);
    EXPECT_TRUE(frames == expected) << c.name << ": " << frames.size() << " bytes";
    if (!c.close) close(pair[0]);
    close(pair[1]);
  }
}

// A limit stops the taking at the first frame that reaches it; the rest
// waits for the next call.
TEST(WaitingMessages, StopAtTheLimit) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair), 0);
  const std::vector<std::string> messages(5, std::string(1000, 'm'));
  ASSERT_TRUE(SendMessages(pair[0], {messages.begin(), messages.end()}));
  std::string frames;
  EXPECT_EQ(AppendWaitingMessages(pair[1], &frames, 2500), Waiting::kNone);
  EXPECT_EQ(frames.size(), 3 * (kFrameHeaderSize + 1000));
  frames.clear();
  EXPECT_EQ(AppendWaitingMessages(pair[1], &frames, SIZE_MAX), Waiting::kNone);
  EXPECT_EQ(frames.size(), 2 * (kFrameHeaderSize + 1000));
  close(pair[0]);
  close(pair[1]);
}

TEST(RelayGreeting, CarriesTheConnectOutcome) {
  uint32_t error = 7;
  const std::string g = EncodeGreeting(ENOENT);
  ASSERT_TRUE(DecodeGreeting(g.data(), g.size(), &error));
  EXPECT_EQ(error, static_cast<uint32_t>(ENOENT));
  EXPECT_FALSE(DecodeGreeting("Welcome!", 8, &error)) << "a login's chatter is no greeting";
}

}  // namespace
}  // namespace korvo::platform
