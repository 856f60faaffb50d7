// The client's key and certificate operations end to end on the simulated card:
// importing PKCS#12 and certificate files, exporting certificates and public
// keys, testing key pairs and deleting a container's objects or one of its
// certificates, with the card in the virtual reader of the real pcscd. What the
// token holds is read through a session of the test's own, independently of
// the client's walk.
#include <gtest/gtest.h>

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "card.h"
#include "rsa_key.h"

#include "client/client_codes.h"
#include "client/vendor_attributes.h"
#include "client_harness.h"
#include "client_trace.h"
#include "fake_token_profile.h"
#include "key_material.h"

namespace client_test
{
namespace
{

char const PASSWORD[] = "h\xc3\xa9slo-7";

QString q(std::string const &text)
{
    return QString::fromStdString(text);
}

std::string text(char const *field, size_t width)
{
    return std::string(field, strnlen(field, width));
}

// What both tokens' tests share: the test's files, and the token's contents
// as the test's own session sees them.
class TokenContents : public ClientFixture
{
  protected:
    static void SetUpTestSuite()
    {
        for (EVP_PKEY *&key : keys) {
            key = RsaKey(2048).release();
            certificates.push_back(Certificate(key, "holder").release());
        }
    }
    static void TearDownTestSuite()
    {
        for (EVP_PKEY *&key : keys)
            EvpPkeyFree()(key);
        for (X509 *certificate : certificates)
            X509Free()(certificate);
        certificates.clear();
    }

    std::string Put(std::string const &name, Bytes const &bytes)
    {
        std::string path = dir.File(name);
        WriteBytes(path, bytes);
        return path;
    }
    CK_OBJECT_HANDLE PutData()
    {
        static CK_OBJECT_CLASS data = CKO_DATA;
        static CK_BBOOL yes = CK_TRUE;
        return Create({{CKA_CLASS, &data, sizeof(data)}, {CKA_TOKEN, &yes, sizeof(yes)}});
    }

    // Every object the token shows, as "class container".
    std::multiset<std::string> Contents()
    {
        std::multiset<std::string> all;
        CK_SESSION_HANDLE const s = OwnSession();
        EXPECT_EQ(f->C_FindObjectsInit(s, nullptr, 0), CKR_OK);
        CK_OBJECT_HANDLE ho = 0;
        CK_ULONG found = 0;
        while (f->C_FindObjects(s, &ho, 1, &found) == CKR_OK && found == 1) {
            CK_OBJECT_CLASS cls = 0;
            CK_ATTRIBUTE a = {CKA_CLASS, &cls, sizeof(cls)};
            EXPECT_EQ(f->C_GetAttributeValue(s, ho, &a, 1), CKR_OK);
            char name[256] = {};
            CK_ATTRIBUTE n = {CKA_OBJECT_CONTAINER_NAME, name, sizeof(name)};
            if (f->C_GetAttributeValue(s, ho, &n, 1) != CKR_OK)
                n.ulValueLen = 0;
            char const *kinds[] = {"data", "cert", "public", "private"};
            all.insert(std::string(cls < 4 ? kinds[cls] : "other") + " " +
                       std::string(name, n.ulValueLen));
        }
        EXPECT_EQ(f->C_FindObjectsFinal(s), CKR_OK);
        return all;
    }
    static std::multiset<std::string> ContainerOf(std::string const &name, bool withCertificate)
    {
        std::multiset<std::string> objects = {"private " + name, "public " + name};
        if (withCertificate)
            objects.insert("cert " + name);
        return objects;
    }
    // The containers a step added, and those it removed.
    static std::multiset<std::string> Minus(std::multiset<std::string> const &a,
                                            std::multiset<std::string> const &b)
    {
        std::multiset<std::string> rest = a;
        for (std::string const &item : b) {
            auto at = rest.find(item);
            if (at != rest.end())
                rest.erase(at);
        }
        return rest;
    }
    // The container of the private keys among the objects; empty when none.
    static std::string PrivateKeyContainer(std::multiset<std::string> const &objects)
    {
        for (std::string const &object : objects)
            if (object.rfind("private ", 0) == 0)
                return object.substr(8);
        return std::string();
    }

    // The public key of record index, exported to a file of its container's
    // name and read back whole by OpenSSL; null when it cannot be.
    EvpPkeyPtr ExportedKey(int index, std::string &container)
    {
        container = text(client->GetPubKeyStruct(slot, index).containerName, 256);
        std::string const file = dir.File(container + ".der");
        EXPECT_EQ(client->ExportKey(slot, index, q(file)), 1);
        Bytes const der = ReadBytes(file);
        unsigned char const *cursor = der.data();
        EvpPkeyPtr key(
            d2i_PublicKey(EVP_PKEY_RSA, nullptr, &cursor, static_cast<long>(der.size())));
        EXPECT_EQ(cursor, der.data() + der.size());
        return key;
    }
    // The certificate of record index, exported over a longer file, which is
    // replaced; its DER bytes and the certificate OpenSSL reads from them.
    Bytes ExportedCertificate(int index, std::string &container, X509Ptr &certificate)
    {
        container = text(client->GetCertStruct(slot, index).containerName, 256);
        std::string const file = dir.File(container + ".cer");
        WriteBytes(file, Bytes(8000, 0x55));
        EXPECT_EQ(client->ExportCert(slot, index, q(file)), 1);
        Bytes const der = ReadBytes(file);
        unsigned char const *cursor = der.data();
        certificate.reset(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
        return der;
    }

    // On a token holding the containers "pair-long" and "pair", each with its
    // key pair and certificate, beside data objects: deletions by names that
    // only begin or end like them, by an empty name and by an unknown kind
    // take nothing; then each kind takes its objects of the named container.
    void DeletesPairLongThenPair()
    {
        std::multiset<std::string> everything = Contents();
        std::multiset<std::string> const others =
            Minus(Minus(everything, ContainerOf("pair", true)), ContainerOf("pair-long", true));
        auto without = [&](std::multiset<std::string> const &gone) {
            return everything = Minus(everything, gone);
        };
        struct Row {
            int kind;
            char const *container;
            std::multiset<std::string> left;
        } const rows[] = {
            {3, "pair-long", everything},
            {2, "", everything},
            {2, "pai", everything},
            {2, "pair-longer", everything},
            {1, "pair-long", without({"cert pair-long"})},
            {2, "pair-long", without({"private pair-long", "public pair-long"})},
            {2, "pair", without(ContainerOf("pair", true))},
        };
        for (Row const &row : rows) {
            SCOPED_TRACE(std::to_string(row.kind) + " " + row.container);
            EXPECT_EQ(client->DeleteObject(slot, row.kind, row.container), CKR_OK);
            EXPECT_EQ(Contents(), row.left);
        }
        EXPECT_EQ(everything, others);
        EXPECT_EQ(others.count("data "), others.size());
    }

    static EVP_PKEY *keys[3];
    static std::vector<X509 *> certificates;
    TempDir dir;
};

EVP_PKEY *TokenContents::keys[3] = {};
std::vector<X509 *> TokenContents::certificates;

class KeyOperations : public TokenContents
{
  protected:
    void SetUp() override
    {
        Start(FakeTokenModule());
        ASSERT_EQ(client->SaveReader(slot), CKR_OK);
        ASSERT_EQ(client->Login(slot, q(module.userPin), CKU_USER), CKR_OK);
    }

    // A key's halves and its certificate put on the token by the test.
    CK_OBJECT_HANDLE PutKey(CK_OBJECT_CLASS cls, std::string const &container, EVP_PKEY *key)
    {
        static CK_BBOOL yes = CK_TRUE;
        static CK_KEY_TYPE rsa = CKK_RSA;
        std::vector<Bytes> parts;
        std::vector<CK_ATTRIBUTE> t = {
            {CKA_CLASS, &cls, sizeof(cls)},
            {CKA_KEY_TYPE, &rsa, sizeof(rsa)},
            {CKA_TOKEN, &yes, sizeof(yes)},
            {CKA_OBJECT_CONTAINER_NAME, const_cast<char *>(container.data()), container.size()},
        };
        std::vector<std::pair<CK_ATTRIBUTE_TYPE, char const *>> components = {
            {CKA_MODULUS, OSSL_PKEY_PARAM_RSA_N}, {CKA_PUBLIC_EXPONENT, OSSL_PKEY_PARAM_RSA_E}};
        if (cls == CKO_PRIVATE_KEY)
            components.insert(components.end(),
                              {{CKA_PRIVATE_EXPONENT, OSSL_PKEY_PARAM_RSA_D},
                               {CKA_PRIME_1, OSSL_PKEY_PARAM_RSA_FACTOR1},
                               {CKA_PRIME_2, OSSL_PKEY_PARAM_RSA_FACTOR2},
                               {CKA_EXPONENT_1, OSSL_PKEY_PARAM_RSA_EXPONENT1},
                               {CKA_EXPONENT_2, OSSL_PKEY_PARAM_RSA_EXPONENT2},
                               {CKA_COEFFICIENT, OSSL_PKEY_PARAM_RSA_COEFFICIENT1}});
        parts.reserve(components.size());
        for (auto const &[type, name] : components) {
            parts.push_back(RsaPart(key, name));
            t.push_back({type, parts.back().data(), parts.back().size()});
        }
        return Create(t);
    }
    CK_OBJECT_HANDLE PutCertificate(std::string const &container, X509 *certificate)
    {
        static CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
        static CK_CERTIFICATE_TYPE x509 = CKC_X_509;
        static CK_BBOOL yes = CK_TRUE;
        Bytes value = Der(certificate);
        return Create({
            {CKA_CLASS, &cls, sizeof(cls)},
            {CKA_CERTIFICATE_TYPE, &x509, sizeof(x509)},
            {CKA_TOKEN, &yes, sizeof(yes)},
            {CKA_OBJECT_CONTAINER_NAME, const_cast<char *>(container.data()), container.size()},
            {CKA_VALUE, value.data(), value.size()},
        });
    }
    void PutContainer(std::string const &container, EVP_PKEY *key, X509 *certificate)
    {
        PutKey(CKO_PRIVATE_KEY, container, key);
        PutKey(CKO_PUBLIC_KEY, container, key);
        PutCertificate(container, certificate);
    }

    std::string NewestContainer()
    {
        std::string newest;
        for (std::string const &object : Contents()) {
            std::string name = object.substr(object.find(' ') + 1);
            if (name.rfind(vok_test::FAKE_CONTAINER_PREFIX, 0) == 0 &&
                (name.size() > newest.size() || (name.size() == newest.size() && name > newest)))
                newest = name;
        }
        return newest;
    }
};

TEST_F(KeyOperations, ImportsKeyFilesAndRefusesWhatTheCardCannotTake)
{
    EvpPkeyPtr const small = RsaKey(1024);
    EvpPkeyPtr const ec = EcKey();
    X509Ptr const smallCertificate = Certificate(small.get(), "small");
    X509Ptr const ecCertificate = Certificate(ec.get(), "ec");
    struct Row {
        char const *what;
        std::string file;
        char const *password;
        int result;
        bool imported, withCertificate;
    } const rows[] = {
        {"modern",
         Put("modern.pfx", Pkcs12(keys[0], certificates[0], PASSWORD, Pkcs12Kind::MODERN)),
         PASSWORD, CKR_OK, true, true},
        {"legacy ciphers",
         Put("legacy.pfx", Pkcs12(keys[1], certificates[1], PASSWORD, Pkcs12Kind::LEGACY)),
         PASSWORD, CKR_OK, true, true},
        {"no certificate", Put("bare.pfx", Pkcs12(keys[0], nullptr, "", Pkcs12Kind::MODERN)), "",
         CKR_OK, true, false},
        {"wrong password", dir.File("modern.pfx"), "heslo-7", client_code::KEY_PASSWORD, false,
         false},
        {"1024-bit key",
         Put("small.pfx",
             Pkcs12(small.get(), smallCertificate.get(), PASSWORD, Pkcs12Kind::MODERN)),
         PASSWORD, client_code::KEY_SIZE, false, false},
        {"EC key",
         Put("ec.pfx", Pkcs12(ec.get(), ecCertificate.get(), PASSWORD, Pkcs12Kind::MODERN)),
         PASSWORD, client_code::KEY_TYPE, false, false},
        {"integrity check of an unknown digest",
         Put("odd.pfx", Pkcs12(keys[0], certificates[0], PASSWORD, Pkcs12Kind::UNKNOWN_MAC)),
         PASSWORD, client_code::KEY_FILE, false, false},
        {"text file", Put("notes.txt", Bytes(100, 'x')), PASSWORD, client_code::KEY_FILE, false,
         false},
        {"no such file", dir.File("missing.pfx"), PASSWORD, client_code::KEY_FILE, false, false},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        std::multiset<std::string> const before = Contents();
        EXPECT_EQ(client->ImportKey(slot, q(row.file), QString::fromUtf8(row.password)),
                  row.result);
        std::multiset<std::string> const added = Minus(Contents(), before);
        if (!row.imported) {
            EXPECT_TRUE(added.empty());
            EXPECT_EQ(Minus(before, Contents()).size(), 0u);
            continue;
        }
        std::string const container = NewestContainer();
        EXPECT_EQ(added, ContainerOf(container, row.withCertificate));
    }

    // The records of the last full import: the file's key and certificate.
    ASSERT_EQ(client->SaveObjects(slot), CKR_OK);
    bool seen = false;
    for (int i = 0; i < client->GetPubKeyCount(slot); ++i) {
        key_info const k = client->GetPubKeyStruct(slot, i);
        if (Bytes(k.modulus, k.modulus + k.modulusLen) != RsaPart(keys[1], OSSL_PKEY_PARAM_RSA_N))
            continue;
        seen = true;
        EXPECT_EQ(Bytes(k.exponent, k.exponent + k.exponentLen), Bytes({0x01, 0x00, 0x01}));
        for (int c = 0; c < client->GetCertsCount(slot); ++c) {
            cert_info const cert = client->GetCertStruct(slot, c);
            if (text(cert.containerName, 256) == text(k.containerName, 256)) {
                EXPECT_EQ(cert.value, Der(certificates[1]));
            }
        }
    }
    EXPECT_TRUE(seen);

    std::vector<std::string> const log = Log();
    std::string const s = std::to_string(slot);
    for (std::string const &line : std::vector<std::string>{
             "          >>: openssl: PKCS12_parse(p12, password.toUtf8().data(), &evp_key, &cert, "
             "NULL) returned: 0x0;",
             "          >>: ComponentLength: ln:  returned: 0x100;",
             "          >>: ComponentLength: le:  returned: 0x3;",
             "          >>: C_CreateObject(hSes[" + s +
                 "], privKeyTemplate, 14, &ho) returned: 0x0 (More info: CKO_PRIVATE_KEY);",
             "          >>: C_CreateObject(hSes[" + s +
                 "], pubKeyTemplate, 9, &ho) returned: 0x0 (More info: CKO_PUBLIC_KEY);",
             "          >>: C_CreateObject(hSes[" + s +
                 "], certificateTemplate, 8, &ho) returned: 0x0;"})
        EXPECT_TRUE(HasLine(log, line)) << line;
    std::string all;
    for (std::string const &line : log)
        all += line + "\n";
    EXPECT_EQ(all.find(PASSWORD), std::string::npos);
    EXPECT_EQ(all.find("heslo"), std::string::npos);
}

TEST_F(KeyOperations, AFailedImportLeavesNothingBehind)
{
    std::string const file =
        Put("key.pfx", Pkcs12(keys[0], certificates[0], PASSWORD, Pkcs12Kind::MODERN));
    // A token with room for this many more objects.
    for (unsigned long room : {2UL, 1UL}) {
        SCOPED_TRACE(room);
        std::vector<CK_OBJECT_HANDLE> filler;
        for (size_t held = Contents().size(); held + room < vok_test::FAKE_MAX_TOKEN_OBJECTS;
             ++held)
            filler.push_back(PutData());
        std::multiset<std::string> const before = Contents();
        EXPECT_EQ(client->ImportKey(slot, q(file), QString::fromUtf8(PASSWORD)),
                  static_cast<int>(CKR_DEVICE_MEMORY));
        EXPECT_EQ(Contents(), before);
        DestroyAll(filler);
    }
    int destroyed = 0;
    for (std::string const &line : Log())
        destroyed += line.find(">>: C_DestroyObject(") != std::string::npos;
    EXPECT_EQ(destroyed, 3); // public and private key, then the private key alone
    // with room again, the same file goes in whole
    std::multiset<std::string> const before = Contents();
    EXPECT_EQ(client->ImportKey(slot, q(file), QString::fromUtf8(PASSWORD)), CKR_OK);
    EXPECT_EQ(Minus(Contents(), before), ContainerOf(NewestContainer(), true));
}

TEST_F(KeyOperations, ImportsACertificateFileIntoItsContainer)
{
    std::string const name = "kl\xc3\xad\xc4\x8d"; // not ASCII
    PutKey(CKO_PRIVATE_KEY, name, keys[0]);
    PutKey(CKO_PUBLIC_KEY, name, keys[0]);
    struct Row {
        char const *what;
        std::string file;
        int result;
        bool stored;
    } const rows[] = {
        {"missing file", dir.File("missing.cer"), client_code::CERT_FILE, false},
        {"another key's certificate", Put("other.cer", Der(certificates[1])),
         static_cast<int>(CKR_DEVICE_ERROR), false},
        {"the container's certificate", Put("own.cer", Der(certificates[0])), CKR_OK, true},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        std::multiset<std::string> const before = Contents();
        EXPECT_EQ(client->ImportCert(slot, q(row.file), QString::fromUtf8(name.c_str())),
                  row.result);
        std::multiset<std::string> const expected = {"cert " + name};
        EXPECT_EQ(Minus(Contents(), before), row.stored ? expected : std::multiset<std::string>{});
    }
    ASSERT_EQ(client->SaveObjects(slot), CKR_OK);
    ASSERT_EQ(client->GetCertsCount(slot), 1);
    cert_info const cert = client->GetCertStruct(slot, 0);
    EXPECT_EQ(text(cert.containerName, 256), name);
    EXPECT_EQ(cert.value, Der(certificates[0]));
}

TEST_F(KeyOperations, ExportsTheCertificateAndPublicKeyOfEachContainer)
{
    // Keys in one order, certificates in the other.
    std::string const names[2] = {"alpha", "beta"};
    for (int i : {0, 1}) {
        PutKey(CKO_PRIVATE_KEY, names[i], keys[i]);
        PutKey(CKO_PUBLIC_KEY, names[i], keys[i]);
    }
    for (int i : {1, 0})
        PutCertificate(names[i], certificates[i]);
    ASSERT_EQ(client->SaveObjects(slot), CKR_OK);
    ASSERT_EQ(client->GetPubKeyCount(slot), 2);
    ASSERT_EQ(client->GetCertsCount(slot), 2);

    std::map<std::string, EvpPkeyPtr> exported;
    for (int index = 0; index < 2; ++index) {
        std::string container;
        EvpPkeyPtr key = ExportedKey(index, container);
        SCOPED_TRACE(container);
        ASSERT_NE(key, nullptr);
        int const i = container == names[0] ? 0 : 1;
        EXPECT_EQ(RsaPart(key.get(), OSSL_PKEY_PARAM_RSA_N),
                  RsaPart(keys[i], OSSL_PKEY_PARAM_RSA_N));
        EXPECT_EQ(RsaPart(key.get(), OSSL_PKEY_PARAM_RSA_E),
                  RsaPart(keys[i], OSSL_PKEY_PARAM_RSA_E));
        exported[container] = std::move(key);
    }
    for (int index = 0; index < 2; ++index) {
        std::string container;
        X509Ptr certificate;
        Bytes const der = ExportedCertificate(index, container, certificate);
        SCOPED_TRACE(container);
        EXPECT_EQ(der, Der(certificates[container == names[0] ? 0 : 1]));
        ASSERT_NE(certificate, nullptr);
        EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(certificate.get()), exported[container].get()), 1);
    }

    // Nothing written is no success.
    struct Row {
        char const *what;
        std::function<int()> call;
    } const failures[] = {
        {"certificate to a full device", [&] { return client->ExportCert(slot, 0, "/dev/full"); }},
        {"key to a full device", [&] { return client->ExportKey(slot, 0, "/dev/full"); }},
        {"certificate to a directory",
         [&] { return client->ExportCert(slot, 0, q(dir.File(""))); }},
        {"key into no directory",
         [&] { return client->ExportKey(slot, 0, q(dir.File("none/key.der"))); }},
        {"a certificate the slot does not have",
         [&] { return client->ExportCert(slot, 2, q(dir.File("third.cer"))); }},
        {"a key of a slot the client does not have",
         [&] { return client->ExportKey(7, 0, q(dir.File("third.der"))); }},
    };
    for (Row const &row : failures) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.call(), 0);
    }
    EXPECT_TRUE(ReadBytes(dir.File("third.cer")).empty());
}

TEST_F(KeyOperations, TestsTheKeyPairOfAContainer)
{
    // A data object first: the walk meets it before any container.
    PutData();
    ASSERT_EQ(client->ImportKey(
                  slot,
                  q(Put("key.pfx", Pkcs12(keys[0], certificates[0], PASSWORD, Pkcs12Kind::MODERN))),
                  QString::fromUtf8(PASSWORD)),
              CKR_OK);
    std::string const imported = NewestContainer();
    PutKey(CKO_PRIVATE_KEY, "mixed", keys[0]);
    PutKey(CKO_PUBLIC_KEY, "mixed", keys[1]);
    PutKey(CKO_PRIVATE_KEY, "lonely", keys[1]);
    PutCertificate("lonely", certificates[1]);
    struct Row {
        std::string container;
        int result;
    } const rows[] = {
        {imported, CKR_OK},
        {"mixed", static_cast<int>(CKR_SIGNATURE_INVALID)},
        {"lonely", client_code::NO_KEY_PAIR},
        {imported.substr(0, imported.size() - 1), client_code::NO_KEY_PAIR},
        {imported + "0", client_code::NO_KEY_PAIR},
        {"", client_code::NO_KEY_PAIR},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.container);
        EXPECT_EQ(client->TestKey(slot, q(row.container)), row.result);
    }
    std::string const s = std::to_string(slot);
    std::vector<std::string> const log = Log();
    for (std::string const &line : {
             "     Pkcs11Manipulator: TestKey(" + s + ", " + imported + ") returned: 0x0;",
             "          >>: C_GenerateRandom(hSes[" + s + "], data, 20) returned: 0x0;",
             "          >>: C_Sign(hSes[" + s +
                 "], data, 20, NULL, &signatureLen) returned: 0x0 (More info: signatureLen=256);",
             "          >>: C_Verify(hSes[" + s + "], data, 20, signature, 256 returned: 0xc0;",
         })
        EXPECT_TRUE(HasLine(log, line)) << line;
}

TEST_F(KeyOperations, DeletesTheNamedContainerOnly)
{
    PutData();
    PutContainer("pair-long", keys[0], certificates[0]);
    PutContainer("pair", keys[1], certificates[1]);
    DeletesPairLongThenPair();
}

// The same operations on the shipped module with a simulated identity card:
// the token names new containers itself, keeps private keys on the card and
// takes a certificate into a container only for that container's key.
class KeyOperationsOnTheCard : public TokenContents
{
  protected:
    // Puts a card personalised so into the reader and logs the client in.
    void Insert(cardsim::Personalisation const &p = {})
    {
        Start(IdentityCardModule(p, &cardCertificates));
        ASSERT_EQ(client->SaveReader(slot), CKR_OK);
        ASSERT_EQ(client->Login(slot, q(module.userPin), CKU_USER), CKR_OK);
    }
    // A container with a signature and an exchange key of these sizes (0:
    // none), each with its certificate.
    static cardsim::ContainerSpec Keys(std::string const &name, int signatureBits, int exchangeBits)
    {
        cardsim::ContainerSpec c;
        c.name = name;
        c.keys[0].bits = signatureBits;
        c.keys[1].bits = exchangeBits;
        return c;
    }
    // A container with a 1024-bit signature key and its certificate.
    static cardsim::ContainerSpec Signing(std::string const &name) { return Keys(name, 1024, 0); }
    // The object of this class in the container (a key: of this modulus, when
    // one is given), as the test's own session finds it; CK_INVALID_HANDLE when
    // there is none.
    CK_OBJECT_HANDLE Handle(CK_OBJECT_CLASS cls, std::string const &container,
                            Bytes const &modulus = {})
    {
        CK_SESSION_HANDLE const s = OwnSession();
        EXPECT_EQ(f->C_FindObjectsInit(s, nullptr, 0), CKR_OK);
        CK_OBJECT_HANDLE match = CK_INVALID_HANDLE;
        CK_OBJECT_HANDLE ho = 0;
        CK_ULONG found = 0;
        while (match == CK_INVALID_HANDLE && f->C_FindObjects(s, &ho, 1, &found) == CKR_OK &&
               found == 1) {
            CK_OBJECT_CLASS objectClass = 0;
            char name[256] = {};
            CK_ATTRIBUTE a[] = {{CKA_CLASS, &objectClass, sizeof(objectClass)},
                                {CKA_OBJECT_CONTAINER_NAME, name, sizeof(name)}};
            if (f->C_GetAttributeValue(s, ho, a, 2) == CKR_OK && objectClass == cls &&
                std::string(name, a[1].ulValueLen) == container &&
                (modulus.empty() || Value(ho, CKA_MODULUS) == modulus))
                match = ho;
        }
        EXPECT_EQ(f->C_FindObjectsFinal(s), CKR_OK);
        return match;
    }
    Bytes Value(CK_OBJECT_HANDLE ho, CK_ATTRIBUTE_TYPE type)
    {
        CK_ATTRIBUTE wanted = {type, nullptr, 0};
        EXPECT_EQ(f->C_GetAttributeValue(OwnSession(), ho, &wanted, 1), CKR_OK);
        Bytes value(wanted.ulValueLen);
        wanted.pValue = value.data();
        EXPECT_EQ(f->C_GetAttributeValue(OwnSession(), ho, &wanted, 1), CKR_OK);
        return value;
    }
    // An attribute of that object; empty when there is no such object.
    Bytes Attribute(CK_OBJECT_CLASS cls, std::string const &container, CK_ATTRIBUTE_TYPE type)
    {
        CK_OBJECT_HANDLE const ho = Handle(cls, container);
        return ho == CK_INVALID_HANDLE ? Bytes() : Value(ho, type);
    }
    // The modulus of the card's key of that spec in the container at that
    // position of the personalisation.
    Bytes CardModulus(int container, int spec)
    {
        cardsim::CardState const card = dynamic_cast<cardsim::Card &>(Card()).Snapshot();
        auto const key = card.keys.find({container, spec});
        Bytes modulus, exponent;
        EXPECT_NE(key, card.keys.end());
        if (key == card.keys.end())
            return modulus;
        bool const publicOnly = key->second.form == cardsim::CardKey::Form::Public;
        EXPECT_TRUE(cardsim::RsaPublicParts(key->second.der, publicOnly, modulus, exponent));
        return modulus;
    }

    // The values of every certificate the token shows.
    std::multiset<Bytes> CertificateValues()
    {
        CK_SESSION_HANDLE const s = OwnSession();
        CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
        CK_ATTRIBUTE wanted = {CKA_CLASS, &cls, sizeof(cls)};
        EXPECT_EQ(f->C_FindObjectsInit(s, &wanted, 1), CKR_OK);
        std::multiset<Bytes> values;
        CK_OBJECT_HANDLE ho = 0;
        CK_ULONG found = 0;
        while (f->C_FindObjects(s, &ho, 1, &found) == CKR_OK && found == 1) {
            CK_ATTRIBUTE value = {CKA_VALUE, nullptr, 0};
            EXPECT_EQ(f->C_GetAttributeValue(s, ho, &value, 1), CKR_OK);
            Bytes bytes(value.ulValueLen);
            value.pValue = bytes.data();
            EXPECT_EQ(f->C_GetAttributeValue(s, ho, &value, 1), CKR_OK);
            values.insert(bytes);
        }
        EXPECT_EQ(f->C_FindObjectsFinal(s), CKR_OK);
        return values;
    }

    std::vector<Bytes> cardCertificates;
};

TEST_F(KeyOperationsOnTheCard, ImportsKeyFilesIntoNewContainers)
{
    Insert();
    EvpPkeyPtr const small = RsaKey(1024);
    X509Ptr const smallCertificate = Certificate(small.get(), "small");
    struct Row {
        char const *what;
        std::string file;
        char const *password;
        int result;
        EVP_PKEY *key; // imported
        X509 *certificate;
    } const rows[] = {
        {"modern",
         Put("modern.pfx", Pkcs12(keys[0], certificates[0], PASSWORD, Pkcs12Kind::MODERN)),
         PASSWORD, CKR_OK, keys[0], certificates[0]},
        {"legacy ciphers",
         Put("legacy.pfx", Pkcs12(keys[1], certificates[1], PASSWORD, Pkcs12Kind::LEGACY)),
         PASSWORD, CKR_OK, keys[1], certificates[1]},
        {"no certificate", Put("bare.pfx", Pkcs12(keys[2], nullptr, PASSWORD, Pkcs12Kind::MODERN)),
         PASSWORD, CKR_OK, keys[2], nullptr},
        {"wrong password", dir.File("modern.pfx"), "heslo-7", client_code::KEY_PASSWORD, nullptr,
         nullptr},
        {"1024-bit key",
         Put("small.pfx",
             Pkcs12(small.get(), smallCertificate.get(), PASSWORD, Pkcs12Kind::MODERN)),
         PASSWORD, client_code::KEY_SIZE, nullptr, nullptr},
        {"text file", Put("notes.txt", Bytes(100, 'x')), PASSWORD, client_code::KEY_FILE, nullptr,
         nullptr},
    };
    std::map<std::string, Row const *> imported; // by container
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        std::multiset<std::string> const before = Contents();
        EXPECT_EQ(client->ImportKey(slot, q(row.file), QString::fromUtf8(row.password)),
                  row.result);
        std::multiset<std::string> const added = Minus(Contents(), before);
        EXPECT_TRUE(Minus(before, Contents()).empty());
        if (row.key == nullptr) {
            EXPECT_TRUE(added.empty());
            continue;
        }
        std::string const container = PrivateKeyContainer(added);
        EXPECT_FALSE(container.empty());
        EXPECT_EQ(added, ContainerOf(container, row.certificate != nullptr));
        imported[container] = &row;
    }
    ASSERT_EQ(imported.size(), 3u);

    // the records pair each key with its own certificate, and each pair tests good
    ASSERT_EQ(client->SaveObjects(slot), CKR_OK);
    ASSERT_EQ(client->GetPubKeyCount(slot), 3);
    for (int i = 0; i < 3; ++i) {
        key_info const k = client->GetPubKeyStruct(slot, i);
        std::string const container = text(k.containerName, 256);
        SCOPED_TRACE(container);
        ASSERT_EQ(imported.count(container), 1u);
        Row const &row = *imported[container];
        EXPECT_EQ(Bytes(k.modulus, k.modulus + k.modulusLen),
                  RsaPart(row.key, OSSL_PKEY_PARAM_RSA_N));
        EXPECT_EQ(Bytes(k.exponent, k.exponent + k.exponentLen), Bytes({0x01, 0x00, 0x01}));
        EXPECT_EQ(client->TestKey(slot, q(container)), CKR_OK);
    }
    ASSERT_EQ(client->GetCertsCount(slot), 2);
    for (int i = 0; i < 2; ++i) {
        cert_info const c = client->GetCertStruct(slot, i);
        std::string const container = text(c.containerName, 256);
        SCOPED_TRACE(container);
        ASSERT_EQ(imported.count(container), 1u);
        ASSERT_NE(imported[container]->certificate, nullptr);
        EXPECT_EQ(c.value, Der(imported[container]->certificate));
    }
}

TEST_F(KeyOperationsOnTheCard, ExportsFromACardWhoseCertificatesAreInAnotherOrder)
{
    // the certificate files of "alpha" hold those of "beta"'s key, and so back
    cardsim::Personalisation p;
    p.containers = {Signing("alpha"), Signing("beta")};
    p.certificatesReversed = true;
    Insert(p);
    ASSERT_EQ(client->SaveObjects(slot), CKR_OK);
    ASSERT_EQ(client->GetPubKeyCount(slot), 2);
    ASSERT_EQ(client->GetCertsCount(slot), 2);

    std::map<std::string, EvpPkeyPtr> exportedKeys;
    for (int index = 0; index < 2; ++index) {
        std::string container;
        EvpPkeyPtr key = ExportedKey(index, container);
        SCOPED_TRACE(container);
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(RsaPart(key.get(), OSSL_PKEY_PARAM_RSA_N),
                  Attribute(CKO_PUBLIC_KEY, container, CKA_MODULUS));
        EXPECT_EQ(RsaPart(key.get(), OSSL_PKEY_PARAM_RSA_E), Bytes({0x01, 0x00, 0x01}));
        exportedKeys[container] = std::move(key);
    }
    for (int index = 0; index < 2; ++index) {
        std::string container;
        X509Ptr certificate;
        Bytes const der = ExportedCertificate(index, container, certificate);
        SCOPED_TRACE(container);
        EXPECT_EQ(der, Attribute(CKO_CERTIFICATE, container, CKA_VALUE));
        EXPECT_EQ(std::count(cardCertificates.begin(), cardCertificates.end(), der), 1);
        ASSERT_NE(certificate, nullptr);
        std::string const other = container == "alpha" ? "beta" : "alpha";
        ASSERT_EQ(exportedKeys.count(other), 1u);
        EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(certificate.get()), exportedKeys[other].get()), 1)
            << "the certificate of the other container's key";
    }
}

TEST_F(KeyOperationsOnTheCard, TestsTheKeyPairOfAContainer)
{
    // The outer two containers hold each other's certificates, the middle one
    // its own. The card's public key is that of its private key, whatever the
    // certificate: the pair tests good.
    cardsim::Personalisation p;
    p.containers = {Signing("crossed"), Signing("own"), Signing("crossed-too")};
    p.certificatesReversed = true;
    Insert(p);
    PutData(); // a data object, which has no container name
    // a container without its public key
    CK_OBJECT_HANDLE const publicKey = Handle(CKO_PUBLIC_KEY, "crossed-too");
    ASSERT_NE(publicKey, CK_INVALID_HANDLE);
    DestroyAll({publicKey});
    struct Row {
        std::string container;
        int result;
        uint64_t failedBits; // of the private key named; 0: none named
    } const rows[] = {
        {"own", CKR_OK, 0},
        {"crossed", CKR_OK, 0},
        {"crossed-too", client_code::NO_KEY_PAIR, 1024},
        {"cross", client_code::NO_KEY_PAIR, 0},
        {"", client_code::NO_KEY_PAIR, 0},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.container);
        key_info failed{};
        EXPECT_EQ(client->TestKey(slot, q(row.container), &failed), row.result);
        EXPECT_EQ(failed.modulusBits, row.failedBits);
        EXPECT_EQ(text(failed.containerName, 256),
                  row.failedBits != 0 ? row.container : std::string());
        Bytes const flags = row.failedBits != 0 ? Bytes{1, 0, 0} : Bytes(3, 0);
        EXPECT_EQ(Bytes(failed.flags, failed.flags + 3), flags);
    }
}

TEST_F(KeyOperationsOnTheCard, TestsEveryKeyPairWithAnOperationItsPrivateKeyAllows)
{
    cardsim::Personalisation p;
    p.containers = {Keys("both", 2048, 2048), Keys("exchange", 0, 2048),
                    Keys("exchange key gone", 1024, 1024), Keys("two signing keys", 1024, 1024),
                    Keys("two decrypting keys", 1024, 1024)};
    p.containers[3].keys[1].usage = 0x01;
    p.containers[4].keys[0].usage = 0x06;
    Insert(p);
    // the exchange private key gone: its public key is of no pair
    Bytes const gone = CardModulus(2, 1);
    DestroyAll({Handle(CKO_PRIVATE_KEY, "exchange key gone", gone)});
    // A key whose private half is gone and whose public half carries the CKA_ID
    // of the container's other key: it stands beside that key's own public key.
    // Of two decrypting keys the smaller modulus is the stranger, so that what
    // it encrypts is a block the other key's card takes.
    auto stranger = [&](std::string const &container, Bytes const &of, Bytes const &owner) {
        DestroyAll({Handle(CKO_PRIVATE_KEY, container, of)});
        Bytes id = Value(Handle(CKO_PRIVATE_KEY, container, owner), CKA_ID);
        ASSERT_EQ(id.size(), 20u);
        CK_ATTRIBUTE a = {CKA_ID, id.data(), id.size()};
        ASSERT_EQ(
            f->C_SetAttributeValue(OwnSession(), Handle(CKO_PUBLIC_KEY, container, of), &a, 1),
            CKR_OK);
    };
    Bytes const signer = CardModulus(3, 0);
    stranger("two signing keys", CardModulus(3, 1), signer);
    Bytes const decrypters[] = {CardModulus(4, 0), CardModulus(4, 1)};
    Bytes const &decrypter = std::max(decrypters[0], decrypters[1]);
    stranger("two decrypting keys", std::min(decrypters[0], decrypters[1]), decrypter);
    ASSERT_EQ(client->SaveObjects(slot), CKR_OK);

    struct Row {
        std::string container;
        int result;
        // the key named: its class, modulus and flags
        CK_OBJECT_CLASS cls;
        Bytes modulus, flags;
    } const rows[] = {
        {"both", CKR_OK, 0, {}, {}},
        {"exchange", CKR_OK, 0, {}, {}},
        {"exchange key gone", client_code::NO_KEY_PAIR, CKO_PUBLIC_KEY, gone, {0, 0, 1}},
        {"two signing keys",
         static_cast<int>(CKR_SIGNATURE_INVALID),
         CKO_PRIVATE_KEY,
         signer,
         {1, 0, 0}},
        {"two decrypting keys",
         static_cast<int>(CKR_SIGNATURE_INVALID),
         CKO_PRIVATE_KEY,
         decrypter,
         {0, 0, 1}},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.container);
        key_info failed{};
        EXPECT_EQ(client->TestKey(slot, q(row.container), &failed), row.result);
        if (row.modulus.empty()) {
            EXPECT_EQ(failed.modulusBits, 0u) << "no key named";
            continue;
        }
        // the record SaveObjects made of that key
        EXPECT_EQ(Bytes(failed.modulus, failed.modulus + failed.modulusLen), row.modulus);
        EXPECT_EQ(failed.modulusBits, row.modulus.size() * 8);
        EXPECT_EQ(Bytes(failed.flags, failed.flags + 3), row.flags);
        bool const isPrivate = row.cls == CKO_PRIVATE_KEY;
        int const count = isPrivate ? client->GetPrivKeyCount(slot) : client->GetPubKeyCount(slot);
        int matches = 0;
        for (int i = 0; i < count; ++i) {
            key_info const k =
                isPrivate ? client->GetPrivKeyStruct(slot, i) : client->GetPubKeyStruct(slot, i);
            if (text(k.containerName, 256) != row.container ||
                Bytes(k.modulus, k.modulus + k.modulusLen) != row.modulus)
                continue;
            ++matches;
            EXPECT_EQ(text(failed.containerName, 256), row.container);
            EXPECT_EQ(Bytes(failed.exponent, failed.exponent + failed.exponentLen),
                      Bytes(k.exponent, k.exponent + k.exponentLen));
            EXPECT_EQ(Bytes(failed.flags, failed.flags + 3), Bytes(k.flags, k.flags + 3));
        }
        EXPECT_EQ(matches, 1);
    }

    // each operation's calls, without a value
    std::string const s = std::to_string(slot);
    std::vector<std::string> const log = Log();
    for (std::string const &line : {
             "          >>: C_SignInit(hSes[" + s + "], &mechanism, privateHandle) returned: 0x0;",
             "          >>: C_Verify(hSes[" + s + "], data, 20, signature, 128 returned: 0xc0;",
             "          >>: C_EncryptInit(hSes[" + s +
                 "], &mechanism, publicHandle) returned: 0x0;",
             "          >>: C_Encrypt(hSes[" + s +
                 "], data, 20, NULL, &encryptedLen) returned: 0x0 (More info: encryptedLen=256);",
             "          >>: C_DecryptInit(hSes[" + s +
                 "], &mechanism, privateHandle) returned: 0x0;",
             "          >>: C_Decrypt(hSes[" + s +
                 "], encrypted, 256, decrypted, &decryptedLen) returned: 0x0 (More info: "
                 "decryptedLen=20);",
         })
        EXPECT_TRUE(HasLine(log, line)) << line;
}

TEST_F(KeyOperationsOnTheCard, KeepsACertificateLongerThanFourKilobytesWhole)
{
    Insert();
    ASSERT_EQ(client->ImportKey(
                  slot, q(Put("bare.pfx", Pkcs12(keys[2], nullptr, PASSWORD, Pkcs12Kind::MODERN))),
                  QString::fromUtf8(PASSWORD)),
              CKR_OK);
    ASSERT_EQ(client->SaveObjects(slot), CKR_OK);
    ASSERT_EQ(client->GetPrivKeyCount(slot), 1);
    std::string const container = text(client->GetPrivKeyStruct(slot, 0).containerName, 256);
    X509Ptr const large = Certificate(keys[2], "holder", 6500);
    Bytes const der = Der(large.get());
    ASSERT_GT(der.size(), 6900u);
    ASSERT_EQ(client->ImportCert(slot, q(Put("large.cer", der)), q(container)), CKR_OK);

    // read again from the card, in a new session
    ASSERT_EQ(client->Reinitialize(slot), CKR_OK);
    ASSERT_EQ(client->SaveReader(slot), CKR_OK);
    ASSERT_EQ(client->Login(slot, q(module.userPin), CKU_USER), CKR_OK);
    ASSERT_EQ(client->SaveObjects(slot), CKR_OK);
    ASSERT_EQ(client->GetCertsCount(slot), 1);
    cert_info const c = client->GetCertStruct(slot, 0);
    EXPECT_EQ(text(c.containerName, 256), container);
    EXPECT_EQ(c.value, der);
    EXPECT_EQ(c.valueLen, der.size());
    EXPECT_EQ(c.sha1.toStdString(), Sha1Hex(der));
    std::string exportedContainer;
    X509Ptr exported;
    EXPECT_EQ(ExportedCertificate(0, exportedContainer, exported), der);
    EXPECT_NE(exported, nullptr);

    EXPECT_EQ(client->DeleteCertificate(slot, 0), CKR_OK);
    ASSERT_EQ(client->SaveObjects(slot), CKR_OK);
    EXPECT_EQ(client->GetCertsCount(slot), 0);
    EXPECT_EQ(client->GetPrivKeyCount(slot), 1);
    EXPECT_EQ(client->GetPubKeyCount(slot), 1);
}

TEST_F(KeyOperationsOnTheCard, DeletesTheCertificateOfARecordAndNothingElse)
{
    // one container of two keys, each with its own certificate
    cardsim::Personalisation p;
    p.containers = {Signing("pair")};
    p.containers[0].keys[1].bits = 1024;
    Insert(p);
    std::multiset<std::string> const keys = Minus(Minus(Contents(), {"cert pair"}), {"cert pair"});
    ASSERT_EQ(keys.size(), 4u);
    // no record before the records are read
    EXPECT_EQ(client->DeleteCertificate(slot, 0), static_cast<int>(CKR_ARGUMENTS_BAD));
    ASSERT_EQ(client->SaveObjects(slot), CKR_OK);
    ASSERT_EQ(client->GetCertsCount(slot), 2);
    Bytes records[2];
    for (int i : {0, 1}) {
        cert_info const c = client->GetCertStruct(slot, i);
        records[i] = c.value;
    }
    ASSERT_EQ(CertificateValues(), std::multiset<Bytes>(records, records + 2));
    ASSERT_NE(records[0], records[1]);

    struct Row {
        char const *what;
        int index;
        int result;
        std::multiset<Bytes> left; // the certificates on the token afterwards
    } const rows[] = {
        {"a record past the slot's",
         2,
         static_cast<int>(CKR_ARGUMENTS_BAD),
         {records[0], records[1]}},
        {"a negative record", -1, static_cast<int>(CKR_ARGUMENTS_BAD), {records[0], records[1]}},
        {"the first record", 0, CKR_OK, {records[1]}},
        {"the first record again, which the card no longer holds",
         0,
         client_code::CERT_GONE,
         {records[1]}},
        {"the second record", 1, CKR_OK, {}},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(client->DeleteCertificate(slot, row.index), row.result);
        EXPECT_EQ(CertificateValues(), row.left);
        std::multiset<std::string> shown = keys;
        for (size_t i = 0; i < row.left.size(); ++i)
            shown.insert("cert pair");
        EXPECT_EQ(Contents(), shown) << "the keys stay";
    }
}

TEST_F(KeyOperationsOnTheCard, DeletesTheNamedContainerOnly)
{
    cardsim::Personalisation p;
    p.containers = {Signing("pair-long"), Signing("pair")};
    Insert(p);
    PutData();
    DeletesPairLongThenPair();
}

} // namespace
} // namespace client_test
