// The simulated card in the virtual reader, driven with plain SCardTransmit through the
// real PC/SC service: selection, every information kind, card data and its signature,
// files under each access byte, a personalised compressed certificate, administration
// commands of the shapes a reader might mishandle, and the cardsim program's control
// commands and state file across a killed process.
#include "card.h"
#include "host.h"
#include "pcsc_helpers.h"
#include "personalise.h"
#include "sm_host.h"
#include "vpcd_card.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <winscard.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace cardsim_test;
using cardsim::Card;
using cardsim::CardState;
using cardsim::Options;

namespace
{

// The personalised card every test starts from (keys are slow to make, so once).
const CardState &Personalised(std::vector<Bytes> *certificates = nullptr)
{
    static std::vector<Bytes> certs;
    static const CardState state = [] {
        cardsim::Personalisation p;
        p.withContainer = true;
        CardState s;
        std::string error;
        if (!cardsim::Personalise(p, s, &error, &certs))
            ADD_FAILURE() << error;
        return s;
    }();
    if (certificates)
        *certificates = certs;
    return state;
}

class PcscCardTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(SCARD_S_SUCCESS,
                  SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &m_ctx));
        ASSERT_TRUE(WaitReadersEmpty(m_ctx));
        tx = [this](const Bytes &c) { return Transmit(c); };
    }
    void TearDown() override
    {
        Disconnect();
        m_link.reset();
        if (m_card)
            WaitCardState(m_ctx, vpcd::NameOfReader(0), false, 5000);
        SCardReleaseContext(m_ctx);
    }
    void Insert(Options options = {}, const CardState *state = nullptr)
    {
        m_card = std::make_unique<Card>(state ? *state : Personalised(), options);
        m_link = std::make_unique<vpcd::VirtualCard>(*m_card, vpcd::PortOfReader(0));
        ASSERT_TRUE(m_link->Insert());
        Connect();
    }
    void Connect()
    {
        ASSERT_TRUE(WaitCardState(m_ctx, vpcd::NameOfReader(0), true, 5000));
        ASSERT_EQ(SCARD_S_SUCCESS,
                  SCardConnect(m_ctx, vpcd::NameOfReader(0).c_str(), SCARD_SHARE_SHARED,
                               SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &m_handle, &m_protocol));
    }
    void Disconnect()
    {
        if (m_handle)
            SCardDisconnect(m_handle, SCARD_LEAVE_CARD);
        m_handle = 0;
    }
    Bytes Transmit(const Bytes &command)
    {
        const SCARD_IO_REQUEST *pci = m_protocol == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
        Bytes reply(600);
        DWORD len = reply.size();
        LONG rv = SCardTransmit(m_handle, pci, command.data(), command.size(), nullptr,
                                reply.data(), &len);
        EXPECT_EQ(SCARD_S_SUCCESS, rv) << cardsim::ToHex(command);
        reply.resize(rv == SCARD_S_SUCCESS ? len : 0);
        return reply;
    }
    uint16_t Send(const Bytes &c) { return Sw(Transmit(c)); }

    SCARDCONTEXT m_ctx = 0;
    SCARDHANDLE m_handle = 0;
    DWORD m_protocol = 0;
    std::unique_ptr<Card> m_card;
    std::unique_ptr<vpcd::VirtualCard> m_link;
    cardsim_test::Transmit tx;
};

} // namespace

TEST_F(PcscCardTest, ReaderSeesTheCardsAtr)
{
    Insert();
    unsigned char atr[40];
    DWORD atrLen = sizeof atr, state = 0, protocol = 0, nameLen = 0;
    ASSERT_EQ(SCARD_S_SUCCESS,
              SCardStatus(m_handle, nullptr, &nameLen, &state, &protocol, atr, &atrLen));
    EXPECT_EQ(cardsim::DefaultAtr(), Bytes(atr, atr + atrLen));
}

TEST_F(PcscCardTest, EveryInformationKind)
{
    struct Kind {
        unsigned char kind, le;
        size_t length;
    };
    // Le as the host sends it; the replies' own lengths
    const Kind kinds[] = {{1, 0x04, 7}, {2, 0x04, 4},  {4, 0x10, 16}, {5, 0x16, 18}, {6, 0x05, 4},
                          {7, 0x02, 2}, {8, 0x12, 16}, {9, 0x01, 8},  {10, 0x04, 5}, {11, 0x00, 3}};
    for (bool strict : {false, true}) {
        SCOPED_TRACE(strict ? "strict Le" : "lenient Le");
        Options o;
        o.strictLe = strict;
        Disconnect();
        m_link.reset();
        if (m_card) {
            ASSERT_TRUE(WaitCardState(m_ctx, vpcd::NameOfReader(0), false, 5000));
        }
        Insert(o);
        EXPECT_EQ(0x6D00, Send({0xB0, 0x10, 0x04, 0x00, 0x10})) << "not selected yet";
        ASSERT_EQ(0x9000, Send(kSelectFirst));
        for (const auto &k : kinds) {
            SCOPED_TRACE(int(k.kind));
            Bytes r = Transmit({0xB0, 0x10, k.kind, 0x00, k.le});
            size_t le = k.le ? k.le : 256;
            if (strict && le != k.length) {
                ASSERT_EQ(0x6C00 | k.length, Sw(r));
                r = Transmit({0xB0, 0x10, k.kind, 0x00, static_cast<unsigned char>(k.length)});
            }
            ASSERT_EQ(0x9000, Sw(r));
            EXPECT_EQ(k.length, Data(r).size());
        }
    }
    Bytes serial = Data(Transmit({0xB0, 0x10, 0x04, 0x00, 0x10}));
    EXPECT_EQ((Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}),
              serial);
}

TEST_F(PcscCardTest, SecondApplicationIdentifier)
{
    Options o;
    o.secondAidOnly = true;
    Insert(o);
    EXPECT_EQ(0x6A82, Send(kSelectFirst));
    EXPECT_EQ(0x9000, Send(kSelectSecond));
}

TEST_F(PcscCardTest, CardDataInThreePiecesCarriesAValidSignature)
{
    Options o;
    o.cardDataPiece = 100;
    Insert(o);
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    Bytes cardId = Data(Transmit({0xB0, 0x10, 0x09, 0x00, 0x08}));
    ASSERT_EQ(8u, cardId.size());

    Bytes all;
    size_t remaining = 0;
    int pieces = 0;
    do {
        Bytes r = Transmit(
            {0xB0, 0x10, 0x03, 0x00, 0x04, static_cast<unsigned char>(all.size() >> 8),
             static_cast<unsigned char>(all.size()), static_cast<unsigned char>(remaining >> 8),
             static_cast<unsigned char>(remaining)});
        ASSERT_EQ(0x9000, Sw(r));
        Bytes d = Data(r);
        ASSERT_GE(d.size(), 2u);
        remaining = d[0] * 256u + d[1];
        all.insert(all.end(), d.begin() + 2, d.end());
        ++pieces;
    } while (remaining && pieces < 10);
    EXPECT_EQ(3, pieces);

    // walk the TLV list: tag 1 names the signed values, tag 4 signs them
    std::map<unsigned char, Bytes> tlv;
    size_t i = 0;
    while (i + 3 <= all.size()) {
        size_t len = all[i + 1] * 256u + all[i + 2];
        ASSERT_LE(i + 3 + len, all.size());
        tlv[all[i]] = Bytes(all.begin() + i + 3, all.begin() + i + 3 + len);
        i += 3 + len;
    }
    ASSERT_EQ(all.size(), i);
    ASSERT_TRUE(tlv.count(1) && tlv.count(4));
    ASSERT_EQ(192u, tlv[4].size());
    Bytes message;
    for (unsigned char t : tlv[1]) {
        const Bytes &v = t == 0x03 ? cardId : tlv.at(t);
        message.insert(message.end(), v.begin(), v.end());
    }
    FILE *f = std::fopen(VOK_CARDSIM_FIXTURES "/test_only_issuer_public.pem", "rb");
    ASSERT_NE(nullptr, f);
    EVP_PKEY *issuer = PEM_read_PUBKEY(f, nullptr, nullptr, nullptr);
    std::fclose(f);
    ASSERT_NE(nullptr, issuer);
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    EXPECT_EQ(1, EVP_DigestVerifyInit(ctx, nullptr, EVP_sha256(), nullptr, issuer));
    EXPECT_EQ(1,
              EVP_DigestVerify(ctx, tlv[4].data(), tlv[4].size(), message.data(), message.size()));
    EVP_MD_CTX_free(ctx);
    EVP_PKEY_free(issuer);
}

TEST_F(PcscCardTest, FilesUnderEachAccessByte)
{
    Insert();
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    ASSERT_EQ(0x9000, Send(VerifyCommand(0, "123456")));
    struct Case {
        unsigned char access;
        size_t length;
    } cases[] = {{0x00, 10}, {0x01, 300}, {0x02, 600}, {0x03, 1}, {0x3C, 256}, {0x3D, 1000}};
    for (const auto &c : cases) {
        SCOPED_TRACE(int(c.access));
        std::string name = "t" + std::to_string(c.access);
        Bytes data(c.length);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<unsigned char>(i ^ c.access);
        Bytes stored = PlainStored(data);
        ASSERT_EQ(0x9000, Send(CreateCommand("qv_p11", name, c.access, 0)));
        ASSERT_EQ(0x9000, WriteStored(tx, false, "qv_p11", name, stored,
                                      static_cast<uint32_t>(data.size())));
        ReadResult r = ReadStored(tx, "qv_p11", name);
        ASSERT_EQ(0x9000, r.sw);
        EXPECT_EQ(stored, r.bytes);
        EXPECT_EQ(c.length, r.plain);
    }
    uint16_t sw = 0;
    EXPECT_EQ(6u, List(tx, "qv_p11", &sw).size());

    // without a role: private files refuse information and reading, listing stays free
    ASSERT_EQ(0x9000, Send({0xB0, 0x26, 0x06, 0x00}));
    for (const auto &c : cases) {
        SCOPED_TRACE(int(c.access));
        std::string name = "t" + std::to_string(c.access);
        uint16_t expected = (c.access & 1) ? 0x9000 : 0x6985;
        EXPECT_EQ(expected, Send(FileCommand(0xAA, 0x01, 0x00, "qv_p11", name)));
        EXPECT_EQ(expected, ReadStored(tx, "qv_p11", name).sw);
        uint16_t deleted = (c.access & 2) ? 0x9000 : 0x6985;
        EXPECT_EQ(deleted, Send(FileCommand(0xA8, 0x01, 0x02, "qv_p11", name)));
    }
    EXPECT_EQ(4u, List(tx, "qv_p11", &sw).size());
    ASSERT_EQ(0x9000, Send(VerifyCommand(1, "12345678")));
    for (unsigned char access : {0x00, 0x01, 0x3C, 0x3D})
        EXPECT_EQ(0x9000,
                  Send(FileCommand(0xA8, 0x01, 0x02, "qv_p11", "t" + std::to_string(access))));
    List(tx, "qv_p11", &sw);
    EXPECT_EQ(0x9000, sw);
    EXPECT_TRUE(List(tx, "qv_p11", &sw).empty());
}

TEST_F(PcscCardTest, PersonalisedCertificateIsRestoredByteForByte)
{
    std::vector<Bytes> certificates;
    Personalised(&certificates);
    ASSERT_EQ(2u, certificates.size());
    Insert();
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    const char *names[] = {"ksc00", "kxc00"};
    for (int spec = 0; spec < 2; ++spec) {
        SCOPED_TRACE(names[spec]);
        ReadResult r = ReadStored(tx, "mscp", names[spec]);
        ASSERT_EQ(0x9000, r.sw);
        EXPECT_EQ(certificates[spec].size(), r.plain);
        Bytes plain;
        ASSERT_TRUE(cardsim::UnpackCardFile(r.bytes, r.plain, plain));
        EXPECT_EQ(certificates[spec], plain);
    }
}

TEST_F(PcscCardTest, OneSignatureOnEachAppletVersion)
{
    struct Applet {
        unsigned char major, minor;
        bool second; // second-generation opening
    } applets[] = {{0, 9, false}, {1, 1, false}, {1, 2, true}};
    for (const auto &a : applets) {
        SCOPED_TRACE(std::to_string(a.major) + "." + std::to_string(a.minor));
        cardsim::Personalisation p;
        p.appletMajor = a.major;
        p.appletMinor = a.minor;
        p.containers.resize(1);
        p.containers[0].keys[0].bits = 2048;
        CardState state;
        std::string error;
        ASSERT_TRUE(cardsim::Personalise(p, state, &error)) << error;
        if (m_card) {
            Disconnect();
            m_link.reset();
            ASSERT_TRUE(WaitCardState(m_ctx, vpcd::NameOfReader(0), false, 5000));
        }
        Insert({}, &state);

        ASSERT_EQ(0x9000, Send(kSelectFirst));
        ASSERT_EQ(0x9000, Send(VerifyCommand(0, "123456")));
        HostSession session;
        ASSERT_EQ(0x9000, OpenSession(tx, a.second, 0x11, session));
        std::vector<Bytes> commands = RsaCommands(0x78, 0, 0, SignatureBlock("over PC/SC", 256));
        ASSERT_EQ(2u, commands.size()) << "two pieces";
        SecureReply r = SendAllSecure(tx, session, commands);
        ASSERT_EQ(0x9000, r.sw);
        EXPECT_TRUE(r.verified);
        ASSERT_EQ(0x9000, Send({0xB0, 0x54, 0x00, 0x00}));

        const Bytes &der = state.keys.at({0, 0}).der;
        const unsigned char *k = der.data();
        EVP_PKEY *key = d2i_AutoPrivateKey(nullptr, &k, long(der.size()));
        ASSERT_NE(nullptr, key);
        EXPECT_TRUE(VerifiesSha256(key, "over PC/SC", r.data));
        EVP_PKEY_free(key);
    }
}

TEST_F(PcscCardTest, AdministrationCommandsPassTheReaderService)
{
    Insert();
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    // eight bytes whose fifth is no length
    EXPECT_EQ(0x9000, Send({0xB0, 0x54, 0x0A, 0x0B, 0x7F, 0x01, 0x02, 0x03}));
    EXPECT_EQ((Bytes{0x0A, 0x0B, 0x7F, 0x90, 0x00}), Transmit({0xB0, 0x10, 0x0B, 0x00, 0x00}));
    Bytes challenge = Transmit({0xB0, 0x22, 0x00, 0x00, 0x08});
    ASSERT_EQ(0x9000, Sw(challenge));
    ASSERT_EQ(8u, Data(challenge).size());

    HostSession session;
    ASSERT_EQ(0x9000, OpenSession(tx, true, 0x11, session));
    SecureReply r = SendSecure(tx, session, Cat({0xB0, 0x2A, 0x01, 0x00, 0x08}, Data(challenge)));
    ASSERT_EQ(0x9000, r.sw);
    EXPECT_TRUE(r.verified);
    EXPECT_EQ(8u, r.data.size());
    EXPECT_EQ(0x9000, SendSecure(tx, session, {0xB0, 0x7E, 0x00, 0x01, 0x02, 0x04, 0x00}).sw);
    EXPECT_EQ(0x9000, SendSecure(tx, session, {0xB0, 0x1C, 0x01, 0xFF, 0x00}).sw);
    ASSERT_EQ(0x9000, Send({0xB0, 0x54, 0x00, 0x00}));
    EXPECT_TRUE(m_card->Snapshot().keys.empty());
}

TEST_F(PcscCardTest, CutRepliesReachTheHostCleanly)
{
    // one byte: the reader passes it on, and the next exchange is whole again; no byte:
    // the card falls silent and the reader reports it gone
    const Bytes info4 = {0xB0, 0x10, 0x04, 0x00, 0x10};
    for (size_t n : {1u, 0u}) {
        SCOPED_TRACE(n);
        Insert();
        ASSERT_EQ(0x9000, Send(kSelectFirst));
        m_card->SetFault(cardsim::Fault::TruncateNext, n);
        const SCARD_IO_REQUEST *pci = m_protocol == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
        Bytes reply(600);
        DWORD len = reply.size();
        LONG rv =
            SCardTransmit(m_handle, pci, info4.data(), info4.size(), nullptr, reply.data(), &len);
        EXPECT_TRUE(rv != SCARD_S_SUCCESS || len < 2) << std::hex << rv << " " << len;
        if (n == 1) {
            EXPECT_EQ(0x9000, Send(info4));
        } else {
            EXPECT_TRUE(WaitCardState(m_ctx, vpcd::NameOfReader(0), false, 5000));
        }
        Disconnect();
        m_link.reset();
        ASSERT_TRUE(WaitCardState(m_ctx, vpcd::NameOfReader(0), false, 5000));
        m_card.reset();
    }
}

// ---------------------------------------------------------------- the cardsim program

namespace
{

// cardsim as a child process, controlled through its standard input and output.
class Program
{
  public:
    explicit Program(std::vector<std::string> args)
    {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            close(in[1]);
            close(out[0]);
            std::vector<char *> argv;
            static std::string program = CARDSIM_PROGRAM;
            argv.push_back(program.data());
            for (auto &a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        m_in = in[1];
        m_out = out[0];
    }
    ~Program() { Kill(); }
    // One line of output, or "" after the deadline.
    std::string ReadLine(int timeoutMs = 20000)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            auto nl = m_buffer.find('\n');
            if (nl != std::string::npos) {
                std::string line = m_buffer.substr(0, nl);
                m_buffer.erase(0, nl + 1);
                return line;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
            pollfd p{m_out, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0)
                return "";
            char chunk[256];
            ssize_t n = read(m_out, chunk, sizeof chunk);
            if (n <= 0)
                return "";
            m_buffer.append(chunk, static_cast<size_t>(n));
        }
    }
    std::string Command(const std::string &line)
    {
        std::string l = line + "\n";
        if (write(m_in, l.data(), l.size()) != static_cast<ssize_t>(l.size()))
            return "";
        return ReadLine();
    }
    void Kill()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
        if (m_in >= 0)
            close(m_in);
        if (m_out >= 0)
            close(m_out);
        m_in = m_out = -1;
    }
    int Quit()
    {
        Command("quit");
        int status = -1;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return status;
    }

  private:
    pid_t m_pid = -1;
    int m_in = -1, m_out = -1;
    std::string m_buffer;
};

} // namespace

TEST_F(PcscCardTest, ProgramControlsAndStateSurviveAKill)
{
    std::string state =
        std::string(VOK_BINARY_DIR) + "/cardsim-program-" + std::to_string(getpid()) + ".state";
    std::remove(state.c_str());
    const Bytes data = {'s', 'u', 'r', 'v', 'i', 'v', 'e', 's'};
    {
        Program sim({"--state", state, "--reader", "0", "--applet", "1.1"});
        ASSERT_EQ(0u, sim.ReadLine().rfind("ok ready", 0));
        Connect();
        ASSERT_EQ(0x9000, Send(kSelectFirst));
        EXPECT_EQ(1, Data(Transmit({0xB0, 0x10, 0x05, 0x00, 0x16})).at(3)) << "applet 1.1";
        ASSERT_EQ(0x9000, Send(VerifyCommand(0, "123456")));
        ASSERT_EQ(0x9000, Send(CreateCommand("qv_p11", "data00", 0x3C, 0)));
        ASSERT_EQ(0x9000, WriteStored(tx, false, "qv_p11", "data00", PlainStored(data), 8));
        EXPECT_EQ("ok bumped", sim.Command("bump 4"));
        EXPECT_EQ("ok counters pin 0 containers 0 files 1", sim.Command("counters"));
        EXPECT_EQ(PlainStored({0, 0, 0, 0, 1, 0}), ReadStored(tx, "", "cardcf").bytes);
        // a write in flight when the simulator dies is lost, the old content stays
        ASSERT_EQ(0x9000, Send(WriteInitCommand(true, "qv_p11", "data00", 4, 3)));
        ASSERT_EQ(0x9000, Send({0xB0, 0xA2, 0x00, 0x00, 0x02, 0xEE, 0xEE}));
        Disconnect();
        sim.Kill();
    }
    ASSERT_TRUE(WaitCardState(m_ctx, vpcd::NameOfReader(0), false, 5000));
    {
        Program sim({"--state", state, "--reader", "0", "--applet", "0.9"});
        ASSERT_EQ(0u, sim.ReadLine().rfind("ok ready", 0));
        Connect();
        ASSERT_EQ(0x9000, Send(kSelectFirst));
        EXPECT_EQ(1, Data(Transmit({0xB0, 0x10, 0x05, 0x00, 0x16})).at(3))
            << "the stored card, not a new one";
        ASSERT_EQ(0x9000, Send(VerifyCommand(0, "123456")));
        ReadResult r = ReadStored(tx, "qv_p11", "data00");
        ASSERT_EQ(0x9000, r.sw);
        EXPECT_EQ(PlainStored(data), r.bytes);
        EXPECT_EQ(PlainStored({0, 0, 0, 0, 1, 0}), ReadStored(tx, "", "cardcf").bytes);

        // the reset control forgets the roles
        EXPECT_EQ("ok reset", sim.Command("reset"));
        ASSERT_EQ(0x9000, Send(kSelectFirst));
        EXPECT_EQ(0x6985, ReadStored(tx, "qv_p11", "data00").sw);
        // remove and insert
        Disconnect();
        EXPECT_EQ("ok removed", sim.Command("remove"));
        EXPECT_TRUE(WaitCardState(m_ctx, vpcd::NameOfReader(0), false, 5000));
        EXPECT_EQ("ok inserted", sim.Command("insert"));
        Connect();
        ASSERT_EQ(0x9000, Send(kSelectFirst));
        EXPECT_EQ("ok fault truncate", sim.Command("fault truncate 1"));
        EXPECT_EQ(1u, Transmit({0xB0, 0x10, 0x04, 0x00, 0x10}).size());
        EXPECT_EQ("ok fault none", sim.Command("fault none"));
        EXPECT_EQ("ok corrupted", sim.Command("corrupt / cardcf"));
        Bytes cardcf = ReadStored(tx, "", "cardcf").bytes;
        ASSERT_EQ(7u, cardcf.size());
        EXPECT_NE(cardsim::Crc8(Bytes(cardcf.begin(), cardcf.end() - 1)), cardcf.back());
        EXPECT_EQ(0u, sim.Command("bogus").rfind("error", 0));
        Disconnect();
        EXPECT_EQ(0, sim.Quit());
    }
    ASSERT_TRUE(WaitCardState(m_ctx, vpcd::NameOfReader(0), false, 5000));
    std::remove(state.c_str());
}
