// The Telnet side of a network line without a socket: far ends that keep
// an exchange of options going in every way they can, how the bytes are cut
// into pieces, and the negotiation a COM port gateway goes through.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "TelnetReceiver.h"

namespace {

using pmlink::TelnetReceiver;
using T = TelnetReceiver;
using Bytes = std::vector<std::uint8_t>;

// A far end that answers each option command it gets with the commands the
// function gives (none: it stops).
struct LoopingPeer {
  const char* name;
  Bytes opening;  // what it sends first
  std::function<Bytes(std::uint8_t verb, std::uint8_t option)> reply;
};

Bytes Command(std::uint8_t verb, std::uint8_t option) { return {T::kIac, verb, option}; }

const LoopingPeer kPeers[] = {
    // Asks this end for an option it performs, withdraws it, and then asks
    // for the opposite of every answer.
    {"FlipFlopsOurOption", Command(T::kDo, T::kSuppressGoAhead),
     [](std::uint8_t verb, std::uint8_t option) { return Command(verb == T::kWill ? T::kDont : T::kDo, option); }},
    // The same for an option it performs itself.
    {"FlipFlopsItsOption", Command(T::kWill, T::kBinary),
     [](std::uint8_t verb, std::uint8_t option) { return Command(verb == T::kDo ? T::kWont : T::kWill, option); }},
    // Asks again for an option every time it is refused.
    {"InsistsOnARefusedOption", Command(T::kDo, 24),
     [](std::uint8_t, std::uint8_t option) { return Command(T::kDo, option); }},
    {"InsistsOnARefusedOffer", Command(T::kWill, 31),
     [](std::uint8_t, std::uint8_t option) { return Command(T::kWill, option); }},
    // Both at once, on several options, in one stream.
    {"FlipFlopsEverything", [] {
       Bytes b;
       for (std::uint8_t o : {0, 3, 44, 200}) {
         const Bytes d = Command(T::kDo, o), w = Command(T::kWill, o);
         b.insert(b.end(), d.begin(), d.end());
         b.insert(b.end(), w.begin(), w.end());
       }
       return b;
     }(),
     [](std::uint8_t verb, std::uint8_t option) {
       const std::uint8_t flipped = verb == T::kWill ? T::kDont : verb == T::kWont ? T::kDo
                                  : verb == T::kDo  ? T::kWont : T::kWill;
       return Command(flipped, option);
     }},
};

class AgainstALoopingPeer : public testing::TestWithParam<LoopingPeer> {};

TEST_P(AgainstALoopingPeer, TheExchangeOfOptionsEnds) {
  const LoopingPeer& peer = GetParam();
  TelnetReceiver telnet;
  telnet.Reset();
  Bytes toUs = peer.opening;
  std::map<std::pair<bool, std::uint8_t>, int> answers;  // (our side, option) -> answers
  int rounds = 0;
  for (; !toUs.empty() && rounds < 10000; ++rounds) {
    const auto r = telnet.Receive(toUs);
    EXPECT_TRUE(r.data.empty());
    EXPECT_LE(r.answers.size(), toUs.size()) << "no more answers than commands";
    toUs.clear();
    ASSERT_EQ(r.answers.size() % 3, 0u);
    for (std::size_t i = 0; i < r.answers.size(); i += 3) {
      ASSERT_EQ(r.answers[i], T::kIac);
      const std::uint8_t verb = r.answers[i + 1], option = r.answers[i + 2];
      ++answers[{verb == T::kWill || verb == T::kWont, option}];
      const Bytes next = peer.reply(verb, option);
      toUs.insert(toUs.end(), next.begin(), next.end());
    }
  }
  EXPECT_TRUE(toUs.empty()) << "still exchanging after " << rounds << " rounds";
  for (const auto& [key, n] : answers) EXPECT_LE(n, T::kAnswersMax) << "option " << int(key.second);
  EXPECT_FALSE(answers.empty());
}

INSTANTIATE_TEST_SUITE_P(Telnet, AgainstALoopingPeer, testing::ValuesIn(kPeers),
                         [](const auto& info) { return std::string(info.param.name); });

// An ordinary negotiation: the options asked for are agreed without an
// answer, the settings' answers are kept, an escaped 0xFF is data, and a
// line state notice between the data bytes leaves them alone.
const Bytes kGateway = {
    T::kIac, T::kDo, T::kComPort, T::kIac, T::kDo, T::kBinary, T::kIac, T::kWill, T::kBinary,
    T::kIac, T::kWill, T::kSuppressGoAhead,                                          // offers SGA: agreed
    T::kIac, T::kSb, T::kComPort, 101, 0, 0, 0x25, 0x80, T::kIac, T::kSe,            // speed 9600
    T::kIac, T::kSb, T::kComPort, 103, 3, T::kIac, T::kSe,                           // even parity
    0x01, T::kIac, T::kIac, 0x02,                                                    // data 01 FF 02
    T::kIac, T::kSb, T::kComPort, 106, 0x10, T::kIac, T::kSe,                        // line state
    0x03, T::kIac, 241, 0x04,                                                        // NOP inside the data
    T::kIac, T::kSb, T::kComPort, 106, 0x10, 0x05, 0x06,                             // notice without IAC SE
};

TEST(Telnet, ANegotiationComesOutTheSameHoweverTheBytesAreCut) {
  for (std::size_t piece = 1; piece <= kGateway.size(); ++piece) {
    TelnetReceiver telnet;
    telnet.Reset();
    EXPECT_EQ(telnet.Offer(), (Bytes{T::kIac, T::kWill, T::kComPort, T::kIac, T::kWill, T::kBinary, T::kIac,
                                     T::kDo, T::kBinary}));
    Bytes data, answers;
    for (std::size_t at = 0; at < kGateway.size(); at += piece) {
      const auto r = telnet.Receive(std::span(kGateway).subspan(at, std::min(piece, kGateway.size() - at)));
      data.insert(data.end(), r.data.begin(), r.data.end());
      answers.insert(answers.end(), r.answers.begin(), r.answers.end());
    }
    SCOPED_TRACE("pieces of " + std::to_string(piece));
    EXPECT_EQ(data, (Bytes{0x01, 0xFF, 0x02, 0x03, 0x04, 0x05, 0x06}));
    EXPECT_EQ(answers, (Bytes{T::kIac, T::kDo, T::kSuppressGoAhead}));
    EXPECT_EQ(telnet.Ours(T::kComPort), T::Side::Yes);
    EXPECT_EQ(telnet.Theirs(T::kBinary), T::Side::Yes);
    EXPECT_EQ(telnet.Answer(1), (Bytes{0, 0, 0x25, 0x80}));
    EXPECT_EQ(telnet.Answer(3), Bytes{3});
    EXPECT_TRUE(telnet.Answer(2).empty());
  }
}

}  // namespace
