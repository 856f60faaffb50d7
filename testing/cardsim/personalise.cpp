#include "personalise.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <fstream>
#include <memory>

namespace cardsim
{

namespace
{

struct PkeyFree {
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
struct X509Free {
    void operator()(X509 *x) const { X509_free(x); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX *c) const { EVP_MD_CTX_free(c); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

bool Fail(std::string *error, const std::string &what)
{
    if (error)
        *error = what;
    return false;
}

Pkey ReadPrivateKey(const std::string &path)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return nullptr;
    Pkey key(PEM_read_PrivateKey(f, nullptr, nullptr, nullptr));
    std::fclose(f);
    return key;
}

bool Sign(EVP_PKEY *key, const Bytes &message, Bytes &signature)
{
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    size_t length = 0;
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key) != 1 ||
        EVP_DigestSign(ctx.get(), nullptr, &length, message.data(), message.size()) != 1)
        return false;
    signature.resize(length);
    if (EVP_DigestSign(ctx.get(), signature.data(), &length, message.data(), message.size()) != 1)
        return false;
    signature.resize(length);
    return true;
}

void AddTlv(Bytes &out, unsigned char tag, const Bytes &value)
{
    out.push_back(tag);
    out.push_back(static_cast<unsigned char>(value.size() >> 8));
    out.push_back(static_cast<unsigned char>(value.size()));
    out.insert(out.end(), value.begin(), value.end());
}

// A self-signed certificate for a container key, as DER.
bool MakeCertificate(EVP_PKEY *key, const std::string &commonName, long serial, Bytes &der)
{
    std::unique_ptr<X509, X509Free> cert(X509_new());
    if (!cert)
        return false;
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3L * 365 * 24 * 3600);
    X509_NAME *name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "C", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>("CZ"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char *>(commonName.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(cert.get(), name);
    if (X509_set_pubkey(cert.get(), key) != 1 || X509_sign(cert.get(), key, EVP_sha256()) <= 0)
        return false;
    int length = i2d_X509(cert.get(), nullptr);
    if (length <= 0)
        return false;
    der.resize(static_cast<size_t>(length));
    unsigned char *p = der.data();
    i2d_X509(cert.get(), &p);
    return true;
}

bool PrivateKeyDer(EVP_PKEY *key, Bytes &der)
{
    int length = i2d_PrivateKey(key, nullptr);
    if (length <= 0)
        return false;
    der.resize(static_cast<size_t>(length));
    unsigned char *p = der.data();
    i2d_PrivateKey(key, &p);
    return true;
}

CardFile PlainFile(const Bytes &plain, unsigned char access)
{
    CardFile f;
    f.stored = plain;
    f.stored.push_back(Crc8(plain));
    f.plainLength = static_cast<uint32_t>(plain.size());
    f.fileSize = static_cast<uint32_t>(f.stored.size());
    f.access = access;
    return f;
}

CardFile CompressedFile(const Bytes &plain, unsigned char access)
{
    CardFile f;
    f.stored = PackCardFile(plain);
    f.plainLength = static_cast<uint32_t>(plain.size());
    f.fileSize = static_cast<uint32_t>(f.stored.size());
    f.access = access;
    return f;
}

} // namespace

Bytes ReadMasterKey(const std::string &path)
{
    std::ifstream f(path);
    std::string hex;
    Bytes key;
    if (!(f >> hex) || !FromHex(hex, key) || key.size() != 16)
        return {};
    return key;
}

Bytes DefaultAtr()
{
    return {0x3B, 0x0D, 0x80, 0x25, 0xD2, 0x03, 0x10, 0x01,
            0x00, 0x56, 0x00, 0x00, 0x00, 0x01, 0x01};
}

Bytes CmapRecord(const std::string &name, unsigned char flags, uint16_t signatureBits,
                 uint16_t exchangeBits)
{
    Bytes r(86, 0);
    for (size_t i = 0; i < name.size() && i < 39; ++i)
        r[2 * i] = static_cast<unsigned char>(name[i]); // ASCII as UTF-16LE
    r[80] = flags;
    r[82] = static_cast<unsigned char>(signatureBits);
    r[83] = static_cast<unsigned char>(signatureBits >> 8);
    r[84] = static_cast<unsigned char>(exchangeBits);
    r[85] = static_cast<unsigned char>(exchangeBits >> 8);
    return r;
}

bool BuildCardData(const Bytes &cardId, const std::string &issuerKeyPath, Bytes &cardData,
                   std::string *error)
{
    Pkey issuer = ReadPrivateKey(issuerKeyPath);
    if (!issuer)
        return Fail(error, "cannot read the issuer key " + issuerKeyPath);
    Bytes diversification(24);
    for (size_t i = 0; i < diversification.size(); ++i)
        diversification[i] = static_cast<unsigned char>(0xA0 + i);
    std::string holderText = "VOK TEST CARD";
    Bytes holder(holderText.begin(), holderText.end());

    Bytes message = cardId;
    message.insert(message.end(), diversification.begin(), diversification.end());
    message.insert(message.end(), holder.begin(), holder.end());
    Bytes signature;
    if (!Sign(issuer.get(), message, signature))
        return Fail(error, "cannot sign the card data");

    cardData.clear();
    AddTlv(cardData, 0x01, {0x03, 0x02, 0x05});
    AddTlv(cardData, 0x02, diversification);
    AddTlv(cardData, 0x05, holder);
    AddTlv(cardData, 0x04, signature);
    return true;
}

bool Personalise(const Personalisation &p, CardState &state, std::string *error,
                 std::vector<Bytes> *certificates)
{
    if (p.serial.size() != 16)
        return Fail(error, "the serial number must have 16 bytes");
    if (p.userPin.empty() || p.puk.empty() || p.userPin.size() > p.maxPinLength ||
        p.puk.size() > p.maxPinLength || p.maxPinLength > 15)
        return Fail(error, "the PINs must have 1 to the maximum PIN length characters");
    CardState s;
    if (certificates)
        certificates->clear();
    s.atr = p.atr;
    s.appletMajor = p.appletMajor;
    s.appletMinor = p.appletMinor;
    s.serial = p.serial;
    s.cardId = p.cardId.empty() ? Bytes(p.serial.begin() + 8, p.serial.end()) : p.cardId;
    if (s.cardId.size() != 8)
        return Fail(error, "the card identifier must have 8 bytes");
    s.maxPinLength = p.maxPinLength;
    s.challengeLength = 8;
    s.infoFlags = p.userPinInitialised ? 0x08 : 0x00;
    CardPin user;
    user.limit = 3;
    user.type = p.userPinPadded ? 0x03 : 0x01;
    user.role = 0x02;
    user.updaters = 0x03;
    user.tries = 3;
    user.value.assign(p.userPin.begin(), p.userPin.end());
    CardPin puk;
    puk.limit = 5;
    puk.type = 0x03;
    puk.role = 0x04;
    puk.updaters = 0x02;
    puk.tries = 5;
    puk.value.assign(p.puk.begin(), p.puk.end());
    s.pins = {user, puk};
    s.containers = 8;
    s.keySizes = {{1024, 8}, {2048, 8}};
    s.memoryInfo = {0x00, 0x01, 0x0A, 0x40, 0x01}; // 2^10 * 64 * 1 = 64 KiB
    s.providerFlags = {0x00, 0x00};
    s.importedKeyParams = {0x00, 0x00, 0x00};
    if (!BuildCardData(s.cardId, p.issuerKeyPath, s.cardData, error))
        return false;
    s.masterKey = ReadMasterKey(p.masterKeyPath);
    if (s.masterKey.empty())
        return Fail(error, "cannot read the master key " + p.masterKeyPath);

    s.dirs[""].access = 0x3F;
    s.dirs["mscp"].access = 0x3F;
    s.dirs["qv_p11"].access = 0x3F;
    s.dirs[""].files["cardcf"] = PlainFile(Bytes(6, 0x00), 0x3F);
    Bytes cmap;
    if (p.withContainer) {
        const char *labels[2] = {"Signature key", "Exchange key"};
        const char *files[2] = {"ksc00", "kxc00"};
        for (int spec = 0; spec < 2; ++spec) {
            Pkey key(EVP_RSA_gen(static_cast<unsigned>(p.keyBits)));
            Bytes der, cert;
            if (!key || !PrivateKeyDer(key.get(), der) ||
                !MakeCertificate(key.get(), std::string("Test holder - ") + labels[spec], spec + 1,
                                 cert))
                return Fail(error, "cannot make the container keys");
            s.keys[{0, spec}] = der;
            if (certificates)
                certificates->push_back(cert);
            s.dirs["mscp"].files[files[spec]] = CompressedFile(cert, 0x3D);
        }
        cmap = CmapRecord("cardsim-container-00", 0x03, static_cast<uint16_t>(p.keyBits),
                          static_cast<uint16_t>(p.keyBits));
        s.ListKeySize(static_cast<uint16_t>(p.keyBits)); // kind 1 lists what the card holds
    }
    CardFile cmapFile;
    cmapFile.stored = cmap.empty() ? Bytes{} : cmap;
    if (!cmap.empty())
        cmapFile.stored.push_back(Crc8(cmap));
    cmapFile.plainLength = static_cast<uint32_t>(cmap.size());
    cmapFile.fileSize = static_cast<uint32_t>(cmapFile.stored.size());
    cmapFile.access = 0x3D;
    s.dirs["mscp"].files["cmapfile"] = cmapFile;
    state = std::move(s);
    return true;
}

} // namespace cardsim
