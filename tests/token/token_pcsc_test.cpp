// The identity-card token end to end over the real pcscd: the shipped module loaded
// as applications load it, and a simulated card in the first virtual reader that the
// test shapes directly (another application's change, a damaged file).
#include <dlfcn.h>

#include <chrono>
#include <cstring>
#include <map>
#include <set>
#include <thread>
#include <tuple>

#include <winscard.h>

#include "pcsc_helpers.h"
#include "token_sim_support.h"
#include "vpcd_card.h"

using namespace token_test;

namespace
{

std::string const LINK_READER = vpcd::NameOfReader(0);

class TokenOverPcscd : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        static CK_FUNCTION_LIST_PTR list = nullptr;
        if (list == nullptr) {
            void *module = dlopen(VOK_MODULE, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
            ASSERT_NE(module, nullptr) << dlerror();
            auto get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"));
            ASSERT_NE(get, nullptr);
            ASSERT_EQ(get(&list), CKR_OK);
        }
        f = list;
        ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &m_ctx),
                  SCARD_S_SUCCESS);
        ASSERT_TRUE(WaitCardState(m_ctx, LINK_READER, false)); // an earlier card may be leaving
        ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
    }
    void TearDown() override
    {
        if (f != nullptr)
            f->C_Finalize(nullptr);
        if (m_link) {
            m_link->Remove();
            WaitCardState(m_ctx, LINK_READER, false);
        }
        SCardReleaseContext(m_ctx);
    }

    // Puts a card personalised so (and shaped by spoil) into the reader.
    void Insert(cardsim::Personalisation const &p,
                std::function<void(cardsim::Card &)> spoil = nullptr)
    {
        cardsim::CardState state;
        std::string error;
        ASSERT_TRUE(cardsim::Personalise(p, state, &error, &certificates)) << error;
        card.reset(new cardsim::Card(state));
        if (spoil)
            spoil(*card);
        m_link.reset(new vpcd::VirtualCard(*card, vpcd::PortOfReader(0)));
        ASSERT_TRUE(m_link->Insert());
    }
    void Remove() { m_link->Remove(); }

    // The slot of the first virtual reader.
    CK_SLOT_ID Slot()
    {
        CK_SLOT_ID slots[8];
        CK_ULONG count = 8;
        EXPECT_EQ(f->C_GetSlotList(CK_FALSE, slots, &count), CKR_OK);
        for (CK_ULONG i = 0; i < count; ++i) {
            CK_SLOT_INFO info;
            if (f->C_GetSlotInfo(slots[i], &info) == CKR_OK &&
                std::string((char *)info.slotDescription, LINK_READER.size()) == LINK_READER)
                return slots[i];
        }
        ADD_FAILURE() << "no slot for " << LINK_READER;
        return ~0UL;
    }
    // Waits until the slot has a token, or none.
    bool WaitToken(CK_SLOT_ID slot, bool present)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            CK_SLOT_INFO info;
            if (f->C_GetSlotInfo(slot, &info) == CKR_OK &&
                ((info.flags & CKF_TOKEN_PRESENT) != 0) == present)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    std::vector<CK_OBJECT_HANDLE> Find(CK_SESSION_HANDLE s, std::vector<CK_ATTRIBUTE> templ = {})
    {
        EXPECT_EQ(f->C_FindObjectsInit(s, templ.empty() ? nullptr : templ.data(), templ.size()),
                  CKR_OK);
        std::vector<CK_OBJECT_HANDLE> found(64);
        CK_ULONG n = 0;
        EXPECT_EQ(f->C_FindObjects(s, found.data(), found.size(), &n), CKR_OK);
        EXPECT_EQ(f->C_FindObjectsFinal(s), CKR_OK);
        found.resize(n);
        return found;
    }
    Bytes Attribute(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE o, CK_ATTRIBUTE_TYPE type)
    {
        CK_ATTRIBUTE a = {type, nullptr, 0};
        EXPECT_EQ(f->C_GetAttributeValue(s, o, &a, 1), CKR_OK) << type;
        Bytes value(a.ulValueLen == CK_UNAVAILABLE_INFORMATION ? 0 : a.ulValueLen);
        a.pValue = value.data();
        EXPECT_EQ(f->C_GetAttributeValue(s, o, &a, 1), CKR_OK) << type;
        return value;
    }
    std::string Text(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE o, CK_ATTRIBUTE_TYPE type)
    {
        Bytes b = Attribute(s, o, type);
        return std::string(b.begin(), b.end());
    }
    CK_ULONG Class(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE o)
    {
        Bytes b = Attribute(s, o, CKA_CLASS);
        CK_ULONG c = ~0UL;
        if (b.size() == sizeof(c))
            std::memcpy(&c, b.data(), sizeof(c));
        return c;
    }
    // What a session finds: (class, label, CKA_ID or a data object's value) of
    // every object.
    std::multiset<std::tuple<CK_ULONG, std::string, Bytes>> Contents(CK_SESSION_HANDLE s)
    {
        std::multiset<std::tuple<CK_ULONG, std::string, Bytes>> out;
        for (CK_OBJECT_HANDLE o : Find(s)) {
            CK_ULONG cls = Class(s, o);
            out.emplace(cls, Text(s, o, CKA_LABEL),
                        Attribute(s, o, cls == CKO_DATA ? CKA_VALUE : CKA_ID));
        }
        return out;
    }

    CK_FUNCTION_LIST_PTR f = nullptr;
    std::vector<Bytes> certificates;
    std::unique_ptr<cardsim::Card> card;

  private:
    SCARDCONTEXT m_ctx = 0;
    std::unique_ptr<vpcd::VirtualCard> m_link;
};

cardsim::ContainerSpec Container(std::string const &name, int signatureBits, int exchangeBits)
{
    cardsim::ContainerSpec c;
    c.name = name;
    c.keys[0].bits = signatureBits;
    c.keys[1].bits = exchangeBits;
    return c;
}

} // namespace

TEST_F(TokenOverPcscd, TheCardIsATokenWithItsObjectsUntilItIsRemoved)
{
    cardsim::Personalisation p;
    p.containers = {Container("both keys", 1024, 1024), Container("exchange", 0, 1024),
                    Container("public only", 0, 1024), Container("expired", 1024, 1024)};
    p.containers[2].keys[1].publicOnly = true;
    p.containers[3].keys[0].expired = p.containers[3].keys[1].expired = true;
    // the certificate files of 00 hold those of 03's keys, those of 01 those of 02's
    p.certificatesReversed = true;
    p.files = {QvP11File("data00", EncodedDataObject("public data", {1, 2}, false)),
               QvP11File("data01", EncodedDataObject("private data", {3}, true), true)};
    CK_SLOT_ID slot = Slot();
    ASSERT_TRUE(WaitToken(slot, false));
    Insert(p);
    ASSERT_TRUE(WaitToken(slot, true)) << "the token appears on insertion";

    CK_TOKEN_INFO info;
    ASSERT_EQ(f->C_GetTokenInfo(slot, &info), CKR_OK);
    EXPECT_EQ(std::string((char *)info.label, 7), "vOK RAL");
    EXPECT_EQ(std::string((char *)info.serialNumber, 16), "1122334455667788");
    EXPECT_EQ(info.flags, (CK_FLAGS)(CKF_RNG | CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED |
                                     CKF_USER_PIN_INITIALIZED));
    CK_ULONG count = 0;
    ASSERT_EQ(f->C_GetMechanismList(slot, nullptr, &count), CKR_OK);
    EXPECT_EQ(count, 14u);
    CK_MECHANISM_INFO mechanism;
    ASSERT_EQ(f->C_GetMechanismInfo(slot, CKM_RSA_PKCS, &mechanism), CKR_OK);
    EXPECT_EQ(mechanism.flags,
              (CK_FLAGS)(CKF_HW | CKF_ENCRYPT | CKF_DECRYPT | CKF_SIGN | CKF_VERIFY));

    CK_SESSION_HANDLE s = 0;
    ASSERT_EQ(f->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &s), CKR_OK);
    std::set<std::string> names = {"both keys", "exchange", "public only", "expired"};
    std::set<Bytes> ders(certificates.begin(), certificates.end());
    std::map<Bytes, Bytes> keyModulusById;
    size_t certificateCount = 0, dataCount = 0;
    for (CK_OBJECT_HANDLE o : Find(s)) {
        SCOPED_TRACE(o);
        EXPECT_EQ(Attribute(s, o, CKA_TOKEN), Bytes{CK_TRUE});
        EXPECT_EQ(Attribute(s, o, CKA_PRIVATE), Bytes{CK_FALSE});
        switch (Class(s, o)) {
        case CKO_CERTIFICATE:
            ++certificateCount;
            EXPECT_EQ(names.count(Text(s, o, CKA_LABEL)), 1u);
            EXPECT_EQ(ders.count(Attribute(s, o, CKA_VALUE)), 1u) << "the card's DER as it was";
            break;
        case CKO_PUBLIC_KEY:
            EXPECT_EQ(names.count(Text(s, o, CKA_LABEL)), 1u);
            keyModulusById[Attribute(s, o, CKA_ID)] = Attribute(s, o, CKA_MODULUS);
            EXPECT_EQ(Attribute(s, o, CKA_ID), Sha1(Attribute(s, o, CKA_MODULUS)));
            break;
        case CKO_DATA:
            ++dataCount;
            EXPECT_EQ(Text(s, o, CKA_LABEL), "public data");
            break;
        default:
            ADD_FAILURE() << "an object of class " << Class(s, o);
        }
    }
    EXPECT_EQ(certificateCount, 6u);
    EXPECT_EQ(keyModulusById.size(), 6u);
    EXPECT_EQ(dataCount, 1u) << "the private data object waits for a login";
    // every certificate finds its key by CKA_ID, whichever container holds it
    CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
    for (CK_OBJECT_HANDLE c : Find(s, {{CKA_CLASS, &cls, sizeof(cls)}})) {
        Bytes modulus = CertificateView(Attribute(s, c, CKA_VALUE)).modulus;
        EXPECT_EQ(keyModulusById[Attribute(s, c, CKA_ID)], modulus);
    }

    // a session opened later finds the same objects
    auto contents = Contents(s);
    ASSERT_EQ(f->C_CloseSession(s), CKR_OK);
    ASSERT_EQ(f->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &s), CKR_OK);
    EXPECT_EQ(Contents(s), contents);

    // another application rewrites the data object: the objects are those of the
    // first session until every session has closed
    card->PutFile("qv_p11", "data00",
                  cardsim::StoredPacked(EncodedDataObject("rewritten", {9}, false), 0x3D));
    card->BumpCounters(4);
    CK_OBJECT_CLASS data = CKO_DATA;
    std::vector<CK_OBJECT_HANDLE> found = Find(s, {{CKA_CLASS, &data, sizeof(data)}});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(Text(s, found[0], CKA_LABEL), "public data");
    ASSERT_EQ(f->C_CloseAllSessions(slot), CKR_OK);
    ASSERT_EQ(f->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &s), CKR_OK);
    found = Find(s, {{CKA_CLASS, &data, sizeof(data)}});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(Text(s, found[0], CKA_LABEL), "rewritten");

    Remove();
    ASSERT_TRUE(WaitToken(slot, false)) << "the token goes on removal";
    EXPECT_EQ(f->C_GetTokenInfo(slot, &info), CKR_TOKEN_NOT_PRESENT);
    EXPECT_NE(f->C_FindObjectsInit(s, nullptr, 0), CKR_OK);
}

TEST_F(TokenOverPcscd, ADamagedCertificateFileCostsOnlyItsContainer)
{
    cardsim::Personalisation p;
    p.containers = {Container("first", 1024, 1024), Container("second", 1024, 1024)};
    CK_SLOT_ID slot = Slot();
    Insert(p, [](cardsim::Card &c) { ASSERT_TRUE(c.CorruptFile("mscp", "kxc00")); });
    ASSERT_TRUE(WaitToken(slot, true));
    CK_SESSION_HANDLE s = 0;
    ASSERT_EQ(f->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &s), CKR_OK);
    std::multiset<std::tuple<CK_ULONG, std::string, Bytes>> shown = Contents(s);
    // the exchange container of "first" is skipped, its signature twin stays
    std::multiset<std::pair<CK_ULONG, std::string>> expected = {
        {CKO_CERTIFICATE, "first"}, {CKO_PUBLIC_KEY, "first"},   {CKO_CERTIFICATE, "second"},
        {CKO_PUBLIC_KEY, "second"}, {CKO_CERTIFICATE, "second"}, {CKO_PUBLIC_KEY, "second"}};
    std::multiset<std::pair<CK_ULONG, std::string>> got;
    for (auto const &t : shown)
        got.emplace(std::get<0>(t), std::get<1>(t));
    EXPECT_EQ(got, expected);
    Bytes signatureId = Sha1(CertificateView(certificates[0]).modulus);
    CK_OBJECT_CLASS key = CKO_PUBLIC_KEY;
    EXPECT_EQ(
        Find(s, {{CKA_CLASS, &key, sizeof(key)}, {CKA_ID, signatureId.data(), signatureId.size()}})
            .size(),
        1u);
}
