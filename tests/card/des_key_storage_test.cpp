// The DES key storage and software provider: named slots, the scrambled form,
// the build's master key, the provider table and the raw-key operations.
#include "card_test_support.h"

#include "card/card_keys.h"
#include "card/qvdes_prov.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace
{

using namespace card_test;

class KeyStorage : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        storage.slotCount = 7;
        storage.slots = slots;
        ASSERT_EQ(QVMD_DESSWProv_InitCryptoProvider(&provider, 0, 0, 0), 0u);
        ASSERT_EQ(QVMD_DESSWProv_InitDESKeyStorage(&provider, &storage), 0u);
    }

    int SlotsNamed(const char *name)
    {
        int n = 0;
        for (const auto &s : slots)
            n += s.inUse != 0 && std::string(s.name) == name;
        return n;
    }

    _qv_md_des_provider provider;
    _qv_md_des_key_slot slots[7];
    _qv_md_des_key_storage storage{};
    const Bytes key16 = Hex("0123456789ABCDEF FEDCBA9876543210");
    const Bytes key24 = Hex("0123456789ABCDEF FEDCBA9876543210 89ABCDEF01234567");
};

// The fixture key file the build generated "MK" from.
Bytes BuildMasterKey()
{
    std::ifstream in(VOK_CARD_MK_FILE);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return Hex(text);
}

TEST_F(KeyStorage, TheBuildsMasterKeyRebuildsTheKeyFileItCameFrom)
{
    Bytes mk = BuildMasterKey();
    ASSERT_EQ(mk.size(), 16u);
    ASSERT_NE(QVDES_DESProv_SetKey(&storage, "MK", QVDES_KEY_TYPE_DES3, QVMD_MK_STORED, 35),
              nullptr);
    unsigned char out[16];
    ASSERT_EQ(QVDES_DESProv_FillKeyByName(&storage, "MK", out, sizeof(out)), 0u);
    EXPECT_EQ(ToHex(out, 16), ToHex(mk));
    // the stored value does not hold the key in the clear, not even half of it
    const unsigned char *end = QVMD_MK_STORED + 35;
    EXPECT_EQ(std::search(QVMD_MK_STORED, end, mk.begin(), mk.begin() + 8), end);
    EXPECT_EQ(std::search(QVMD_MK_STORED, end, mk.begin() + 8, mk.end()), end);
    EXPECT_EQ(QVMD_ISSUER_MODULUS[0] & 0x80, 0x80);
    EXPECT_EQ(ToHex(QVMD_ISSUER_EXPONENT, 3), "01 00 01");
}

TEST_F(KeyStorage, AScrambledSlotEncryptsWithItsRebuiltKey)
{
    QVDES_KEY_HANDLE mk =
        QVDES_DESProv_SetKey(&storage, "MK", QVDES_KEY_TYPE_DES3, QVMD_MK_STORED, 35);
    ASSERT_NE(mk, nullptr);
    EXPECT_EQ(mk->keyLength, 16u);
    EXPECT_EQ(mk->storedLength, 35u);
    EXPECT_EQ(mk->scrambled, 1);
    Bytes viaSlot = Hex("00112233445566778899AABBCCDDEEFF"), raw = viaSlot;
    unsigned long a = viaSlot.size(), b = raw.size();
    const unsigned char iv[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(provider.Crypt3DES_CBC(mk, viaSlot.data(), &a, iv, 8, 1), 0u);
    Bytes plainKey = BuildMasterKey();
    ASSERT_EQ(QVDES_Crypt3DES_CBC(plainKey.data(), 16, raw.data(), &b, iv, 8, 1), 0u);
    EXPECT_EQ(ToHex(viaSlot), ToHex(raw));
    ASSERT_EQ(provider.Crypt3DES_ECB(mk, viaSlot.data(), &a, 0), 0u);
    ASSERT_EQ(QVDES_Crypt3DES_ECB(plainKey.data(), 16, raw.data(), &b, 0), 0u);
    EXPECT_EQ(ToHex(viaSlot), ToHex(raw));
}

TEST_F(KeyStorage, SetReplacesAddKeepsAndGetFindsTheFirst)
{
    QVDES_KEY_HANDLE first =
        QVDES_DESProv_SetKey(&storage, "MK", QVDES_KEY_TYPE_DES3, key16.data(), 16);
    QVDES_DESProv_SetKey(&storage, "MK", QVDES_KEY_TYPE_DES3, key24.data(), 24);
    EXPECT_EQ(SlotsNamed("MK"), 1);
    EXPECT_EQ(QVDES_DESProv_GetKey(&storage, "MK")->storedLength, 24u);

    QVDES_DESProv_RemoveKeyByName(&storage, "MK");
    first = QVDES_DESProv_AddKey(&storage, "SK", QVDES_KEY_TYPE_DES3, key16.data(), 16);
    QVDES_KEY_HANDLE second =
        QVDES_DESProv_AddKey(&storage, "SK", QVDES_KEY_TYPE_DES3, key24.data(), 24);
    EXPECT_EQ(SlotsNamed("SK"), 2);
    EXPECT_EQ(QVDES_DESProv_GetKey(&storage, "SK"), first);
    EXPECT_EQ(QVDES_DESProv_RemoveKey(&storage, first), 0u);
    EXPECT_EQ(QVDES_DESProv_GetKey(&storage, "SK"), second);
    EXPECT_EQ(QVDES_DESProv_GetKey(&storage, "S"), nullptr);
    EXPECT_EQ(QVDES_DESProv_GetKey(&storage, "SKX"), nullptr);
}

TEST_F(KeyStorage, RefusesBadKeysAndAFullStorage)
{
    EXPECT_EQ(QVDES_DESProv_SetKey(&storage, "A", QVDES_KEY_TYPE_DES3, key24.data(), 20), nullptr);
    EXPECT_EQ(QVDES_DESProv_SetKey(&storage, "A", QVDES_KEY_TYPE_DES3, key24.data(), 8), nullptr);
    EXPECT_EQ(QVDES_DESProv_SetKey(&storage, nullptr, QVDES_KEY_TYPE_DES3, key16.data(), 16),
              nullptr);
    EXPECT_EQ(QVDES_DESProv_SetKey(nullptr, "A", QVDES_KEY_TYPE_DES3, key16.data(), 16), nullptr);
    EXPECT_EQ(QVDES_DESProv_AddKey(&storage, "A", QVDES_KEY_TYPE_DES3, nullptr, 16), nullptr);
    for (int i = 0; i < 7; i++)
        ASSERT_NE(QVDES_DESProv_AddKey(&storage, "K", QVDES_KEY_TYPE_DES3, key16.data(), 16),
                  nullptr);
    EXPECT_EQ(QVDES_DESProv_AddKey(&storage, "L", QVDES_KEY_TYPE_DES3, key16.data(), 16), nullptr);
    // setting a full storage's name frees its slots first
    EXPECT_NE(QVDES_DESProv_SetKey(&storage, "K", QVDES_KEY_TYPE_DES3, key16.data(), 16), nullptr);
    EXPECT_EQ(SlotsNamed("K"), 1);
}

TEST_F(KeyStorage, LongNamesAreCutAt63Characters)
{
    std::string longName(70, 'n');
    ASSERT_NE(
        QVDES_DESProv_SetKey(&storage, longName.c_str(), QVDES_KEY_TYPE_DES3, key16.data(), 16),
        nullptr);
    EXPECT_EQ(std::string(slots[0].name), std::string(63, 'n'));
    EXPECT_NE(QVDES_DESProv_GetKey(&storage, longName.c_str()), nullptr);
}

TEST_F(KeyStorage, FillKeyNeedsTheRightRoom)
{
    QVDES_KEY_HANDLE k24 =
        QVDES_DESProv_SetKey(&storage, "A", QVDES_KEY_TYPE_DES3, key24.data(), 24);
    QVDES_KEY_HANDLE mk =
        QVDES_DESProv_SetKey(&storage, "MK", QVDES_KEY_TYPE_DES3, QVMD_MK_STORED, 35);
    unsigned char out[24];
    EXPECT_EQ(QVDES_DESProv_FillKey(k24, out, 16), 0x8010001Fu);
    EXPECT_EQ(QVDES_DESProv_FillKey(k24, out, 24), 0u);
    EXPECT_EQ(ToHex(out, 24), ToHex(key24));
    EXPECT_EQ(QVDES_DESProv_FillKey(mk, out, 15), 0x8010001Fu);
    EXPECT_EQ(QVDES_DESProv_FillKey(mk, out, 24), 0u);
    EXPECT_EQ(QVDES_DESProv_FillKey(nullptr, out, 24), 0x8010001Fu);
    EXPECT_EQ(QVDES_DESProv_FillKey(mk, nullptr, 24), 0x8010001Fu);
    EXPECT_EQ(QVDES_DESProv_FillKeyByName(&storage, "B", out, 24), 0x8010001Fu);
}

TEST_F(KeyStorage, ClosingWipesEverySlotAndTheTable)
{
    QVDES_DESProv_SetKey(&storage, "MK", QVDES_KEY_TYPE_DES3, QVMD_MK_STORED, 35);
    QVDES_DESProv_SetKey(&storage, "A", QVDES_KEY_TYPE_DES3, key24.data(), 24);
    EXPECT_EQ(QVMD_DESSWProv_CloseDESKeyStorage(&provider, &storage), 0u);
    EXPECT_TRUE(std::all_of(reinterpret_cast<unsigned char *>(slots),
                            reinterpret_cast<unsigned char *>(slots + 7),
                            [](unsigned char b) { return b == 0; }));
    EXPECT_EQ(QVMD_DESSWProv_CloseCryptoProvider(&provider), 0u);
    EXPECT_EQ(provider.SetKey, nullptr);
    EXPECT_EQ(QVMD_DESSWProv_InitCryptoProvider(nullptr, 0, 0, 0), 0x80100011u);
    EXPECT_EQ(QVMD_DESSWProv_InitDESKeyStorage(&provider, nullptr), 0x80100011u);
}

TEST_F(KeyStorage, ProviderTableCarriesTheOperationsInOrder)
{
    EXPECT_EQ(provider.SetKey, QVDES_DESProv_SetKey);
    EXPECT_EQ(provider.FillKey, QVDES_DESProv_FillKey);
    EXPECT_EQ(provider.FillKeyByName, QVDES_DESProv_FillKeyByName);
    EXPECT_EQ(provider.AddKey, QVDES_DESProv_AddKey);
    EXPECT_EQ(provider.GetKey, QVDES_DESProv_GetKey);
    EXPECT_EQ(provider.RemoveKey, QVDES_DESProv_RemoveKey);
    EXPECT_EQ(provider.RemoveKeyByName, QVDES_DESProv_RemoveKeyByName);
    EXPECT_EQ(provider.Crypt3DES_ECB, QVDES_DESProv_Crypt3DES_ECB);
    EXPECT_EQ(provider.Crypt3DES_CBC, QVDES_DESProv_Crypt3DES_CBC);
    // single DES over a slot is never offered
    QVDES_KEY_HANDLE k = QVDES_DESProv_SetKey(&storage, "A", QVDES_KEY_TYPE_DES3, key16.data(), 16);
    Bytes data(8, 0);
    unsigned long length = 8;
    const unsigned char iv[8] = {};
    EXPECT_EQ(provider.CryptDES_ECB(k, data.data(), &length, 1), 0x8010001Fu);
    EXPECT_EQ(provider.CryptDES_CBC(k, data.data(), &length, iv, 8, 1), 0x8010001Fu);
    EXPECT_EQ(provider.Crypt3DES_ECB(nullptr, data.data(), &length, 1), 0x8010001Fu);
}

TEST(RawKeyCiphers, CheckKeyAndDataLengths)
{
    struct Row {
        const char *name;
        uint32_t (*ecb)(const unsigned char *, unsigned long, unsigned char *, unsigned long *,
                        int);
        unsigned long keyLength, dataLength;
        uint32_t result;
    } rows[] = {
        {"3DES 16-byte key", QVDES_Crypt3DES_ECB, 16, 16, 0},
        {"3DES 24-byte key", QVDES_Crypt3DES_ECB, 24, 16, 0},
        {"3DES 8-byte key", QVDES_Crypt3DES_ECB, 8, 16, 0x8010001F},
        {"3DES 12 bytes of data", QVDES_Crypt3DES_ECB, 16, 12, 0x80100011},
        {"3DES no data", QVDES_Crypt3DES_ECB, 16, 0, 0},
        {"DES 8-byte key", QVDES_CryptDES_ECB, 8, 8, 0},
        {"DES 16-byte key", QVDES_CryptDES_ECB, 16, 8, 0x8010001F},
        {"DES 9 bytes of data", QVDES_CryptDES_ECB, 8, 9, 0x80100011},
    };
    Bytes key(24, 0x5C), data(16, 0);
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        unsigned long length = r.dataLength;
        EXPECT_EQ(r.ecb(key.data(), r.keyLength, data.data(), &length, 1), r.result);
    }
}

TEST(RawKeyCiphers, SixteenByteKeysAreK1K2K1AndCbcStartsFromTheIv)
{
    Bytes k1k2 = Hex("0123456789ABCDEF FEDCBA9876543210");
    Bytes k1k2k1 = Concat(k1k2, Hex("0123456789ABCDEF"));
    Bytes a = Hex("5468652071756663 6B2062726F776E20"), b = a, c = a;
    unsigned long la = 16, lb = 16, lc = 16;
    ASSERT_EQ(QVDES_Crypt3DES_ECB(k1k2.data(), 16, a.data(), &la, 1), 0u);
    ASSERT_EQ(QVDES_Crypt3DES_ECB(k1k2k1.data(), 24, b.data(), &lb, 1), 0u);
    EXPECT_EQ(ToHex(a), ToHex(b));

    const unsigned char iv[8] = {9, 8, 7, 6, 5, 4, 3, 2};
    Bytes first = c;
    ASSERT_EQ(QVDES_Crypt3DES_CBC(k1k2.data(), 16, first.data(), &lc, iv, 8, 1), 0u);
    Bytes second = c;
    ASSERT_EQ(QVDES_Crypt3DES_CBC(k1k2.data(), 16, second.data(), &lc, iv, 8, 1), 0u);
    EXPECT_EQ(ToHex(first), ToHex(second)); // no chaining value carried over
    ASSERT_EQ(QVDES_Crypt3DES_CBC(k1k2.data(), 16, second.data(), &lc, iv, 8, 0), 0u);
    EXPECT_EQ(ToHex(second), ToHex(c));
    ASSERT_EQ(QVDES_CryptDES_CBC(k1k2.data(), 8, second.data(), &lc, iv, 8, 1), 0u);
    ASSERT_EQ(QVDES_CryptDES_CBC(k1k2.data(), 8, second.data(), &lc, iv, 8, 0), 0u);
    EXPECT_EQ(ToHex(second), ToHex(c));
}

} // namespace
