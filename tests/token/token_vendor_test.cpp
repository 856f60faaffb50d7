// The identity-card token's vendor attributes in process against the simulated
// card: the card's ATR and application identifier, the PIN and PUK counters, the
// use of the key containers by key size and an object's container name, on
// handle 0 and on object handles, with the PKCS#11 length rules.
#include "token_sim_support.h"

#include <cstdint>
#include <cstring>

#include "card/qvmd.h"
#include "objects/p11_container.h"

using namespace token_test;

namespace
{

Bytes u64s(std::vector<uint64_t> const &values)
{
    Bytes out;
    for (uint64_t v : values) {
        unsigned char const *p = reinterpret_cast<unsigned char const *>(&v);
        out.insert(out.end(), p, p + sizeof(v));
    }
    return out;
}

// A card with one container of two 2048-bit keys and a public data object.
cardsim::Personalisation card()
{
    cardsim::Personalisation p;
    p.withContainer = true;
    p.files = {QvP11File("data00", EncodedDataObject("data", {1}, false))};
    return p;
}

CK_OBJECT_HANDLE firstOf(SimToken &sim, CK_SESSION_HANDLE h, CK_OBJECT_CLASS cls)
{
    std::vector<CK_OBJECT_HANDLE> found = sim.Find(h, {{CKA_CLASS, &cls, sizeof(cls)}});
    return found.empty() ? CK_INVALID_HANDLE : found[0];
}

} // namespace

TEST(TokenVendorAttributes, TheTokensOwnOnHandleZeroAndOnAnyObject)
{
    SimToken sim(card());
    ASSERT_TRUE(sim.Insert());
    ASSERT_TRUE(sim.card->SetPinTries(0, 2));
    CK_SESSION_HANDLE h = sim.Open();
    CK_OBJECT_HANDLE certificate = firstOf(sim, h, CKO_CERTIFICATE);
    ASSERT_NE(certificate, CK_INVALID_HANDLE);

    Bytes usage = sim.Attribute(h, 0, CKA_CONTAINERS_USAGE);
    _qv_md_info_struct const *info = sim.token->GetCard()->info;
    std::vector<uint64_t> expected;
    for (uint32_t i = 0; i < info->keySizeCount; ++i) {
        uint64_t bits = info->keySizes[i].bits, used = bits == 2048 ? 1 : 0;
        expected.insert(expected.end(), {bits, used, info->keySizes[i].count - used});
    }
    EXPECT_GE(info->keySizeCount, 2u);
    EXPECT_EQ(usage, u64s(expected)) << "the container counts once for its two keys";

    struct Row {
        char const *what;
        CK_ATTRIBUTE_TYPE type;
        Bytes value; // checked for its first bytes only where longer
    };
    Row const rows[] = {
        {"the ATR", CKA_CARD_ATR, cardsim::DefaultAtr()},
        {"the application identifier", CKA_CARD_AID, Hex("A0 00 00 00 28 80 10 37 01 01")},
        {"the user PIN: limit, tries left", CKA_USER_PIN_INFO, u64s({3, 2})},
        {"the PUK: limit, tries left", CKA_SO_PIN_INFO, u64s({5, 5})},
        {"the containers' usage", CKA_CONTAINERS_USAGE, usage},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        for (CK_OBJECT_HANDLE object : {(CK_OBJECT_HANDLE)0, certificate}) {
            Bytes value = sim.Attribute(h, object, row.type);
            ASSERT_GE(value.size(), row.value.size());
            EXPECT_EQ(Bytes(value.begin(), value.begin() + row.value.size()), row.value);
            if (row.type == CKA_USER_PIN_INFO || row.type == CKA_SO_PIN_INFO) {
                EXPECT_EQ(value.size(), 24u) << "and the status byte";
            }
        }
    }
}

TEST(TokenVendorAttributes, TheContainerNameAndTheRefusals)
{
    SimToken sim(card());
    ASSERT_TRUE(sim.Insert());
    CK_SESSION_HANDLE h = sim.Open();
    CK_OBJECT_HANDLE certificate = firstOf(sim, h, CKO_CERTIFICATE);
    CK_OBJECT_HANDLE data = firstOf(sim, h, CKO_DATA);
    EXPECT_EQ(sim.Text(h, certificate, CKA_OBJECT_CONTAINER_NAME), "cardsim-container-00");

    struct Row {
        char const *what;
        CK_OBJECT_HANDLE object;
        CK_ATTRIBUTE_TYPE type;
        CK_RV rv;
    };
    Row const rows[] = {
        {"a container name without an object", 0, CKA_OBJECT_CONTAINER_NAME,
         CKR_OBJECT_HANDLE_INVALID},
        {"a container name of a data object", data, CKA_OBJECT_CONTAINER_NAME,
         CKR_OBJECT_HANDLE_INVALID},
        {"a vendor type past the token's", 0, 0x80001006UL, CKR_ATTRIBUTE_TYPE_INVALID},
        {"an object's vendor type", certificate, CKA_CONTAINER_ID, CKR_ATTRIBUTE_TYPE_INVALID},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        CK_ATTRIBUTE a = {row.type, nullptr, 0};
        EXPECT_EQ(Rv([&] { sim.token->GetAttributeValue(h, row.object, &a, 1); }), row.rv);
        EXPECT_EQ(a.ulValueLen, CK_UNAVAILABLE_INFORMATION);
    }

    // lengths first, then the values; a buffer too small fails its entry only
    CK_ATTRIBUTE lengths[] = {
        {CKA_USER_PIN_INFO, nullptr, 0}, {CKA_SO_PIN_INFO, nullptr, 0}, {CKA_CARD_AID, nullptr, 0}};
    sim.token->GetAttributeValue(h, 0, lengths, 3);
    EXPECT_EQ(lengths[0].ulValueLen, 24u);
    EXPECT_EQ(lengths[1].ulValueLen, 24u);
    EXPECT_EQ(lengths[2].ulValueLen, 10u);
    unsigned char user[24], so[23], aid[10];
    CK_ATTRIBUTE values[] = {{CKA_USER_PIN_INFO, user, sizeof(user)},
                             {CKA_SO_PIN_INFO, so, sizeof(so)},
                             {CKA_CARD_AID, aid, sizeof(aid)}};
    EXPECT_EQ(Rv([&] { sim.token->GetAttributeValue(h, 0, values, 3); }), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(values[0].ulValueLen, 24u);
    EXPECT_EQ(values[1].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(values[2].ulValueLen, 10u);

    // handle 0 takes vendor types only, and writes nothing otherwise
    CK_ATTRIBUTE mixed[] = {{CKA_CARD_AID, aid, sizeof(aid)}, {CKA_LABEL, nullptr, 0}};
    std::memset(aid, 0xEE, sizeof(aid));
    EXPECT_EQ(Rv([&] { sim.token->GetAttributeValue(h, 0, mixed, 2); }), CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(aid[0], 0xEE);
    EXPECT_EQ(mixed[0].ulValueLen, sizeof(aid));

    // a card that has gone
    sim.channel->present = false;
    CK_ATTRIBUTE pin = {CKA_USER_PIN_INFO, nullptr, 0};
    EXPECT_EQ(Rv([&] { sim.token->GetAttributeValue(h, 0, &pin, 1); }), CKR_DEVICE_REMOVED);
}
