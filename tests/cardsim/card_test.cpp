#include "card_fixture.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <arpa/inet.h>
#include <cstdio>
#include <memory>
#include <netinet/in.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace cardsim_test;
using cardsim::Card;
using cardsim::CardState;
using cardsim::Fault;
using cardsim::Options;

// ---------------------------------------------------------------- link and selection

TEST_F(CardTest, ApplicationCommandsNeedSelection)
{
    const Bytes info4 = {0xB0, 0x10, 0x04, 0x00, 0x10};
    EXPECT_EQ(0x6D00, Send(info4));
    EXPECT_EQ(0x6A82, Send({0x00, 0xA4, 0x04, 0x00, 0x03, 0xA0, 0x00, 0x01}));
    EXPECT_EQ(0x6D00, Send(info4)) << "a failed SELECT selects nothing";
    EXPECT_EQ(0x9000, Send(kSelectFirst));
    EXPECT_EQ(0x9000, Send(info4));
    card->Reset();
    EXPECT_EQ(0x6D00, Send(info4)) << "reset forgets the selection";
    EXPECT_EQ(0x9000, Send(kSelectSecond));
    card->PowerOff();
    card->PowerOn();
    EXPECT_EQ(0x6D00, Send(info4));
}

namespace
{

// The reader's end of the virtual card link on a loopback port of its own, so that a
// test can drop the link without the reader service.
class LoopbackReader
{
  public:
    LoopbackReader()
    {
        m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        if (bind(m_listen, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
            listen(m_listen, 1) == 0 &&
            getsockname(m_listen, reinterpret_cast<sockaddr *>(&a), &length) == 0)
            m_port = ntohs(a.sin_port);
    }
    ~LoopbackReader()
    {
        Drop();
        close(m_listen);
    }
    int Port() const { return m_port; }
    bool Accept()
    {
        m_link = accept(m_listen, nullptr, nullptr);
        return m_link >= 0;
    }
    void Drop()
    {
        if (m_link >= 0)
            close(m_link);
        m_link = -1;
    }
    // One frame out, and for an APDU the card's reply frame back.
    Bytes Exchange(const Bytes &frame)
    {
        Bytes out = {static_cast<unsigned char>(frame.size() >> 8),
                     static_cast<unsigned char>(frame.size())};
        out.insert(out.end(), frame.begin(), frame.end());
        if (send(m_link, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size()))
            return {};
        if (frame.size() == 1)
            return {};
        unsigned char head[2];
        if (recv(m_link, head, 2, MSG_WAITALL) != 2)
            return {};
        Bytes reply(head[0] * 256u + head[1]);
        if (!reply.empty() &&
            recv(m_link, reply.data(), reply.size(), MSG_WAITALL) != ssize_t(reply.size()))
            return {};
        return reply;
    }

  private:
    int m_listen = -1, m_link = -1, m_port = 0;
};

} // namespace

TEST(CardLink, ADroppedLinkClearsTheVolatileState)
{
    LoopbackReader reader;
    ASSERT_NE(0, reader.Port());
    Card card(NewCard());
    vpcd::VirtualCard link(card, reader.Port());
    ASSERT_TRUE(link.Insert());
    ASSERT_TRUE(reader.Accept());
    reader.Exchange({0x01}); // power on
    ASSERT_EQ(0x9000, Sw(reader.Exchange(kSelectFirst)));
    ASSERT_EQ(0x9000, Sw(reader.Exchange(VerifyCommand(0, "123456"))));
    ASSERT_EQ(2u, card.AuthenticatedRoles());

    reader.Drop();
    for (int i = 0; i < 500 && link.Inserted(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_FALSE(link.Inserted());
    ASSERT_TRUE(link.Insert());
    ASSERT_TRUE(reader.Accept());
    // back without a power-on: the card lost its power with the link
    EXPECT_EQ(0x6D00, Sw(reader.Exchange({0xB0, 0x10, 0x06, 0x00, 0x05}))) << "not selected";
    EXPECT_EQ(0u, card.AuthenticatedRoles());
}

TEST_F(CardTest, SecondAidOnlyOption)
{
    Options o;
    o.secondAidOnly = true;
    card->SetOptions(o);
    EXPECT_EQ(0x6A82, Send(kSelectFirst));
    EXPECT_EQ(0x9000, Send(kSelectSecond));
}

TEST_F(CardTest, MalformedAndUnknownCommands)
{
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    struct Case {
        Bytes command;
        uint16_t sw;
    } cases[] = {
        {{0xB0, 0x10}, 0x6700},                         // shorter than a header
        {{0xB0, 0xAA, 0x00, 0x00, 0x09, 0x00}, 0x6700}, // Lc beyond the data
        {{0xB0, 0x99, 0x00, 0x00}, 0x6D00},             // unknown instruction
        {{0x00, 0xB0, 0x00, 0x00, 0x10}, 0x6D00},       // unknown interindustry one
        {{0x80, 0x10, 0x04, 0x00, 0x10}, 0x6E00},       // unknown class
        {{0xB0, 0x10, 0x0C, 0x00, 0x00}, 0x6A86},       // no information kind 12
        {{0xB0, 0x10, 0x00, 0x00, 0x00}, 0x6A86},       // nor 0
        {{0x00, 0xC0, 0x00, 0x00, 0x10}, 0x6F00},       // GET RESPONSE with no stream
        {{0xB4, 0x10, 0x04, 0x00, 0x10}, 0x6988},       // secure class, no session
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.sw, Send(c.command)) << cardsim::ToHex(c.command);
}

TEST_F(CardTest, KindOneListsTheSizesTheCardHolds)
{
    cardsim::Personalisation p;
    p.withContainer = true;
    p.keyBits = 1536;
    Make(NewCard(p));
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    EXPECT_EQ((Bytes{0x00, 0x08, 0x00, 0x02, 0x08, 0x03, 0x08, 0x04, 0x08}),
              Data(card->Apdu({0xB0, 0x10, 0x01, 0x00, 0x04})))
        << "1024, 1536 (the container keys) and 2048";
}

TEST_F(CardTest, AtrIsConfigurable)
{
    EXPECT_EQ(cardsim::DefaultAtr(), card->Atr());
    EXPECT_EQ(15u, card->Atr().size());
    cardsim::Personalisation p;
    p.atr = {0x3B, 0x02, 0x41, 0x42};
    Make(NewCard(p));
    EXPECT_EQ(p.atr, card->Atr());
}

// ---------------------------------------------------------------- information

TEST_F(CardTest, InformationKindsFollowTheirLayouts)
{
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    auto info = [&](unsigned char kind, unsigned char le) {
        Bytes r = card->Apdu({0xB0, 0x10, kind, 0x00, le});
        EXPECT_EQ(0x9000, Sw(r)) << int(kind);
        return Data(r);
    };
    Bytes k1 = info(1, 0x04);
    EXPECT_EQ((Bytes{0x00, 0x08, 0x00, 0x02, 0x08, 0x04, 0x08}), k1)
        << "8 containers, 1024 and 2048";
    Bytes k2 = info(2, 0x04);
    ASSERT_EQ(4u, k2.size());
    EXPECT_EQ(65536u - 7u, cardsim::LengthFromWire(k2.data())) << "64 KiB less \"cardcf\"";
    EXPECT_EQ((Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}),
              info(4, 0x10));
    Bytes k5 = info(5, 0x16);
    ASSERT_EQ(10u + 2 * 4, k5.size());
    EXPECT_EQ(1, k5[2]);
    EXPECT_EQ(2, k5[3]);
    EXPECT_EQ(8, k5[6]) << "maximum PIN length";
    EXPECT_EQ(0x08, k5[9]) << "role-8 record without descriptor";
    EXPECT_EQ((Bytes{0x03, 0x03, 0x02, 0x03}), Bytes(k5.begin() + 10, k5.begin() + 14));
    EXPECT_EQ((Bytes{0x05, 0x03, 0x04, 0x02}), Bytes(k5.begin() + 14, k5.end()));
    EXPECT_EQ(1, info(6, 0x05).at(1)) << "nobody authenticated";
    EXPECT_EQ((Bytes{0x00, 0x00}), info(7, 0x02));
    Bytes k8 = info(8, 0x12);
    ASSERT_EQ(2u + 2 * 7, k8.size());
    EXPECT_EQ(3, k8[2 + 1]) << "user PIN tries";
    EXPECT_EQ(5, k8[9 + 1]) << "PUK tries";
    EXPECT_EQ((Bytes{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}), info(9, 0x01));
    Bytes k10 = info(10, 0x04);
    ASSERT_GT(k10.size(), 2u);
    EXPECT_EQ(0u, (k10.size() - 2) % 3);
    EXPECT_LE(info(11, 0x00).size(), 17u);
}

TEST_F(CardTest, AuthenticationStateReportsRoles)
{
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    auto role = [&] { return Data(card->Apdu({0xB0, 0x10, 0x06, 0x00, 0x05})).at(1); };
    EXPECT_EQ(1, role());
    ASSERT_EQ(0x9000, Send(VerifyCommand(0, "123456")));
    EXPECT_EQ(2, role());
    ASSERT_EQ(0x9000, Send(VerifyCommand(1, "12345678")));
    EXPECT_EQ(6, role());
    ASSERT_EQ(0x9000, Send({0xB0, 0x26, 0x02, 0x00})) << "log out of the user role (applet 1.2)";
    EXPECT_EQ(4, role());
    card->Reset();
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    EXPECT_EQ(1, role()) << "reset clears the roles";
}

TEST_F(CardTest, StrictLeAnswersWrongLength)
{
    Options o;
    o.strictLe = true;
    card->SetOptions(o);
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    struct Case {
        unsigned char kind, le, natural;
    } cases[] = {{1, 0x04, 7}, {9, 0x01, 8}, {5, 0x16, 18}, {11, 0x00, 3}, {4, 0x10, 16}};
    for (const auto &c : cases) {
        Bytes r = card->Apdu({0xB0, 0x10, c.kind, 0x00, c.le});
        if (c.le == c.natural) {
            EXPECT_EQ(0x9000, Sw(r));
            continue;
        }
        EXPECT_EQ(0x6C00 | c.natural, Sw(r)) << int(c.kind);
        EXPECT_EQ(2u, r.size());
        r = card->Apdu({0xB0, 0x10, c.kind, 0x00, c.natural});
        EXPECT_EQ(0x9000, Sw(r)) << int(c.kind);
        EXPECT_EQ(c.natural, Data(r).size());
    }
    // a command that carries data is never answered 6C
    EXPECT_EQ(0x9000, Send({0xB0, 0x10, 0x03, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00}));
    // an empty reply is 90 00 whatever the Le, not 6C 00 for ever
    card->Modify([](CardState &s) { s.importedKeyParams.clear(); });
    for (unsigned char le : {0x00, 0x05})
        EXPECT_EQ((Bytes{0x90, 0x00}), card->Apdu({0xB0, 0x10, 0x0B, 0x00, le})) << int(le);
}

// ---------------------------------------------------------------- card data

namespace
{

struct TlvEntry {
    unsigned char tag;
    Bytes value;
};

std::vector<TlvEntry> ParseTlv(const Bytes &d)
{
    std::vector<TlvEntry> out;
    size_t i = 0;
    while (i + 3 <= d.size()) {
        size_t len = d[i + 1] * 256u + d[i + 2];
        if (i + 3 + len > d.size())
            break;
        out.push_back({d[i], Bytes(d.begin() + i + 3, d.begin() + i + 3 + len)});
        i += 3 + len;
    }
    EXPECT_EQ(i, d.size()) << "TLV list runs to the end";
    return out;
}

const Bytes *Find(const std::vector<TlvEntry> &tlv, unsigned char tag)
{
    for (const auto &e : tlv)
        if (e.tag == tag)
            return &e.value;
    return nullptr;
}

// Verifies tag 4 over the card identifier and the tags that tag 1 lists, with the
// public half of the issuer key.
bool SignatureHolds(const Bytes &cardData, const Bytes &cardId)
{
    auto tlv = ParseTlv(cardData);
    const Bytes *list = Find(tlv, 0x01);
    const Bytes *sig = Find(tlv, 0x04);
    if (!list || !sig || sig->size() != 192)
        return false;
    Bytes message;
    for (unsigned char t : *list) {
        const Bytes *v = t == 0x03 ? &cardId : Find(tlv, t);
        if (!v)
            return false;
        message.insert(message.end(), v->begin(), v->end());
    }
    FILE *f = std::fopen(VOK_CARDSIM_FIXTURES "/test_only_issuer_public.pem", "rb");
    if (!f)
        return false;
    EVP_PKEY *key = PEM_read_PUBKEY(f, nullptr, nullptr, nullptr);
    std::fclose(f);
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    bool ok = key && ctx && EVP_DigestVerifyInit(ctx, nullptr, EVP_sha256(), nullptr, key) == 1 &&
              EVP_DigestVerify(ctx, sig->data(), sig->size(), message.data(), message.size()) == 1;
    EVP_MD_CTX_free(ctx);
    EVP_PKEY_free(key);
    return ok;
}

} // namespace

TEST_F(CardTest, CardDataByOffsetInPieces)
{
    Options o;
    o.cardDataPiece = 100;
    card->SetOptions(o);
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    const Bytes whole = card->Snapshot().cardData;
    ASSERT_GT(whole.size(), 200u);
    ASSERT_LE(whole.size(), 300u);

    Bytes got;
    size_t remaining = 0;
    int pieces = 0;
    do {
        Bytes c = {0xB0,
                   0x10,
                   0x03,
                   0x00,
                   0x04,
                   static_cast<unsigned char>(got.size() >> 8),
                   static_cast<unsigned char>(got.size()),
                   static_cast<unsigned char>(remaining >> 8),
                   static_cast<unsigned char>(remaining)};
        Bytes r = card->Apdu(c);
        ASSERT_EQ(0x9000, Sw(r));
        Bytes d = Data(r);
        ASSERT_GE(d.size(), 2u);
        remaining = d[0] * 256u + d[1];
        got.insert(got.end(), d.begin() + 2, d.end());
        EXPECT_EQ(whole.size() - got.size(), remaining);
        ++pieces;
    } while (remaining != 0);
    EXPECT_EQ(3, pieces);
    EXPECT_EQ(whole, got);
    EXPECT_TRUE(SignatureHolds(got, card->Snapshot().cardId));
    EXPECT_NE(0, ParseTlv(got).back().value.size()) << "never ends with an empty value";

    EXPECT_EQ(0x6A80, Send({0xB0, 0x10, 0x03, 0x00, 0x04, 0x7F, 0xFF, 0x00, 0x00}))
        << "an offset past the end";
}

TEST_F(CardTest, CardDataByTagAndContinue)
{
    Options o;
    o.cardDataPiece = 50;
    card->SetOptions(o);
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    EXPECT_EQ(0x6A88, Send({0xB0, 0x10, 0x03, 0xFF, 0x00})) << "continue before any read";
    EXPECT_EQ(0x6A88, Send({0xB0, 0x10, 0x03, 0x33, 0x00})) << "absent tag";

    Bytes r = card->Apdu({0xB0, 0x10, 0x03, 0x04, 0x00});
    ASSERT_EQ(0x9000, Sw(r));
    Bytes d = Data(r);
    size_t remaining = d[0] * 256u + d[1];
    Bytes value(d.begin() + 2, d.end());
    EXPECT_EQ(50u, value.size());
    EXPECT_EQ(142u, remaining);
    while (remaining) {
        d = Data(card->Apdu({0xB0, 0x10, 0x03, 0xFF, 0x00}));
        size_t next = d[0] * 256u + d[1];
        EXPECT_EQ(remaining - (d.size() - 2), next);
        remaining = next;
        value.insert(value.end(), d.begin() + 2, d.end());
    }
    auto tlv = ParseTlv(card->Snapshot().cardData);
    EXPECT_EQ(*Find(tlv, 0x04), value);
    EXPECT_EQ(0x9000, Send({0xB0, 0x10, 0x03, 0xFF, 0x00})) << "a spent cursor gives nothing more";
    card->Reset();
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    EXPECT_EQ(0x6A88, Send({0xB0, 0x10, 0x03, 0xFF, 0x00})) << "reset forgets the cursor";
}

TEST_F(CardTest, ChangedCardDataForgetsTheCursor)
{
    Options o;
    o.cardDataPiece = 50;
    card->SetOptions(o);
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    ASSERT_EQ(0x9000, Send({0xB0, 0x10, 0x03, 0x04, 0x00})) << "the first piece of tag 4";
    card->Modify([](CardState &s) { s.cardData.resize(10); });
    EXPECT_EQ(0x6A88, Send({0xB0, 0x10, 0x03, 0xFF, 0x00}))
        << "no continuation into card data that is no longer there";
}

TEST_F(CardTest, CardDataStrictLeLeavesTheCursor)
{
    Options o;
    o.strictLe = true;
    o.cardDataPiece = 20;
    card->SetOptions(o);
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    Bytes r = card->Apdu({0xB0, 0x10, 0x03, 0x02, 0x00});
    ASSERT_EQ(0x6C16, Sw(r)) << "2 + 20 bytes";
    r = card->Apdu({0xB0, 0x10, 0x03, 0x02, 0x16});
    ASSERT_EQ(0x9000, Sw(r));
    EXPECT_EQ(0x04, Data(r)[1]) << "24-byte value: 4 still to come";
    r = card->Apdu({0xB0, 0x10, 0x03, 0xFF, 0x00});
    ASSERT_EQ(0x6C06, Sw(r));
    r = card->Apdu({0xB0, 0x10, 0x03, 0xFF, 0x06});
    ASSERT_EQ(0x9000, Sw(r));
    EXPECT_EQ(6u, Data(r).size());
}

// ---------------------------------------------------------------- files

TEST_F(CardTest, PersonalisedFileSystem)
{
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    uint16_t sw = 0;
    EXPECT_EQ(std::vector<std::string>{"cardcf"}, List(tx, "", &sw));
    EXPECT_EQ(0x9000, sw);
    EXPECT_EQ((std::vector<std::string>{"cardcf", "mscp", "qv_p11"}), List(tx, "", &sw, 0x01));
    EXPECT_EQ(std::vector<std::string>{"cmapfile"}, List(tx, "mscp", &sw));
    EXPECT_TRUE(List(tx, "qv_p11", &sw).empty());
    EXPECT_EQ(0x9000, sw) << "an empty directory lists nothing";
    List(tx, "nodir", &sw);
    EXPECT_EQ(0x6A82, sw);

    ReadResult cardcf = ReadStored(tx, "", "cardcf");
    ASSERT_EQ(0x9000, cardcf.sw);
    EXPECT_EQ(PlainStored(Bytes(6, 0)), cardcf.bytes);
    EXPECT_EQ(6u, cardcf.plain);
    ReadResult cmap = ReadStored(tx, "mscp", "cmapfile");
    ASSERT_EQ(0x9000, cmap.sw);
    EXPECT_EQ(0u, cmap.stored);
    EXPECT_EQ(0u, cmap.plain);
}

TEST_F(CardTest, AccessByteGuardsEveryFileCommand)
{
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    EXPECT_EQ(0x6985, Send(CreateCommand("qv_p11", "x", 0x3D, 10))) << "creating needs a role";
    ASSERT_EQ(0x9000, Send(VerifyCommand(0, "123456")));
    const unsigned char accesses[] = {0x00, 0x01, 0x02, 0x03, 0x3C, 0x3D};
    for (unsigned char access : accesses) {
        std::string name = "f" + std::to_string(access);
        ASSERT_EQ(0x9000, Send(CreateCommand("qv_p11", name, access, 64)));
    }
    EXPECT_EQ(0x6201, Send(CreateCommand("qv_p11", "f0", 0x00, 64)));
    EXPECT_EQ(0x6A82, Send(CreateCommand("nodir", "f0", 0x00, 64)));

    for (int role : {0, 2, 4}) {
        card->Reset();
        ASSERT_EQ(0x9000, Send(kSelectFirst));
        if (role == 2) {
            ASSERT_EQ(0x9000, Send(VerifyCommand(0, "123456")));
        }
        if (role == 4) {
            ASSERT_EQ(0x9000, Send(VerifyCommand(1, "12345678")));
        }
        for (unsigned char access : accesses) {
            SCOPED_TRACE("role " + std::to_string(role) + " access " + std::to_string(access));
            std::string name = "f" + std::to_string(access);
            bool readFree = access & 1, writeFree = access & 2;
            uint16_t read = (readFree || role) ? 0x9000 : 0x6985;
            uint16_t write = (writeFree || role) ? 0x9000 : 0x6985;
            Bytes data = {static_cast<unsigned char>(access), static_cast<unsigned char>(role)};
            EXPECT_EQ(write, WriteStored(tx, false, "qv_p11", name, PlainStored(data), 2));
            EXPECT_EQ(read, Send(FileCommand(0xAA, 0x01, 0x00, "qv_p11", name)));
            ReadResult r = ReadStored(tx, "qv_p11", name);
            EXPECT_EQ(read, r.sw);
            if (read == 0x9000 && write == 0x9000) {
                EXPECT_EQ(PlainStored(data), r.bytes);
            }
        }
    }
    // deleting follows the write bit
    card->Reset();
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    EXPECT_EQ(0x6985, Send(FileCommand(0xA8, 0x01, 0x02, "qv_p11", "f1")));
    EXPECT_EQ(0x9000, Send(FileCommand(0xA8, 0x01, 0x02, "qv_p11", "f2")));
    EXPECT_EQ(0x6A83, Send(FileCommand(0xA8, 0x01, 0x02, "qv_p11", "f2")));
    EXPECT_EQ(0x6A82, Send(FileCommand(0xA8, 0x01, 0x02, "nodir", "f2")));
    // listing is free
    uint16_t sw = 0;
    EXPECT_EQ(5u, List(tx, "qv_p11", &sw).size());
}

TEST_F(CardTest, FileInfoReportsTheThreeLengths)
{
    SelectAndLogin();
    ASSERT_EQ(0x9000, Send(CreateCommand("qv_p11", "data00", 0x3D, 500)));
    Bytes stored = PlainStored(Bytes(300, 0x5A));
    ASSERT_EQ(0x9000, WriteStored(tx, false, "qv_p11", "data00", stored, 1234));
    Bytes r = card->Apdu(FileCommand(0xAA, 0x01, 0x00, "qv_p11", "data00"));
    ASSERT_EQ(0x9000, Sw(r));
    ASSERT_EQ(12u, r.size());
    EXPECT_EQ(301u, cardsim::LengthFromWire(&r[0]));
    EXPECT_EQ(500u, cardsim::LengthFromWire(&r[3]));
    EXPECT_EQ(1234u, cardsim::LengthFromWire(&r[6]));
    EXPECT_EQ(0x3D, r[9]);
    EXPECT_EQ(0x6A83, Send(FileCommand(0xAA, 0x01, 0x00, "qv_p11", "data01")));
}

TEST_F(CardTest, ReadsStreamInTheHostsChunkSizes)
{
    SelectAndLogin();
    Bytes plain(2000);
    for (size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<unsigned char>(i * 7);
    Bytes stored = PlainStored(plain);
    ASSERT_EQ(0x9000, Send(CreateCommand("qv_p11", "big", 0x3D, 0)));
    ASSERT_EQ(0x9000, WriteStored(tx, false, "qv_p11", "big", stored, 2000));
    for (size_t chunk : {256, 100, 1}) {
        SCOPED_TRACE(chunk);
        ReadResult r = ReadStored(tx, "qv_p11", "big", chunk);
        ASSERT_EQ(0x9000, r.sw);
        EXPECT_EQ(stored, r.bytes);
    }
    // the first reply holds the 9-byte header and 247 bytes, and announces the rest
    Bytes first = card->Apdu(FileCommand(0xA4, 0x00, 0x00, "qv_p11", "big"));
    EXPECT_EQ(258u, first.size());
    EXPECT_EQ(0x6100, Sw(first)) << "more than 256 bytes still to come";
    Bytes part = card->Apdu({0x00, 0xC0, 0x00, 0x00, 0x10});
    EXPECT_EQ(Bytes(stored.begin() + 247, stored.begin() + 263), Data(part));
    EXPECT_EQ(0x6100, Sw(part));
    Send({0xB0, 0x10, 0x04, 0x00, 0x10});
    EXPECT_EQ(0x6F00, Send({0x00, 0xC0, 0x00, 0x00, 0x10})) << "another command ends the stream";
}

TEST_F(CardTest, WriteRules)
{
    SelectAndLogin();
    ASSERT_EQ(0x9000, Send(CreateCommand("qv_p11", "w", 0x3D, 20)));
    const Bytes old = PlainStored({1, 2, 3});
    ASSERT_EQ(0x9000, WriteStored(tx, true, "qv_p11", "w", old, 3));

    auto content = [&] { return card->Snapshot().FindFile("qv_p11", "w")->stored; };
    struct Case {
        const char *name;
        std::vector<Bytes> commands; // after the init of a 10-byte in-place write
        uint16_t lastSw;
    } cases[] = {
        {"too many bytes",
         {{0xB0, 0xA2, 0x00, 0x00, 0x0B, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
         0x6A80},
        {"last chunk short", {{0xB0, 0xA2, 0x01, 0x00, 0x04, 1, 2, 3, 4}}, 0x6A80},
        {"another command between chunks",
         {{0xB0, 0xA2, 0x00, 0x00, 0x04, 1, 2, 3, 4},
          {0xB0, 0x10, 0x04, 0x00, 0x10},
          {0xB0, 0xA2, 0x01, 0x00, 0x06, 5, 6, 7, 8, 9, 10}},
         0x6985},
        {"GET RESPONSE between chunks",
         {{0xB0, 0xA2, 0x00, 0x00, 0x04, 1, 2, 3, 4},
          {0x00, 0xC0, 0x00, 0x00, 0x00},
          {0xB0, 0xA2, 0x01, 0x00, 0x06, 5, 6, 7, 8, 9, 10}},
         0x6985},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(0x9000, Send(WriteInitCommand(true, "qv_p11", "w", 10, 9)));
        uint16_t sw = 0;
        for (const auto &cmd : c.commands)
            sw = Send(cmd);
        EXPECT_EQ(c.lastSw, sw);
        EXPECT_EQ(old, content()) << "the old content stays";
    }
    // an interrupted write: the card is powered off between chunks
    ASSERT_EQ(0x9000, Send(WriteInitCommand(true, "qv_p11", "w", 10, 9)));
    ASSERT_EQ(0x9000, Send({0xB0, 0xA2, 0x00, 0x00, 0x04, 1, 2, 3, 4}));
    card->PowerOff();
    card->PowerOn();
    SelectAndLogin();
    EXPECT_EQ(0x6985, Send({0xB0, 0xA2, 0x01, 0x00, 0x06, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(old, content());

    EXPECT_EQ(0x6A84, Send(WriteInitCommand(true, "qv_p11", "w", 21, 20)))
        << "in place beyond the file size";
    EXPECT_EQ(0x9000, WriteStored(tx, false, "qv_p11", "w", PlainStored(Bytes(40, 9)), 40))
        << "a new write may grow the file";
    EXPECT_EQ(41u, card->Snapshot().FindFile("qv_p11", "w")->fileSize);
    EXPECT_EQ(0x6A84, Send(WriteInitCommand(false, "qv_p11", "w", 200000, 10))) << "no room";
    EXPECT_EQ(0x6A83, Send(WriteInitCommand(false, "qv_p11", "none", 10, 10)));
    EXPECT_EQ(0x6985, Send({0xB0, 0xA2, 0x01, 0x00, 0x01, 0x00})) << "chunk with no write pending";
}

TEST_F(CardTest, EmptyInPlaceWriteByAppletVersion)
{
    for (bool v10 : {true, false}) {
        SCOPED_TRACE(v10 ? "applet 1.1" : "applet 0.9");
        cardsim::Personalisation p;
        p.appletMajor = v10 ? 1 : 0;
        p.appletMinor = v10 ? 1 : 9;
        Make(NewCard(p));
        SelectAndLogin();
        ASSERT_EQ(0x9000, Send(CreateCommand("qv_p11", "e", 0x3D, 20)));
        ASSERT_EQ(0x9000, WriteStored(tx, true, "qv_p11", "e", PlainStored({1, 2}), 2));
        EXPECT_EQ(v10 ? 0x9000 : 0x6A80, Send(WriteInitCommand(true, "qv_p11", "e", 0, 0)));
        EXPECT_EQ(v10 ? 0u : 3u, card->Snapshot().FindFile("qv_p11", "e")->stored.size());
        // the older applet takes the CRC of no data as the stored form
        if (!v10) {
            EXPECT_EQ(0x9000, WriteStored(tx, true, "qv_p11", "e", {0xC7}, 0));
        }
    }
}

TEST_F(CardTest, DirectoriesCreateAndDelete)
{
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    Bytes create = Cat(Cat({0xB0, 0xA0, 0x00, 0x01, 0x09}, Name("extra")), {0x3F});
    Bytes remove = Cat({0xB0, 0xA8, 0x00, 0x02, 0x08}, Name("extra"));
    EXPECT_EQ(0x6985, Send(create));
    ASSERT_EQ(0x9000, Send(VerifyCommand(1, "12345678")));
    EXPECT_EQ(0x9000, Send(create));
    EXPECT_EQ(0x6201, Send(create));
    ASSERT_EQ(0x9000, Send(CreateCommand("extra", "a", 0x3F, 4)));
    EXPECT_EQ(0x6202, Send(remove));
    ASSERT_EQ(0x9000, Send(FileCommand(0xA8, 0x01, 0x02, "extra", "a")));
    EXPECT_EQ(0x9000, Send(remove));
    EXPECT_EQ(0x6A82, Send(remove));
}

TEST_F(CardTest, LongListingStreams)
{
    SelectAndLogin();
    for (int i = 0; i < 40; ++i) {
        char name[9];
        std::snprintf(name, sizeof name, "data%02d", i);
        ASSERT_EQ(0x9000, Send(CreateCommand("qv_p11", name, 0x3D, 1)));
    }
    Bytes first = card->Apdu(Cat(Cat({0xB0, 0xAA, 0x00, 0x00, 0x09}, Name("qv_p11")), {0x00}));
    EXPECT_EQ(0x6140, Sw(first)) << "256 bytes now, 64 to come";
    uint16_t sw = 0;
    auto names = List(tx, "qv_p11", &sw);
    EXPECT_EQ(0x9000, sw);
    ASSERT_EQ(40u, names.size());
    EXPECT_EQ("data39", names.back());
}

// ---------------------------------------------------------------- PINs

TEST_F(CardTest, PinTriesBlockAndReset)
{
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    EXPECT_EQ(0x6302, Send(VerifyCommand(0, "000000")));
    EXPECT_EQ(0x6301, Send(VerifyCommand(0, "654321")));
    EXPECT_EQ(0x9000, Send(VerifyCommand(0, "123456")));
    EXPECT_EQ(3, card->Snapshot().pins[0].tries) << "success restores the tries";
    EXPECT_EQ(0x6700, Send(VerifyCommand(0, "123456", 9))) << "longer than the maximum";
    EXPECT_EQ(0x6B00, Send(VerifyCommand(5, "123456"))) << "no such PIN";
    for (uint16_t sw : {0x6302, 0x6301, 0x6300, 0x6200})
        EXPECT_EQ(sw, Send(VerifyCommand(0, "999999")));
    EXPECT_EQ(0x6200, Send(VerifyCommand(0, "123456"))) << "blocked stays blocked";
    Bytes k8 = Data(card->Apdu({0xB0, 0x10, 0x08, 0x00, 0x12}));
    EXPECT_EQ(0, k8[3]);
}

TEST_F(CardTest, ChangeAndUnblockByAppletVersion)
{
    for (bool v10 : {true, false}) {
        SCOPED_TRACE(v10 ? "applet 1.2" : "applet 0.9");
        cardsim::Personalisation p;
        if (!v10)
            p.appletMajor = 0, p.appletMinor = 9;
        Make(NewCard(p));
        ASSERT_EQ(0x9000, Send(kSelectFirst));
        auto pad = [](std::string s) {
            Bytes b(s.begin(), s.end());
            b.resize(8, 0xFF);
            return b;
        };
        // change the user PIN with the old one
        Bytes change = {0xB0, static_cast<unsigned char>(v10 ? 0x24 : 0x28), 0x00, 0x00, 18, 8, 3};
        change = Cat(Cat(change, pad("123456")), pad("2468"));
        EXPECT_EQ(0x9000, Send(change));
        EXPECT_EQ(0x6302, Send(VerifyCommand(0, "123456")));
        EXPECT_EQ(0x9000, Send(VerifyCommand(0, "2468")));
        // block it, then unblock with the PUK
        for (int i = 0; i < 3; ++i)
            Send(VerifyCommand(0, "0000"));
        ASSERT_EQ(0x6200, Send(VerifyCommand(0, "2468")));
        Bytes unblock = {0xB0, static_cast<unsigned char>(v10 ? 0x24 : 0x26), 0x01, 0x00,
                         18,   static_cast<unsigned char>(v10 ? 0x88 : 0x08), 3};
        unblock = Cat(Cat(unblock, pad("12345678")), pad("1357"));
        EXPECT_EQ(0x9000, Send(unblock));
        EXPECT_EQ(0x9000, Send(VerifyCommand(0, "1357")));
        // the user PIN may not unblock the PUK
        Bytes refused = {0xB0, static_cast<unsigned char>(v10 ? 0x24 : 0x26), 0x00, 0x01,
                         18,   static_cast<unsigned char>(v10 ? 0x88 : 0x08), 5};
        EXPECT_EQ(0x6B00, Send(Cat(Cat(refused, pad("1357")), pad("1111"))))
            << "no right over the target: not a wrong PIN";
        EXPECT_EQ(3, card->Snapshot().pins[0].tries) << "and no try was spent";
        // log out by the applet's own instruction
        EXPECT_EQ(0x9000, Send({0xB0, static_cast<unsigned char>(v10 ? 0x26 : 0x24), 0x06, 0x00}));
        EXPECT_EQ(0u, card->AuthenticatedRoles());
    }
}

// ---------------------------------------------------------------- control and state

TEST_F(CardTest, BumpCountersAsAnotherApplication)
{
    ASSERT_TRUE(card->BumpCounters(1));
    ASSERT_TRUE(card->BumpCounters(6));
    ASSERT_TRUE(card->BumpCounters(4));
    card->Modify([](CardState &s) {
        // a 16-bit counter wraps
        Bytes plain = {0, 0, 0xFF, 0xFF, 0, 0};
        s.FindFile("", "cardcf")->stored = PlainStored(plain);
    });
    ASSERT_TRUE(card->BumpCounters(2));
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    ReadResult r = ReadStored(tx, "", "cardcf");
    EXPECT_EQ(PlainStored({0, 0, 0, 0, 0, 0}), r.bytes);
    card->Modify([](CardState &s) { s.FindFile("", "cardcf")->stored = PlainStored(Bytes(6, 0)); });
    card->BumpCounters(7);
    EXPECT_EQ(PlainStored({0, 1, 1, 0, 1, 0}), ReadStored(tx, "", "cardcf").bytes);
    ASSERT_TRUE(card->CorruptFile("", "cardcf"));
    EXPECT_FALSE(card->BumpCounters(4)) << "a damaged \"cardcf\" is left alone";
}

TEST_F(CardTest, AChangeThatCannotBeSavedIsRefusedAndUndone)
{
    std::string path = std::string(VOK_BINARY_DIR) + "/no-such-directory/card.state";
    Make(NewCard(), {}, path);
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    Bytes change = ChangeCommand(0x24, 0, 0, false, 3, PinBytes("123456"), PinBytes("2468"));
    EXPECT_EQ(0x6581, Send(change));
    EXPECT_FALSE(card->SaveError().empty());
    EXPECT_EQ(0x6581, Send(VerifyCommand(0, "2468"))) << "a wrong try it cannot record";
    EXPECT_EQ(3, card->Snapshot().pins[0].tries);
    EXPECT_EQ(0x9000, Send(VerifyCommand(0, "123456"))) << "the old PIN stays";
    EXPECT_EQ(0x6581, Send(CreateCommand("qv_p11", "x", 0x3D, 10)));
    EXPECT_EQ(nullptr, card->Snapshot().FindFile("qv_p11", "x"));
    EXPECT_FALSE(card->BumpCounters(4));
    EXPECT_EQ(PlainStored(Bytes(6, 0)), card->Snapshot().FindFile("", "cardcf")->stored);
}

TEST_F(CardTest, StateSurvivesARestart)
{
    std::string path = TempPath("restart");
    Make(NewCard(), {}, path);
    card->Save();
    SelectAndLogin();
    ASSERT_EQ(0x9000, Send(CreateCommand("qv_p11", "data00", 0x3C, 64)));
    Bytes stored = PlainStored(Bytes(600, 0x42));
    ASSERT_EQ(0x9000, WriteStored(tx, false, "qv_p11", "data00", stored, 600));
    ASSERT_EQ(0x6304, Send(VerifyCommand(1, "00000000")));
    ASSERT_TRUE(card->BumpCounters(4));
    // a write cut off by removal is not saved
    ASSERT_EQ(0x9000, Send(WriteInitCommand(true, "qv_p11", "data00", 5, 4)));
    ASSERT_EQ(0x9000, Send({0xB0, 0xA2, 0x00, 0x00, 0x02, 7, 7}));
    const std::string before = cardsim::SerializeState(card->Snapshot());
    card.reset(); // the simulator goes away without a word

    CardState loaded;
    std::string error;
    ASSERT_TRUE(cardsim::LoadStateFile(path, loaded, &error)) << error;
    EXPECT_EQ(before, cardsim::SerializeState(loaded));
    Make(loaded, {}, path);
    SelectAndLogin();
    ReadResult r = ReadStored(tx, "qv_p11", "data00");
    EXPECT_EQ(stored, r.bytes);
    EXPECT_EQ(0x3C, card->Snapshot().FindFile("qv_p11", "data00")->access);
    EXPECT_EQ(4, card->Snapshot().pins[1].tries) << "the failed PUK try is remembered";
    EXPECT_TRUE(card->SaveError().empty());
    std::remove(path.c_str());
}

TEST(StateFile, RefusesDamage)
{
    CardState s = NewCard();
    std::string text = cardsim::SerializeState(s);
    CardState back;
    std::string error;
    ASSERT_TRUE(cardsim::ParseState(text, back, &error)) << error;
    EXPECT_EQ(text, cardsim::SerializeState(back));
    struct Case {
        const char *name;
        std::string text;
    } cases[] = {
        {"cut short", text.substr(0, text.size() / 2)},
        {"no end mark", text.substr(0, text.rfind("end"))},
        {"not a state file", "hello\n"},
        {"bad hex", "cardsim-state 1\nserial 0G\nend\n"},
        {"unknown entry", "cardsim-state 1\nfoo 1\nend\n"},
        {"file in a missing directory", "cardsim-state 1\nfile 6162 6364 1 0 0 -\nend\n"},
        {"length past the 3-byte form",
         "cardsim-state 1\ndir - 63\nfile - 6364 1 4161410 0 -\nend\n"},
    };
    for (const auto &c : cases) {
        CardState untouched = s;
        EXPECT_FALSE(cardsim::ParseState(c.text, untouched, &error)) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
        EXPECT_EQ(text, cardsim::SerializeState(untouched)) << c.name << ": nothing half-loaded";
    }
}

TEST_F(CardTest, LoadReplacesTheCard)
{
    std::string other = TempPath("other");
    cardsim::Personalisation p;
    p.serial = {0xF0, 0x14, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
    std::string error;
    ASSERT_TRUE(cardsim::SaveStateFile(other, NewCard(p), &error)) << error;
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    ASSERT_TRUE(card->Load(other, &error)) << error;
    EXPECT_EQ(0x6D00, Send({0xB0, 0x10, 0x04, 0x00, 0x10})) << "a new card is not selected";
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    EXPECT_EQ(p.serial, Data(card->Apdu({0xB0, 0x10, 0x04, 0x00, 0x10})));
    EXPECT_FALSE(card->Load(other + ".missing", &error));
    EXPECT_EQ(p.serial, card->Snapshot().serial) << "a failed load keeps the card";
    std::remove(other.c_str());
}

TEST_F(CardTest, FaultModes)
{
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    const Bytes info4 = {0xB0, 0x10, 0x04, 0x00, 0x10};
    card->SetFault(Fault::Truncate, 1);
    EXPECT_EQ(1u, card->Apdu(info4).size());
    card->SetFault(Fault::Oversize, 600);
    Bytes big = card->Apdu(info4);
    EXPECT_EQ(602u, big.size());
    EXPECT_EQ(0x9000, Sw(big));
    card->SetFault(Fault::Storm);
    EXPECT_EQ(0x6108, Sw(card->Apdu(info4)));
    for (int i = 0; i < 20; ++i) {
        Bytes r = card->Apdu({0x00, 0xC0, 0x00, 0x00, 0x08});
        ASSERT_EQ(0x6108, Sw(r));
        ASSERT_EQ(10u, r.size());
    }
    card->SetFault(Fault::None);
    EXPECT_EQ(18u, card->Apdu(info4).size());

    ASSERT_EQ(0x9000, Send(VerifyCommand(0, "123456")));
    ASSERT_EQ(0x9000, Send(CreateCommand("qv_p11", "c", 0x3D, 10)));
    ASSERT_EQ(0x9000, WriteStored(tx, false, "qv_p11", "c", PlainStored({'a', 'b', 'c'}), 3));
    EXPECT_TRUE(card->CorruptFile("qv_p11", "c"));
    Bytes bytes = ReadStored(tx, "qv_p11", "c").bytes;
    ASSERT_EQ(4u, bytes.size());
    EXPECT_NE(cardsim::Crc8({'a', 'b', 'c'}), bytes[3]);
    EXPECT_FALSE(card->CorruptFile("qv_p11", "c", 4));
    EXPECT_FALSE(card->CorruptFile("qv_p11", "nofile"));
}

TEST_F(CardTest, PersonalisedContainerCarriesCompressedCertificates)
{
    cardsim::Personalisation p;
    p.withContainer = true;
    p.keyBits = 1024;
    Make(NewCard(p));
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    ReadResult cmap = ReadStored(tx, "mscp", "cmapfile");
    ASSERT_EQ(0x9000, cmap.sw);
    ASSERT_EQ(87u, cmap.stored);
    EXPECT_EQ(0x03, cmap.bytes[80]) << "valid and default";
    EXPECT_EQ(1024, cmap.bytes[82] | cmap.bytes[83] << 8);
    EXPECT_EQ(cardsim::Crc8(Bytes(cmap.bytes.begin(), cmap.bytes.end() - 1)), cmap.bytes.back());

    CardState s = card->Snapshot();
    for (int spec = 0; spec < 2; ++spec) {
        const char *name = spec == 0 ? "ksc00" : "kxc00";
        SCOPED_TRACE(name);
        ReadResult r = ReadStored(tx, "mscp", name, 200);
        ASSERT_EQ(0x9000, r.sw);
        Bytes der;
        ASSERT_TRUE(cardsim::UnpackCardFile(r.bytes, r.plain, der));
        EXPECT_LT(r.stored, r.plain + 1) << "stored compressed";
        const unsigned char *q = der.data();
        X509 *cert = d2i_X509(nullptr, &q, static_cast<long>(der.size()));
        ASSERT_NE(nullptr, cert);
        // the certificate belongs to the container key kept for the card's RSA
        const Bytes &keyDer = s.keys.at({0, spec}).der;
        const unsigned char *k = keyDer.data();
        EVP_PKEY *key = d2i_AutoPrivateKey(nullptr, &k, static_cast<long>(keyDer.size()));
        ASSERT_NE(nullptr, key);
        EXPECT_EQ(1, X509_check_private_key(cert, key));
        EXPECT_EQ((Bytes{0x02, 0x06, 0x04, 0x00, 0x01, static_cast<unsigned char>(spec ? 6 : 1)}),
                  Data(card->Apdu({0xB0, 0x74, 0x00, static_cast<unsigned char>(0x20 | spec)})))
            << "a 1024-bit key pair with the usage of its spec";
        EVP_PKEY_free(key);
        X509_free(cert);
    }
}

// ---------------------------------------------------------------- hostile input

TEST_F(CardTest, RandomCommandsAlwaysGetAStatusWord)
{
    std::mt19937 rng(12345);
    const unsigned char classes[] = {0x00, 0xB0, 0xB4, 0x80};
    const unsigned char instructions[] = {
        0xA4, 0xC0, 0x10, 0xAA, 0xA4, 0xA0, 0xA2, 0xA8, 0x20, 0x24, 0x26, 0x28, 0x00, 0x50, 0x52,
        0x54, 0x70, 0x72, 0x74, 0x76, 0x78, 0x7A, 0x7E, 0x1A, 0x1C, 0xAC, 0x22, 0x2A, 0x2C};
    const size_t count = sizeof instructions;
    for (int i = 0; i < 20000; ++i) {
        if (i % 500 == 0) {
            card->Reset();
            Send(kSelectFirst);
            if (i % 1000 == 0)
                Send(VerifyCommand(1, "12345678"));
        }
        Bytes c = {classes[rng() % 4], instructions[rng() % count],
                   static_cast<unsigned char>(rng() % 4 ? rng() % 3 : rng()),
                   static_cast<unsigned char>(rng() % 4 ? rng() % 9 : rng())};
        size_t tail = rng() % 40;
        if (rng() % 3 == 0)
            tail = 5 + (rng() % 2 ? 16 : 23); // the file commands' data sizes
        for (size_t k = 0; k < tail; ++k)
            c.push_back(k == 0 && tail > 1
                            ? static_cast<unsigned char>(tail - 1)
                            : static_cast<unsigned char>(rng() % 4 ? rng() % 8 : rng()));
        Bytes r = card->Apdu(c);
        ASSERT_GE(r.size(), 2u) << cardsim::ToHex(c);
        ASSERT_LE(r.size(), 258u) << cardsim::ToHex(c);
    }
    // whatever happened, the state still makes a state file that reads back
    CardState back;
    std::string error;
    std::string text = cardsim::SerializeState(card->Snapshot());
    ASSERT_TRUE(cardsim::ParseState(text, back, &error)) << error;
    EXPECT_EQ(text, cardsim::SerializeState(back));
}

TEST(StateFile, MutatedFilesNeverHalfLoad)
{
    std::string text = cardsim::SerializeState(NewCard());
    std::mt19937 rng(99);
    for (int i = 0; i < 2000; ++i) {
        std::string t = text;
        for (int k = 0; k < 3; ++k) {
            size_t at = rng() % t.size();
            switch (rng() % 3) {
            case 0:
                t[at] = static_cast<char>(rng());
                break;
            case 1:
                t.erase(at, 1 + rng() % 20);
                break;
            default:
                t.insert(at, 1, " -0123456789ABCDEF\n"[rng() % 19]);
            }
        }
        CardState s;
        std::string error;
        if (cardsim::ParseState(t, s, &error)) {
            // accepted: it must describe a card the simulator can serve
            Card c(s);
            c.Apdu(kSelectFirst);
            for (unsigned char kind = 1; kind <= 11; ++kind)
                EXPECT_GE(c.Apdu({0xB0, 0x10, kind, 0x00, 0x00}).size(), 2u);
        }
    }
}
