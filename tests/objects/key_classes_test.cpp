// Key classes: defaults, attribute rules per operation, sensitivity companions,
// Verify per operation, storage exclusions, allowed mechanisms and the public
// key made from a private one.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "objects/p11_key.h"
#include "objects/p11_public_key.h"
#include "objects/p11_rsa_private_key.h"
#include "objects/p11_rsa_public_key.h"
#include "objects/p11_secret_key.h"
#include "objects/p11_template.h"
#include "objects_test_util.h"

using namespace objtest;

namespace
{

unsigned long const COMPONENTS[] = {CKA_MODULUS,    CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT,
                                    CKA_PRIME_1,    CKA_PRIME_2,         CKA_EXPONENT_1,
                                    CKA_EXPONENT_2, CKA_COEFFICIENT};

void fillComponents(CP11RSAPrivateKey &key)
{
    for (unsigned long type : COMPONENTS)
        write(key, type, Bytes(type == CKA_PUBLIC_EXPONENT ? 3 : 64, 0x42), P11_OP_CREATE);
}

// Types held by the attribute set of a stored element.
std::vector<unsigned long> storedTypes(_asn_t *element)
{
    Bytes bytes = serialise(element);
    CP11Template t(nullptr, 0);
    _asn_t *items = CP11Object::Decode(bytes.data(), bytes.size());
    t.Decode(items->data ? ((_asn_t *)items->data)->next : nullptr);
    asn_item_free(items);
    return typesOf(t);
}

bool holds(std::vector<unsigned long> const &types, unsigned long type)
{
    for (unsigned long t : types)
        if (t == type)
            return true;
    return false;
}

} // namespace

TEST(KeyClasses, Defaults)
{
    CP11RSAPrivateKey priv;
    EXPECT_EQ(countOf(priv), 36u);
    EXPECT_EQ(priv.FindLongAttribute(CKA_CLASS), CKO_PRIVATE_KEY);
    EXPECT_EQ(priv.FindLongAttribute(CKA_KEY_TYPE), CKK_RSA);
    EXPECT_EQ(priv.FindLongAttribute(CKA_KEY_GEN_MECHANISM), CK_UNAVAILABLE_INFORMATION);
    CP11RSAPublicKey pub;
    EXPECT_EQ(countOf(pub), 26u);
    EXPECT_EQ(pub.FindLongAttribute(CKA_CLASS), CKO_PUBLIC_KEY);
    EXPECT_EQ(pub.FindByteAttribute(CKA_VERIFY_RECOVER), 1);
    CP11SecretKey secret;
    EXPECT_EQ(countOf(secret), 31u);
    EXPECT_EQ(secret.FindLongAttribute(CKA_CLASS), CKO_SECRET_KEY);
}

TEST(KeyClasses, AttributeRules)
{
    auto pub = [] { return std::unique_ptr<CP11Object>(new CP11RSAPublicKey()); };
    auto priv = [] { return std::unique_ptr<CP11Object>(new CP11RSAPrivateKey()); };
    auto secret = [] { return std::unique_ptr<CP11Object>(new CP11SecretKey()); };
    RuleCase const cases[] = {
        {"public modulus on generate", pub, CKA_MODULUS, Bytes(8, 1), P11_OP_GENERATE,
         CKR_ATTRIBUTE_READ_ONLY},
        {"private modulus on generate", priv, CKA_MODULUS, Bytes(8, 1), P11_OP_GENERATE,
         CKR_ATTRIBUTE_READ_ONLY},
        {"private exponent on set", priv, CKA_PRIVATE_EXPONENT, Bytes(8, 1), P11_OP_SET,
         CKR_ATTRIBUTE_READ_ONLY},
        {"modulus bits on generate", pub, CKA_MODULUS_BITS, ulongBytes(1024), P11_OP_GENERATE, 0},
        {"modulus bits on a private key", priv, CKA_MODULUS_BITS, ulongBytes(1024), P11_OP_CREATE,
         CKR_ATTRIBUTE_TYPE_INVALID},
        {"mechanism list of 12 bytes", pub, CKA_ALLOWED_MECHANISMS, Bytes(12, 0), P11_OP_SET,
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"mechanism list of 16 bytes", priv, CKA_ALLOWED_MECHANISMS, Bytes(16, 0), P11_OP_SET, 0},
        {"key type on set", pub, CKA_KEY_TYPE, ulongBytes(CKK_RSA), P11_OP_SET,
         CKR_ATTRIBUTE_READ_ONLY},
        {"local on generate", priv, CKA_LOCAL, Bytes{1}, P11_OP_GENERATE, CKR_ATTRIBUTE_READ_ONLY},
        {"generation mechanism on create", pub, CKA_KEY_GEN_MECHANISM, ulongBytes(0), P11_OP_CREATE,
         CKR_ATTRIBUTE_READ_ONLY},
        {"derive on copy", priv, CKA_DERIVE, Bytes{1}, P11_OP_COPY, CKR_ATTRIBUTE_READ_ONLY},
        {"encrypt on set", pub, CKA_ENCRYPT, Bytes{0}, P11_OP_SET, CKR_ATTRIBUTE_READ_ONLY},
        {"sign on copy", priv, CKA_SIGN, Bytes{0}, P11_OP_COPY, CKR_ATTRIBUTE_READ_ONLY},
        {"subject on set", priv, CKA_SUBJECT, Bytes{0x30, 0}, P11_OP_SET, 0},
        {"trusted on set", pub, CKA_TRUSTED, Bytes{1}, P11_OP_SET, 0},
        {"id on set", pub, CKA_ID, Bytes{9}, P11_OP_SET, 0},
        {"never extractable on create", priv, CKA_NEVER_EXTRACTABLE, Bytes{0}, P11_OP_CREATE,
         CKR_ATTRIBUTE_READ_ONLY},
        {"always sensitive internally", priv, CKA_ALWAYS_SENSITIVE, Bytes{0}, P11_OP_INTERNAL, 0},
        {"secret value", secret, CKA_VALUE, Bytes(16, 1), P11_OP_CREATE,
         CKR_ATTRIBUTE_TYPE_INVALID},
        {"secret value length", secret, CKA_VALUE_LEN, ulongBytes(16), P11_OP_CREATE,
         CKR_ATTRIBUTE_TYPE_INVALID},
        {"secret check value on set", secret, CKA_CHECK_VALUE, Bytes{1, 2, 3}, P11_OP_SET,
         CKR_ATTRIBUTE_READ_ONLY},
        {"secret verify on generate", secret, CKA_VERIFY, Bytes{1}, P11_OP_GENERATE, 0},
    };
    checkRules(cases);
}

TEST(KeyClasses, TemplatesAreAcceptedButDropped)
{
    CP11RSAPublicKey pub;
    CP11RSAPrivateKey priv;
    EXPECT_EQ(write(pub, CKA_WRAP_TEMPLATE, Bytes(24, 1), P11_OP_CREATE), 0UL);
    EXPECT_EQ(write(priv, CKA_UNWRAP_TEMPLATE, Bytes(24, 1), P11_OP_SET), 0UL);
    EXPECT_TRUE(valueOf(pub, CKA_WRAP_TEMPLATE).empty());
    EXPECT_TRUE(valueOf(priv, CKA_UNWRAP_TEMPLATE).empty());
}

TEST(KeyClasses, ModulusBitsFollowTheModulus)
{
    // from the card at once
    CP11RSAPublicKey card;
    ASSERT_EQ(write(card, CKA_MODULUS, Bytes(256, 0xC1), P11_OP_INTERNAL), 0UL);
    EXPECT_EQ(valueOf(card, CKA_MODULUS_BITS), ulongBytes(2048));
    // the size counts the modulus and its bit count
    CP11RSAPublicKey fresh;
    EXPECT_EQ(card.GetSize(), fresh.GetSize() + 256 + 8);

    // from the caller's modulus once the created key is complete
    struct Case {
        Bytes modulus;
        unsigned long bits;
    } const cases[] = {
        {Bytes(256, 0xC1), 2048},
        {Bytes(128, 0x01), 1017},
        {[] {
             Bytes m(129, 0xFF);
             m[0] = 0; // a sign byte in front
             return m;
         }(),
         1024},
    };
    for (Case const &c : cases) {
        SCOPED_TRACE(c.bits);
        CP11RSAPublicKey created;
        ASSERT_EQ(write(created, CKA_MODULUS, c.modulus, P11_OP_CREATE), 0UL);
        ASSERT_EQ(write(created, CKA_PUBLIC_EXPONENT, Bytes{1, 0, 1}, P11_OP_CREATE), 0UL);
        EXPECT_TRUE(valueOf(created, CKA_MODULUS_BITS).empty());
        ASSERT_EQ(codeOf([&] { created.Verify(P11_OP_CREATE); }), 0UL);
        EXPECT_EQ(valueOf(created, CKA_MODULUS_BITS), ulongBytes(c.bits));
    }
}

TEST(KeyClasses, DatesMayBeFilledInOnceByTheApplication)
{
    CP11RSAPrivateKey key;
    EXPECT_EQ(write(key, CKA_START_DATE, Bytes(8, '2'), P11_OP_SET), 0UL);
    EXPECT_EQ(write(key, CKA_START_DATE, Bytes(8, '3'), P11_OP_SET), CKR_ATTRIBUTE_READ_ONLY);
    EXPECT_EQ(valueOf(key, CKA_START_DATE), Bytes(8, '2'));
    EXPECT_EQ(write(key, CKA_END_DATE, Bytes(6, '2'), P11_OP_SET), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(write(key, CKA_START_DATE, Bytes(8, '3'), P11_OP_INTERNAL), 0UL);
}

TEST(KeyClasses, AllowedMechanisms)
{
    CP11RSAPrivateKey key;
    EXPECT_FALSE(key.IsMechanismAllowed(CKM_RSA_PKCS));
    Bytes list = ulongBytes(CKM_RSA_PKCS);
    Bytes second = ulongBytes(CKM_SHA1_RSA_PKCS);
    list.insert(list.end(), second.begin(), second.end());
    write(key, CKA_ALLOWED_MECHANISMS, list, P11_OP_INTERNAL);
    EXPECT_TRUE(key.IsMechanismAllowed(CKM_SHA1_RSA_PKCS));
    EXPECT_TRUE(key.IsMechanismAllowed(CKM_RSA_PKCS));
    EXPECT_FALSE(key.IsMechanismAllowed(CKM_RSA_PKCS_KEY_PAIR_GEN));
    // part of an entry is no entry
    EXPECT_FALSE(key.IsMechanismAllowed(CKM_SHA1_RSA_PKCS << 8));
}

TEST(KeyClasses, SensitivityCompanions)
{
    for (bool secret : {false, true}) {
        SCOPED_TRACE(secret ? "secret key" : "private key");
        std::unique_ptr<CP11Object> key(secret ? (CP11Object *)new CP11SecretKey()
                                               : (CP11Object *)new CP11RSAPrivateKey());
        ASSERT_EQ(key->FindByteAttribute(CKA_ALWAYS_SENSITIVE), 1);
        key->SetAttribute(CKA_SENSITIVE, (unsigned char)0);
        EXPECT_EQ(key->FindByteAttribute(CKA_ALWAYS_SENSITIVE), 0);
        key->SetAttribute(CKA_SENSITIVE, (unsigned char)1);
        EXPECT_EQ(key->FindByteAttribute(CKA_ALWAYS_SENSITIVE), 0);

        CK_ATTRIBUTE set = {CKA_NEVER_EXTRACTABLE, (void *)"\1", 1};
        key->SetAttribute(&set, P11_OP_INTERNAL);
        key->SetAttribute(CKA_EXTRACTABLE, (unsigned char)0);
        EXPECT_EQ(key->FindByteAttribute(CKA_NEVER_EXTRACTABLE), 1);
        key->SetAttribute(CKA_EXTRACTABLE, (unsigned char)2);
        EXPECT_EQ(key->FindByteAttribute(CKA_NEVER_EXTRACTABLE), 0);
    }
}

TEST(KeyClasses, VerifyPerOperation)
{
    auto created = [] {
        auto key = std::make_unique<CP11RSAPrivateKey>();
        fillComponents(*key);
        return key;
    };
    struct Case {
        char const *name;
        std::function<std::unique_ptr<CP11Object>()> make;
        P11Operation op;
        unsigned long code;
    } const cases[] = {
        {"private key with every component", [&] { return std::unique_ptr<CP11Object>(created()); },
         P11_OP_CREATE, 0},
        {"private key missing a prime",
         [&] {
             auto key = created();
             write(*key, CKA_PRIME_2, {}, P11_OP_CREATE);
             return std::unique_ptr<CP11Object>(std::move(key));
         },
         P11_OP_CREATE, CKR_TEMPLATE_INCONSISTENT},
        {"generated private key holding components",
         [&] { return std::unique_ptr<CP11Object>(created()); }, P11_OP_GENERATE,
         CKR_TEMPLATE_INCONSISTENT},
        {"generated private key without components",
         [] { return std::unique_ptr<CP11Object>(new CP11RSAPrivateKey()); }, P11_OP_GENERATE, 0},
        {"private key not sensitive",
         [&] {
             auto key = created();
             key->SetAttribute(CKA_SENSITIVE, (unsigned char)0);
             return std::unique_ptr<CP11Object>(std::move(key));
         },
         P11_OP_CREATE, CKR_ATTRIBUTE_VALUE_INVALID},
        {"local key from a template",
         [&] {
             auto key = created();
             key->SetAttribute(CKA_LOCAL, (unsigned char)1);
             return std::unique_ptr<CP11Object>(std::move(key));
         },
         P11_OP_CREATE, CKR_ATTRIBUTE_VALUE_INVALID},
        {"generation mechanism already set",
         [&] {
             auto key = created();
             write(*key, CKA_KEY_GEN_MECHANISM, ulongBytes(0), P11_OP_INTERNAL);
             return std::unique_ptr<CP11Object>(std::move(key));
         },
         P11_OP_CREATE, CKR_ATTRIBUTE_VALUE_INVALID},
        {"copy of a generated key, which keeps its generation mechanism",
         [&] {
             auto key = created();
             write(*key, CKA_KEY_GEN_MECHANISM, ulongBytes(0), P11_OP_INTERNAL);
             return std::unique_ptr<CP11Object>(std::move(key));
         },
         P11_OP_COPY, 0},
        {"key without a key type", [] { return std::unique_ptr<CP11Object>(new CP11PublicKey()); },
         P11_OP_COPY, CKR_KEY_TYPE_INCONSISTENT},
        {"generated public key with its size",
         [] {
             auto key = std::make_unique<CP11RSAPublicKey>();
             write(*key, CKA_MODULUS_BITS, ulongBytes(1024), P11_OP_GENERATE);
             return std::unique_ptr<CP11Object>(std::move(key));
         },
         P11_OP_GENERATE, 0},
        {"generated public key with a modulus",
         [] {
             auto key = std::make_unique<CP11RSAPublicKey>();
             write(*key, CKA_MODULUS_BITS, ulongBytes(1024), P11_OP_GENERATE);
             write(*key, CKA_MODULUS, Bytes(128, 1), P11_OP_INTERNAL);
             return std::unique_ptr<CP11Object>(std::move(key));
         },
         P11_OP_GENERATE, CKR_TEMPLATE_INCONSISTENT},
        {"generated public key without a size",
         [] { return std::unique_ptr<CP11Object>(new CP11RSAPublicKey()); }, P11_OP_GENERATE,
         CKR_TEMPLATE_INCONSISTENT},
        {"created public key",
         [] {
             auto key = std::make_unique<CP11RSAPublicKey>();
             write(*key, CKA_MODULUS, Bytes(128, 1), P11_OP_CREATE);
             write(*key, CKA_PUBLIC_EXPONENT, Bytes{3}, P11_OP_CREATE);
             return std::unique_ptr<CP11Object>(std::move(key));
         },
         P11_OP_CREATE, 0},
        {"created public key without exponent",
         [] {
             auto key = std::make_unique<CP11RSAPublicKey>();
             write(*key, CKA_MODULUS, Bytes(128, 1), P11_OP_CREATE);
             return std::unique_ptr<CP11Object>(std::move(key));
         },
         P11_OP_CREATE, CKR_TEMPLATE_INCONSISTENT},
        {"created public key with a size",
         [] {
             auto key = std::make_unique<CP11RSAPublicKey>();
             write(*key, CKA_MODULUS, Bytes(128, 1), P11_OP_CREATE);
             write(*key, CKA_PUBLIC_EXPONENT, Bytes{3}, P11_OP_CREATE);
             write(*key, CKA_MODULUS_BITS, ulongBytes(1024), P11_OP_CREATE);
             return std::unique_ptr<CP11Object>(std::move(key));
         },
         P11_OP_CREATE, CKR_TEMPLATE_INCONSISTENT},
        {"secret key without value length",
         [] { return std::unique_ptr<CP11Object>(new CP11SecretKey()); }, P11_OP_COPY,
         CKR_TEMPLATE_INCONSISTENT},
    };
    for (Case const &c : cases) {
        SCOPED_TRACE(c.name);
        auto key = c.make();
        EXPECT_EQ(codeOf([&] { key->Verify(c.op); }), c.code);
    }

    auto key = created();
    ASSERT_EQ(codeOf([&] { key->Verify(P11_OP_CREATE); }), 0UL);
    EXPECT_EQ(key->FindByteAttribute(CKA_ALWAYS_SENSITIVE), 0);
}

TEST(KeyClasses, TokenKeysLeaveTheirKeyMaterialOutOfTheStorageForm)
{
    for (unsigned char token : {0, 1}) {
        SCOPED_TRACE((int)token);
        CP11RSAPrivateKey priv;
        fillComponents(priv);
        priv.SetAttribute(CKA_TOKEN, token);
        std::vector<unsigned long> stored = storedTypes(priv.Encode());
        for (unsigned long type : COMPONENTS)
            EXPECT_EQ(holds(stored, type), token == 0) << type;
        EXPECT_TRUE(holds(stored, CKA_SENSITIVE));

        CP11RSAPublicKey pub;
        write(pub, CKA_MODULUS, Bytes(64, 1), P11_OP_INTERNAL);
        pub.SetAttribute(CKA_TOKEN, token);
        stored = storedTypes(pub.Encode());
        for (unsigned long type : {CKA_MODULUS, CKA_MODULUS_BITS, CKA_PUBLIC_EXPONENT})
            EXPECT_EQ(holds(stored, type), token == 0) << type;
        EXPECT_TRUE(holds(stored, CKA_VERIFY));
    }
    CP11SecretKey secret;
    CP11PublicKey base;
    EXPECT_EQ(codeOf([&] { secret.Encode(); }), CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(codeOf([&] { base.Encode(); }), CKR_FUNCTION_NOT_SUPPORTED);
}

TEST(KeyClasses, PublicKeyMadeFromAPrivateKey)
{
    CP11RSAPrivateKey priv;
    fillComponents(priv);
    Bytes modulus(256, 0xB7);
    write(priv, CKA_MODULUS, modulus, P11_OP_CREATE);
    priv.SetAttribute(CKA_TOKEN, (unsigned char)1);
    priv.SetAttribute(CKA_PRIVATE, (unsigned char)1);
    priv.SetAttribute(CKA_LABEL, "signing key", (unsigned long)-1);
    write(priv, CKA_ID, Bytes{1, 2, 3}, P11_OP_CREATE);
    write(priv, CKA_ALLOWED_MECHANISMS, ulongBytes(CKM_RSA_PKCS), P11_OP_CREATE);
    priv.SetAttribute(CKA_HIDDEN, (unsigned char)1);
    priv.SetAttribute(CKA_SIGN, (unsigned char)1);
    priv.SetAttribute(CKA_DECRYPT, (unsigned char)0);
    priv.SetAttribute(CKA_UNWRAP, (unsigned char)0);

    std::unique_ptr<CP11RSAPublicKey> pub(priv.MakePublicKey());
    ASSERT_NE(pub, nullptr);
    EXPECT_EQ(pub->FindByteAttribute(CKA_VERIFY), 1);
    EXPECT_EQ(pub->FindByteAttribute(CKA_ENCRYPT), 0);
    EXPECT_EQ(pub->FindByteAttribute(CKA_WRAP), 0);
    EXPECT_EQ(pub->FindByteAttribute(CKA_VERIFY_RECOVER), 1);
    EXPECT_EQ(pub->FindByteAttribute(CKA_TOKEN), 1);
    EXPECT_EQ(pub->FindByteAttribute(CKA_PRIVATE), 0);
    EXPECT_EQ(pub->FindByteAttribute(CKA_HIDDEN), 0);
    EXPECT_STREQ(pub->FindStringAttribute(CKA_LABEL), "signing key");
    EXPECT_EQ(valueOf(*pub, CKA_ID), (Bytes{1, 2, 3}));
    EXPECT_EQ(valueOf(*pub, CKA_MODULUS), modulus);
    EXPECT_EQ(valueOf(*pub, CKA_PUBLIC_EXPONENT), Bytes(3, 0x42));
    EXPECT_EQ(valueOf(*pub, CKA_ALLOWED_MECHANISMS), ulongBytes(CKM_RSA_PKCS));
    // clients show the key size from here
    EXPECT_EQ(pub->FindLongAttribute(CKA_MODULUS_BITS), 2048u);
    EXPECT_EQ(pub->FindLongAttribute(CKA_KEY_GEN_MECHANISM), CK_UNAVAILABLE_INFORMATION);
}

TEST(KeyClasses, Revert)
{
    struct Case {
        char const *in, *out;
    } const cases[] = {
        {"01", "01"}, {"01 02", "02 01"}, {"01 02 03", "03 02 01"}, {"00 01 02 03", "03 02 01 00"}};
    for (Case const &c : cases) {
        Bytes b = hex(c.in);
        CP11Key::revert(b.data(), b.size());
        EXPECT_EQ(toHex(b), c.out);
    }
    CP11Key::revert(nullptr, 4);
}
