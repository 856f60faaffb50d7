// The generic bodies of the token interface: every operation a token class
// leaves alone answers CKR_FUNCTION_NOT_SUPPORTED, whatever its arguments.
#include <gtest/gtest.h>

#include <cstdio>

#include "base/linux/linux_log.h"
#include "fake_token_fixture.h"

using namespace core_test;

namespace
{

// A token class that overrides nothing.
class BareToken : public CP11Token
{
  public:
    explicit BareToken(CP11Slot *slot) : CP11Token(slot) {}
};

struct Call {
    char const *name;
    std::function<void(CP11Token &)> call;
};

// Every operation from InitToken to GenerateRandom, with NULL pointers.
std::vector<Call> allOperations(unsigned long h)
{
    unsigned long const n = 4;
    return {
        {"InitToken", [=](CP11Token &t) { t.InitToken(nullptr, n, nullptr); }},
        {"InitPIN", [=](CP11Token &t) { t.InitPIN(h, nullptr, n); }},
        {"SetPIN", [=](CP11Token &t) { t.SetPIN(h, nullptr, n, nullptr, n); }},
        {"OpenSession", [=](CP11Token &t) { t.OpenSession(RW, nullptr, nullptr, nullptr); }},
        {"CloseSession", [=](CP11Token &t) { t.CloseSession(h); }},
        {"GetSessionInfo", [=](CP11Token &t) { t.GetSessionInfo(h, nullptr); }},
        {"GetOperationState", [=](CP11Token &t) { t.GetOperationState(h, nullptr, nullptr); }},
        {"SetOperationState", [=](CP11Token &t) { t.SetOperationState(h, nullptr, n, 1, 2); }},
        {"Login", [=](CP11Token &t) { t.Login(h, CKU_USER, nullptr, n); }},
        {"Logout", [=](CP11Token &t) { t.Logout(h); }},
        {"CreateObject", [=](CP11Token &t) { t.CreateObject(h, nullptr, n, nullptr); }},
        {"CopyObject", [=](CP11Token &t) { t.CopyObject(h, 1, nullptr, n, nullptr); }},
        {"DestroyObject", [=](CP11Token &t) { t.DestroyObject(h, 1); }},
        {"GetObjectSize", [=](CP11Token &t) { t.GetObjectSize(h, 1, nullptr); }},
        {"GetAttributeValue", [=](CP11Token &t) { t.GetAttributeValue(h, 1, nullptr, n); }},
        {"SetAttributeValue", [=](CP11Token &t) { t.SetAttributeValue(h, 1, nullptr, n); }},
        {"FindObjectsInit", [=](CP11Token &t) { t.FindObjectsInit(h, nullptr, n); }},
        {"FindObjects", [=](CP11Token &t) { t.FindObjects(h, nullptr, n, nullptr); }},
        {"FindObjectsFinal", [=](CP11Token &t) { t.FindObjectsFinal(h); }},
        {"EncryptInit", [=](CP11Token &t) { t.EncryptInit(h, nullptr, 1); }},
        {"Encrypt", [=](CP11Token &t) { t.Encrypt(h, nullptr, n, nullptr, nullptr); }},
        {"EncryptUpdate", [=](CP11Token &t) { t.EncryptUpdate(h, nullptr, n, nullptr, nullptr); }},
        {"EncryptFinal", [=](CP11Token &t) { t.EncryptFinal(h, nullptr, nullptr); }},
        {"DecryptInit", [=](CP11Token &t) { t.DecryptInit(h, nullptr, 1); }},
        {"Decrypt", [=](CP11Token &t) { t.Decrypt(h, nullptr, n, nullptr, nullptr); }},
        {"DecryptUpdate", [=](CP11Token &t) { t.DecryptUpdate(h, nullptr, n, nullptr, nullptr); }},
        {"DecryptFinal", [=](CP11Token &t) { t.DecryptFinal(h, nullptr, nullptr); }},
        {"DigestInit", [=](CP11Token &t) { t.DigestInit(h, nullptr); }},
        {"Digest", [=](CP11Token &t) { t.Digest(h, nullptr, n, nullptr, nullptr); }},
        {"DigestUpdate", [=](CP11Token &t) { t.DigestUpdate(h, nullptr, n); }},
        {"DigestKey", [=](CP11Token &t) { t.DigestKey(h, 1); }},
        {"DigestFinal", [=](CP11Token &t) { t.DigestFinal(h, nullptr, nullptr); }},
        {"SignInit", [=](CP11Token &t) { t.SignInit(h, nullptr, 1); }},
        {"Sign", [=](CP11Token &t) { t.Sign(h, nullptr, n, nullptr, nullptr); }},
        {"SignUpdate", [=](CP11Token &t) { t.SignUpdate(h, nullptr, n); }},
        {"SignFinal", [=](CP11Token &t) { t.SignFinal(h, nullptr, nullptr); }},
        {"SignRecoverInit", [=](CP11Token &t) { t.SignRecoverInit(h, nullptr, 1); }},
        {"SignRecover", [=](CP11Token &t) { t.SignRecover(h, nullptr, n, nullptr, nullptr); }},
        {"VerifyInit", [=](CP11Token &t) { t.VerifyInit(h, nullptr, 1); }},
        {"Verify", [=](CP11Token &t) { t.Verify(h, nullptr, n, nullptr, n); }},
        {"VerifyUpdate", [=](CP11Token &t) { t.VerifyUpdate(h, nullptr, n); }},
        {"VerifyFinal", [=](CP11Token &t) { t.VerifyFinal(h, nullptr, n); }},
        {"VerifyRecoverInit", [=](CP11Token &t) { t.VerifyRecoverInit(h, nullptr, 1); }},
        {"VerifyRecover", [=](CP11Token &t) { t.VerifyRecover(h, nullptr, n, nullptr, nullptr); }},
        {"DigestEncryptUpdate",
         [=](CP11Token &t) { t.DigestEncryptUpdate(h, nullptr, n, nullptr, nullptr); }},
        {"DecryptDigestUpdate",
         [=](CP11Token &t) { t.DecryptDigestUpdate(h, nullptr, n, nullptr, nullptr); }},
        {"SignEncryptUpdate",
         [=](CP11Token &t) { t.SignEncryptUpdate(h, nullptr, n, nullptr, nullptr); }},
        {"DecryptVerifyUpdate",
         [=](CP11Token &t) { t.DecryptVerifyUpdate(h, nullptr, n, nullptr, nullptr); }},
        {"GenerateKey", [=](CP11Token &t) { t.GenerateKey(h, nullptr, nullptr, n, nullptr); }},
        {"GenerateKeyPair",
         [=](CP11Token &t) {
             t.GenerateKeyPair(h, nullptr, nullptr, n, nullptr, n, nullptr, nullptr);
         }},
        {"WrapKey", [=](CP11Token &t) { t.WrapKey(h, nullptr, 1, 2, nullptr, nullptr); }},
        {"UnwrapKey",
         [=](CP11Token &t) { t.UnwrapKey(h, nullptr, 1, nullptr, n, nullptr, n, nullptr); }},
        {"DeriveKey", [=](CP11Token &t) { t.DeriveKey(h, nullptr, 1, nullptr, n, nullptr); }},
        {"SeedRandom", [=](CP11Token &t) { t.SeedRandom(h, nullptr, n); }},
        {"GenerateRandom", [=](CP11Token &t) { t.GenerateRandom(h, nullptr, n); }},
    };
}

using Interface = FakeTokenFixture;

} // namespace

TEST_F(Interface, GenericBodiesAnswerNotSupported)
{
    BareToken bare(&slot);
    std::vector<Call> calls = allOperations(0x20001);
    EXPECT_EQ(calls.size(), 55u); // all but CloseAllSessions, which works generically
    for (Call const &c : calls)
        EXPECT_EQ(codeOf([&] { c.call(bare); }), CKR_FUNCTION_NOT_SUPPORTED) << c.name;
    EXPECT_FALSE(bare.IsKnown());
    EXPECT_EQ(codeOf([&] { bare.Initialize(); }), NO_ERROR);
}

TEST_F(Interface, OperationsNoTokenOverridesStayUnsupported)
{
    unsigned long h = open();
    char const *kept[] = {"SignRecoverInit",   "SignRecover",         "VerifyRecoverInit",
                          "VerifyRecover",     "DigestEncryptUpdate", "DecryptDigestUpdate",
                          "SignEncryptUpdate", "DecryptVerifyUpdate", "GenerateKey",
                          "WrapKey",           "UnwrapKey",           "DeriveKey"};
    for (Call const &c : allOperations(h)) {
        for (char const *name : kept) {
            if (std::string(name) == c.name) {
                EXPECT_EQ(codeOf([&] { c.call(*token); }), CKR_FUNCTION_NOT_SUPPORTED) << c.name;
            }
        }
    }
}

TEST_F(Interface, UnsupportedCallIsLogged)
{
    BareToken bare(&slot);
    std::string path = std::string(VOK_BINARY_DIR) + "/core_token_interface_test.log";
    std::remove(path.c_str());
    hl_openlog(("file:" + path).c_str());
    EXPECT_EQ(codeOf([&] { bare.WrapKey(0x20001, nullptr, 3, 4, nullptr, nullptr); }),
              CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(codeOf([&] { bare.VerifyFinal(0x20001, nullptr, 0x80); }),
              CKR_FUNCTION_NOT_SUPPORTED);
    closelog();
    std::string text = readFile(path);
    size_t entry = text.find("CP11Token::WrapKey(0x00020001,");
    size_t args = text.find(",0x00000003,0x00000004,", entry);
    size_t thrown = text.find("CP11Token::WrapKey( 0x00000054 [ CKR_FUNCTION_NOT_SUPPORTED ] )");
    EXPECT_NE(entry, std::string::npos) << text;
    EXPECT_NE(args, std::string::npos) << text;
    EXPECT_NE(thrown, std::string::npos) << text;
    EXPECT_LT(entry, thrown);
    EXPECT_NE(text.rfind(" EX ", thrown), std::string::npos);
    EXPECT_NE(text.find("CP11Token::VerifyFinal( 0x00000054"), std::string::npos) << text;
}
