// A slot without a channel carrying an initialised fake token, and the small
// helpers the session and token tests share.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/p11_exception.h"
#include "core/p11_session.h"
#include "core/p11_slot.h"
#include "core_test_util.h"
#include "fake_token.h"

namespace core_test
{

constexpr unsigned long NOBODY = ~0UL;
constexpr unsigned long RO = CKF_SERIAL_SESSION;
constexpr unsigned long RW = CKF_SERIAL_SESSION | CKF_RW_SESSION;

// The fake token with access to its counters.
class ProbeToken : public vok_test::CP11Token_Fake
{
  public:
    using CP11Token_Fake::CP11Token_Fake;
    unsigned long &sessionCounter() { return m_sessionCounter; }
    CCardConnection *connection() const { return m_connection; }
};

struct FakeTokenFixture : ::testing::Test {
    static constexpr unsigned long SLOT_ID = 2;
    CP11Slot slot{nullptr};
    std::unique_ptr<ProbeToken> token;

    FakeTokenFixture()
    {
        slot.SetAttribute(SLOT_A_ID, SLOT_ID);
        slot.SetAttribute(SLOT_A_NAME, "Virtual PCD 00 00", (unsigned long)-1);
        token.reset(new ProbeToken(&slot));
        token->Initialize();
    }

    unsigned long open(unsigned long flags = RW)
    {
        unsigned long h = 0;
        token->OpenSession(flags, nullptr, nullptr, &h);
        return h;
    }

    unsigned long login(unsigned long h, unsigned long user = CKU_USER)
    {
        std::string pin = user == CKU_SO ? vok_test::FAKE_SO_PIN : vok_test::FAKE_USER_PIN;
        return codeOf(
            [&] { token->Login(h, user, (unsigned char *)pin.data(), (unsigned long)pin.size()); });
    }

    // A data object; returns its handle (0 when refused, with *rv set).
    unsigned long createData(unsigned long h, std::string const &label, bool onToken = false,
                             bool isPrivate = false, unsigned long *rv = nullptr)
    {
        CK_OBJECT_CLASS cls = CKO_DATA;
        CK_BBOOL tok = onToken ? CK_TRUE : CK_FALSE;
        CK_BBOOL priv = isPrivate ? CK_TRUE : CK_FALSE;
        CK_ATTRIBUTE t[] = {
            {CKA_CLASS, &cls, sizeof(cls)},
            {CKA_TOKEN, &tok, sizeof(tok)},
            {CKA_PRIVATE, &priv, sizeof(priv)},
            {CKA_LABEL, (void *)label.data(), label.size()},
        };
        unsigned long object = 0;
        unsigned long code = codeOf([&] { token->CreateObject(h, t, 4, &object); });
        if (rv != nullptr)
            *rv = code;
        else
            EXPECT_EQ(code, NO_ERROR) << label;
        return object;
    }

    // Runs a whole search in pages of `page` handles.
    std::vector<std::vector<unsigned long>> pages(unsigned long h, unsigned long page,
                                                  CK_ATTRIBUTE *t = nullptr, unsigned long n = 0)
    {
        std::vector<std::vector<unsigned long>> out;
        EXPECT_EQ(codeOf([&] { token->FindObjectsInit(h, t, n); }), NO_ERROR);
        for (;;) {
            std::vector<unsigned long> got(page);
            unsigned long count = 99;
            EXPECT_EQ(codeOf([&] { token->FindObjects(h, got.data(), page, &count); }), NO_ERROR);
            got.resize(count);
            out.push_back(got);
            if (count == 0 || out.size() > 100)
                break;
        }
        EXPECT_EQ(codeOf([&] { token->FindObjectsFinal(h); }), NO_ERROR);
        return out;
    }

    std::string label(unsigned long h, unsigned long object)
    {
        char buffer[64] = {};
        CK_ATTRIBUTE a = {CKA_LABEL, buffer, sizeof(buffer)};
        EXPECT_EQ(codeOf([&] { token->GetAttributeValue(h, object, &a, 1); }), NO_ERROR);
        return std::string(buffer, a.ulValueLen == CK_UNAVAILABLE_INFORMATION ? 0 : a.ulValueLen);
    }

    unsigned long state(unsigned long h)
    {
        CK_SESSION_INFO info = {};
        EXPECT_EQ(codeOf([&] { token->GetSessionInfo(h, &info); }), NO_ERROR);
        return info.state;
    }
};

} // namespace core_test
