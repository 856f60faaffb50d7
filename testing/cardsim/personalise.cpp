#include "personalise.h"

#include "openssl_handles.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <fstream>
#include <memory>

namespace cardsim
{

namespace
{

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
    OpenSslHandle<EVP_MD_CTX> ctx(EVP_MD_CTX_new());
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

Bytes Text(const std::string &text)
{
    return Bytes(text.begin(), text.end());
}

// A PIN with all its tries left.
CardPin NewPin(unsigned char limit, unsigned char type, unsigned char role, unsigned char updaters,
               const Bytes &value)
{
    CardPin pin;
    pin.limit = pin.tries = limit;
    pin.type = type;
    pin.role = role;
    pin.updaters = updaters;
    pin.value = value;
    return pin;
}

void AddTlv(Bytes &out, unsigned char tag, const Bytes &value)
{
    out.push_back(tag);
    out.push_back(static_cast<unsigned char>(value.size() >> 8));
    out.push_back(static_cast<unsigned char>(value.size()));
    out.insert(out.end(), value.begin(), value.end());
}

// Keys, certificates and map records of the personalised containers.
bool AddContainers(CardState &s, const std::vector<ContainerSpec> &containers, bool reversed,
                   std::string *error, std::vector<Bytes> *certificates)
{
    const int count = static_cast<int>(containers.size());
    if (count > s.containers)
        return Fail(error, "more containers than the card has");
    const char *labels[2] = {"Signature key", "Exchange key"};
    for (int i = 0; i < count; ++i) {
        const ContainerSpec &c = containers[static_cast<size_t>(i)];
        for (int spec = 0; spec < 2; ++spec) {
            const ContainerKey &k = c.keys[spec];
            if (k.bits == 0)
                continue;
            KeyOptions o;
            o.bits = k.bits;
            o.usage = k.usage;
            o.publicOnly = k.publicOnly;
            Bytes keyPair, cert;
            if (!InstallKey(s, i, spec, o, error, &keyPair))
                return false;
            if (!k.certificate)
                continue;
            std::string holder = i == 0 ? "Test holder" : "Test holder " + std::to_string(i);
            if (!MakeCertificate(keyPair, holder + " - " + labels[spec], 2 * i + spec + 1,
                                 k.expired, cert))
                return Fail(error, "cannot make a certificate");
            int file = reversed ? count - 1 - i : i;
            s.dirs["mscp"].files[CertificateFileName(file, spec)] = StoredPacked(cert, 0x3D);
            if (certificates)
                certificates->push_back(cert);
        }
        char name[40];
        std::snprintf(name, sizeof name, "cardsim-container-%02d", i);
        SetCmapRecord(s, i,
                      CmapRecord(c.name.empty() ? name : c.name,
                                 static_cast<unsigned char>(0x01 | (c.isDefault ? 0x02 : 0)),
                                 static_cast<uint16_t>(c.keys[0].bits),
                                 static_cast<uint16_t>(c.keys[1].bits)));
    }
    return true;
}

} // namespace

Bytes ReadKeyFile(const std::string &path, size_t length)
{
    std::ifstream f(path);
    std::string hex;
    Bytes key;
    if (!(f >> hex) || !FromHex(hex, key) || key.size() != length)
        return {};
    return key;
}

Bytes DefaultAtr()
{
    return {0x3B, 0x0D, 0x80, 0x25, 0xD2, 0x03, 0x10, 0x01,
            0x00, 0x56, 0x00, 0x00, 0x00, 0x01, 0x01};
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
    s.pins = {NewPin(3, p.userPinPadded ? 0x03 : 0x01, 0x02, 0x03, Text(p.userPin)),
              NewPin(5, 0x03, 0x04, 0x02, Text(p.puk))};
    Bytes adminKey = ReadKeyFile(p.adminKeyPath, 24);
    if (adminKey.empty())
        return Fail(error, "cannot read the admin key " + p.adminKeyPath);
    s.adminKeys[0x01] = adminKey;
    if (p.challengePin)
        s.pins.push_back(NewPin(3, 0x02, 0x10, 0x06, adminKey));
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
    s.dirs[""].files["cardcf"] = StoredPlain(Bytes(6, 0x00), 0x3F);
    CardFile emptyMap;
    emptyMap.access = 0x3D;
    s.dirs["mscp"].files["cmapfile"] = emptyMap;
    if (p.largerKeys)
        for (uint16_t bits : {2560, 3072, 4096})
            s.ListKeySize(bits);
    std::vector<ContainerSpec> containers = p.containers;
    if (containers.empty() && p.withContainer) {
        ContainerSpec c;
        c.keys[0].bits = c.keys[1].bits = p.keyBits;
        c.isDefault = true;
        containers.push_back(c);
    }
    if (!AddContainers(s, containers, p.certificatesReversed, error, certificates))
        return false;
    for (const auto &f : p.files) {
        if (f.name.empty() || f.name.size() > 8 || f.dir.size() > 8)
            return Fail(error, "a file or directory name of 1 to 8 characters: " + f.name);
        if (!s.dirs.count(f.dir))
            s.dirs[f.dir].access = 0x3F;
        s.dirs[f.dir].files[f.name] = f.file;
    }
    state = std::move(s);
    return true;
}

} // namespace cardsim
