// The card's administration commands, each with its refusals and, where it changes the
// card, the change read back after the card was reloaded from its state file: freeing
// memory and containers, card-data writes, the challenge of a challenge-response PIN,
// PIN property updates, the admin card's responses and PIN activation, container access
// changes and the imported key's parameters. The host's side (sessions, MACs, the
// triple-DES responses) is computed here, apart from the card's code.
#include "card_fixture.h"
#include "sm_host.h"

#include <cstdio>

using namespace cardsim_test;
using cardsim::CardState;

namespace
{

// The response to a challenge, or a derived key: three-key triple DES, CBC, zero IV.
Bytes Tdes3(const Bytes &key, const Bytes &in)
{
    return Tdes(key, Bytes(8, 0x00), in, true);
}

Bytes FixtureAdminKey()
{
    return FixtureKey("test_only_admin_key.hex");
}

struct Applet {
    const char *name;
    unsigned char major, minor;
};
const Applet k09 = {"0.9", 0, 9}, k11 = {"1.1", 1, 1}, k12 = {"1.2", 1, 2};

// One command of a table: sent plainly, or protected in a session at level 1.
struct Step {
    const char *name;
    Bytes command;
    bool secured;
    uint16_t sw;
};

// Container 0 with a 2048-bit signature and exchange key and their certificates: the
// files cardcf, cmapfile, ksc00 and kxc00. Made once.
const CardState &ContainerCard()
{
    static const CardState state = [] {
        cardsim::Personalisation p;
        p.withContainer = true;
        return NewCard(p);
    }();
    return state;
}

class AdminTest : public CardTest
{
  protected:
    void Use(const Applet &a, const cardsim::Personalisation &p = {}) { Use(a, NewCard(p)); }
    void Use(const Applet &a, CardState state)
    {
        state.appletMajor = a.major;
        state.appletMinor = a.minor;
        path = TempPath("admin");
        Make(std::move(state), {}, path);
        ASSERT_TRUE(card->Save());
        ASSERT_EQ(0x9000, Send(kSelectFirst));
    }
    void TearDown() override
    {
        if (!path.empty())
            std::remove(path.c_str());
    }
    // The simulator goes away and comes back from its state file, selected again.
    void Reload()
    {
        const std::string before = cardsim::SerializeState(card->Snapshot());
        card.reset();
        CardState loaded;
        std::string error;
        ASSERT_TRUE(cardsim::LoadStateFile(path, loaded, &error)) << error;
        ASSERT_EQ(before, cardsim::SerializeState(loaded)) << "every change was saved";
        Make(loaded, {}, path);
        ASSERT_EQ(0x9000, Send(kSelectFirst));
    }
    uint16_t Open(unsigned char level = 0x01)
    {
        return OpenSession(tx, card->Snapshot().AppletAtLeast(1, 2), level, session);
    }
    SecureReply Run(const Bytes &command, bool secured)
    {
        if (!secured) {
            Bytes reply = card->Apdu(command);
            return {Sw(reply), true, Data(reply), reply.size()};
        }
        if (!card->SessionOpen()) {
            EXPECT_EQ(0x9000, Open());
        }
        return SendSecure(tx, session, command);
    }
    uint16_t Run(const Step &s) { return Run(s.command, s.secured).sw; }
    Bytes Info(unsigned char kind, unsigned char le = 0x00)
    {
        Bytes reply = card->Apdu({0xB0, 0x10, kind, 0x00, le});
        EXPECT_EQ(0x9000, Sw(reply)) << "kind " << int(kind);
        return Data(reply);
    }
    // The 7-byte PIN properties entry of PIN `index` (information kind 8).
    Bytes Properties(size_t index)
    {
        Bytes k8 = Info(8, 0x12);
        if (k8.size() < 2 + 7 * (index + 1))
            return {};
        return Bytes(k8.begin() + long(2 + 7 * index), k8.begin() + long(9 + 7 * index));
    }
    // A card-data entry's value by its tag (B0 10 03 tag; one piece, none to follow).
    Bytes CardDataTag(unsigned char tag)
    {
        Bytes reply = card->Apdu({0xB0, 0x10, 0x03, tag, 0x00});
        Bytes d = Data(reply);
        if (Sw(reply) != 0x9000 || d.size() < 2 || d[0] || d[1])
            return {0xEE};
        return Bytes(d.begin() + 2, d.end());
    }
    // A key's access bytes a1 a2 (key information, what 3).
    Bytes Access(unsigned char index, unsigned char spec)
    {
        return Data(card->Apdu({0xB0, 0x74, index, static_cast<unsigned char>(0x30 | spec)}));
    }

    std::string path;
    HostSession session;
};

size_t FileCount(const CardState &s)
{
    size_t n = 0;
    for (const auto &d : s.dirs)
        n += d.second.files.size();
    return n;
}

} // namespace

TEST_F(AdminTest, ProtectedCommandsRefuseThePlainForm)
{
    const Step plain[] = {
        {"free memory", {0xB0, 0x1C, 0x00, 0xFF, 0x00}, false, 0x6982},
        {"free containers", {0xB0, 0x1C, 0x01, 0xFF, 0x00}, false, 0x6982},
        {"set card data", {0xB0, 0x1A, 0x05, 0x00, 0x01, 0x41}, false, 0x6982},
        {"set one card-data entry",
         {0xB0, 0x1A, 0x01, 0x00, 0x04, 0x20, 0x00, 0x01, 0x41},
         false,
         0x6982},
        {"update PIN properties", {0xB0, 0x2C, 0x00, 0x02, 0x05, 0, 0, 0, 0x02, 0}, false, 0x6982},
        {"compute a response", Cat({0xB0, 0x2A, 0x01, 0x00, 0x08}, Bytes(8, 0x11)), false, 0x6982},
        {"activate a PIN", {0xB0, 0x2A, 0x00, 0x01, 0x00}, false, 0x6982},
        {"change container access", {0xB0, 0x7E, 0x00, 0x01, 0x02, 0x04, 0x00}, false, 0x6982},
    };
    Use(k12, ContainerCard());
    ASSERT_EQ(0x9000, Send(VerifyCommand(1, "12345678"))) << "a role is no substitute";
    for (unsigned char level : {0x00, 0x10}) {
        for (const auto &s : plain) {
            SCOPED_TRACE(std::string(s.name) + (level ? " in a session without C-MAC" : ""));
            const std::string before = cardsim::SerializeState(card->Snapshot());
            uint16_t sw = 0;
            if (level == 0) {
                sw = Send(s.command);
            } else {
                ASSERT_EQ(0x9000, Open(level));
                sw = SendSecure(tx, session, s.command).sw;
            }
            EXPECT_EQ(s.sw, sw);
            EXPECT_EQ(before, cardsim::SerializeState(card->Snapshot())) << "nothing changed";
        }
    }
}

TEST_F(AdminTest, CommandsOfTheirAppletVersions)
{
    struct Row {
        Applet applet;
        Step step;
    } rows[] = {
        {k12, {"free memory the older way", {0xB0, 0xAC, 0x00, 0x00}, false, 0x6D00}},
        {k11, {"free memory the older way", {0xB0, 0xAC, 0x00, 0x00}, false, 0x6D00}},
        {k09, {"free memory the later way", {0xB0, 0x1C, 0x00, 0xFF, 0x00}, true, 0x6D00}},
        {k09, {"free containers", {0xB0, 0x1C, 0x01, 0xFF, 0x00}, true, 0x6D00}},
        {k09,
         {"compute a response", Cat({0xB0, 0x2A, 0x01, 0x00, 0x08}, Bytes(8, 0x11)), true, 0x6D00}},
        {k09, {"activate a PIN", {0xB0, 0x2A, 0x00, 0x01, 0x00}, true, 0x6D00}},
        {k11,
         {"compute a response", Cat({0xB0, 0x2A, 0x01, 0x00, 0x08}, Bytes(8, 0x11)), true, 0x9000}},
        {k09, {"set card data", {0xB0, 0x1A, 0x05, 0x00, 0x01, 0x41}, true, 0x9000}},
        {k09,
         {"update PIN properties", {0xB0, 0x2C, 0x00, 0x01, 0x05, 1, 2, 3, 0, 0}, true, 0x9000}},
        {k09, {"a challenge", {0xB0, 0x22, 0x00, 0x00, 0x08}, false, 0x9000}},
        {k09, {"imported key parameters", {0xB0, 0x54, 1, 2, 3, 0, 0, 0}, false, 0x9000}},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::string(r.applet.name) + ": " + r.step.name);
        Use(r.applet);
        ASSERT_EQ(0x9000, Send(VerifyCommand(0, "123456")));
        EXPECT_EQ(r.step.sw, Run(r.step));
    }
}

TEST_F(AdminTest, FreeMemoryAndFreeContainers)
{
    // the card with container 0: files cardcf, cmapfile, ksc00 and kxc00, two keys
    struct Row {
        Applet applet;
        Step step;
        bool login;
        size_t files, dirs, keys;
    } rows[] = {
        {k12, {"free memory", {0xB0, 0x1C, 0x00, 0xFF, 0x00}, true, 0x9000}, false, 0, 1, 2},
        {k11, {"free memory", {0xB0, 0x1C, 0x00, 0xFF, 0x00}, true, 0x9000}, false, 0, 1, 2},
        {k12, {"free containers", {0xB0, 0x1C, 0x01, 0xFF, 0x00}, true, 0x9000}, false, 4, 3, 0},
        {k11, {"free containers", {0xB0, 0x1C, 0x01, 0xFF}, true, 0x9000}, false, 4, 3, 0},
        {k09, {"free memory", {0xB0, 0xAC, 0x00, 0x00}, false, 0x9000}, true, 0, 1, 2},
        {k12, {"P1 02", {0xB0, 0x1C, 0x02, 0xFF, 0x00}, true, 0x6A86}, false, 4, 3, 2},
        {k12, {"P2 not FF", {0xB0, 0x1C, 0x00, 0x00, 0x00}, true, 0x6A86}, false, 4, 3, 2},
        {k12, {"with data", {0xB0, 0x1C, 0x00, 0xFF, 0x01, 0x00}, true, 0x6700}, false, 4, 3, 2},
        {k09, {"nobody authenticated", {0xB0, 0xAC, 0x00, 0x00}, false, 0x6985}, false, 4, 3, 2},
        {k09, {"P1 01", {0xB0, 0xAC, 0x01, 0x00}, false, 0x6A86}, true, 4, 3, 2},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::string(r.applet.name) + ": " + r.step.name);
        Use(r.applet, ContainerCard());
        if (r.login) {
            ASSERT_EQ(0x9000, Send(VerifyCommand(0, "123456")));
        }
        const uint64_t total = card->Snapshot().TotalMemory();
        EXPECT_EQ(r.step.sw, Run(r.step));
        Reload();
        CardState s = card->Snapshot();
        EXPECT_EQ(r.files, FileCount(s));
        EXPECT_EQ(r.dirs, s.dirs.size());
        EXPECT_EQ(r.keys, s.keys.size());
        uint64_t keys = 0;
        for (const auto &k : s.keys)
            keys += k.second.Memory();
        Bytes k2 = Info(2, 0x04);
        ASSERT_EQ(4u, k2.size());
        EXPECT_EQ(r.files == 0, cardsim::LengthFromWire(k2.data()) == total - keys)
            << "the memory of the files is free";
    }
    // a container import under way ends with the containers
    Use(k12);
    ASSERT_EQ(0x9000, Send(VerifyCommand(0, "123456")));
    ASSERT_EQ(0x9000, Send({0xB0, 0x70, 0x00, 0x01, 0x06, 0x06, 0x04, 0x00, 0x00, 0x02, 0x06}));
    ASSERT_EQ(0x9000, Open(0x03));
    ASSERT_EQ(0x9000, SendSecure(tx, session, {0xB0, 0x1C, 0x01, 0xFF}).sw);
    EXPECT_EQ(0x6A82,
              SendSecure(tx, session, Cat({0xB0, 0x76, 0x00, 0x00, 0x80}, Bytes(128, 1))).sw)
        << "no import target";
}

TEST_F(AdminTest, CardDataWholeValueAndOneEntry)
{
    Use(k12);
    const CardState before = card->Snapshot();
    const Bytes holder = {'N', 'E', 'W', ' ', 'H', 'O', 'L', 'D', 'E', 'R'};
    struct Row {
        Step step;
        unsigned char tag;
        Bytes value; // of the tag afterwards; {EE}: absent
    } rows[] = {
        {{"whole value of tag 5", Cat({0xB0, 0x1A, 0x05, 0x00, 0x0A}, holder), true, 0x9000},
         0x05,
         holder},
        {{"one entry added",
          {0xB0, 0x1A, 0x01, 0x01, 0x06, 0x20, 0x00, 0x03, 1, 2, 3},
          true,
          0x9000},
         0x20,
         {1, 2, 3}},
        {{"the same entry added again",
          {0xB0, 0x1A, 0x01, 0x01, 0x04, 0x20, 0x00, 0x01, 9},
          true,
          0x6201},
         0x20,
         {1, 2, 3}},
        {{"one entry replaced", {0xB0, 0x1A, 0x01, 0x00, 0x04, 0x20, 0x07, 0x01, 9}, true, 0x9000},
         0x20,
         {9}},
        {{"the provider flags",
          {0xB0, 0x1A, 0x01, 0x00, 0x05, 0x80, 0x00, 0x02, 0x00, 0x0B},
          true,
          0x9000},
         0x80,
         {0x00, 0x0B}},
        {{"provider flags of three bytes", {0xB0, 0x1A, 0x80, 0x00, 0x03, 1, 2, 3}, true, 0x6A80},
         0x80,
         {0x00, 0x0B}},
        {{"a length byte not the value's",
          {0xB0, 0x1A, 0x01, 0x00, 0x05, 0x21, 0x00, 0x05, 1, 2},
          true,
          0x6700},
         0x21,
         {0xEE}},
        {{"tag 00", {0xB0, 0x1A, 0x00, 0x00, 0x01, 0x41}, true, 0x6A86}, 0x05, holder},
        {{"P2 of the whole form", {0xB0, 0x1A, 0x05, 0x01, 0x01, 0x41}, true, 0x6A86},
         0x05,
         holder},
        {{"one entry of tag FF",
          {0xB0, 0x1A, 0x01, 0x00, 0x04, 0xFF, 0x00, 0x01, 0x41},
          true,
          0x6A80},
         0x05,
         holder},
        {{"one-entry form with P2 02",
          {0xB0, 0x1A, 0x01, 0x02, 0x04, 0x22, 0x00, 0x01, 0x41},
          true,
          0x6A86},
         0x22,
         {0xEE}},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.step.name);
        EXPECT_EQ(r.step.sw, Run(r.step));
        EXPECT_EQ(r.value, CardDataTag(r.tag));
    }
    EXPECT_EQ((Bytes{0x00, 0x0B}), Info(7, 0x02)) << "information kind 7 reads the flags";
    Reload();
    EXPECT_EQ(holder, CardDataTag(0x05));
    EXPECT_EQ((Bytes{9}), CardDataTag(0x20));
    EXPECT_EQ((Bytes{0x00, 0x0B}), Info(7, 0x02));
    for (unsigned char tag : {0x01, 0x02, 0x04}) {
        size_t at = 0, length = 0;
        ASSERT_TRUE(cardsim::FindCardDataEntry(before.cardData, tag, at, length));
        EXPECT_EQ(Bytes(before.cardData.begin() + long(at + 3),
                        before.cardData.begin() + long(at + 3 + length)),
                  CardDataTag(tag))
            << "tag " << int(tag) << " kept its place and value";
    }
}

TEST_F(AdminTest, ChallengeOfAChallengeResponsePin)
{
    cardsim::Personalisation p;
    p.challengePin = true;
    Use(k12, p);
    const Bytes key = FixtureAdminKey();
    ASSERT_EQ(24u, key.size());
    Bytes k5 = Info(5, 0x16);
    ASSERT_EQ(10u + 3 * 4, k5.size());
    EXPECT_EQ((Bytes{0x03, 0x02, 0x10, 0x06}), Bytes(k5.begin() + 18, k5.end()))
        << "PIN 2: type code 2, role 10";
    const Bytes getChallenge = {0xB0, 0x22, 0x00, 0x00, 0x08};
    auto challenge = [&] {
        Bytes reply = card->Apdu(getChallenge);
        EXPECT_EQ(0x9000, Sw(reply));
        EXPECT_EQ(8u, Data(reply).size());
        return Data(reply);
    };
    auto verify = [&](const Bytes &response) {
        return Send(
            Cat({0xB0, 0x20, 0x02, 0x00, static_cast<unsigned char>(response.size())}, response));
    };

    Bytes first = challenge();
    Bytes response = Tdes3(key, first);
    EXPECT_NE(first, challenge()) << "a new challenge replaces the last";
    EXPECT_EQ(0x6302, verify(response)) << "the answer to the replaced challenge";
    Bytes c = challenge();
    EXPECT_EQ(0x9000, verify(Tdes3(key, c)));
    EXPECT_EQ(0x10u, card->AuthenticatedRoles());
    EXPECT_EQ(3, card->Snapshot().pins[2].tries) << "a right answer restores the tries";
    EXPECT_EQ(0x6985, verify(Tdes3(key, c))) << "an answer uses up its challenge";
    challenge();
    EXPECT_EQ(0x6700, verify(Bytes(9, 0x00))) << "a response is 8 bytes";

    const Step cancels[] = {
        {"cancel", {0xB0, 0x22, 0x02, 0x01, 0x00}, false, 0x9000},
        {"cancel again", {0xB0, 0x22, 0x02, 0x01, 0x00}, false, 0x6985},
        {"cancel for the user PIN", {0xB0, 0x22, 0x00, 0x01, 0x00}, false, 0x6B00},
        {"cancel for a PIN the card lacks", {0xB0, 0x22, 0x07, 0x01, 0x00}, false, 0x6B00},
        {"a challenge with P1 01", {0xB0, 0x22, 0x01, 0x00, 0x08}, false, 0x6A86},
        {"P2 02", {0xB0, 0x22, 0x00, 0x02, 0x08}, false, 0x6A86},
        {"with data", {0xB0, 0x22, 0x00, 0x00, 0x01, 0x00}, false, 0x6700},
    };
    c = challenge();
    for (const auto &s : cancels) {
        SCOPED_TRACE(s.name);
        EXPECT_EQ(s.sw, Run(s));
    }
    EXPECT_EQ(0x6985, verify(Tdes3(key, c))) << "the cancelled challenge";

    c = challenge();
    Reload();
    EXPECT_EQ(0x6985, verify(Tdes3(key, c))) << "a challenge does not outlive the card's power";
    EXPECT_EQ(3, card->Snapshot().pins[2].tries);
}

TEST_F(AdminTest, UpdatePinProperties)
{
    Use(k12);
    auto update = [](unsigned char index, unsigned char mask, Bytes data) {
        return Cat({0xB0, 0x2C, index, mask, static_cast<unsigned char>(data.size())}, data);
    };
    // the user PIN after the second row, which every refusal leaves as it is
    const Bytes kept = {0x00, 0x02, 0x00, 0x03, 0x11, 0x22, 0x33};
    struct Row {
        Step step;
        unsigned char pin;
        Bytes properties; // kind 8 entry of that PIN afterwards
        unsigned char limit;
    } rows[] = {
        {{"provider PIN-info", update(0, 0x01, {0x11, 0x22, 0x33, 0x09, 0x00}), true, 0x9000},
         0,
         {0x00, 0x03, 0x00, 0x03, 0x11, 0x22, 0x33},
         3},
        {{"try limit 2", update(0, 0x02, {0x00, 0x00, 0x00, 0x02, 0x00}), true, 0x9000},
         0,
         kept,
         2},
        {{"the PUK changed by either PIN", update(1, 0x04, {0, 0, 0, 0, 0x03}), true, 0x9000},
         1,
         {0x00, 0x05, 0x00, 0x03, 0x00, 0x00, 0x00},
         5},
        {{"all three", update(1, 0x07, {0x01, 0x02, 0x03, 0x0F, 0x03}), true, 0x9000},
         1,
         {0x00, 0x05, 0x00, 0x03, 0x01, 0x02, 0x03},
         15},
        {{"no mask", update(0, 0x00, {1, 2, 3, 4, 5}), true, 0x6A86}, 0, kept, 2},
        {{"an unknown mask bit", update(0, 0x09, {1, 2, 3, 4, 5}), true, 0x6A86}, 0, kept, 2},
        {{"a PIN the card lacks", update(2, 0x01, {1, 2, 3, 4, 5}), true, 0x6B00}, 0, kept, 2},
        {{"try limit 0", update(0, 0x03, {1, 2, 3, 0, 0}), true, 0x6A80}, 0, kept, 2},
        {{"try limit 16", update(0, 0x02, {0, 0, 0, 16, 0}), true, 0x6A80}, 0, kept, 2},
        {{"an updater the card lacks", update(0, 0x05, {1, 2, 3, 0, 0x04}), true, 0x6A80},
         0,
         kept,
         2},
        {{"four data bytes", update(0, 0x01, {1, 2, 3, 4}), true, 0x6700}, 0, kept, 2},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.step.name);
        EXPECT_EQ(r.step.sw, Run(r.step));
        EXPECT_EQ(r.properties, Properties(r.pin));
        EXPECT_EQ(r.limit, Info(5, 0x16).at(10 + 4 * r.pin)) << "the try limit of the descriptor";
    }
    Reload();
    EXPECT_EQ(kept, Properties(0));
    EXPECT_EQ((Bytes{0x00, 0x05, 0x00, 0x03, 0x01, 0x02, 0x03}), Properties(1));
    // the new updaters: the user PIN may now change the PUK
    EXPECT_EQ(0x9000,
              Send(ChangeCommand(0x24, 0, 1, false, 0, PinBytes("123456"), PinBytes("87654321"))));
    EXPECT_EQ(0x9000, Send(VerifyCommand(1, "87654321")));
}

TEST_F(AdminTest, AdminCardComputesResponsesAndActivatesPins)
{
    cardsim::Personalisation p;
    p.challengePin = true;
    Use(k11, p);
    const Bytes key = FixtureAdminKey();
    const Bytes challenge = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
    Bytes diversification(24);
    for (size_t i = 0; i < diversification.size(); ++i)
        diversification[i] = static_cast<unsigned char>(0xA8 + i);
    auto compute = [](unsigned char keyref, const Bytes &data) {
        return Cat({0xB0, 0x2A, keyref, 0x00, static_cast<unsigned char>(data.size())}, data);
    };
    ASSERT_EQ(0x9000, Open(0x11));
    SecureReply r = SendSecure(tx, session, compute(0x01, challenge));
    ASSERT_EQ(0x9000, r.sw);
    EXPECT_TRUE(r.verified) << "the response carries its R-MAC";
    EXPECT_EQ(Tdes3(key, challenge), r.data);
    r = SendSecure(tx, session, compute(0x01, Cat(challenge, diversification)));
    ASSERT_EQ(0x9000, r.sw);
    EXPECT_EQ(Tdes3(Tdes3(key, diversification), challenge), r.data)
        << "under the key derived for the diversification data";

    // the admin card answers the challenge of the card's challenge-response PIN
    Bytes cardChallenge = Data(card->Apdu({0xB0, 0x22, 0x00, 0x00, 0x08}));
    r = SendSecure(tx, session, compute(0x01, cardChallenge));
    ASSERT_EQ(0x9000, r.sw);
    EXPECT_EQ(0x9000, Send(Cat({0xB0, 0x20, 0x02, 0x00, 0x08}, r.data)));

    const Step steps[] = {
        {"an unknown key reference", compute(0x02, challenge), true, 0x6A88},
        {"a challenge of 9 bytes", compute(0x01, Cat(challenge, {0x00})), true, 0x6700},
        {"the second activation first", {0xB0, 0x2A, 0x00, 0x02}, true, 0x6985},
        {"the first activation", {0xB0, 0x2A, 0x00, 0x01}, true, 0x9000},
        {"the second activation", {0xB0, 0x2A, 0x00, 0x02}, true, 0x9000},
        {"the first again", {0xB0, 0x2A, 0x00, 0x01}, true, 0x9000},
        {"a PIN the card lacks", {0xB0, 0x2A, 0x03, 0x01}, true, 0x6B00},
        {"P2 03", {0xB0, 0x2A, 0x00, 0x03}, true, 0x6A86},
        {"an activation with data", {0xB0, 0x2A, 0x01, 0x01, 0x01, 0x00}, true, 0x6700},
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(s.name);
        EXPECT_EQ(s.sw, Run(s));
    }
    Reload();
    Bytes user = Properties(0);
    ASSERT_EQ(7u, user.size());
    EXPECT_EQ(0x01, user[0]) << "status byte A: first activation";
    EXPECT_EQ(0x01, user[2]) << "status byte B: second activation";
    Bytes puk = Properties(1);
    ASSERT_EQ(7u, puk.size());
    EXPECT_EQ((Bytes{0x00, 0x05, 0x00}), Bytes(puk.begin(), puk.begin() + 3))
        << "the PUK is as it was";
}

TEST_F(AdminTest, ChangeContainerAccess)
{
    Use(k12, ContainerCard());
    auto change = [](unsigned char index, unsigned char mask, unsigned char a1, unsigned char a2) {
        return Bytes{0xB0, 0x7E, index, mask, 0x02, a1, a2};
    };
    struct Row {
        Step step;
        Bytes access; // of both keys of container 0 afterwards
    } rows[] = {
        {{"the first byte", change(0, 0x01, 0x04, 0x00), true, 0x9000}, {0x04, 0x06}},
        {{"the second byte", change(0, 0x02, 0x00, 0x02), true, 0x9000}, {0x04, 0x02}},
        {{"a container without keys", change(3, 0x03, 0x02, 0x02), true, 0x6A82}, {0x04, 0x02}},
        {{"a container past the last", change(8, 0x03, 0x02, 0x02), true, 0x6A82}, {0x04, 0x02}},
        {{"no mask", change(0, 0x00, 0x02, 0x02), true, 0x6A86}, {0x04, 0x02}},
        {{"mask 4", change(0, 0x04, 0x02, 0x02), true, 0x6A86}, {0x04, 0x02}},
        {{"one access byte", {0xB0, 0x7E, 0x00, 0x03, 0x01, 0x02}, true, 0x6700}, {0x04, 0x02}},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.step.name);
        EXPECT_EQ(r.step.sw, Run(r.step));
        EXPECT_EQ(r.access, Access(0, 0));
        EXPECT_EQ(r.access, Access(0, 1));
    }
    Reload();
    EXPECT_EQ((Bytes{0x04, 0x02}), Access(0, 0));
    // the first access byte decides who may use the key
    const auto sign = RsaCommands(0x78, 0, 0, SignatureBlock("text", 256));
    ASSERT_EQ(0x9000, Send(VerifyCommand(0, "123456")));
    ASSERT_EQ(0x9000, Open(0x11));
    EXPECT_EQ(0x6985, SendAllSecure(tx, session, sign).sw) << "the PUK's key now";
    ASSERT_EQ(0x9000, SendSecure(tx, session, change(0, 0x03, 0x02, 0x06)).sw);
    EXPECT_EQ(0x9000, SendAllSecure(tx, session, sign).sw);
}

TEST_F(AdminTest, ImportedKeyParametersReadBackAsKindEleven)
{
    Use(k12);
    const Step steps[] = {
        {"a b c", {0xB0, 0x54, 0x0A, 0x0B, 0x0C, 0x01, 0x02, 0x03}, false, 0x9000},
        {"byte 4 is no length", {0xB0, 0x54, 0x01, 0x02, 0xFF, 0x00, 0x00, 0x00}, false, 0x9000},
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(s.name);
        EXPECT_EQ(s.sw, Run(s));
        EXPECT_EQ(Bytes(s.command.begin() + 2, s.command.begin() + 5), Info(11));
    }
    ASSERT_EQ(0x9000, Open(0x11));
    EXPECT_EQ(0x6985, Send({0xB0, 0x54, 0x0A, 0x0B, 0x0C, 0x00, 0x00, 0x00}))
        << "not under a session";
    EXPECT_TRUE(card->SessionOpen());
    EXPECT_EQ((Bytes{0x01, 0x02, 0xFF}), Info(11));
    EXPECT_EQ(0x9000, Send({0xB0, 0x54, 0x00, 0x00})) << "the close keeps its form";
    EXPECT_FALSE(card->SessionOpen());
    EXPECT_EQ(0x9000, Send({0xB0, 0x54, 0x0A, 0x0B, 0x0C, 0x00, 0x00, 0x00}));
    Reload();
    EXPECT_EQ((Bytes{0x0A, 0x0B, 0x0C}), Info(11));
}
