// Certificates and keys put onto the identity-card token: a certificate into the
// container whose key it certifies (its file "kscNN" or "kxcNN"), a public key
// over the hidden public key of its container, a private key into a new card
// container, imported under secure messaging, with its public key beside it,
// hidden until the same public key is created.
//
// Invariants:
// - Memory follows the card: the token's objects change only once the card has
//   accepted the change.
// - A failed push leaves the card as it was: a certificate file it created is
//   deleted, a container it created is deleted and the container map put back.
// - Once the card holds a private key, the token keeps only its public part: the
//   private components of its object, of the key blob and of every copy made on
//   the way are zeroed.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <mbedtls/platform_util.h>

#include "asn1/asn_cert.h"
#include "base/linux/linux_log.h"
#include "base/p11_convert.h"
#include "card/qvmd.h"
#include "crypto/rsa.h"
#include "objects/p11_certificate.h"
#include "objects/p11_container.h"
#include "objects/p11_private_key.h"
#include "objects/p11_public_key.h"
#include "objects/p11_rsa_private_key.h"
#include "objects/p11_rsa_public_key.h"
#include "objects/p11_template.h"
#include "token/p11_token_eid.h"

using vok_log::HL_DEBUG;
using vok_log::HL_ENTER;
using vok_log::HL_ERROR;
using vok_log::HL_INFO;
using vok_log::HL_WARNING;

namespace
{

char const MASTER_KEY[] = "MK";
unsigned char const ACCESS_PUBLIC = 0x3D;

using Bytes = std::vector<unsigned char>;

Bytes attribute(CP11Object *object, unsigned long type)
{
    unsigned long length = 0;
    auto const *value =
        static_cast<unsigned char const *>(object->FindBinaryAttribute(type, &length));
    return value != nullptr ? Bytes(value, value + length) : Bytes();
}

void requireRsa(CP11Object *key)
{
    bool found = false;
    if (key->FindLongAttribute(CKA_KEY_TYPE, &found) != CKK_RSA || !found) {
        hl_log(HL_ERROR, "Unexpected 'CKA_KEY_TYPE' attribute value.\n");
        throw CP11Exception(CKR_KEY_TYPE_INCONSISTENT);
    }
}

// The template a container's key of that class must match: an RSA key with the
// modulus and exponent.
struct KeyTemplate {
    unsigned long cls;
    unsigned long keyType = CKK_RSA;
    Bytes modulus, exponent;
    CK_ATTRIBUTE entries[4];
    KeyTemplate(unsigned long c, Bytes n, Bytes e)
        : cls(c), modulus(std::move(n)),
          exponent(std::move(e)), entries{{CKA_CLASS, &cls, sizeof(cls)},
                                          {CKA_KEY_TYPE, &keyType, sizeof(keyType)},
                                          {CKA_MODULUS, modulus.data(), modulus.size()},
                                          {CKA_PUBLIC_EXPONENT, exponent.data(), exponent.size()}}
    {
    }
    KeyTemplate(KeyTemplate const &) = delete;
    KeyTemplate &operator=(KeyTemplate const &) = delete;
};

// The certificate's RSA key: its modulus and exponent; CKR_ATTRIBUTE_VALUE_INVALID
// for a value that is no certificate or has no RSA key.
void certificateKey(Bytes const &der, Bytes &modulus, Bytes &exponent)
{
    _asn_cert_ctx_t *parsed = nullptr;
    if (der.empty() || der.size() > 0x7FFFFFFFUL ||
        asn_cert_ctx_init(der.data(), (uint32_t)der.size(), &parsed) < 0) {
        hl_log(HL_ERROR, "Invalid 'CKA_VALUE' attribute value.\n");
        hl_hd(HL_DEBUG, der.data(), (int)(der.size() < 0x7FFFFFFFUL ? der.size() : 0));
        throw CP11Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    std::unique_ptr<_asn_cert_ctx_t, int32_t (*)(_asn_cert_ctx_t *)> ctx(parsed,
                                                                         asn_cert_ctx_final);
    int32_t size = asn_cert_ctx_get_attribute(ctx.get(), ASN_CERT_RSA_KEY, nullptr);
    Bytes record(size > 0 ? (size_t)size : 0);
    asn_cert_rsa_key_t key = {};
    bool read = size >= (int32_t)sizeof(key) &&
                asn_cert_ctx_get_attribute(ctx.get(), ASN_CERT_RSA_KEY, record.data()) == size;
    if (read)
        std::memcpy(&key, record.data(), sizeof(key));
    if (!read || key.modulus_length == 0 || key.exponent_length == 0 ||
        key.modulus_length + key.exponent_length > record.size() - sizeof(key)) {
        hl_log(HL_ERROR, "Invalid certificate public key value.\n");
        throw CP11Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    unsigned char const *bytes = record.data() + sizeof(key);
    modulus.assign(bytes, bytes + key.modulus_length);
    exponent.assign(bytes + key.modulus_length, bytes + key.modulus_length + key.exponent_length);
}

void logContainer(CP11Container *container)
{
    unsigned long type = container->FindLongAttribute(CKA_CONTAINER_TYPE);
    hl_log(HL_INFO, "Container type : 0x%.8lx ( %s )\n", type,
           type == CONTAINER_TYPE_SIGNATURE ? "CKCT_SIGNATURE" : "CKCT_EXCHANGE");
    hl_log(HL_INFO, "Container number : %d\n", (int)container->FindByteAttribute(CKA_CONTAINER_ID));
}

void logHandle(CP11Object *object)
{
    hl_log(HL_INFO, "Object(%p) handle :( 0x%.8lx )\n", (void *)object, object->GetHandle());
}

// Whether every attribute of key, but the module's own, has the value the
// stored key has.
bool sameKey(CP11Object *stored, CP11Object *key)
{
    CP11Template values(key);
    unsigned long count = 0;
    values.GetAttributes((unsigned long *)nullptr, &count);
    std::vector<unsigned long> types(count);
    if (count != 0)
        values.GetAttributes(types.data(), &count);
    for (unsigned long type : types)
        if ((type & CKA_VENDOR_DEFINED) != 0)
            delete values.removeAttribute(type);
    return stored->Compare(&values);
}

// A zeroed buffer that is zeroed again before it goes.
struct Secret : Bytes {
    explicit Secret(size_t n) : Bytes(n, 0) {}
    ~Secret() { mbedtls_platform_zeroize(data(), size()); }
};

} // namespace

void CP11Token_eiD::writeContainerFileWith(CP11Container *container, CP11Object *member)
{
    CP11Certificate *certificate = container->GetCertificate();
    CP11PublicKey *publicKey = container->GetKeyPublic();
    CP11PrivateKey *privateKey = container->GetKeyPrivate();
    struct Restore {
        CP11Container *c;
        CP11Certificate *certificate;
        CP11PublicKey *publicKey;
        CP11PrivateKey *privateKey;
        ~Restore()
        {
            c->SetCertificate(certificate);
            c->SetKeyPublic(publicKey);
            c->SetKeyPrivate(privateKey);
        }
    } restore = {container, certificate, publicKey, privateKey};
    switch (member->FindLongAttribute(CKA_CLASS)) {
    case CKO_CERTIFICATE:
        container->SetCertificate(dynamic_cast<CP11Certificate *>(member));
        break;
    case CKO_PUBLIC_KEY:
        container->SetKeyPublic(dynamic_cast<CP11PublicKey *>(member));
        break;
    case CKO_PRIVATE_KEY:
        container->SetKeyPrivate(dynamic_cast<CP11PrivateKey *>(member));
        break;
    default:
        throw CP11Exception(CKR_GENERAL_ERROR);
    }
    writeContainerFile(container);
}

void CP11Token_eiD::pushCertificate(CP11Object *certificate, CBlob *name, unsigned long *handle)
{
    hl_log(HL_ENTER, "CP11Token_eiD::pushCertificate(%p,%p,%p)\n", (void *)certificate,
           (void *)name, (void *)handle);
    frame(
        "pushCertificate",
        [&] {
            *handle = 0;
            if (certificate->FindLongAttribute(CKA_CERTIFICATE_TYPE) != CKC_X_509) {
                hl_log(HL_ERROR, "Unexpected 'CKA_CERTIFICATE_TYPE' attribute value.\n");
                throw CP11Exception(CKR_FUNCTION_NOT_SUPPORTED);
            }
            Bytes der = attribute(certificate, CKA_VALUE);
            Bytes modulus, exponent;
            certificateKey(der, modulus, exponent);
            CP11Container *container = nullptr;
            for (unsigned long cls : {CKO_PUBLIC_KEY, CKO_PRIVATE_KEY}) {
                KeyTemplate key(cls, modulus, exponent);
                CP11Template templ(key.entries, 4);
                container = findContainer(&templ, name, 0x2000, false);
                if (container != nullptr)
                    break;
            }
            if (container == nullptr) {
                hl_log(HL_ERROR, "Container not found.\n");
                throw CP11Exception(CKR_DEVICE_ERROR);
            }
            logContainer(container);
            std::unique_ptr<CP11Object> copy(classCopy(certificate));
            auto *stored = dynamic_cast<CP11Certificate *>(copy.get());
            if (stored == nullptr)
                throw CP11Exception(CKR_GENERAL_ERROR);
            fillCertificate(stored);

            raiseFilesCounter();
            unsigned char number = container->FindByteAttribute(CKA_CONTAINER_ID);
            bool signature =
                container->FindLongAttribute(CKA_CONTAINER_TYPE) == CONTAINER_TYPE_SIGNATURE;
            unsigned char file[8] = {};
            if (QVMD_FillCertFileName(m_card, file, number,
                                      signature ? QVMD_KEYSPEC_SIGNATURE : QVMD_KEYSPEC_EXCHANGE) !=
                0)
                cardFailed("QVMD_FillCertFileName", CKR_GENERAL_ERROR);
            hl_log(HL_INFO, "Certificate file name :\n");
            hl_hd(HL_INFO, file, sizeof(file));
            m_readCache.Forget();
            // a file that was there before is not this call's to delete
            auto removeFile = [&] {
                if (QVMD_DeleteFile(m_card, MSCP_DIR, file) != 0)
                    hl_log(HL_WARNING, "QVMD_DeleteFile function call failed.\n");
            };
            uint32_t rv =
                QVMD_CreateFile(m_card, MSCP_DIR, file, der.data(), der.size(), ACCESS_PUBLIC);
            if (rv != 0) {
                if (rv != QV_ERROR_FILE_EXISTS)
                    removeFile();
                cardFailed("QVMD_CreateFile");
            }
            container->SetCertificate(stored);
            try {
                writeContainerFile(container);
            } catch (CP11Exception &) {
                container->SetCertificate(nullptr);
                removeFile();
                throw;
            }
            copy.release();
            stored->SetHandle(++m_objectCounter);
            *handle = stored->GetHandle();
            logHandle(stored);
        },
        true);
}

void CP11Token_eiD::pushPublicKey(CP11Object *key, CBlob *name, unsigned long *handle)
{
    hl_log(HL_ENTER, "CP11Token_eiD::pushPublicKey(%p,%p,%p)\n", (void *)key, (void *)name,
           (void *)handle);
    frame(
        "pushPublicKey",
        [&] {
            *handle = 0;
            requireRsa(key);
            KeyTemplate wanted(CKO_PUBLIC_KEY, attribute(key, CKA_MODULUS),
                               attribute(key, CKA_PUBLIC_EXPONENT));
            CP11Template templ(wanted.entries, 4);
            CP11Container *container = findContainer(&templ, name, 0x1000, false);
            CP11PublicKey *stored = container != nullptr ? container->GetKeyPublic() : nullptr;
            if (stored == nullptr) {
                hl_log(HL_ERROR, "Container not found.\n");
                throw CP11Exception(CKR_FUNCTION_NOT_SUPPORTED);
            }
            logContainer(container);
            *handle = stored->GetHandle();
            if (sameKey(stored, key)) {
                if (stored->FindByteAttribute(CKA_HIDDEN) == 0)
                    return; // visible already: nothing to write
                std::unique_ptr<CP11Object> shown(classCopy(stored));
                shown->SetAttribute(CKA_HIDDEN, (unsigned char)CK_FALSE);
                writeContainerFileWith(container, shown.get());
                stored->SetAttribute(CKA_HIDDEN, (unsigned char)CK_FALSE);
                hl_log(HL_INFO, "Object(%p) handle ( 0x%.8lx ) set as VISIBLE.\n", (void *)stored,
                       stored->GetHandle());
                return;
            }
            // the new key takes the stored one's place and handle
            std::unique_ptr<CP11Object> copy(classCopy(key));
            auto *replacement = dynamic_cast<CP11PublicKey *>(copy.get());
            if (replacement == nullptr)
                throw CP11Exception(CKR_GENERAL_ERROR);
            replacement->SetHandle(stored->GetHandle());
            replacement->SetAttribute(CKA_HIDDEN, (unsigned char)CK_FALSE);
            fillPublicKey(replacement);
            writeContainerFileWith(container, replacement);
            RemoveObject(stored);
            container->SetKeyPublic(replacement);
            copy.release();
            delete stored;
            logHandle(replacement);
        },
        true);
}

void CP11Token_eiD::pushPrivateKey(CP11Object *key, unsigned long *handle)
{
    hl_log(HL_ENTER, "CP11Token_eiD::pushPrivateKey(%p,%p)\n", (void *)key, (void *)handle);
    frame(
        "pushPrivateKey",
        [&] {
            *handle = 0;
            requireRsa(key);
            // the key is tried in software before anything reaches the card
            {
                struct Component {
                    unsigned long type;
                    unsigned int id;
                };
                Component const components[] = {
                    {CKA_MODULUS, CRSA::ATTR_MODULUS},
                    {CKA_PUBLIC_EXPONENT, CRSA::ATTR_PUBLIC_EXPONENT},
                    {CKA_PRIVATE_EXPONENT, CRSA::ATTR_PRIVATE_EXPONENT},
                    {CKA_PRIME_1, CRSA::ATTR_PRIME_1},
                    {CKA_PRIME_2, CRSA::ATTR_PRIME_2},
                    {CKA_EXPONENT_1, CRSA::ATTR_EXPONENT_1},
                    {CKA_EXPONENT_2, CRSA::ATTR_EXPONENT_2},
                    {CKA_COEFFICIENT, CRSA::ATTR_COEFFICIENT},
                };
                CRSA test;
                for (Component const &c : components) {
                    unsigned long length = 0;
                    void const *value = key->FindBinaryAttribute(c.type, &length);
                    if (value == nullptr || length == 0 ||
                        !test.SetAttribute(c.id, value, length)) {
                        hl_log(HL_ERROR, "Unexpected '%s' attribute value for test.\n",
                               CP11Convert::CKA2String(c.type));
                        throw CP11Exception(CKR_ATTRIBUTE_VALUE_INVALID);
                    }
                }
                if (!test.CheckPrivateKey()) {
                    hl_log(HL_ERROR, "RSA key attributes inconsistent.\n");
                    throw CP11Exception(CKR_TEMPLATE_INCONSISTENT);
                }
            }
            unsigned long length = 0;
            key->FindBinaryAttribute(CKA_MODULUS, &length);
            unsigned long bits = length * 8;
            if (bits < FindLongAttribute(TOKEN_A_MIN_RSA_KEY_SIZE) ||
                bits > FindLongAttribute(TOKEN_A_MAX_RSA_KEY_SIZE))
                throw CP11Exception(CKR_KEY_SIZE_RANGE);
            unsigned long usage = 0;
            std::unique_ptr<CP11Container> fresh(newKeyContainer(key, bits, &usage));
            hl_log(HL_INFO, "Container number : %d\n",
                   (int)fresh->FindByteAttribute(CKA_CONTAINER_ID));
            std::string name = fresh->FindStringAttribute(CKA_CONTAINER_LABEL);
            createContainer(fresh.get(), usage, bits, nullptr, 0);
            CP11Container *container = fresh.release(); // the token's now

            try {
                std::unique_ptr<CP11Object> copy(classCopy(key));
                try {
                    importContainerKey(container, copy.get());
                } catch (CP11Exception &) {
                    wipePrivateComponents(copy.get());
                    throw;
                }
                CP11Object *stored = copy.release(); // the container's now
                wipePrivateComponents(stored);
                auto *privateKey = dynamic_cast<CP11RSAPrivateKey *>(stored);
                std::unique_ptr<CP11RSAPublicKey> publicKey(privateKey->MakePublicKey());
                if (publicKey == nullptr)
                    throw CP11Exception(CKR_HOST_MEMORY);
                publicKey->SetAttribute(CKA_HIDDEN, (unsigned char)CK_TRUE);
                container->SetKeyPublic(publicKey.get());
                CP11RSAPublicKey *hidden = publicKey.release();
                fillPrivateKey(privateKey);
                fillPublicKey(hidden);
                unsigned long labelLength = 0;
                char const *label = static_cast<char const *>(
                    privateKey->FindBinaryAttribute(CKA_LABEL, &labelLength));
                std::string text = labelLength != 0 ? std::string(label, labelLength) : name;
                privateKey->SetAttribute(CKA_LABEL, text.c_str(), ~0UL);
                hidden->SetAttribute(CKA_LABEL, text.c_str(), ~0UL);
                writeContainerFile(container);
            } catch (CP11Exception &) {
                discardContainer(container);
                throw;
            }
            CP11Object *privateKey = container->GetKeyPrivate();
            CP11Object *publicKey = container->GetKeyPublic();
            privateKey->SetHandle(++m_objectCounter);
            publicKey->SetHandle(++m_objectCounter);
            *handle = privateKey->GetHandle();
            containerAdded(bits);
            logHandle(privateKey);
            logHandle(publicKey);
        },
        true);
}

void CP11Token_eiD::importContainerKey(CP11Container *container, CP11Object *privateKey)
{
    hl_log(HL_ENTER, "CP11Token_eiD::importContainerKey(%p,%p)\n", (void *)container,
           (void *)privateKey);
    frame("importContainerKey", [&] {
        auto *key = dynamic_cast<CP11RSAPrivateKey *>(privateKey);
        if (key == nullptr)
            throw CP11Exception(CKR_KEY_TYPE_INCONSISTENT);
        unsigned long length = 0;
        key->FindBinaryAttribute(CKA_MODULUS, &length);
        unsigned char number = container->FindByteAttribute(CKA_CONTAINER_ID);
        unsigned char keyNumber = container->FindByteAttribute(CKA_CONTAINER_KEY_NUMBER);
        bool signature =
            container->FindLongAttribute(CKA_CONTAINER_TYPE) == CONTAINER_TYPE_SIGNATURE;
        _qv_md_container_map_record record = {};
        if (signature)
            record.signatureKeySize = (uint16_t)(length * 8);
        else
            record.exchangeKeySize = (uint16_t)(length * 8);
        uint64_t mask = signature ? QVMD_CMAP_SIGNATURE_SET : QVMD_CMAP_EXCHANGE_SET;

        Secret blob(key->ToCApi(nullptr, 0));
        key->ToCApi(blob.data(), blob.size());
        openCrypto();
        bool open = false;
        try {
            open = true; // a failed opening is closed as well
            if (QVMD_OpenSM(m_card, MASTER_KEY, 0, 0, QVMD_SM_LEVEL_IMPORT) != 0)
                cardFailed("QVMD_OpenSM", CKR_GENERAL_ERROR);
            unsigned char *data = nullptr;
            unsigned long size = 0;
            if (QVMD_ReadFile(m_card, MSCP_DIR, CMAP_FILE, &data, &size) != 0)
                cardFailed("QVMD_ReadFile");
            CardMemory map = cardMemory(data);
            if (QVMD_ContainerImportKey(m_card, blob.data(), blob.size(), number, keyNumber,
                                        nullptr) != 0)
                cardFailed("QVMD_ContainerImportKey");
            open = false;
            QVMD_CloseSM(m_card);
            if (QVMD_CmapFile_ChangeContainerDataByIndex(map.get(), size, number, &record, mask) !=
                0)
                cardFailed("QVMD_CmapFile_ChangeContainerDataByIndex", CKR_GENERAL_ERROR);
            m_readCache.Forget();
            if (QVMD_WriteFile(m_card, MSCP_DIR, CMAP_FILE, map.get(), size) != 0)
                cardFailed("QVMD_WriteFile");
            if (QVMD_OperationChangeCache(m_card, QVMD_CACHE_CONTAINERS | QVMD_CACHE_FILES) != 0)
                cardFailed("QVMD_OperationChangeCache");
            tokenCacheSynchronize(QVMD_CACHE_CONTAINERS | QVMD_CACHE_FILES);
        } catch (CP11Exception &) {
            if (open)
                QVMD_CloseSM(m_card);
            closeCrypto();
            throw;
        }
        closeCrypto();
        container->SetKeyPrivate(key);
    });
}
