// The identity-card token end to end over the real pcscd: the shipped module loaded
// as applications load it, and a simulated card in the first virtual reader that the
// test shapes directly (another application's change, a damaged file).
#include <map>
#include <set>
#include <tuple>

#include "token_pcsc_support.h"

using namespace token_test;

namespace
{

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
