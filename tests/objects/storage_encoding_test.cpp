// Storage form of objects and templates: the exact octets, round trips of every
// storable class, mechanism lists, CK_ULONG values, and refusal of malformed input.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "asn1/asn_der.h"
#include "base/p11_convert.h"
#include "base/p11_exception.h"
#include "objects/p11_data_object.h"
#include "objects/p11_rsa_private_key.h"
#include "objects/p11_rsa_public_key.h"
#include "objects/p11_template.h"
#include "objects/p11_x509_certificate.h"
#include "objects_test_util.h"

using namespace objtest;

namespace
{

void setText(CP11Object &o, unsigned long type, std::string const &s)
{
    o.SetAttribute(type, s.c_str(), (unsigned long)-1);
}

// Element octets decoded into the object.
void decodeInto(CP11Object &o, Bytes bytes)
{
    o.Decode(CP11Object::Decode(bytes.data(), bytes.size()), true);
}

Bytes mechanisms(std::vector<unsigned long> const &list)
{
    Bytes out;
    for (unsigned long m : list) {
        Bytes b = ulongBytes(m);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

Bytes const NAME = hex("30 0D 31 0B 30 09 06 03 55 04 03 0C 02 41 42");
Bytes const MODULUS(128, 0xC5);

} // namespace

TEST(StorageEncoding, WorkedExampleIsExactAndReadsBack)
{
    CP11DataObject object;
    object.SetAttribute(CKA_TOKEN, (unsigned char)1);
    setText(object, CKA_LABEL, "abc");
    unsigned long types[] = {CKA_TOKEN, CKA_LABEL};
    Bytes expected =
        hex("A0 17 01 01 FF 31 12 30 06 02 01 01 01 01 FF 30 08 02 01 03 04 03 61 62 63");
    ASSERT_EQ(toHex(serialise(object.Encode(types, 2, nullptr, 0))), toHex(expected));

    CP11DataObject fresh;
    fresh.SetAttribute(CKA_HIDDEN, (unsigned char)1);
    decodeInto(fresh, expected);
    EXPECT_EQ(fresh.FindByteAttribute(CKA_TOKEN), 1);
    EXPECT_STREQ(fresh.FindStringAttribute(CKA_LABEL), "abc");
    EXPECT_EQ(fresh.FindByteAttribute(CKA_HIDDEN), 0);
}

TEST(StorageEncoding, VisibleFlagAndNeverStoredTypes)
{
    CP11DataObject object;
    object.SetAttribute(CKA_HIDDEN, (unsigned char)1);
    set(object, CKA_USER_ID, hex("01 02"));
    object.SetAttribute(CKA_USER_FLAGS, 5UL);
    Bytes all = serialise(object.EncodeEx(nullptr, 0));
    // Hidden is the flag 00; CLASS, HIDDEN, USER_ID and USER_FLAGS never appear as
    // pairs: the set starts with CKA_TOKEN.
    EXPECT_EQ(toHex(Bytes(all.begin() + 2, all.begin() + 6)), "01 01 00 31");
    EXPECT_EQ(toHex(Bytes(all.begin() + 7, all.begin() + 12)), "30 06 02 01 01");

    // An element with the flag only changes nothing else.
    CP11DataObject target;
    setText(target, CKA_LABEL, "keep");
    decodeInto(target, hex("A0 03 01 01 00"));
    EXPECT_EQ(target.FindByteAttribute(CKA_HIDDEN), 1);
    EXPECT_STREQ(target.FindStringAttribute(CKA_LABEL), "keep");
}

TEST(StorageEncoding, UlongValuesUseTheLow32BitsAndNotSetReadsBackWhole)
{
    struct Case {
        unsigned long value;
        char const *stored;
    } const cases[] = {
        {0, "02 01 00"},
        {0x80, "02 02 00 80"},
        {0x102, "02 02 01 02"},
        {0x40000600, "02 04 40 00 06 00"},
        {0x80000001, "02 04 80 00 00 01"},
        {CK_UNAVAILABLE_INFORMATION, "02 01 FF"},
    };
    for (Case const &c : cases) {
        SCOPED_TRACE(c.stored);
        CP11RSAPublicKey key;
        CK_ATTRIBUTE a = {CKA_KEY_GEN_MECHANISM, (void *)&c.value, sizeof(c.value)};
        key.SetAttribute(&a, P11_OP_INTERNAL);
        unsigned long types[] = {CKA_KEY_GEN_MECHANISM};
        Bytes element = serialise(key.Encode(types, 1, nullptr, 0));
        Bytes value(element.begin() + 13, element.end());
        EXPECT_EQ(toHex(value), c.stored);

        CP11RSAPublicKey fresh;
        unsigned long other = 7;
        CK_ATTRIBUTE b = {CKA_KEY_GEN_MECHANISM, &other, sizeof(other)};
        fresh.SetAttribute(&b, P11_OP_INTERNAL);
        decodeInto(fresh, element);
        EXPECT_EQ(fresh.FindLongAttribute(CKA_KEY_GEN_MECHANISM), c.value);
    }
}

TEST(StorageEncoding, NotSetGenerationMechanismSurvivesACardRoundTripAndVerify)
{
    // A card key read back must still pass the copy check on its unset mechanism.
    CP11RSAPublicKey key;
    key.SetAttribute(CKA_TOKEN, (unsigned char)1);
    set(key, CKA_MODULUS, MODULUS, P11_OP_INTERNAL);
    set(key, CKA_PUBLIC_EXPONENT, hex("01 00 01"));
    CP11RSAPublicKey loaded;
    set(loaded, CKA_MODULUS, MODULUS, P11_OP_INTERNAL);
    set(loaded, CKA_PUBLIC_EXPONENT, hex("01 00 01"));
    decodeInto(loaded, serialise(key.Encode()));
    EXPECT_EQ(loaded.FindLongAttribute(CKA_KEY_GEN_MECHANISM), CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(codeOf([&] { loaded.Verify(P11_OP_COPY); }), 0UL);
}

TEST(StorageEncoding, MechanismListsKeepTheStoredOrder)
{
    CP11RSAPublicKey key;
    set(key, CKA_ALLOWED_MECHANISMS, mechanisms({0x1, 0x40, 0x6, 0x220}));
    unsigned long types[] = {CKA_ALLOWED_MECHANISMS};
    Bytes element = serialise(key.Encode(types, 1, nullptr, 0));
    EXPECT_EQ(toHex(Bytes(element.begin() + 15, element.end())),
              "31 0D 02 01 01 02 02 02 20 02 01 06 02 01 40");

    CP11RSAPublicKey fresh;
    decodeInto(fresh, element);
    EXPECT_EQ(valueOf(fresh, CKA_ALLOWED_MECHANISMS), mechanisms({0x1, 0x220, 0x6, 0x40}));
}

TEST(StorageEncoding, EmptyMechanismListIsAnEmptySet)
{
    CP11RSAPublicKey key;
    unsigned long types[] = {CKA_ALLOWED_MECHANISMS};
    Bytes element = serialise(key.Encode(types, 1, nullptr, 0));
    EXPECT_EQ(toHex(element), "A2 0F 01 01 FF 31 0A 30 08 02 04 40 00 06 00 31 00");

    CP11RSAPublicKey fresh;
    set(fresh, CKA_ALLOWED_MECHANISMS, mechanisms({0x1}));
    decodeInto(fresh, element);
    EXPECT_TRUE(valueOf(fresh, CKA_ALLOWED_MECHANISMS).empty());

    CP11Template t(nullptr, 0);
    _asn_t *set = asn_read(element.data() + 5, (uint32_t)element.size() - 5, nullptr);
    t.Decode(set);
    asn_item_free(set);
    ASSERT_NE(t.findAttribute(CKA_ALLOWED_MECHANISMS), nullptr);
    EXPECT_EQ(t.findAttribute(CKA_ALLOWED_MECHANISMS)->GetSize(), 0u);
}

// Every storable class and a template survive encoding and decoding into a fresh
// object of their class; token objects leave out what the card keeps in its own
// files, objects never store CKA_CLASS or vendor types, templates store all.
TEST(StorageEncoding, RoundTripOfEveryStorableClassAndOfTemplates)
{
    using Bag = std::unique_ptr<CP11Base>;
    struct Case {
        char const *name;
        std::function<Bag()> make;            // the filled source
        std::function<Bag()> fresh;           // what decoding starts from
        std::vector<unsigned long> notStored; // keep the fresh defaults
        bool wholeSet = false;                // a template: every type stored
    };
    auto data = [] {
        auto o = std::make_unique<CP11DataObject>();
        o->SetAttribute(CKA_TOKEN, (unsigned char)1);
        o->SetAttribute(CKA_PRIVATE, (unsigned char)1);
        o->SetAttribute(CKA_HIDDEN, (unsigned char)1);
        setText(*o, CKA_LABEL, "data");
        setText(*o, CKA_APPLICATION, "app");
        set(*o, CKA_OBJECT_ID, hex("06 03 2A 03 04"));
        set(*o, CKA_VALUE, Bytes(300, 0x5A));
        return Bag(std::move(o));
    };
    auto certificate = [](unsigned char token) {
        return [token] {
            auto o = std::make_unique<CP11X509Certificate>();
            o->SetAttribute(CKA_TOKEN, token);
            setText(*o, CKA_LABEL, "cert");
            set(*o, CKA_SUBJECT, NAME);
            set(*o, CKA_ISSUER, NAME);
            set(*o, CKA_SERIAL_NUMBER, hex("02 01 05"));
            set(*o, CKA_VALUE, hex("30 03 02 01 01"));
            set(*o, CKA_ID, hex("AA BB"));
            set(*o, CKA_START_DATE, Bytes{'2', '0', '2', '4', '0', '1', '0', '1'});
            o->SetAttribute(CKA_CERTIFICATE_CATEGORY, 2UL);
            o->SetAttribute(CKA_TRUSTED, (unsigned char)1);
            setText(*o, CKA_URL, "http://ca");
            o->SetAttribute(CKA_JAVA_MIDP_SECURITY_DOMAIN, 3UL);
            return Bag(std::move(o));
        };
    };
    auto publicKey = [](unsigned char token) {
        return [token] {
            auto o = std::make_unique<CP11RSAPublicKey>();
            o->SetAttribute(CKA_TOKEN, token);
            setText(*o, CKA_LABEL, "pub");
            set(*o, CKA_ID, hex("01 02 03"));
            set(*o, CKA_MODULUS, MODULUS, P11_OP_INTERNAL);
            set(*o, CKA_PUBLIC_EXPONENT, hex("01 00 01"));
            set(*o, CKA_SUBJECT, NAME);
            set(*o, CKA_ALLOWED_MECHANISMS, mechanisms({0x1, 0x6}));
            o->SetAttribute(CKA_ENCRYPT, (unsigned char)0);
            o->SetAttribute(CKA_WRAP, (unsigned char)1);
            set(*o, CKA_LOCAL, Bytes{1}, P11_OP_INTERNAL);
            return Bag(std::move(o));
        };
    };
    std::vector<unsigned long> const privateParts = {
        CKA_MODULUS, CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT, CKA_PRIME_1,
        CKA_PRIME_2, CKA_EXPONENT_1,      CKA_EXPONENT_2,       CKA_COEFFICIENT};
    auto privateKey = [&privateParts](unsigned char token) {
        return [token, &privateParts] {
            auto o = std::make_unique<CP11RSAPrivateKey>();
            o->SetAttribute(CKA_TOKEN, token);
            o->SetAttribute(CKA_PRIVATE, (unsigned char)1);
            setText(*o, CKA_LABEL, "priv");
            set(*o, CKA_ID, hex("01 02 03"));
            for (unsigned long type : privateParts)
                set(*o, type, Bytes(type == CKA_PUBLIC_EXPONENT ? 3 : 64, (unsigned char)type));
            o->SetAttribute(CKA_EXTRACTABLE, (unsigned char)1);
            o->SetAttribute(CKA_SENSITIVE, (unsigned char)0);
            o->SetAttribute(CKA_UNWRAP, (unsigned char)1);
            set(*o, CKA_KEY_GEN_MECHANISM, ulongBytes(CKM_RSA_PKCS_KEY_PAIR_GEN), P11_OP_INTERNAL);
            set(*o, CKA_ALLOWED_MECHANISMS, mechanisms({0x1, 0x40}));
            return Bag(std::move(o));
        };
    };
    auto attributeSet = [] {
        static unsigned long cls = CKO_PRIVATE_KEY, unset = CK_UNAVAILABLE_INFORMATION;
        static unsigned char token = 0xFF, no = 0;
        static char label[] = "abc", date[] = "20251231";
        static unsigned char vendor[] = {9, 8, 7};
        static Bytes mechs = mechanisms({0x1, 0x6});
        CK_ATTRIBUTE attributes[] = {
            {CKA_CLASS, &cls, sizeof(cls)},
            {CKA_TOKEN, &token, 1},
            {CKA_SENSITIVE, &no, 1},
            {CKA_LABEL, label, 3},
            {CKA_ID, nullptr, 0},
            {0x80000001UL, vendor, sizeof(vendor)},
            {CKA_START_DATE, date, 8},
            {CKA_KEY_GEN_MECHANISM, &unset, sizeof(unset)},
            {CKA_ALLOWED_MECHANISMS, mechs.data(), mechs.size()},
        };
        return Bag(new CP11Template(attributes, sizeof(attributes) / sizeof(attributes[0])));
    };
    auto fresh = [](auto tag) { return [] { return Bag(new typename decltype(tag)::type()); }; };
    struct D {
        using type = CP11DataObject;
    };
    struct C {
        using type = CP11X509Certificate;
    };
    struct P {
        using type = CP11RSAPublicKey;
    };
    struct Q {
        using type = CP11RSAPrivateKey;
    };
    Case const cases[] = {
        {"data object", data, fresh(D{}), {}},
        {"session certificate", certificate(0), fresh(C{}), {}},
        {"token certificate", certificate(1), fresh(C{}), {CKA_VALUE}},
        {"session public key", publicKey(0), fresh(P{}), {}},
        {"token public key",
         publicKey(1),
         fresh(P{}),
         {CKA_MODULUS, CKA_MODULUS_BITS, CKA_PUBLIC_EXPONENT}},
        {"session private key", privateKey(0), fresh(Q{}), {}},
        {"token private key", privateKey(1), fresh(Q{}), privateParts},
        {"template", attributeSet, [] { return Bag(new CP11Template(nullptr, 0)); }, {}, true},
    };
    for (Case const &c : cases) {
        SCOPED_TRACE(c.name);
        Bag original, loaded = c.fresh(), defaults = c.fresh();
        ASSERT_EQ(codeOf([&] { original = c.make(); }), 0UL);
        Bytes stored;
        ASSERT_EQ(codeOf([&] {
                      if (c.wholeSet) {
                          stored = serialise(static_cast<CP11Template &>(*original).Encode());
                          _asn_t *set = CP11Object::Decode(stored.data(), stored.size());
                          static_cast<CP11Template &>(*loaded).Decode(set);
                          asn_item_free(set);
                      } else {
                          stored = serialise(static_cast<CP11Object &>(*original).Encode());
                          decodeInto(static_cast<CP11Object &>(*loaded), stored);
                      }
                  }),
                  0UL);

        unsigned long count = 0, loadedCount = 0;
        ASSERT_TRUE(original->GetAttributes((unsigned long *)nullptr, &count));
        ASSERT_TRUE(loaded->GetAttributes((unsigned long *)nullptr, &loadedCount));
        EXPECT_EQ(loadedCount, count);
        std::vector<unsigned long> types(count);
        ASSERT_TRUE(original->GetAttributes(types.data(), &count));
        for (unsigned long type : types) {
            SCOPED_TRACE(type);
            bool notStored =
                !c.wholeSet && (type == CKA_CLASS || (type != CKA_HIDDEN && (type & 0x80000000UL)));
            for (unsigned long t : c.notStored)
                notStored = notStored || t == type;
            Bytes want = notStored ? valueOf(*defaults, type) : valueOf(*original, type);
            // booleans are stored as FF / 00 and come back as 01 / 00
            if (!notStored && CP11Convert::CKA2Type(type) == CKA_KIND_BOOL && want.size() == 1)
                want[0] = want[0] != 0;
            EXPECT_EQ(toHex(valueOf(*loaded, type)), toHex(want));
        }
    }
}

TEST(StorageEncoding, SerialiserMeasuresWhatItWrites)
{
    CP11DataObject object;
    _asn_t *element = object.EncodeEx(nullptr, 0);
    long size = CP11Object::Encode(element, nullptr, false);
    ASSERT_GT(size, 0);
    Bytes out((size_t)size + 4, 0xEE);
    EXPECT_EQ(CP11Object::Encode(element, out.data(), true), size);
    EXPECT_EQ(out[(size_t)size], 0xEE);
    EXPECT_EQ(codeOf([] { CP11Object::Encode(nullptr, nullptr, false); }), CKR_DATA_INVALID);
}

TEST(StorageEncoding, WriterRefusesTypesTheObjectLacksAndBadLists)
{
    CP11DataObject object;
    unsigned long types[] = {CKA_LABEL, CKA_MODULUS};
    EXPECT_EQ(codeOf([&] { asn_item_free(object.Encode(types, 2, nullptr, 0)); }),
              CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(codeOf([&] { asn_item_free(object.Encode(nullptr, 2, nullptr, 0)); }),
              CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(codeOf([&] { asn_item_free(object.Encode(types, 0, nullptr, 0)); }),
              CKR_ATTRIBUTE_TYPE_INVALID);
    // Excluded types are left out, even ones the object lacks.
    Bytes out = serialise(object.Encode(types, 2, types + 1, 1));
    EXPECT_EQ(toHex(out), "A0 0C 01 01 FF 31 07 30 05 02 01 03 04 00");

    unsigned long list[] = {1};
    EXPECT_EQ(codeOf([&] { CP11Template::EncodeArray(nullptr, 8); }), CKR_DATA_INVALID);
    EXPECT_EQ(codeOf([&] { CP11Template::EncodeArray(list, 0); }), CKR_DATA_INVALID);
    EXPECT_EQ(CP11Template::EncodeArray(nullptr, 0), nullptr);
}

// Malformed elements are refused cleanly, before any attribute changes where the
// element as a whole is wrong.
TEST(StorageEncoding, MalformedElementsAreRefused)
{
    Bytes const flag = hex("01 01 FF");
    auto pair = [](Bytes type, Bytes value) { return tlv(0x30, {type, value}); };
    auto element = [&](std::initializer_list<Bytes> pairs) {
        return tlv(0xA0, {flag, tlv(0x31, pairs)});
    };
    Bytes const label = hex("02 01 03");
    struct Case {
        char const *name;
        Bytes element;
        unsigned long code;
    } const cases[] = {
        {"another class", tlv(0xA1, {flag}), CKR_DATA_INVALID},
        {"primitive element", hex("80 01 FF"), CKR_DATA_INVALID},
        {"universal element", tlv(0x30, {flag}), CKR_DATA_INVALID},
        {"no visible flag", hex("A0 00"), CKR_DATA_INVALID},
        {"flag not a BOOLEAN", tlv(0xA0, {hex("02 01 FF")}), CKR_DATA_INVALID},
        {"empty flag", tlv(0xA0, {hex("01 00")}), CKR_DATA_INVALID},
        {"second child not a SET", tlv(0xA0, {flag, hex("30 00")}), CKR_DATA_INVALID},
        {"pair not a SEQUENCE", element({hex("05 00")}), CKR_DATA_INVALID},
        {"type not an INTEGER", element({pair(hex("04 01 03"), hex("04 00"))}), CKR_DATA_INVALID},
        {"empty type", element({pair(hex("02 00"), hex("04 00"))}), CKR_DATA_INVALID},
        {"constructed type", element({pair(hex("22 00"), hex("04 00"))}), CKR_DATA_INVALID},
        {"missing value", element({tlv(0x30, {label})}), CKR_DATA_INVALID},
        {"empty BOOLEAN value", element({pair(hex("02 01 01"), hex("01 00"))}), CKR_DATA_INVALID},
        {"constructed BOOLEAN value", element({pair(hex("02 01 01"), hex("30 00"))}),
         CKR_DATA_INVALID},
        {"constructed text value", element({pair(label, hex("30 00"))}), CKR_DATA_INVALID},
        {"good pair before a bad one",
         element({pair(hex("02 01 01"), hex("01 01 FF")), hex("05 00")}), CKR_DATA_INVALID},
        {"class as a pair", element({pair(hex("02 01 00"), hex("02 01 00"))}),
         CKR_ATTRIBUTE_READ_ONLY},
        {"modulus on a data object",
         element({pair(hex("02 01 01"), hex("01 01 FF")), pair(hex("02 02 01 20"), hex("04 00"))}),
         CKR_ATTRIBUTE_TYPE_INVALID},
        {"object identifier not DER", element({pair(hex("02 01 12"), hex("04 01 06"))}),
         CKR_ATTRIBUTE_VALUE_INVALID},
    };
    for (Case const &c : cases) {
        SCOPED_TRACE(c.name);
        CP11DataObject object;
        setText(object, CKA_LABEL, "keep");
        EXPECT_EQ(codeOf([&] { decodeInto(object, c.element); }), c.code);
        EXPECT_STREQ(object.FindStringAttribute(CKA_LABEL), "keep");
        // Every pair is checked before the first one is applied.
        EXPECT_EQ(object.FindByteAttribute(CKA_TOKEN), 0);
    }
}

TEST(StorageEncoding, MalformedMechanismListsAndKeyElements)
{
    Bytes const flag = hex("01 01 FF");
    Bytes const mechanismsType = hex("02 04 40 00 06 00");
    auto element = [&](Bytes type, Bytes value) {
        return tlv(0xA2, {flag, tlv(0x31, {tlv(0x30, {type, value})})});
    };
    struct Case {
        char const *name;
        Bytes element;
        unsigned long code;
    } const cases[] = {
        {"private-key element for a public key", tlv(0xA3, {flag}), CKR_DATA_INVALID},
        {"list not a SET", element(mechanismsType, hex("30 00")), CKR_DATA_INVALID},
        {"OCTET STRING in a list", element(mechanismsType, hex("31 02 04 00")), CKR_DATA_INVALID},
        {"empty INTEGER in a list", element(mechanismsType, hex("31 02 02 00")), CKR_DATA_INVALID},
        {"empty CK_ULONG value", element(hex("02 02 01 21"), hex("02 00")), CKR_DATA_INVALID},
        {"constructed CK_ULONG value", element(hex("02 02 01 21"), hex("30 00")), CKR_DATA_INVALID},
        {"date of four octets", element(hex("02 02 01 10"), hex("04 04 32 30 32 34")),
         CKR_ATTRIBUTE_VALUE_INVALID},
    };
    for (Case const &c : cases) {
        SCOPED_TRACE(c.name);
        CP11RSAPublicKey key;
        EXPECT_EQ(codeOf([&] { decodeInto(key, c.element); }), c.code);
    }
}

TEST(StorageEncoding, OctetReaderRefusesWhatDoesNotParse)
{
    Bytes truncated = hex("A0 17 01 01 FF");
    Bytes indefinite = hex("A0 80 01 01 FF 00 00");
    EXPECT_EQ(codeOf([&] { CP11Object::Decode(truncated.data(), truncated.size()); }),
              CKR_DATA_INVALID);
    EXPECT_EQ(codeOf([&] { CP11Object::Decode(indefinite.data(), indefinite.size()); }),
              CKR_DATA_INVALID);
    EXPECT_EQ(codeOf([&] { CP11Object::Decode((unsigned char *)nullptr, 4UL); }), CKR_DATA_INVALID);
    EXPECT_EQ(codeOf([&] { CP11Object::Decode(truncated.data(), 0); }), CKR_DATA_INVALID);
    CP11DataObject object;
    EXPECT_EQ(codeOf([&] { object.Decode((_asn_t *)nullptr, false); }), CKR_DATA_INVALID);
}

TEST(StorageEncoding, DecodingIntoATemplateLeavesTheObjectsValues)
{
    CP11DataObject object;
    setText(object, CKA_LABEL, "mine");
    Bytes bytes = hex("A0 17 01 01 00 31 12 30 06 02 01 01 01 01 FF 30 08 02 01 03 04 03 61 62 63");
    CP11Template t(nullptr, 0);
    object.Decode(CP11Object::Decode(bytes.data(), bytes.size()), t, true);
    EXPECT_EQ(object.FindByteAttribute(CKA_HIDDEN), 1);
    EXPECT_STREQ(object.FindStringAttribute(CKA_LABEL), "mine");
    EXPECT_EQ(valueOf(t, CKA_LABEL), (Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(valueOf(t, CKA_TOKEN), Bytes{1});

    // A template pair without its value is skipped; a malformed set is refused.
    CP11Template skip(nullptr, 0);
    Bytes noValue = hex("31 05 30 03 02 01 03");
    _asn_t *set = CP11Object::Decode(noValue.data(), noValue.size());
    skip.Decode(set);
    asn_item_free(set);
    unsigned long count = 9;
    skip.GetAttributes((unsigned long *)nullptr, &count);
    EXPECT_EQ(count, 0u);
    Bytes notSet = hex("30 00");
    set = CP11Object::Decode(notSet.data(), notSet.size());
    EXPECT_EQ(codeOf([&] { skip.Decode(set); }), CKR_DATA_INVALID);
    asn_item_free(set);
}
