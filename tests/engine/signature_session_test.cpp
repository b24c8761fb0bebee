// Signature negotiation: whole updates against the simulated phone for every
// answer it can give, and the exact frames against a scripted peer.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "doralex/frame/errors.h"
#include "doralex/serial/wseril1.h"
#include "doralex/serial/wseril3.h"
#include "loader_peer.h"
#include "scripted_loader.h"
#include "session_support.h"

namespace enginetest {
namespace {

constexpr uint32_t kKey = 0x01020304;

struct NegotiationCase {
  const char* name;
  bool hashArea;
  bool phoneKnowsExchange;
  int initAnswer;
  uint32_t phoneKey;
  int signatureAnswer;
  int hashAnswer;
  uint32_t code;      // latest error, 0 for a successful update
  int32_t detail;     // first value of the latest error
  bool hashing;       // the phone was told to start hashing
};

void PrintTo(const NegotiationCase& c, std::ostream* os) { *os << c.name; }

class SignatureNegotiation : public ::testing::TestWithParam<NegotiationCase> {};

TEST_P(SignatureNegotiation, AnswersOfThePhoneDecideTheUpdate) {
  const NegotiationCase& c = GetParam();
  phonesim::Scenario phone = LoaderPhone();
  phone.signature_enabled = c.phoneKnowsExchange;
  phone.signature_init_answer = c.initAnswer;
  phone.signature_key_id = c.phoneKey;
  phone.signature_answer = c.signatureAnswer;
  phone.hash_answer = c.hashAnswer;
  ContainerSpec spec;
  spec.hashArea = c.hashArea;
  spec.hashListLength = 100;
  spec.signatures = {{0x0A0B0C0D, 64}, {kKey, 128}};

  const SessionResult r = RunSession(phone, spec);
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.host.successCalls + r.host.errorCalls, 1);
  const std::vector<int> mis = LoaderCommands(r.report);
  const nlohmann::json note = r.report.value("signature", nlohmann::json::object());

  if (!c.hashArea) {
    EXPECT_EQ(std::count(mis.begin(), mis.end(), 0x60), 0) << "nothing to negotiate";
  }
  EXPECT_EQ(note.value("hashing_started", false), c.hashing);

  if (c.code == 0 || (c.code == 0x309 && c.detail == 0xF0)) {
    EXPECT_EQ(r.host.successCalls, 1);
    EXPECT_TRUE(FlashHoldsImage(r));
  } else {
    EXPECT_EQ(r.host.errorCalls, 1);
    EXPECT_EQ(mis.back(), 0xF0) << "a failed negotiation switches the phone off";
    EXPECT_EQ(r.report["blocks"].size(), 0u);
  }
  if (c.code == 0) {
    EXPECT_TRUE(r.errors.empty());
  } else {
    // An older loader leaves its note on the list and the update goes on.
    auto found = std::find(r.errors.begin(), r.errors.end(), c.code);
    ASSERT_NE(found, r.errors.end());
    const auto& entry = r.entries[static_cast<size_t>(found - r.errors.begin())];
    if (c.detail >= 0) {
      EXPECT_EQ(entry.intParams[0], c.detail);
    }
    if (r.host.errorCalls) {
      EXPECT_EQ(r.errors.back(), c.code);
    }
  }
  if (c.hashArea && c.initAnswer == 2 && c.phoneKey == kKey) {
    EXPECT_EQ(note.value("key_id", ""), "01 02 03 04");
    EXPECT_EQ(note.value("announced_length", 0), 128);
  }
  if (c.hashArea && c.initAnswer == 2 && c.phoneKey != kKey && c.phoneKey != 0x0A0B0C0D) {
    EXPECT_TRUE(note.value("no_signature", false));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SignatureNegotiation,
    ::testing::Values(
        NegotiationCase{"NoHashArea", false, true, 2, kKey, 4, 6, 0, -1, false},
        NegotiationCase{"PhoneNeedsNone", true, true, 1, kKey, 4, 6, 0, -1, false},
        NegotiationCase{"AcceptedHashListSix", true, true, 2, kKey, 4, 6, 0, -1, true},
        NegotiationCase{"AcceptedHashListEight", true, true, 2, kKey, 4, 8, 0, -1, true},
        NegotiationCase{"KeyNotFound", true, true, 2, 0x55667788, 4, 6, 0x307, -1, false},
        NegotiationCase{"UnsupportedRequest", true, true, 3, kKey, 4, 6, 0x306, -1, false},
        NegotiationCase{"UnexpectedInitAnswer", true, true, 9, kKey, 4, 6, 0x309, 9, false},
        NegotiationCase{"SignatureAnsweredNine", true, true, 2, kKey, 9, 6, 0x309, 0x29, false},
        NegotiationCase{"SignatureRejected", true, true, 2, kKey, 5, 6, 0x308, -1, false},
        NegotiationCase{"HashListRejected", true, true, 2, kKey, 4, 7, 0x308, -1, false},
        NegotiationCase{"HashListAnsweredNine", true, true, 2, kKey, 4, 9, 0x309, 0x49, false},
        NegotiationCase{"OlderLoader", true, false, 1, kKey, 4, 6, 0x309, 0xF0, false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SignatureNegotiationFault, PhoneFallingSilentKeepsTheNegotiationReasonLatest) {
  phonesim::Scenario phone = LoaderPhone();
  phone.signature_init_answer = 2;
  phone.signature_key_id = kKey;
  phonesim::Point silent;
  silent.loader_command = 0x60;
  silent.occurrence = 2;  // the selection frame after the init
  phone.silent_at = silent;
  ContainerSpec spec;
  spec.hashArea = true;
  spec.signatures = {{kKey, 128}};

  const SessionResult r = RunSession(phone, spec);
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.host.errorCalls, 1);
  EXPECT_EQ(r.host.successCalls, 0);
  // The switch-off to the silent phone fails too; its transmission errors
  // stand on the list, but the entry the host shows is the negotiation's.
  EXPECT_NE(std::find(r.errors.begin(), r.errors.end(), 0x208u), r.errors.end());
  ASSERT_FALSE(r.entries.empty());
  EXPECT_EQ(r.entries.back().code, 0x309u);
  EXPECT_EQ(r.entries.back().intParams[0], 0xF3);
}

// --- exact frames against a scripted peer -------------------------------------

class NegotiationFrames : public ::testing::Test {
 protected:
  void Negotiate(LoaderAnswers answers) {
    ContainerSpec spec;
    spec.hashArea = true;
    spec.signatures = {{kKey, 128}};
    LoadContainer(spec);
    peer_.Start(ScriptedLoader(answers), false);
    dlx::RegisterChannel(0, 0);
    ASSERT_EQ(dlx::ComOpen(0, 115200, 0), 1);
    result_ = dlx::NegotiateSignature(0, &state_);
    dlx::ComClose(0);
  }

  std::vector<std::vector<uint8_t>> SignatureCommands() {
    std::vector<std::vector<uint8_t>> commands;
    for (const PeerBlock& block : peer_.Received()) {
      if (block.mi() == 0x60) commands.push_back(block.params());
    }
    return commands;
  }

  LoaderPeer peer_;
  int result_ = -1;
  int state_ = -1;
};

TEST_F(NegotiationFrames, InitAndSelectionCarryTheHashNumbersAndTheKey) {
  LoaderAnswers answers;
  answers.initCode = 2;
  answers.keyId = {0x01, 0x02, 0x03, 0x04};
  Negotiate(answers);
  EXPECT_EQ(result_, 1);
  EXPECT_EQ(state_, 4);
  const auto commands = SignatureCommands();
  ASSERT_GE(commands.size(), 3u);
  // Hash byte 1, then hash number 2 and hash number 1, little-endian.
  EXPECT_EQ(commands[0], (std::vector<uint8_t>{0x01, 0x21, 0x06, 0x05, 0x04, 0x03}));
  EXPECT_EQ(commands[1], (std::vector<uint8_t>{0x02, 0x01, 0x01, 0x02, 0x03, 0x04, 0x80, 0x00}));
  // Then the signature frames (sub-codes 3, last 4) and the hash-list frames (5, last 6).
  EXPECT_EQ(commands[2][0], 0x03);
  EXPECT_EQ(commands.back()[0], 0x06);
}

TEST_F(NegotiationFrames, UnknownKeyIsAnsweredWithNoSignature) {
  LoaderAnswers answers;
  answers.initCode = 2;
  answers.keyId = {0x0A, 0x0B, 0x0C, 0x0D};
  Negotiate(answers);
  EXPECT_EQ(result_, 0);
  EXPECT_EQ(state_, 3);
  const auto commands = SignatureCommands();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[1], (std::vector<uint8_t>{0x02, 0x00}));
  EXPECT_EQ(dlx::GetLatestLibraryError(0).code, 0x307u);
  EXPECT_STREQ(dlx::GetAdditionalErrorText(0), "No Signature Available");
}

TEST_F(NegotiationFrames, SilenceAfterInitEndsTheNegotiation) {
  ContainerSpec spec;
  spec.hashArea = true;
  LoadContainer(spec);
  // The init is acknowledged, then nothing more.
  peer_.Start([](LoaderPeer& peer, const PeerBlock&) { peer.SendByte(0x06); }, false);
  dlx::RegisterChannel(0, 0);
  ASSERT_EQ(dlx::ComOpen(0, 115200, 0), 1);
  EXPECT_EQ(dlx::NegotiateSignature(0, &state_), 0);
  dlx::ComClose(0);
  EXPECT_EQ(state_, 1);
  EXPECT_EQ(dlx::GetErrorNumber(0), 50);
  const dlx::LibraryErrorList& list = dlx::GetLibraryErrorList(0);
  ASSERT_GE(list.count, 2);
  EXPECT_EQ(list.slots[list.count - 2].code, 0x202u);
  EXPECT_EQ(list.slots[list.count - 1].code, 0x309u);
  EXPECT_EQ(list.slots[list.count - 1].intParams[0], 0xF1);
}

}  // namespace
}  // namespace enginetest
