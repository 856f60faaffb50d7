// The client end to end: it loads the module, reads the reader and card
// records, logs in and changes and unblocks PINs on a card in the virtual
// reader of the real pcscd, writing its trace. The tests of key and
// certificate records put their objects on the fake token through a session
// of the test's own.
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "card.h"
#include "rsa_key.h"

#include "client/client_codes.h"
#include "client/vendor_attributes.h"
#include "client_harness.h"
#include "client_trace.h"
#include "key_material.h"

namespace client_test
{
namespace
{

std::string const WRONG_PIN = "246810";
std::string const NEW_PIN = "5x7y9z";
std::string const NEW_SO_PIN = "13572468";

QString q(std::string const &text)
{
    return QString::fromStdString(text);
}

std::string text(char const *field, size_t width)
{
    return std::string(field, strnlen(field, width));
}

std::string trimmed(unsigned char const *field, size_t width)
{
    std::string s(reinterpret_cast<char const *>(field), width);
    return s.substr(0, s.find_last_not_of(' ') + 1);
}

Bytes bytes(uint8_t const *data, size_t size)
{
    return Bytes(data, data + size);
}

INSTANTIATE_TEST_SUITE_P(Modules, ClientOnEachModule,
                         ::testing::Values(FakeTokenModule(), IdentityCardModule()), ModuleName);

TEST_P(ClientOnEachModule, LoadsInitialisesAndFinalisesTheModule)
{
    CK_INFO info{};
    ASSERT_EQ(f->C_GetInfo(&info), CKR_OK);
    EXPECT_EQ(
        client->GetInfo(),
        QStringLiteral("%1.%2").arg(info.libraryVersion.major).arg(info.libraryVersion.minor));
    client.reset();
    EXPECT_EQ(f->C_GetInfo(&info), CKR_CRYPTOKI_NOT_INITIALIZED) << "the client did not finalise";
    std::vector<std::string> const lines = Log();
    EXPECT_TRUE(HasLine(lines, "     Pkcs11Manipulator: LoadExternalLibrary() returned: 0x1 "
                               "(More info: argv[1]=" +
                                   module.path + ");"));
    EXPECT_TRUE(HasLine(lines, "          >>: C_GetInfo(&info) returned: 0x0;"));
    EXPECT_TRUE(HasLine(lines, "          >>: C_Finalize(NULL) returned: 0x0;"));
}

TEST_P(ClientOnEachModule, ASecondClientLeavesTheFirstOnesModuleInitialised)
{
    ASSERT_EQ(client->SaveReader(slot), CKR_OK);
    {
        Pkcs11Manipulator second;
        EXPECT_EQ(second.LoadApi(QString::fromStdString(module.path)),
                  static_cast<int>(CKR_CRYPTOKI_ALREADY_INITIALIZED));
    }
    CK_INFO info{};
    EXPECT_EQ(f->C_GetInfo(&info), CKR_OK) << "the second client finalised the module";
    EXPECT_EQ(client->GetState(slot), CKS_RW_PUBLIC_SESSION);
}

TEST_P(ClientOnEachModule, ReaderAndCardRecordsHoldWhatTheCardShows)
{
    ASSERT_EQ(client->SaveReader(slot), CKR_OK);
    ASSERT_EQ(client->SaveCard(slot), CKR_OK);
    reader_info const reader = client->GetReaderStruct(slot);
    card_info const card = client->GetCardStruct(slot);
    CK_SLOT_INFO si{};
    CK_TOKEN_INFO ti{};
    ASSERT_EQ(f->C_GetSlotInfo(slotId, &si), CKR_OK);
    ASSERT_EQ(f->C_GetTokenInfo(slotId, &ti), CKR_OK);

    uint64_t used = 0, free = 0;
    std::vector<uint64_t> rsa2048(3, 0);
    for (std::vector<uint64_t> const &entry : module.containersUsage) {
        used += entry[1];
        free += entry[2];
        if (entry[0] == 2048)
            rsa2048 = entry;
    }
    struct Field {
        char const *name;
        std::string got;
        std::string expected;
    };
    auto numbers = [](uint64_t const *values, size_t count) {
        std::string s;
        for (size_t i = 0; i < count; ++i)
            s += std::to_string(values[i]) + " ";
        return s;
    };
    Field const fields[] = {
        {"slotDescription", text(reader.slotDescription, 64), trimmed(si.slotDescription, 64)},
        {"manufacturerID", text(reader.manufacturerID, 32), trimmed(si.manufacturerID, 32)},
        {"tokenLabel", text(reader.tokenLabel, 64), module.tokenLabel},
        {"atr", std::string(reader.atr, reader.atr + reader.atrLen),
         std::string(module.atr.begin(), module.atr.end())},
        {"serialNumber", text(card.serialNumber, 16), module.serial},
        {"freePublicMemory", std::to_string(card.freePublicMemory),
         std::to_string(ti.ulFreePublicMemory)},
        {"totalPublicMemory", std::to_string(card.totalPublicMemory),
         std::to_string(ti.ulTotalPublicMemory)},
        {"userPin", numbers(card.userPin, 3), numbers(module.userPinInfo, 3)},
        {"soPin", numbers(card.soPin, 3), numbers(module.soPinInfo, 3)},
        {"containersUsed", std::to_string(card.containersUsed), std::to_string(used)},
        {"containersFree", std::to_string(card.containersFree), std::to_string(free)},
        {"rsa2048", numbers(card.rsa2048, 3), numbers(rsa2048.data(), 3)},
    };
    for (Field const &field : fields)
        EXPECT_EQ(field.got, field.expected) << field.name;
    EXPECT_EQ(client->SCardConnect(slot), 1);
    EXPECT_EQ(client->GetState(slot), CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(client->GetReadersWithTokenCount(), 1);

    // the other reader has no card: no failure, and empty token fields
    ASSERT_GE(emptySlot, 0);
    EXPECT_EQ(client->SaveReader(emptySlot), CKR_OK);
    reader_info const empty = client->GetReaderStruct(emptySlot);
    EXPECT_EQ(client->SCardConnect(emptySlot), 0);
    EXPECT_EQ(text(empty.tokenLabel, 64), "");
    EXPECT_EQ(empty.atrLen, 0);
    EXPECT_NE(text(empty.slotDescription, 64), text(reader.slotDescription, 64));
    EXPECT_EQ(client->GetState(emptySlot), client_code::NO_SESSION);
    // and slots the client does not have are refused, not read
    EXPECT_EQ(client->SaveReader(7), static_cast<int>(CKR_SLOT_ID_INVALID));
    EXPECT_EQ(client->Login(-1, q(module.userPin), CKU_USER),
              static_cast<int>(CKR_SLOT_ID_INVALID));
}

TEST_P(ClientOnEachModule, LogsInWithTheRightPinOnly)
{
    ASSERT_EQ(client->SaveReader(slot), CKR_OK);
    ASSERT_EQ(client->SaveCard(slot), CKR_OK);
    EXPECT_EQ(client->Login(slot, q(WRONG_PIN), CKU_USER), static_cast<int>(CKR_PIN_INCORRECT));
    EXPECT_EQ(client->UpdatePinTries(slot, CKU_USER), CKR_OK);
    EXPECT_EQ(client->GetCardStruct(slot).userPin[1], module.userPinInfo[1] - 1);
    EXPECT_EQ(client->GetState(slot), CKS_RW_PUBLIC_SESSION);

    EXPECT_EQ(client->Login(slot, q(module.userPin), CKU_USER), CKR_OK);
    EXPECT_EQ(client->GetState(slot), CKS_RW_USER_FUNCTIONS);
    EXPECT_EQ(client->UpdatePinTries(slot, CKU_USER), CKR_OK);
    EXPECT_EQ(client->GetCardStruct(slot).userPin[1], module.userPinInfo[1]);
    // a user type other than 1 reads the PUK's tries
    EXPECT_EQ(client->UpdatePinTries(slot, 5), CKR_OK);
    EXPECT_EQ(client->GetCardStruct(slot).soPin[1], module.soPinInfo[1]);
    EXPECT_EQ(client->Logout(slot), CKR_OK);
    EXPECT_EQ(client->GetState(slot), CKS_RW_PUBLIC_SESSION);
}

TEST_P(ClientOnEachModule, ChangesThePinFromTheOneOfTheLastLogin)
{
    ASSERT_EQ(client->SaveReader(slot), CKR_OK);
    // Two logins in a row: the second PIN is the old value of the change.
    EXPECT_EQ(client->Login(slot, q(WRONG_PIN), CKU_USER), static_cast<int>(CKR_PIN_INCORRECT));
    EXPECT_EQ(client->Login(slot, q(module.userPin), CKU_USER), CKR_OK);
    EXPECT_EQ(client->ChangePin(slot, q(NEW_PIN)), CKR_OK);
    client->Logout(slot);
    EXPECT_EQ(client->Login(slot, q(module.userPin), CKU_USER),
              static_cast<int>(CKR_PIN_INCORRECT));
    EXPECT_EQ(client->Login(slot, q(NEW_PIN), CKU_USER), CKR_OK);

    // A PIN with a letter outside ASCII, set here, is the PIN entered here.
    QString const accented = QStringLiteral("1\u00e93456");
    EXPECT_EQ(client->ChangePin(slot, accented), CKR_OK);
    client->Logout(slot);
    EXPECT_EQ(client->Login(slot, accented, CKU_USER), CKR_OK);
    EXPECT_EQ(client->UpdatePinTries(slot, CKU_USER), CKR_OK);
    EXPECT_EQ(client->GetCardStruct(slot).userPin[1], module.userPinInfo[1]);
}

TEST_P(ClientOnEachModule, ChangesThePukInTheSecurityOfficersSession)
{
    ASSERT_EQ(client->SaveReader(slot), CKR_OK);
    EXPECT_EQ(client->Login(slot, q(module.soPin), CKU_SO), CKR_OK);
    EXPECT_EQ(client->GetState(slot), CKS_RW_SO_FUNCTIONS);
    EXPECT_EQ(client->ChangePin(slot, q(NEW_SO_PIN)), CKR_OK);
    client->Logout(slot);
    EXPECT_EQ(client->UpdatePinTries(slot, CKU_SO), CKR_OK);
    EXPECT_EQ(client->GetCardStruct(slot).soPin[1], module.soPinInfo[1]);
    EXPECT_EQ(client->Login(slot, q(module.soPin), CKU_SO), static_cast<int>(CKR_PIN_INCORRECT));
    EXPECT_EQ(client->Login(slot, q(NEW_SO_PIN), CKU_SO), CKR_OK);
    // the user's PIN did not change
    client->Logout(slot);
    EXPECT_EQ(client->Login(slot, q(module.userPin), CKU_USER), CKR_OK);
}

TEST_P(ClientOnEachModule, UnblocksTheBlockedPinWithThePuk)
{
    ASSERT_EQ(client->SaveReader(slot), CKR_OK);
    ASSERT_EQ(client->SaveCard(slot), CKR_OK);
    uint64_t const limit = module.userPinInfo[0];
    for (uint64_t attempt = 1; attempt <= limit; ++attempt)
        EXPECT_EQ(client->Login(slot, q(WRONG_PIN), CKU_USER),
                  static_cast<int>(attempt < limit ? CKR_PIN_INCORRECT : CKR_PIN_LOCKED))
            << attempt;
    EXPECT_EQ(client->UpdatePinTries(slot, CKU_USER), CKR_OK);
    EXPECT_EQ(client->GetCardStruct(slot).userPin[1], 0u);
    EXPECT_EQ(client->Login(slot, q(module.userPin), CKU_USER), static_cast<int>(CKR_PIN_LOCKED));

    EXPECT_EQ(client->Login(slot, q(module.soPin), CKU_SO), CKR_OK);
    EXPECT_EQ(client->InitPin(slot, q(NEW_PIN)), CKR_OK);
    EXPECT_EQ(client->Logout(slot), CKR_OK);
    EXPECT_EQ(client->UpdatePinTries(slot, CKU_SO), CKR_OK);
    EXPECT_EQ(client->UpdatePinTries(slot, CKU_USER), CKR_OK);
    card_info const card = client->GetCardStruct(slot);
    EXPECT_EQ(card.userPin[1], limit);
    EXPECT_EQ(card.soPin[1], module.soPinInfo[1]);
    EXPECT_EQ(client->Login(slot, q(NEW_PIN), CKU_USER), CKR_OK);
}

TEST_P(ClientOnEachModule, RefusesPinTextsWithoutUtf8FormBeforeTheToken)
{
    ASSERT_EQ(client->SaveReader(slot), CKR_OK);
    QString const broken = QStringLiteral("12") + QChar(0xD800) + QStringLiteral("456");
    EXPECT_EQ(client->Login(slot, broken, CKU_USER), static_cast<int>(CKR_PIN_INVALID));
    EXPECT_EQ(client->Login(slot, q(module.userPin), CKU_USER), CKR_OK);
    EXPECT_EQ(client->ChangePin(slot, broken), static_cast<int>(CKR_PIN_INVALID));
    client->Logout(slot);
    EXPECT_EQ(client->Login(slot, q(module.soPin), CKU_SO), CKR_OK);
    EXPECT_EQ(client->InitPin(slot, broken), static_cast<int>(CKR_PIN_INVALID));
    client->Logout(slot);

    // nothing reached the token: no try was spent and the PIN is the old one
    EXPECT_EQ(client->UpdatePinTries(slot, CKU_USER), CKR_OK);
    EXPECT_EQ(client->GetCardStruct(slot).userPin[1], module.userPinInfo[1]);
    EXPECT_EQ(client->Login(slot, q(module.userPin), CKU_USER), CKR_OK);
    int calls = 0;
    for (std::string const &line : Log())
        calls += line.find("C_SetPIN") != std::string::npos ||
                 line.find("C_InitPIN") != std::string::npos;
    EXPECT_EQ(calls, 0);
}

TEST_P(ClientOnEachModule, TracesEveryCallAndNoPin)
{
    size_t const slotCount = SlotIds().size();
    std::string const n = std::to_string(slotCount);
    std::string const nHex = QString::number(slotCount, 16).toStdString();
    ASSERT_EQ(client->SaveReader(slot), CKR_OK);
    ASSERT_EQ(client->SaveCard(slot), CKR_OK);
    client->Login(slot, q(WRONG_PIN), CKU_USER);
    client->Login(slot, q(module.userPin), CKU_USER);
    client->GetState(slot);
    client->ChangePin(slot, q(NEW_PIN));
    client->Logout(slot);
    client->UpdatePinTries(slot, CKU_USER);
    client->SaveObjects(slot);
    client->Reinitialize();
    client->GetState(slot);
    client.reset();

    std::vector<std::string> const lines = Log(true);
    std::regex const form(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d: )"
                          R"((     Pkcs11Manipulator|          >>): \S.*)"
                          R"( (entered|finished|returned: 0x[0-9a-f]+)( \(More info: .+\))?;)");
    for (std::string const &line : lines)
        EXPECT_TRUE(std::regex_match(line, form)) << line;

    std::string const s = std::to_string(slot);
    std::string const call = "          >>: ";
    std::string const self = "     Pkcs11Manipulator: ";
    std::vector<std::string> const expected = {
        self + "LoadApi() entered;",
        call + "C_Initialize(NULL) returned: 0x0;",
        self + "LoadApi() returned: 0x0;",
        self + "GetReadersCount() entered;",
        call + "C_GetSlotList(FALSE,NULL,&n) returned: 0x0 (More info: n=" + n + ");",
        self + "GetReadersCount() returned: 0x" + nHex + ";",
        self + "SaveReader(" + s + ") entered;",
        call + "C_GetSlotList(FALSE,psid,&n) returned: 0x0 (More info: psid!=NULL, n=" + n + ");",
        call + "C_GetSlotInfo(psid[" + s + "],&si) returned: 0x0;",
        call + "C_GetTokenInfo(psid[" + s + "],&ti) returned: 0x0;",
        call + "C_OpenSession(psid[" + s + "],CKF_RW_SESSION|CKF_SERIAL_SESSION,NULL,NULL,&hSes[" +
            s + "]) returned: 0x0;",
        call + "C_GetAttributeValue(hSes[" + s + "], NULL, templ, 1) returned: 0x0;",
        self + "SaveReader(" + s + ") returned: 0x0;",
        call + "C_GetAttributeValue(hSes[" + s + "], NULL, templ, 3) returned: 0x0;",
        self + "Login(" + s + ", QString pinString, 1) entered;",
        call + "C_Login(hSes[" + s + "],1,pin, lpin) returned: 0xa0;",
        self + "Login(" + s + ", QString pinString, 1) returned: 0xa0;",
        self + "GetState(" + s + ") returned: 0x3;",
        call + "C_SetPIN(hSes[" + s +
            "], (CK_CHAR_PTR)pin, lpin), (CK_CHAR_PTR)newPin, lNewPin) returned: 0x0;",
        self + "ChangePin(" + s + ", QString newPinString) returned: 0x0;",
        call + "C_GetAttributeValue(hSes[" + s +
            "], NULL, templ, 1) returned: 0x0 (More info: "
            "CKU_USER);",
        call + "C_FindObjectsInit(hSes[" + s + "],NULL,0) returned: 0x0;",
        call + "C_FindObjects(hSes[" + s + "],&ho,1,&f) returned: 0x0 (More info: f=0);",
        call + "C_FindObjectsFinal(hSes[" + s + "]) returned: 0x0;",
        call + "C_CloseAllSessions(" + s + ") returned: 0x0;",
        self + "GetState(" + s + ") returned: 0xffffffffffffffff;",
        call + "C_Finalize(NULL) returned: 0x0;",
        self + "~Pkcs11Manipulator() finished;",
    };
    std::vector<std::string> const bare = Log();
    for (std::string const &line : expected)
        EXPECT_TRUE(HasLine(bare, line)) << line;
    EXPECT_EQ(bare.back(), self + "~Pkcs11Manipulator() finished;");

    std::string all;
    for (std::string const &line : bare)
        all += line + "\n";
    for (std::string const &secret : {module.userPin, WRONG_PIN, NEW_PIN}) {
        EXPECT_EQ(all.find(secret), std::string::npos) << secret;
        std::string hex;
        for (unsigned char c : secret)
            hex += "0123456789abcdef"[c >> 4], hex += "0123456789abcdef"[c & 15];
        EXPECT_EQ(all.find(hex), std::string::npos) << hex;
    }
    struct stat st {
    };
    ASSERT_EQ(stat(logPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// The fake token's tests: objects put on the token by the test.
class ClientOnFakeToken : public ClientFixture
{
  protected:
    void SetUp() override
    {
        Start(FakeTokenModule());
        ASSERT_EQ(client->SaveReader(slot), CKR_OK);
    }

    // Token objects of one container, with the attributes the client reads.
    CK_OBJECT_HANDLE Key(CK_OBJECT_CLASS cls, std::string const &container, Bytes const &modulus,
                         Bytes const &exponent, bool first = true, bool second = false)
    {
        static CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
        static CK_KEY_TYPE rsa = CKK_RSA;
        static Bytes const part = {0x01};
        bool const isPrivate = cls == CKO_PRIVATE_KEY;
        std::vector<CK_ATTRIBUTE> t = {
            {CKA_CLASS, &cls, sizeof(cls)},
            {CKA_KEY_TYPE, &rsa, sizeof(rsa)},
            {CKA_TOKEN, &yes, sizeof(yes)},
            {CKA_OBJECT_CONTAINER_NAME, const_cast<char *>(container.data()), container.size()},
            {CKA_MODULUS, const_cast<unsigned char *>(modulus.data()), modulus.size()},
            {CKA_PUBLIC_EXPONENT, const_cast<unsigned char *>(exponent.data()), exponent.size()},
            {isPrivate ? CKA_SIGN : CKA_VERIFY, first ? &yes : &no, 1},
            {isPrivate ? CKA_UNWRAP : CKA_WRAP, second ? &yes : &no, 1},
            {isPrivate ? CKA_DECRYPT : CKA_ENCRYPT, &yes, 1},
        };
        if (isPrivate)
            for (CK_ATTRIBUTE_TYPE type : {CKA_PRIVATE_EXPONENT, CKA_PRIME_1, CKA_PRIME_2,
                                           CKA_EXPONENT_1, CKA_EXPONENT_2, CKA_COEFFICIENT})
                t.push_back({type, const_cast<unsigned char *>(part.data()), part.size()});
        return Create(t);
    }

    CK_OBJECT_HANDLE Certificate(std::string const &container, Bytes const &serial,
                                 Bytes const &value, std::string const &start = "",
                                 std::string const &end = "")
    {
        static CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
        static CK_CERTIFICATE_TYPE x509 = CKC_X_509;
        static CK_BBOOL yes = CK_TRUE;
        std::vector<CK_ATTRIBUTE> t = {
            {CKA_CLASS, &cls, sizeof(cls)},
            {CKA_CERTIFICATE_TYPE, &x509, sizeof(x509)},
            {CKA_TOKEN, &yes, sizeof(yes)},
            {CKA_OBJECT_CONTAINER_NAME, const_cast<char *>(container.data()), container.size()},
            {CKA_SERIAL_NUMBER, const_cast<unsigned char *>(serial.data()), serial.size()},
            {CKA_VALUE, const_cast<unsigned char *>(value.data()), value.size()},
        };
        if (!start.empty())
            t.push_back({CKA_START_DATE, const_cast<char *>(start.data()), start.size()});
        if (!end.empty())
            t.push_back({CKA_END_DATE, const_cast<char *>(end.data()), end.size()});
        return Create(t);
    }
};

// A DER length in as few bytes as it takes.
Bytes derLength(size_t length)
{
    if (length < 0x80)
        return {static_cast<unsigned char>(length)};
    Bytes digits;
    for (; length != 0; length >>= 8)
        digits.insert(digits.begin(), static_cast<unsigned char>(length));
    digits.insert(digits.begin(), static_cast<unsigned char>(0x80 | digits.size()));
    return digits;
}

Bytes tlv(unsigned char tag, Bytes const &content)
{
    Bytes out = {tag};
    Bytes length = derLength(content.size());
    out.insert(out.end(), length.begin(), length.end());
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes pattern(size_t size, unsigned char seed)
{
    Bytes out(size);
    for (size_t i = 0; i < size; ++i)
        out[i] = static_cast<unsigned char>(seed + i * 7);
    out[0] |= 0x01; // never a leading zero byte
    return out;
}

// A DER value of exactly `size` bytes: a SEQUENCE holding an OCTET STRING.
Bytes derValue(size_t size)
{
    for (size_t content = size; content > 0; --content) {
        Bytes value = tlv(0x30, tlv(0x04, pattern(content, 0x40)));
        if (value.size() == size)
            return value;
    }
    return {};
}

Bytes serialOf(size_t contentBytes)
{
    return tlv(0x02, pattern(contentBytes, 0x11));
}

TEST_F(ClientOnFakeToken, KeyAndCertificateRecordsOfSeveralContainers)
{
    Bytes const modulus1 = pattern(256, 0x80), modulus2 = pattern(128, 0x90);
    Bytes const value1 = derValue(700), value2 = derValue(1500);
    Key(CKO_PRIVATE_KEY, "first", modulus1, {0x01, 0x00, 0x01}, true, false);
    Key(CKO_PUBLIC_KEY, "first", modulus1, {0x01, 0x00, 0x01}, true, false);
    Certificate("first", {0x02, 0x03, 0x01, 0x00, 0x01}, value1, "20240131", "20270228");
    Key(CKO_PRIVATE_KEY, "second", modulus2, {0x03}, false, true);
    Key(CKO_PUBLIC_KEY, "second", modulus2, {0x03}, false, true);
    Certificate("second", {0x02, 0x01, 0x05}, value2);
    static CK_OBJECT_CLASS data = CKO_DATA;
    static CK_BBOOL yes = CK_TRUE;
    Create({{CKA_CLASS, &data, sizeof(data)}, {CKA_TOKEN, &yes, sizeof(yes)}});

    ASSERT_EQ(client->SaveObjects(slot), CKR_OK);
    ASSERT_EQ(client->GetPrivKeyCount(slot), 2);
    ASSERT_EQ(client->GetPubKeyCount(slot), 2);
    ASSERT_EQ(client->GetCertsCount(slot), 2);

    struct KeyRow {
        bool isPrivate;
        std::string container;
        Bytes modulus;
        Bytes exponent;
        Bytes flags;
    } const keys[] = {
        {true, "first", modulus1, {0x01, 0x00, 0x01}, {1, 0, 1}},
        {false, "first", modulus1, {0x01, 0x00, 0x01}, {1, 0, 1}},
        {true, "second", modulus2, {0x03}, {0, 1, 1}},
        {false, "second", modulus2, {0x03}, {0, 1, 1}},
    };
    for (KeyRow const &row : keys) {
        SCOPED_TRACE(row.container + (row.isPrivate ? " private" : " public"));
        int found = 0;
        for (int i = 0; i < 2; ++i) {
            key_info k = row.isPrivate ? client->GetPrivKeyStruct(slot, i)
                                       : client->GetPubKeyStruct(slot, i);
            if (text(k.containerName, 256) != row.container)
                continue;
            ++found;
            EXPECT_EQ(k.modulusBits, row.modulus.size() * 8);
            EXPECT_EQ(bytes(k.modulus, k.modulusLen), row.modulus);
            EXPECT_EQ(bytes(k.exponent, k.exponentLen), row.exponent);
            EXPECT_EQ(bytes(k.flags, 3), row.flags);
        }
        EXPECT_EQ(found, 1);
    }

    struct CertRow {
        std::string container;
        Bytes serial;
        QDate notBefore, notAfter;
        Bytes value;
    } const certs[] = {
        {"first", {0x01, 0x00, 0x01}, QDate(2024, 1, 31), QDate(2027, 2, 28), value1},
        {"second", {0x05}, QDate(), QDate(), value2},
    };
    for (CertRow const &row : certs) {
        SCOPED_TRACE(row.container);
        int index =
            text(client->GetCertStruct(slot, 0).containerName, 256) == row.container ? 0 : 1;
        cert_info const c = client->GetCertStruct(slot, index);
        EXPECT_EQ(text(c.containerName, 256), row.container);
        EXPECT_EQ(bytes(c.serial, c.serialLen), row.serial);
        EXPECT_EQ(c.serial[c.serialLen], 0);
        EXPECT_EQ(client->GetCertSerialLength(slot, index), static_cast<int>(row.serial.size()));
        EXPECT_EQ(c.notBefore, row.notBefore);
        EXPECT_EQ(c.notAfter, row.notAfter);
        EXPECT_EQ(c.value, row.value);
        EXPECT_EQ(c.sha1.toStdString(), Sha1Hex(row.value));
    }
}

TEST_F(ClientOnFakeToken, RecordsKeepTheirBounds)
{
    int const tooSmall = static_cast<int>(CKR_BUFFER_TOO_SMALL);
    Bytes const e = {0x01, 0x00, 0x01};
    Bytes const shortValue = derValue(64);
    struct Row {
        char const *what;
        std::function<std::vector<CK_OBJECT_HANDLE>()> put;
        int result;
        int keys, certs; // public keys, certificates recorded
        std::function<void()> check;
    } const rows[] = {
        {"many certificates",
         [&] {
             std::vector<CK_OBJECT_HANDLE> all;
             for (int i = 0; i < 130; ++i)
                 all.push_back(Certificate("c" + std::to_string(i), serialOf(1), shortValue));
             return all;
         },
         CKR_OK, 0, 130,
         [&] { EXPECT_EQ(text(client->GetCertStruct(slot, 129).containerName, 256), "c129"); }},
        {"a modulus of 256 bytes",
         [&] {
             return std::vector<CK_OBJECT_HANDLE>{Key(CKO_PUBLIC_KEY, "k", pattern(256, 1), e)};
         },
         CKR_OK, 1, 0, [&] { EXPECT_EQ(client->GetPubKeyStruct(slot, 0).modulusBits, 2048u); }},
        {"a modulus of 512 bytes",
         [&] {
             return std::vector<CK_OBJECT_HANDLE>{Key(CKO_PUBLIC_KEY, "k", pattern(512, 1), e),
                                                  Certificate("k", serialOf(1), shortValue)};
         },
         tooSmall, 0, 1, nullptr},
        {"an exponent with leading zero bytes",
         [&] {
             return std::vector<CK_OBJECT_HANDLE>{
                 Key(CKO_PUBLIC_KEY, "k", pattern(128, 1), {0x00, 0x00, 0x01, 0x00, 0x01})};
         },
         CKR_OK, 1, 0,
         [&] {
             key_info const k = client->GetPubKeyStruct(slot, 0);
             EXPECT_EQ(bytes(k.exponent, k.exponentLen), Bytes({0x01, 0x00, 0x01}));
         }},
        {"an exponent of four bytes",
         [&] {
             return std::vector<CK_OBJECT_HANDLE>{
                 Key(CKO_PUBLIC_KEY, "k", pattern(128, 1), {0x01, 0x00, 0x00, 0x01})};
         },
         tooSmall, 0, 0, nullptr},
        {"a certificate of 4096 bytes",
         [&] {
             return std::vector<CK_OBJECT_HANDLE>{Certificate("k", serialOf(1), derValue(4096))};
         },
         CKR_OK, 0, 1, [&] { EXPECT_EQ(client->GetCertStruct(slot, 0).valueLen, 4096u); }},
        {"a certificate of 4097 bytes, kept whole",
         [&] {
             return std::vector<CK_OBJECT_HANDLE>{Certificate("k", serialOf(1), derValue(4097))};
         },
         CKR_OK, 0, 1,
         [&] {
             cert_info const c = client->GetCertStruct(slot, 0);
             EXPECT_EQ(c.valueLen, 4097u);
             EXPECT_EQ(c.value, derValue(4097));
             EXPECT_EQ(c.sha1.toStdString(), Sha1Hex(derValue(4097)));
         }},
        {"a serial of 32 bytes",
         [&] { return std::vector<CK_OBJECT_HANDLE>{Certificate("k", serialOf(32), shortValue)}; },
         CKR_OK, 0, 1,
         [&] {
             cert_info const c = client->GetCertStruct(slot, 0);
             EXPECT_EQ(bytes(c.serial, c.serialLen), pattern(32, 0x11));
             EXPECT_EQ(client->GetCertSerialLength(slot, 0), 32);
         }},
        {"a serial of 33 bytes",
         [&] { return std::vector<CK_OBJECT_HANDLE>{Certificate("k", serialOf(33), shortValue)}; },
         tooSmall, 0, 0, nullptr},
        {"a serial whose length takes the long form",
         [&] { return std::vector<CK_OBJECT_HANDLE>{Certificate("k", serialOf(200), shortValue)}; },
         tooSmall, 0, 0, nullptr},
        {"a container name of 255 bytes",
         [&] {
             return std::vector<CK_OBJECT_HANDLE>{
                 Certificate(std::string(255, 'n'), serialOf(1), shortValue)};
         },
         CKR_OK, 0, 1,
         [&] {
             EXPECT_EQ(text(client->GetCertStruct(slot, 0).containerName, 256),
                       std::string(255, 'n'));
         }},
        {"a container name of 256 bytes",
         [&] {
             return std::vector<CK_OBJECT_HANDLE>{
                 Key(CKO_PUBLIC_KEY, std::string(256, 'n'), pattern(128, 1), e)};
         },
         tooSmall, 0, 0, nullptr},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<CK_OBJECT_HANDLE> objects = row.put();
        EXPECT_EQ(client->SaveObjects(slot), row.result);
        EXPECT_EQ(client->GetPubKeyCount(slot), row.keys);
        EXPECT_EQ(client->GetCertsCount(slot), row.certs);
        if (row.check)
            row.check();
        DestroyAll(objects);
    }
}

// What OpenSSL reads from a certificate: the modulus of its key, the content
// bytes of its serial number and its validity dates.
struct CertificateView {
    Bytes modulus, serial;
    QDate notBefore, notAfter;

    explicit CertificateView(Bytes const &der)
    {
        unsigned char const *p = der.data();
        X509 *x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
        EXPECT_NE(x, nullptr);
        if (x == nullptr)
            return;
        Bytes spki(static_cast<size_t>(i2d_X509_PUBKEY(X509_get_X509_PUBKEY(x), nullptr)));
        unsigned char *out = spki.data();
        i2d_X509_PUBKEY(X509_get_X509_PUBKEY(x), &out);
        Bytes exponent;
        EXPECT_TRUE(cardsim::RsaPublicParts(spki, true, modulus, exponent));
        Bytes integer(static_cast<size_t>(i2d_ASN1_INTEGER(X509_get_serialNumber(x), nullptr)));
        out = integer.data();
        i2d_ASN1_INTEGER(X509_get_serialNumber(x), &out);
        serial.assign(integer.begin() + 2, integer.end()); // a short serial: tag, length, content
        notBefore = dateOf(X509_get0_notBefore(x));
        notAfter = dateOf(X509_get0_notAfter(x));
        X509_free(x);
    }
    static QDate dateOf(ASN1_TIME const *time)
    {
        struct tm t {
        };
        EXPECT_EQ(ASN1_TIME_to_tm(time, &t), 1);
        return QDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
    }
};

// The identity card with containers of every shape the card can hold, each key
// and certificate as the client records it, and records that pair by the
// container's name.
class ClientOnIdentityCardContainers : public ClientFixture
{
  protected:
    struct Shape {
        std::string name;
        int signatureBits, exchangeBits;
        bool publicOnly;   // the exchange key's public half only
        bool certificates; // the keys' certificates on the card
    };
    static std::vector<Shape> const &Shapes()
    {
        static std::vector<Shape> const shapes = {
            {"two keys", 2048, 1024, false, true},
            {"exchange only", 0, 1024, false, true},
            {"no certificate", 1024, 0, false, false},
            {"public only", 0, 1024, true, true},
            {"a container name thirty-nine bytes long", 1024, 0, false, true},
        };
        return shapes;
    }

    void SetUp() override
    {
        cardsim::Personalisation p;
        for (Shape const &shape : Shapes()) {
            cardsim::ContainerSpec c;
            c.name = shape.name;
            c.keys[0].bits = shape.signatureBits;
            c.keys[1].bits = shape.exchangeBits;
            c.keys[1].publicOnly = shape.publicOnly;
            c.keys[0].certificate = c.keys[1].certificate = shape.certificates;
            p.containers.push_back(c);
        }
        Start(IdentityCardModule(p, &certificates));
        ASSERT_EQ(client->SaveReader(slot), CKR_OK);
    }

    // (container, modulus, exponent, flags) of a key record.
    using KeyRecord = std::tuple<std::string, Bytes, Bytes, Bytes>;
    // (container, serial, not before, not after, value, SHA-1) of a certificate record.
    using CertRecord = std::tuple<std::string, Bytes, QDate, QDate, Bytes, std::string>;

    std::multiset<KeyRecord> KeyRecords(bool isPrivate)
    {
        std::multiset<KeyRecord> records;
        int const count = isPrivate ? client->GetPrivKeyCount(slot) : client->GetPubKeyCount(slot);
        for (int i = 0; i < count; ++i) {
            key_info const k =
                isPrivate ? client->GetPrivKeyStruct(slot, i) : client->GetPubKeyStruct(slot, i);
            EXPECT_EQ(k.modulusBits, uint64_t{k.modulusLen} * 8);
            records.emplace(text(k.containerName, sizeof(k.containerName)),
                            bytes(k.modulus, k.modulusLen), bytes(k.exponent, k.exponentLen),
                            bytes(k.flags, 3));
        }
        return records;
    }
    std::multiset<CertRecord> CertRecords()
    {
        std::multiset<CertRecord> records;
        for (int i = 0; i < client->GetCertsCount(slot); ++i) {
            cert_info const c = client->GetCertStruct(slot, i);
            EXPECT_EQ(client->GetCertSerialLength(slot, i), static_cast<int>(c.serialLen));
            records.emplace(text(c.containerName, sizeof(c.containerName)),
                            bytes(c.serial, c.serialLen), c.notBefore, c.notAfter, c.value,
                            c.sha1.toStdString());
        }
        return records;
    }

    std::vector<Bytes> certificates;
};

TEST_F(ClientOnIdentityCardContainers, KeyAndCertificateRecordsAreThoseOfTheCard)
{
    // What the card holds, container by container.
    cardsim::CardState const card = dynamic_cast<cardsim::Card &>(Card()).Snapshot();
    std::map<Bytes, Bytes> certificateOfModulus;
    for (Bytes const &der : certificates)
        certificateOfModulus[CertificateView(der).modulus] = der;
    std::multiset<KeyRecord> privateKeys, publicKeys;
    std::multiset<CertRecord> certs;
    for (size_t i = 0; i < Shapes().size(); ++i) {
        Shape const &shape = Shapes()[i];
        for (int spec = 0; spec < 2; ++spec) {
            auto key = card.keys.find({static_cast<int>(i), spec});
            if (key == card.keys.end())
                continue;
            Bytes modulus, exponent;
            ASSERT_TRUE(cardsim::RsaPublicParts(key->second.der,
                                                key->second.form == cardsim::CardKey::Form::Public,
                                                modulus, exponent));
            // signature keys sign and verify, exchange keys decrypt and encrypt
            Bytes const flags = spec == 0 ? Bytes{1, 0, 0} : Bytes{0, 0, 1};
            // The token makes a private key object of every key whose public
            // parts the card gives, so the public-only container has one too.
            publicKeys.emplace(shape.name, modulus, exponent, flags);
            privateKeys.emplace(shape.name, modulus, exponent, flags);
            if (!shape.certificates)
                continue;
            Bytes const &der = certificateOfModulus.at(modulus);
            CertificateView const view(der);
            certs.emplace(shape.name, view.serial, view.notBefore, view.notAfter, der,
                          Sha1Hex(der));
        }
    }
    ASSERT_EQ(publicKeys.size(), 6u);
    ASSERT_EQ(certs.size(), 5u);

    // Before a login the private keys stay hidden.
    ASSERT_EQ(client->SaveObjects(slot), CKR_OK);
    EXPECT_EQ(client->GetPrivKeyCount(slot), 0);
    EXPECT_EQ(KeyRecords(false), publicKeys);
    EXPECT_EQ(CertRecords(), certs);

    ASSERT_EQ(client->Login(slot, q(module.userPin), CKU_USER), CKR_OK);
    ASSERT_EQ(client->SaveObjects(slot), CKR_OK);
    std::multiset<KeyRecord> const privateRecords = KeyRecords(true);
    std::multiset<KeyRecord> const publicRecords = KeyRecords(false);
    std::multiset<CertRecord> const certRecords = CertRecords();
    EXPECT_EQ(privateRecords, privateKeys);
    EXPECT_EQ(publicRecords, publicKeys);
    EXPECT_EQ(certRecords, certs);

    // The manager pairs by container name: every certificate's key is among
    // the public keys of its container, and every private key's public half.
    std::map<std::string, std::set<Bytes>> publicModuli;
    for (KeyRecord const &k : publicRecords)
        publicModuli[std::get<0>(k)].insert(std::get<1>(k));
    for (CertRecord const &c : certRecords)
        EXPECT_EQ(publicModuli[std::get<0>(c)].count(CertificateView(std::get<4>(c)).modulus), 1u)
            << std::get<0>(c);
    for (KeyRecord const &k : privateRecords)
        EXPECT_EQ(publicModuli[std::get<0>(k)].count(std::get<1>(k)), 1u) << std::get<0>(k);
}

class ClientAfterAnEarlierInitialisation : public ClientOnEachModule
{
  protected:
    void SetUp() override { Start(GetParam(), true); }
};

INSTANTIATE_TEST_SUITE_P(Modules, ClientAfterAnEarlierInitialisation,
                         ::testing::Values(FakeTokenModule(), IdentityCardModule()), ModuleName);

TEST_P(ClientAfterAnEarlierInitialisation, ReinitializeClosesTheSessionsOfEachPosition)
{
    // The module gives new slot IDs after each initialisation: positions and
    // IDs now differ, as they do once a reader came or went.
    ASSERT_NE(slotId, static_cast<CK_SLOT_ID>(slot));
    ASSERT_EQ(client->SaveReader(slot), CKR_OK);
    ASSERT_EQ(client->GetState(slot), CKS_RW_PUBLIC_SESSION);
    // the result is the last slot's, which may have no token
    EXPECT_NE(client->Reinitialize(), static_cast<int>(CKR_SLOT_ID_INVALID));
    EXPECT_EQ(client->GetState(slot), client_code::NO_SESSION);
    // a new read opens a new session
    ASSERT_EQ(client->SaveReader(slot), CKR_OK);
    EXPECT_EQ(client->GetState(slot), CKS_RW_PUBLIC_SESSION);

    // One slot's sessions: those of the other reader's slot leave the card's
    // session and its log-in alone.
    ASSERT_EQ(client->Login(slot, q(module.userPin), CKU_USER), CKR_OK);
    EXPECT_NE(client->Reinitialize(emptySlot), static_cast<int>(CKR_SLOT_ID_INVALID));
    EXPECT_EQ(client->GetState(slot), CKS_RW_USER_FUNCTIONS);
    EXPECT_EQ(client->Reinitialize(slot), CKR_OK);
    EXPECT_EQ(client->GetState(slot), client_code::NO_SESSION);
    EXPECT_EQ(client->Reinitialize(7), static_cast<int>(CKR_SLOT_ID_INVALID));
}

} // namespace
} // namespace client_test
