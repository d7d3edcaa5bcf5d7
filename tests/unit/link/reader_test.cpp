// The two reply readers against a scripted port and a virtual clock: replies
// across several calls, the countdown, silence, NAK, BCC and long replies;
// the stale bytes a request drops before it goes out; the quiet probe of a
// controller and the port it hands over open.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fake_port.h"
#include "imgload/link/link.h"
#include "imgload/link/probe.h"

namespace imgload {
namespace {

using testing::FakePort;
using testing::VirtualClock;

// Replies as the controller sends them, with their BCC digits.
const std::string MODEL_REPLY = "\x06" "00FFAD30" "00\r";
const std::string MODE_REPLY = "\x06" "00FFAB06" "03\r";
const std::string FINISH_REPLY = "\x06" "00FFAG" "00\r";

class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port().reset();
    port().attach_clock(&clock);
    clock.attach_countdown(&countdown);
    ASSERT_TRUE(link.open("COM1", 9600).ok());
  }
  FakePort& port() { return port_; }
  std::string stored(int count) const {
    return std::string(reinterpret_cast<const char*>(link.reply()), static_cast<std::size_t>(count));
  }
  // Reader 0 is the plain one, 1 the data one.
  int read(int reader) { return reader == 0 ? link.read_reply() : link.read_data_reply(); }
  const ReaderState& state(int reader) const {
    return reader == 0 ? link.plain_reader() : link.data_reader();
  }

  FakePort port_;
  ReplyCountdown countdown;
  VirtualClock clock;
  Link link{port_, countdown};
};

TEST_F(ReaderTest, ReplyAcrossSeveralCallsIsAssembledAndJudgedOnce) {
  const std::string& reply = MODEL_REPLY;
  for (int reader = 0; reader < 2; ++reader) {
    SCOPED_TRACE(reader == 0 ? "read_reply" : "read_data_reply");
    auto read = [&] { return this->read(reader); };
    const ReaderState& state = this->state(reader);
    countdown.set(10);
    port().queue_bytes(reply.substr(0, 3));
    port().queue_empty_read();
    port().queue_bytes(reply.substr(3, 4));
    port().queue_empty_read();
    port().queue_bytes(reply.substr(7));
    EXPECT_EQ(read(), REPLY_WAIT);
    EXPECT_EQ(state.reading, 1);
    EXPECT_EQ(state.count, 3);
    EXPECT_EQ(read(), REPLY_WAIT);
    EXPECT_EQ(state.count, 7);
    EXPECT_EQ(read(), REPLY_OK);
    EXPECT_EQ(state.reading, 0);
    EXPECT_EQ(state.count, static_cast<int>(reply.size()));
    EXPECT_EQ(stored(state.count), reply);
    EXPECT_EQ(port().pending_bytes(), 0u);
  }
  EXPECT_STREQ(link.reply_code(), "AD");
}

TEST_F(ReaderTest, ReaderStatesAreKeptApart) {
  countdown.set(10);
  port().queue_bytes("\x06" "00");
  EXPECT_EQ(link.read_reply(), REPLY_WAIT);
  EXPECT_EQ(link.plain_reader().reading, 1);
  EXPECT_EQ(link.data_reader().reading, 0);
  EXPECT_EQ(link.data_reader().count, 0);
  // The data reader starts its own reply at offset 0.
  port().queue_bytes(MODE_REPLY);
  EXPECT_EQ(link.read_data_reply(), REPLY_OK);
  EXPECT_STREQ(link.reply_code(), "AB");
  EXPECT_EQ(link.plain_reader().reading, 1);
  EXPECT_EQ(link.plain_reader().count, 3);
}

TEST_F(ReaderTest, ReplyStillArrivingAfterTheCountdownRanOutIsReadToItsCr) {
  const std::string reply = "\x06" "00FFAB07" "02\r";
  for (int reader = 0; reader < 2; ++reader) {
    auto read = [&] { return this->read(reader); };
    countdown.set(4);
    port().queue_bytes(reply.substr(0, 5));
    port().queue_empty_read();  // 3 s pass: 1 left
    EXPECT_EQ(read(), REPLY_WAIT);
    EXPECT_EQ(countdown.value(), 1);
    clock.advance(5000);
    ASSERT_TRUE(countdown.expired());
    port().queue_bytes(reply.substr(5));
    EXPECT_EQ(read(), REPLY_OK);
    EXPECT_TRUE(countdown.expired()) << "the grace ends with the reply";
  }
}

TEST_F(ReaderTest, SilenceTimesOutOnlyAfterAnEmptyReadWithTheCountdownAtZero) {
  for (int reader = 0; reader < 2; ++reader) {
    SCOPED_TRACE(reader);
    auto read = [&] { return this->read(reader); };
    clock.reset();
    const int reads_before = port().empty_reads();
    countdown.set(10);
    // Each silent read lasts 3 s: 7, 4 and 1 second left, then 0.
    EXPECT_EQ(read(), REPLY_WAIT);
    EXPECT_EQ(read(), REPLY_WAIT);
    EXPECT_EQ(read(), REPLY_WAIT);
    EXPECT_EQ(read(), REPLY_TIMEOUT);
    EXPECT_EQ(port().empty_reads() - reads_before, 4);
    EXPECT_EQ(clock.now_ms(), 12000u);  // the first multiple of 3 s after 10 s
  }
}

TEST_F(ReaderTest, CountdownAlreadyAtZeroStillWaitsForOneRead) {
  countdown.set(0);
  port().queue_bytes(FINISH_REPLY);
  EXPECT_EQ(link.read_reply(), REPLY_OK);  // bytes that have arrived are taken
  EXPECT_EQ(link.read_reply(), REPLY_TIMEOUT);
  EXPECT_EQ(port().empty_reads(), 1);
}

TEST_F(ReaderTest, ReadErrorEndsTheReplyAtOnce) {
  // A failed line (hung up, device gone) does not wait out the countdown.
  for (int reader = 0; reader < 2; ++reader) {
    auto read = [&] { return this->read(reader); };
    const ReaderState& state = this->state(reader);
    countdown.set(30);
    port().queue_bytes("\x06" "00");
    port().queue_read_error();
    EXPECT_EQ(read(), REPLY_TIMEOUT) << reader;
    EXPECT_EQ(state.reading, 0);
    EXPECT_EQ(port().read_calls(), 4 * reader + 4);
  }
  // A closed link reads nothing either.
  countdown.set(0);
  link.close();
  port().queue_bytes(FINISH_REPLY);
  EXPECT_EQ(link.read_data_reply(), REPLY_TIMEOUT);
}

// Bytes that never end a reply (noise, a controller at another speed): the
// reply is a timeout once its countdown and the grace after it have run
// out, whether the bytes stream or trickle, and the next reply starts clean.
TEST_F(ReaderTest, BytesWithoutCrTimeOutAfterCountdownAndGrace) {
  struct Row { const char* name; std::uint64_t ms_per_byte; int countdown; int stored; };
  for (const Row& row : {Row{"stream at 9600 bit/s", 1, 1, FRAME_BUFFER_SIZE},
                         Row{"trickle", 2900, 1, 2},
                         Row{"stream, long countdown", 1, 30, FRAME_BUFFER_SIZE}}) {
    for (int reader = 0; reader < 2; ++reader) {
      SCOPED_TRACE(std::string(row.name) + (reader == 0 ? " read_reply" : " read_data_reply"));
      auto read = [&] { return this->read(reader); };
      const ReaderState& state = this->state(reader);
      const std::uint64_t start = clock.now_ms();
      countdown.set(row.countdown);
      port().queue_bytes("\x06" + std::string(100000, 'A'), row.ms_per_byte);
      EXPECT_EQ(read(), REPLY_TIMEOUT);
      const std::uint64_t took = clock.now_ms() - start;
      EXPECT_GE(took, static_cast<std::uint64_t>(row.countdown - 1 + LATE_REPLY_GRACE - 1) * 1000);
      EXPECT_LE(took, static_cast<std::uint64_t>(row.countdown + LATE_REPLY_GRACE) * 1000 +
                          row.ms_per_byte);
      EXPECT_EQ(state.reading, 0);
      EXPECT_EQ(state.count, row.stored);
      EXPECT_GT(port().pending_bytes(), 0u) << "the reader gave up while bytes still came";
      link.close();
      port().reset();
      port().attach_clock(&clock);
      ASSERT_TRUE(link.open("COM1", 9600).ok());
      countdown.set(1);
      const std::string& reply = MODE_REPLY;
      port().queue_bytes(reply);
      EXPECT_EQ(read(), REPLY_OK);
      EXPECT_EQ(stored(state.count), reply);
    }
  }
}

TEST_F(ReaderTest, AfterATimeoutTheNextReplyStartsAtOffsetZero) {
  for (int reader = 0; reader < 2; ++reader) {
    auto read = [&] { return this->read(reader); };
    const ReaderState& state = this->state(reader);
    countdown.set(1);
    port().queue_bytes("\x15" "99");  // a broken start, then silence
    EXPECT_EQ(read(), REPLY_TIMEOUT);
    EXPECT_EQ(state.reading, 0);
    countdown.set(1);
    port().queue_bytes(MODE_REPLY);
    EXPECT_EQ(read(), REPLY_OK) << reader;
    EXPECT_EQ(stored(state.count), MODE_REPLY);
  }
}

TEST_F(ReaderTest, FirstByteOtherThanAck) {
  countdown.set(1);
  const std::string nak = "\x15" "00FFAB06" "10\r";
  port().queue_bytes(nak);
  EXPECT_EQ(link.read_reply(), REPLY_NAK);
  // The data reader judges by the BCC alone.
  port().queue_bytes(nak);
  EXPECT_EQ(link.read_data_reply(), REPLY_OK);
  EXPECT_STREQ(link.reply_code(), "AB");
  port().queue_bytes("\x15" "00FFAB06" "11\r");
  EXPECT_EQ(link.read_data_reply(), REPLY_BCC);
}

TEST_F(ReaderTest, LowerCaseBccIsRefusedByTheDataReaderOnly) {
  countdown.set(1);
  const std::string r = "\x06" "00FFAB\xAE" "ab\r";  // BCC AB, in lower case
  port().queue_bytes(r);
  EXPECT_EQ(link.read_data_reply(), REPLY_BCC);
  port().queue_bytes(r);
  EXPECT_EQ(link.read_reply(), REPLY_OK);  // the plain reader looks at the ACK only
}

TEST_F(ReaderTest, OtherStationAndReservedFieldsAreAccepted) {
  countdown.set(1);
  const std::string r = "\x06" "17EEAB07" "04\r";
  port().queue_bytes(r);
  EXPECT_EQ(link.read_reply(), REPLY_OK);
  port().queue_bytes(r);
  EXPECT_EQ(link.read_data_reply(), REPLY_OK);
  EXPECT_STREQ(link.reply_code(), "AB");
}

TEST_F(ReaderTest, RepliesOverTheBufferKeepTheirFirst544Bytes) {
  countdown.set(1);
  // 541 bytes, then the BCC over them at offsets 541 and 542, then more
  // bytes that are dropped, then CR.
  std::string head = "\x06" "00FFAD";
  while (head.size() < 541) head += static_cast<char>('A' + head.size() % 20);
  const std::string longer = head + "16" + std::string(100, 'Z') + "\r";  // 16: the head's BCC
  port().queue_bytes(longer);
  EXPECT_EQ(link.read_data_reply(), REPLY_OK);
  EXPECT_EQ(link.data_reader().count, FRAME_BUFFER_SIZE);
  EXPECT_EQ(link.data_reader().reading, 0);
  EXPECT_STREQ(link.reply_code(), "AD");
  EXPECT_EQ(port().pending_bytes(), 0u);  // read to its CR

  // The same long reply with its BCC at the real end (100 Z cancel out) is
  // refused: only the stored bytes are judged.
  port().queue_bytes(head + std::string(100, 'Z') + "16\r");
  EXPECT_EQ(link.read_data_reply(), REPLY_BCC);
  EXPECT_EQ(link.data_reader().count, FRAME_BUFFER_SIZE);

  port().queue_bytes(longer);
  EXPECT_EQ(link.read_reply(), REPLY_OK);
  EXPECT_EQ(link.plain_reader().count, FRAME_BUFFER_SIZE);
}

TEST_F(ReaderTest, ShortRepliesAreBccFailuresForTheDataReader) {
  countdown.set(1);
  // Leave a valid-looking code behind in the buffer first.
  port().queue_bytes(MODE_REPLY);
  ASSERT_EQ(link.read_data_reply(), REPLY_OK);
  for (const char* shortreply : {"\r", "\x06\r", "00\r", "\x06" "00FF06\r"}) {
    port().queue_bytes(shortreply);
    EXPECT_EQ(link.read_data_reply(), REPLY_BCC) << shortreply;
    EXPECT_EQ(link.data_reader().count, static_cast<int>(std::strlen(shortreply)));
    EXPECT_STREQ(link.reply_code(), "AB");  // no code taken from leftovers
  }
  port().queue_bytes("\r");
  EXPECT_EQ(link.read_reply(), REPLY_NAK);
}

// Bytes that arrived and no reader took (the tail of a reply that came after
// its wait) are dropped before the next request is written, and traced; a
// reply still being read keeps its bytes, and bytes still on their way stay.
TEST_F(ReaderTest, StaleBytesAreDroppedBeforeARequestAndTraced) {
  struct Discards : LinkTrace {
    void frame_sent(const std::uint8_t*, int) override { order += "sent "; }
    void input_discarded(int count) override { order += "discarded " + std::to_string(count) + " "; }
    std::string order;
  };
  const std::string& reply = MODE_REPLY;
  struct Row {
    const char* name;
    std::string begun;    // the start of a reply the plain reader has read before the request
    std::string arrived;  // bytes there, unread, when the request goes out
    bool discard_fails;
    const char* trace;    // what the trace shows, in order
    std::string read;     // the reply the plain reader then stores
  };
  for (const Row& row : {
           Row{"a stale tail", "", "D3000\r", false, "discarded 6 sent ", reply},
           Row{"nothing waiting", "", "", false, "sent ", reply},
           Row{"a reply being read", reply.substr(0, 2), reply.substr(2), false, "sent ", reply},
           Row{"the discard fails", "", "D3000\r", true, "discarded -1 sent ", "D3000\r"}}) {
    SCOPED_TRACE(row.name);
    Discards trace;
    Link traced{port(), countdown, trace};
    link.close();
    ASSERT_TRUE(traced.open("COM1", 9600).ok());
    countdown.set(10);
    if (!row.begun.empty()) {
      port().queue_bytes(row.begun);
      port().queue_empty_read();
      ASSERT_EQ(traced.read_reply(), REPLY_WAIT);
    }
    port().queue_bytes(row.arrived);
    port().queue_empty_read();
    port().queue_bytes(reply);  // the answer, on its way after the request
    port().fail_next_discards(row.discard_fails ? 1 : 0);
    ASSERT_EQ(traced.send_frame("AB", nullptr, 0), 10);
    EXPECT_EQ(trace.order, row.trace);
    EXPECT_EQ(port().writes().size(), 1u) << "the request goes out in any case";
    ReplyStatus status = REPLY_WAIT;
    while (status == REPLY_WAIT) status = traced.read_reply();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(traced.reply()),
                          static_cast<std::size_t>(traced.plain_reader().count)),
              row.read);
    traced.close();
    port().reset();
    port().attach_clock(&clock);
  }
}


// The production loop's quiet "AD": a whole reply with a right BCC (in one
// read or several, ACK or NAK) is an answer; silence, bytes without an end
// or a wrong BCC are not; the probe takes no longer than asked and leaves
// the port open for the next, unless the line failed.
TEST(ProbeTest, OnlyAWholeReplyIsAnAnswer) {
  const std::string ad = "\x06" "00FFAD30" "00\r";  // BCC 00
  const struct {
    const char* what;
    std::vector<std::string> reads;  // "" an empty read, "!" a failed one
    Presence presence;
    bool left_open;
  } rows[] = {
      {"whole", {ad}, Presence::ANSWERED, true},
      {"in pieces", {ad.substr(0, 4), "", ad.substr(4)}, Presence::ANSWERED, true},
      {"NAK", {"\x15" "00FFAD30" "13\r"}, Presence::ANSWERED, true},
      {"silent", {}, Presence::SILENT, true},
      {"wrong BCC", {"\x06" "00FFAD30" "01\r"}, Presence::SILENT, true},
      {"no end", {std::string(600, 'A')}, Presence::SILENT, true},
      {"hung up", {ad.substr(0, 4), "!"}, Presence::SILENT, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    FakePort port;
    VirtualClock clock;
    port.attach_clock(&clock);
    port.set_controller([&](FakePort& p, const testing::Bytes&) {
      for (const std::string& read : r.reads) {
        if (read.empty()) p.queue_empty_read();
        else if (read == "!") p.queue_read_error();
        else p.queue_bytes(read, 1);  // 1 ms a byte
      }
    });
    const ProbeResult result = probe_controller(port, "COM1", clock, 300);
    EXPECT_EQ(static_cast<int>(result.presence), static_cast<int>(r.presence));
    ASSERT_EQ(port.writes().size(), 1u);
    EXPECT_EQ(std::string(port.writes()[0].begin(), port.writes()[0].end()), "\x05" "00FFAD" "00\r");
    ASSERT_EQ(port.opens().size(), 1u);
    EXPECT_EQ(port.opens()[0].settings.baud_rate, 9600u);
    EXPECT_EQ(port.is_open(), r.left_open);
    EXPECT_LE(clock.now_ms(), 300u + 20u) << "one short read past the deadline at most";
    // The next probe asks again on the open port, or opens it again.
    probe_controller(port, "COM1", clock, 300);
    EXPECT_EQ(port.opens().size(), r.left_open ? 1u : 2u);
    EXPECT_EQ(port.writes().size(), 2u);
    // Handed over to a download: its opening at 9600 bit/s takes the port
    // as the probe left it open (no closing, no new opening), or opens it.
    HandOverPort handed(port);
    handed.hand_over();
    EXPECT_FALSE(handed.is_open());
    ReplyCountdown countdown;
    Link link(handed, countdown);
    const std::size_t opens = port.opens().size();
    const std::size_t closes = port.closes().size();
    EXPECT_TRUE(link.open("COM1", PORT_BASE_SPEED).ok());
    EXPECT_EQ(port.opens().size(), r.left_open ? opens : opens + 1);
    EXPECT_EQ(port.closes().size(), closes);
    link.close();  // the download's end closes the port itself
    EXPECT_FALSE(port.is_open());
  }
  // Handed over, but opened at another speed: closed and opened anew.
  FakePort fast;
  VirtualClock fast_clock;
  fast.attach_clock(&fast_clock);
  probe_controller(fast, "COM1", fast_clock, 300);
  HandOverPort handed(fast);
  handed.hand_over();
  EXPECT_TRUE(handed.open("COM1", link_settings(115200)).ok());
  ASSERT_EQ(fast.opens().size(), 2u);
  EXPECT_EQ(fast.opens()[1].settings.baud_rate, 115200u);
  EXPECT_EQ(fast.closes().size(), 1u);
  // A port that does not open: refused (in use, the fake's default) or not there at all.
  for (const Presence presence : {Presence::PORT_REFUSED, Presence::DEVICE_MISSING}) {
    const bool missing = presence == Presence::DEVICE_MISSING;
    FakePort busy;
    if (missing) busy.fail_next_opens(1, {zp3k::Result::NOT_FOUND, ENOENT});
    else busy.fail_next_opens(1);
    VirtualClock clock;
    const ProbeResult result = probe_controller(busy, "COM1", clock, 300);
    EXPECT_EQ(static_cast<int>(result.presence), static_cast<int>(presence));
    EXPECT_EQ(result.port.system_error, missing ? ENOENT : EBUSY);
    EXPECT_TRUE(busy.writes().empty());
  }
}

}  // namespace
}  // namespace imgload
