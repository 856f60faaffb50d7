// Signing and decryption with the simulated card's keys through the shipped module
// over the real reader service, judged by OpenSSL: every mechanism on 1024- and
// 2048-bit keys, decryption of what OpenSSL encrypted from a read-only buffer,
// the size conventions, a card pulled out during a signature and a spoilt R-MAC.
#include "token_module_support.h"
#include "token_rsa_oracle.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

using namespace token_test;

namespace
{

int const BITS[] = {1024, 2048};

// Containers 0 and 1 with keys of 1024 and 2048 bits.
cardsim::Personalisation twoKeySizes()
{
    cardsim::Personalisation p;
    p.containers = {Container(BITS[0]), Container(BITS[1])};
    return p;
}

// A page holding bytes that the process may read but not write.
class ReadOnlyPage
{
  public:
    explicit ReadOnlyPage(Bytes const &bytes) : m_size((size_t)sysconf(_SC_PAGESIZE))
    {
        void *p = mmap(nullptr, m_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        m_page = p == MAP_FAILED ? nullptr : static_cast<unsigned char *>(p);
        if (m_page == nullptr || bytes.size() > m_size)
            return;
        std::memcpy(m_page, bytes.data(), bytes.size());
        mprotect(m_page, m_size, PROT_READ);
    }
    ~ReadOnlyPage()
    {
        if (m_page != nullptr)
            munmap(m_page, m_size);
    }
    unsigned char *get() const { return m_page; }

  private:
    size_t m_size;
    unsigned char *m_page;
};

} // namespace

class TokenCryptoOverReader : public ModuleOverReader
{
  protected:
    void SetUp() override
    {
        ModuleOverReader::SetUp();
        ASSERT_TRUE(Insert(twoKeySizes()));
        session = Open();
        ASSERT_EQ(Login(session, CKU_USER, UserPin()), CKR_OK);
    }
    CK_SESSION_HANDLE session = 0;
};

TEST_F(TokenCryptoOverReader, SignsWithEveryMechanismOnBothKeySizes)
{
    Bytes message = Text("signed on the card");
    Bytes digestInfo = Text("0123456789abcdef0123456789abcdef0123"); // any bytes to pad
    struct Row {
        CK_MECHANISM_TYPE mechanism;
        Bytes data;
    };
    Row const rows[] = {
        {CKM_RSA_PKCS, digestInfo},     {CKM_RSA_X_509, Text("ten bytes!")},
        {CKM_SHA1_RSA_PKCS, message},   {CKM_SHA224_RSA_PKCS, message},
        {CKM_SHA256_RSA_PKCS, message}, {CKM_SHA384_RSA_PKCS, message},
        {CKM_SHA512_RSA_PKCS, message},
    };
    for (int index : {0, 1}) {
        PKey key = KeyFromDer(CardKeyDer(index, 0));
        ASSERT_TRUE(key);
        CK_OBJECT_HANDLE handle = PrivateKey(session, index);
        for (Row const &row : rows) {
            SCOPED_TRACE(std::to_string(BITS[index]) + " bits, mechanism " +
                         std::to_string(row.mechanism));
            Bytes signature;
            ASSERT_EQ(Sign(session, row.mechanism, handle, row.data, signature), CKR_OK);
            EXPECT_EQ(signature.size(), (size_t)BITS[index] / 8);
            EXPECT_TRUE(Verifies(key.get(), row.mechanism, row.data, signature));
        }
    }
    EXPECT_EQ(card->AuthenticatedRoles(), 0u);
    EXPECT_FALSE(card->SessionOpen());
}

TEST_F(TokenCryptoOverReader, DecryptsWhatOpenSSLEncryptedFromAReadOnlyBuffer)
{
    Bytes plain = Text("a secret for the card");
    for (int index : {0, 1}) {
        SCOPED_TRACE(BITS[index]);
        PKey key = KeyFromDer(CardKeyDer(index, 1));
        CK_OBJECT_HANDLE handle = PrivateKey(session, index, false);
        ASSERT_NE(handle, CK_INVALID_HANDLE);
        struct Row {
            CK_MECHANISM_TYPE mechanism;
            Bytes block, expected;
        };
        Bytes raw(BITS[index] / 8, 0x5A);
        raw[0] = 0;
        Row const rows[] = {{CKM_RSA_PKCS, Encrypt(key.get(), plain), plain},
                            {CKM_RSA_X_509, Encrypt(key.get(), raw, false), raw}};
        for (Row const &row : rows) {
            ASSERT_EQ(row.block.size(), raw.size());
            ReadOnlyPage page(row.block);
            ASSERT_NE(page.get(), nullptr);
            CK_MECHANISM mechanism = {row.mechanism, nullptr, 0};
            ASSERT_EQ(f->C_DecryptInit(session, &mechanism, handle), CKR_OK);
            Bytes out(raw.size());
            CK_ULONG length = out.size();
            ASSERT_EQ(f->C_Decrypt(session, page.get(), row.block.size(), out.data(), &length),
                      CKR_OK);
            out.resize(length);
            EXPECT_EQ(out, row.expected);
            EXPECT_EQ(Bytes(page.get(), page.get() + row.block.size()), row.block);
        }
    }
}

TEST_F(TokenCryptoOverReader, SizeQueriesKeepTheOperationAndSendNothing)
{
    CK_OBJECT_HANDLE key = PrivateKey(session, 1);
    CK_MECHANISM mechanism = {CKM_SHA256_RSA_PKCS, nullptr, 0};
    Bytes data = Text("sized");
    ASSERT_EQ(f->C_SignInit(session, &mechanism, key), CKR_OK);
    size_t commands = reader->Count();
    CK_ULONG length = 0;
    EXPECT_EQ(f->C_Sign(session, data.data(), data.size(), nullptr, &length), CKR_OK);
    EXPECT_EQ(length, 256u);
    Bytes signature(255);
    length = signature.size();
    EXPECT_EQ(f->C_Sign(session, data.data(), data.size(), signature.data(), &length),
              CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 256u);
    EXPECT_EQ(reader->Count(), commands);
    signature.resize(256);
    EXPECT_EQ(f->C_Sign(session, data.data(), data.size(), signature.data(), &length), CKR_OK);
    PKey pkey = KeyFromDer(CardKeyDer(1, 0));
    EXPECT_TRUE(Verifies(pkey.get(), CKM_SHA256_RSA_PKCS, data, signature));

    // a decryption asks for the key's length, whatever the plaintext's
    CK_MECHANISM pkcs = {CKM_RSA_PKCS, nullptr, 0};
    ASSERT_EQ(f->C_DecryptInit(session, &pkcs, PrivateKey(session, 1, false)), CKR_OK);
    Bytes block(256, 1);
    length = 0;
    EXPECT_EQ(f->C_Decrypt(session, block.data(), block.size(), nullptr, &length), CKR_OK);
    EXPECT_EQ(length, 256u);
    EXPECT_EQ(f->C_Decrypt(session, block.data(), 255, nullptr, &length), CKR_DATA_LEN_RANGE);
    EXPECT_EQ(f->C_Decrypt(session, block.data(), block.size(), nullptr, &length),
              CKR_OPERATION_NOT_INITIALIZED)
        << "the wrong length ended the operation";
}

TEST_F(TokenCryptoOverReader, ASpoiltResponseMacLeavesTheCardClosed)
{
    CK_OBJECT_HANDLE key = PrivateKey(session, 1);
    Bytes signature;
    card->SetFault(cardsim::Fault::FlipRmac);
    EXPECT_EQ(Sign(session, CKM_SHA256_RSA_PKCS, key, Text("spoilt"), signature), CKR_DEVICE_ERROR);
    EXPECT_EQ(card->AuthenticatedRoles(), 0u) << "the card reads role 1 again";
    EXPECT_FALSE(card->SessionOpen());
    EXPECT_EQ(Sign(session, CKM_SHA256_RSA_PKCS, key, Text("whole"), signature), CKR_OK);
    PKey pkey = KeyFromDer(CardKeyDer(1, 0));
    EXPECT_TRUE(Verifies(pkey.get(), CKM_SHA256_RSA_PKCS, Text("whole"), signature));
}

TEST_F(TokenCryptoOverReader, ACardPulledOutDuringASignatureIsReportedRemoved)
{
    CK_OBJECT_HANDLE key = PrivateKey(session, 0);
    CK_MECHANISM mechanism = {CKM_SHA256_RSA_PKCS, nullptr, 0};
    ASSERT_EQ(f->C_SignInit(session, &mechanism, key), CKR_OK);
    Bytes data = Text("interrupted"), signature(128);
    CK_ULONG length = signature.size();
    // the card falls silent at the signing command, with the PIN verified and the
    // secure-messaging session open
    cardsim::Card *pulled = card.get();
    reader->Before([pulled](Bytes const &c) {
        if (c.size() > 1 && c[0] == 0xB4 && c[1] == 0x78)
            pulled->SetFault(cardsim::Fault::TruncateNext, 0);
    });
    EXPECT_EQ(f->C_Sign(session, data.data(), data.size(), signature.data(), &length),
              CKR_DEVICE_REMOVED);
    ASSERT_TRUE(WaitToken(false));

    // the next card is a token of its own and signs
    ASSERT_TRUE(Insert(twoKeySizes()));
    CK_SESSION_HANDLE next = Open();
    ASSERT_EQ(Login(next, CKU_USER, UserPin()), CKR_OK);
    ASSERT_EQ(Sign(next, CKM_SHA256_RSA_PKCS, PrivateKey(next, 0), data, signature), CKR_OK);
    PKey pkey = KeyFromDer(CardKeyDer(0, 0));
    EXPECT_TRUE(Verifies(pkey.get(), CKM_SHA256_RSA_PKCS, data, signature));
}
