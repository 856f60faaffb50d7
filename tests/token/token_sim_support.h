// The identity-card token in process: a simulated card behind a channel of its
// own (sim_channel.h), a slot on it, and the token built, recognised and
// initialised as the manager does it; helpers for sessions, searches and
// attributes, and the card files of the token's storage form.
#pragma once

#include <cctype>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include "card.h"
#include "card_content.h"
#include "core/p11_session.h"
#include "core/p11_slot.h"
#include "objects/p11_data_object.h"
#include "objects/p11_object.h"
#include "personalise.h"
#include "sim_channel.h"
#include "token/p11_token_eid.h"

namespace token_test
{

// The token's protected operations, for the tests that look at them directly.
class TestToken : public CP11Token_eiD
{
  public:
    using CP11Token_eiD::CP11Token_eiD;
    using CP11Token_eiD::pushDataObject;
    using CP11Token_eiD::tokenCacheSynchronize;
    CList<CP11Container *> const &Containers() const { return m_containers; }
    CList<CP11DataObject *> const &DataObjects() const { return m_dataObjects; }
    unsigned char DataSlot(unsigned n) const { return m_dataSlots[n]; }
    unsigned long ReadCacheHits() const { return m_readCache.Hits(); }
    bool Connected() const { return m_connection != nullptr; }
    void UpdateObjects(bool all) { updateObjects(all); }
    bool CryptoClear() const { return m_crypto.IsClear(); }
    CCardCryptoSet const &Crypto() const { return m_crypto; }
};

// A personalised simulated card behind a slot of its own, with a token on it.
struct SimToken {
    explicit SimToken(cardsim::Personalisation const &p = {}, unsigned long slotId = 1,
                      cardsim::Options const &options = {})
    {
        cardsim::CardState state;
        std::string error;
        EXPECT_TRUE(cardsim::Personalise(p, state, &error, &certificates)) << error;
        card.reset(new cardsim::Card(state, options));
        card->PowerOn();
        channel.reset(new SimChannel([this](Bytes const &c) { return card->Apdu(c); }, p.atr));
        slot.reset(new CP11Slot(channel.get()));
        slot->SetAttribute(SLOT_A_ID, slotId);
        slot->SetAttribute(SLOT_A_NAME, READER, ~0UL);
        token.reset(new TestToken(slot.get()));
    }

    // What the manager does on insertion: recognise, then initialise.
    bool Insert() { return token->IsKnown() && (token->Initialize(), true); }

    CK_SESSION_HANDLE Open(CK_FLAGS flags = CKF_SERIAL_SESSION)
    {
        CK_SESSION_HANDLE h = 0;
        token->OpenSession(flags, nullptr, nullptr, &h);
        return h;
    }

    // The handles a search with the template finds, in order.
    std::vector<CK_OBJECT_HANDLE> Find(CK_SESSION_HANDLE session,
                                       std::vector<CK_ATTRIBUTE> templ = {})
    {
        token->FindObjectsInit(session, templ.empty() ? nullptr : templ.data(), templ.size());
        std::vector<CK_OBJECT_HANDLE> found;
        CK_OBJECT_HANDLE h[4];
        CK_ULONG n = 0;
        do {
            token->FindObjects(session, h, 4, &n);
            found.insert(found.end(), h, h + n);
        } while (n != 0);
        token->FindObjectsFinal(session);
        return found;
    }

    // One attribute's bytes (empty when the object has none to give).
    Bytes Attribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type)
    {
        CK_ATTRIBUTE a = {type, nullptr, 0};
        token->GetAttributeValue(session, object, &a, 1);
        Bytes value(a.ulValueLen);
        a.pValue = value.data();
        token->GetAttributeValue(session, object, &a, 1);
        return value;
    }
    CK_ULONG Ulong(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type)
    {
        CK_ULONG v = 0;
        CK_ATTRIBUTE a = {type, &v, sizeof(v)};
        token->GetAttributeValue(session, object, &a, 1);
        return v;
    }
    std::string Text(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type)
    {
        Bytes b = Attribute(session, object, type);
        return std::string(b.begin(), b.end());
    }

    std::vector<Bytes> certificates; // DER, by container, signature before exchange
    std::unique_ptr<cardsim::Card> card;
    std::unique_ptr<SimChannel> channel;
    std::unique_ptr<CP11Slot> slot;
    std::unique_ptr<TestToken> token;
};

// The card's commands that list a directory and that read a file.
inline bool IsListing(Bytes const &c)
{
    return c.size() > 3 && c[0] == 0xB0 && c[1] == 0xAA && c[2] == 0;
}
inline bool IsRead(Bytes const &c, std::string const &name)
{
    return c.size() >= 21 && c[0] == 0xB0 && c[1] == 0xA4 &&
           std::string(c.begin() + 13, c.begin() + 13 + name.size()) == name;
}

// The commands that write a file: its header, then each chunk.
inline bool IsFileWrite(Bytes const &c)
{
    return c.size() > 3 && c[0] == 0xB0 && c[1] == 0xA0 && c[2] == 0x01 &&
           (c[3] == 0x04 || c[3] == 0x08);
}

// "1A 2b" -> bytes; anything but hex digits is skipped.
inline Bytes Hex(std::string const &text)
{
    std::string digits;
    for (char c : text)
        if (std::isxdigit((unsigned char)c))
            digits += c;
    Bytes out;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back((unsigned char)std::stoul(digits.substr(i, 2), nullptr, 16));
    return out;
}

// What OpenSSL reads from a certificate: its RSA modulus and its subject.
struct CertificateView {
    Bytes modulus, subject;
    explicit CertificateView(Bytes const &der)
    {
        unsigned char const *p = der.data();
        X509 *x = d2i_X509(nullptr, &p, (long)der.size());
        EXPECT_NE(x, nullptr);
        if (x == nullptr)
            return;
        BIGNUM *n = nullptr;
        EVP_PKEY_get_bn_param(X509_get0_pubkey(x), OSSL_PKEY_PARAM_RSA_N, &n);
        modulus.resize((size_t)BN_num_bytes(n));
        BN_bn2bin(n, modulus.data());
        BN_free(n);
        unsigned char *s = nullptr;
        int length = i2d_X509_NAME(X509_get_subject_name(x), &s);
        subject.assign(s, s + length);
        OPENSSL_free(s);
        X509_free(x);
    }
};

inline Bytes Sha1(Bytes const &data)
{
    Bytes digest(SHA_DIGEST_LENGTH);
    SHA1(data.data(), data.size(), digest.data());
    return digest;
}

// The code a token call throws, CKR_OK when it returns.
template <typename Call> CK_RV Rv(Call call)
{
    try {
        call();
    } catch (CP11Exception &e) {
        return e.GetErrorCode();
    }
    return CKR_OK;
}

// A data object in the token's storage form, as a "dataNN" file holds it.
inline Bytes EncodedDataObject(std::string const &label, Bytes const &value, bool isPrivate)
{
    CP11DataObject object;
    object.SetAttribute(CKA_TOKEN, (unsigned char)1);
    object.SetAttribute(CKA_PRIVATE, (unsigned char)(isPrivate ? 1 : 0));
    object.SetAttribute(CKA_LABEL, label.c_str(), ~0UL);
    object.SetAttribute(CKA_VALUE, (void const *)value.data(), (unsigned long)value.size());
    _asn_t *element = object.Encode();
    long size = CP11Object::Encode(element, nullptr, false);
    Bytes bytes((size_t)size);
    CP11Object::Encode(element, bytes.data(), true);
    return bytes;
}

// A "qv_p11" file of the new card: stored compressed, public (3D) or private (3C).
inline cardsim::PersonalFile QvP11File(std::string const &name, Bytes const &plain,
                                       bool isPrivate = false)
{
    return {"qv_p11", name, cardsim::StoredPacked(plain, isPrivate ? 0x3C : 0x3D)};
}

} // namespace token_test
