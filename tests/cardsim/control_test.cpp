// The cardsim program's card controls, run in process: each line's answer and what it
// did to the card; and the one-shot hostile modes.
#include "card_fixture.h"
#include "control.h"
#include "sm_host.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

using namespace cardsim_test;
using cardsim::Fault;

namespace
{

class ControlTest : public CardTest
{
  protected:
    // The answer lines of a control line.
    std::vector<std::string> Run(const std::string &line)
    {
        std::ostringstream out;
        EXPECT_TRUE(cardsim::RunControl(*card, line, out)) << line;
        std::vector<std::string> lines;
        std::istringstream in(out.str());
        for (std::string l; std::getline(in, l);)
            lines.push_back(l);
        return lines;
    }
    std::string First(const std::string &line)
    {
        auto lines = Run(line);
        return lines.empty() ? "" : lines[0];
    }
};

bool StartsWith(const std::string &s, const std::string &prefix)
{
    return s.rfind(prefix, 0) == 0;
}

} // namespace

TEST_F(ControlTest, PinsCountersAndFaults)
{
    struct Case {
        const char *line;
        const char *answer; // the answer line begins with it
    } cases[] = {
        {"tries 0 1", "ok tries"},
        {"block 1", "ok blocked"},
        {"tries 7 1", "error"},
        {"tries 0 16", "error"},
        {"bump 6", "ok bumped"},
        {"bump 9", "error"},
        {"counters", "ok counters pin 0 containers 1 files 1"},
        {"fault truncate-next 0", "ok fault truncate-next"},
        {"fault refuse-write", "ok fault refuse-write"},
        {"fault sideways", "error"},
        {"corrupt / cardcf", "ok corrupted"},
        {"corrupt / nofile", "error"},
        {"counters", "error"},
        {"apdus", "ok apdus 0"},
    };
    for (const auto &c : cases)
        EXPECT_TRUE(StartsWith(First(c.line), c.answer)) << c.line;
    cardsim::CardState s = card->Snapshot();
    EXPECT_EQ(1, s.pins[0].tries);
    EXPECT_EQ(0, s.pins[1].tries);
    EXPECT_EQ(Fault::RefuseWrite, card->GetFault());
    std::ostringstream out;
    EXPECT_FALSE(cardsim::RunControl(*card, "insert", out)) << "the link is the program's";
    EXPECT_TRUE(out.str().empty());
}

TEST_F(ControlTest, KeysFilesAndListings)
{
    std::string host = TempPath("put");
    {
        std::ofstream f(host, std::ios::binary);
        f << "stored data";
    }
    EXPECT_TRUE(StartsWith(First("key 1 1 1024 expired"), "ok key 1 1 modulus "));
    EXPECT_TRUE(StartsWith(First("key 2 0 1024 public nocert usage 3"), "ok key 2 0 modulus "));
    EXPECT_TRUE(StartsWith(First("key 9 0 1024"), "error"));
    EXPECT_TRUE(StartsWith(First("key 1 0 1000"), "error"));
    EXPECT_EQ("ok put 12", First("put qv_p11 data00 0x3C " + host + " plain"));
    EXPECT_TRUE(StartsWith(First("put qv_p11 cont00 0x3C " + host + " packed"), "ok put"));
    EXPECT_EQ("ok put 11", First("put newdir raw 61 " + host + " stored 5"));
    EXPECT_TRUE(StartsWith(First("put qv_p11 x 0x3C /no/such/file plain"), "error"));
    EXPECT_TRUE(StartsWith(First("put qv_p11 x 0x3C " + host + " sideways"), "error"));

    cardsim::CardState s = card->Snapshot();
    EXPECT_EQ(cardsim::CardKey::Form::Public, s.keys.at({2, 0}).form);
    EXPECT_EQ(3, s.keys.at({2, 0}).usage);
    EXPECT_NE(nullptr, s.FindFile("mscp", "kxc01"));
    EXPECT_EQ(nullptr, s.FindFile("mscp", "ksc02")) << "nocert";
    const cardsim::CardFile *map = s.FindFile("mscp", "cmapfile");
    ASSERT_NE(nullptr, map);
    ASSERT_EQ(3u * 86 + 1, map->stored.size());
    EXPECT_EQ(0x01, map->stored[86 + 80]) << "container 1 valid";
    EXPECT_EQ(1024, map->stored[86 + 84] | map->stored[86 + 85] << 8) << "its exchange key";
    EXPECT_EQ(1024, map->stored[172 + 82] | map->stored[172 + 83] << 8);
    EXPECT_EQ(PlainStored({'s', 't', 'o', 'r', 'e', 'd', ' ', 'd', 'a', 't', 'a'}),
              s.FindFile("qv_p11", "data00")->stored);
    EXPECT_EQ(0x3C, s.FindFile("qv_p11", "data00")->access);
    EXPECT_EQ(5u, s.FindFile("newdir", "raw")->plainLength);
    Bytes plain;
    ASSERT_TRUE(cardsim::UnpackCardFile(s.FindFile("qv_p11", "cont00")->stored, 11, plain));

    auto keys = Run("keys");
    ASSERT_EQ(3u, keys.size());
    EXPECT_EQ("ok keys 2", keys[0]);
    EXPECT_TRUE(StartsWith(keys[2], "2 0 public bits 1024 usage 03 access 0206 exponent 010001"));
    auto files = Run("files");
    ASSERT_FALSE(files.empty());
    EXPECT_EQ("ok files " + std::to_string(files.size() - 1), files[0]);
    EXPECT_NE(files.end(), std::find(files.begin(), files.end(),
                                     "newdir raw access 3D size 11 plain 5 stored " +
                                         cardsim::ToHex({'s', 't', 'o', 'r', 'e', 'd', ' ', 'd',
                                                         'a', 't', 'a'})));
    auto pins = Run("pins");
    ASSERT_EQ(3u, pins.size());
    EXPECT_EQ("0 role 02 tries 3 of 3", pins[1]);
    std::remove(host.c_str());

    // a certificate made as large as asked
    EXPECT_TRUE(StartsWith(First("key 3 1 1024 padding 7000"), "ok key 3 1 modulus "));
    EXPECT_TRUE(StartsWith(First("key 4 1 1024 padding"), "error"));
    const cardsim::CardState after = card->Snapshot();
    ASSERT_NE(nullptr, after.FindFile("mscp", "kxc03"));
    EXPECT_GT(after.FindFile("mscp", "kxc03")->plainLength, 7000u);
}

TEST_F(CardTest, OneShotFaults)
{
    SelectAndLogin();
    const Bytes info4 = {0xB0, 0x10, 0x04, 0x00, 0x10};
    for (size_t n : {0u, 1u}) {
        card->SetFault(Fault::TruncateNext, n);
        EXPECT_EQ(n, card->Apdu(info4).size());
        EXPECT_EQ(18u, card->Apdu(info4).size()) << "only the next reply";
    }

    // the next R-MAC, wherever it comes: bare status words do not use it up
    HostSession s;
    ASSERT_EQ(0x9000, OpenSession(tx, true, 0x11, s));
    card->SetFault(Fault::FlipRmac);
    EXPECT_EQ(2u, SendSecure(tx, s, VerifyCommand(0, "123456")).wireLength);
    SecureReply spoiled = SendSecure(tx, s, FileCommand(0xAA, 0x01, 0x00, "", "cardcf"));
    EXPECT_EQ(0x9000, spoiled.sw);
    EXPECT_FALSE(spoiled.verified);
    EXPECT_EQ(Fault::None, card->GetFault());

    // a write refused midway keeps the old content: the second chunk, or the only one
    ASSERT_EQ(0x9000, Send(CreateCommand("qv_p11", "w", 0x3D, 0)));
    const Bytes old = PlainStored({1, 2, 3});
    ASSERT_EQ(0x9000, WriteStored(tx, false, "qv_p11", "w", old, 3));
    for (size_t length : {600u, 10u}) {
        SCOPED_TRACE(length);
        card->SetFault(Fault::RefuseWrite);
        Bytes init = WriteInitCommand(false, "qv_p11", "w", uint32_t(length), uint32_t(length));
        ASSERT_EQ(0x9000, Send(init));
        Bytes chunk = {0xB0, 0xA2, static_cast<unsigned char>(length > 255 ? 0 : 1), 0x00,
                       static_cast<unsigned char>(std::min<size_t>(length, 255))};
        chunk.resize(5 + chunk[4], 0x77);
        if (length > 255) {
            EXPECT_EQ(0x9000, Send(chunk));
        }
        EXPECT_EQ(0x6581, Send(chunk));
        EXPECT_EQ(0x6985, Send(chunk)) << "the write is over";
        EXPECT_EQ(old, card->Snapshot().FindFile("qv_p11", "w")->stored);
    }
    EXPECT_EQ(0x9000, WriteStored(tx, false, "qv_p11", "w", PlainStored(Bytes(600, 5)), 600));
}
