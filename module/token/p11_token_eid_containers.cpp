// Key containers of the identity-card token: each valid card container gives one
// container per key (exchange, then signature), holding its certificate and its
// private and public key, completed by the attributes stored in "qv_p11".
#include <cstring>
#include <memory>

#include "base/linux/linux_log.h"
#include "card/qvmd.h"
#include "objects/p11_container.h"
#include "objects/p11_rsa_private_key.h"
#include "objects/p11_rsa_public_key.h"
#include "objects/p11_x509_certificate.h"
#include "token/containers_usage.h"
#include "token/p11_token_eid.h"

using vok_log::HL_DEBUG;
using vok_log::HL_ENTER;
using vok_log::HL_ERROR;
using vok_log::HL_INFO;
using vok_log::HL_WARNING;

namespace
{

unsigned char boolOf(bool b)
{
    return b ? CK_TRUE : CK_FALSE;
}

void logHandle(CP11Object *object)
{
    hl_log(HL_INFO, "Object(%p) handle :( 0x%.8lx )\n", (void *)object, object->GetHandle());
}

// The certificate's subject for its keys, when it has one.
void subjectFrom(CP11Object *certificate, CP11Object *key)
{
    unsigned long length = 0;
    void const *subject =
        certificate != nullptr ? certificate->FindBinaryAttribute(CKA_SUBJECT, &length) : nullptr;
    if (subject != nullptr && length != 0)
        key->SetAttribute(CKA_SUBJECT, subject, length);
}

// A container's name from the UTF-16 name of its record; empty when it cannot be
// turned into narrow text.
void containerName(uint16_t const *wide, CBlob &name)
{
    if (!name.Set(wide) || !name.ToFormat(CBlob::DF_UTF8))
        name.Clear();
}

} // namespace

void CP11Token_eiD::initContainers()
{
    hl_log(HL_ENTER, "CP11Token_eiD::initContainers()\n");
    frame(
        "initContainers",
        [&] {
            releaseContainers();
            CContainersUsage usage(this, HL_WARNING);
            for (unsigned long i = 0; i < usage.Count(); ++i) {
                _qv_md_container_usage_record &record = usage.Record(i);
                if (record.valid == 0)
                    continue;
                for (unsigned long type : {CONTAINER_TYPE_EXCHANGE, CONTAINER_TYPE_SIGNATURE})
                    addContainer(usage, record, type);
            }
        },
        true);
}

void CP11Token_eiD::addContainer(CContainersUsage &usage, _qv_md_container_usage_record &record,
                                 unsigned long type)
{
    unsigned keySpec =
        type == CONTAINER_TYPE_SIGNATURE ? QVMD_KEY_SPEC_SIGNATURE : QVMD_KEY_SPEC_EXCHANGE;
    if (usage.Damaged(record.container, keySpec)) {
        hl_log(HL_WARNING, "Container %d (%s) skipped: its certificate file is damaged.\n",
               (int)record.container, type == CONTAINER_TYPE_SIGNATURE ? "SIGNATURE" : "EXCHANGE");
        return;
    }
    std::unique_ptr<CP11Container> container;
    try {
        container.reset(fillContainer(&record, type));
    } catch (CP11Exception &e) {
        // what the card holds cannot be read as objects: the other containers
        // stay usable
        if (e.GetErrorCode() != CKR_DATA_INVALID && e.GetErrorCode() != CKR_ATTRIBUTE_VALUE_INVALID)
            throw;
        hl_log(HL_WARNING, "Container %d (%s) skipped: its objects are invalid ( 0x%.8lx ).\n",
               (int)record.container, type == CONTAINER_TYPE_SIGNATURE ? "SIGNATURE" : "EXCHANGE",
               e.GetErrorCode());
        return;
    }
    if (container == nullptr)
        return;
    unsigned before = m_containers.Count();
    m_containers.PushBack(container.get());
    if (m_containers.Count() == before) {
        deleteContainer(container.release());
        throw CP11Exception(CKR_HOST_MEMORY);
    }
    container.release();
}

void CP11Token_eiD::cardExponent(unsigned char const *&exponent, unsigned long &length)
{
    static unsigned char const F4[] = {0x00, 0x01, 0x00, 0x01};
    if (exponent != nullptr && length == sizeof(F4) && std::memcmp(exponent, F4, sizeof(F4)) == 0) {
        ++exponent;
        --length;
    }
}

void CP11Token_eiD::deleteContainer(CP11Container *container)
{
    if (container == nullptr)
        return;
    delete container->GetCertificate();
    delete container->GetKeyPrivate();
    delete container->GetKeyPublic();
    delete container;
}

CP11Container *CP11Token_eiD::fillContainer(void *usageRecord, unsigned long type)
{
    hl_log(HL_ENTER, "CP11Token_eiD::fillContainer(%p,%lu)\n", usageRecord, type);
    CP11Container *result = nullptr;
    frame(
        "fillContainer",
        [&] {
            if (type != CONTAINER_TYPE_EXCHANGE && type != CONTAINER_TYPE_SIGNATURE)
                throw CP11Exception(CKR_ATTRIBUTE_TYPE_INVALID);
            bool signature = type == CONTAINER_TYPE_SIGNATURE;
            hl_log(HL_INFO, "Container type : %s\n", signature ? "SIGNATURE" : "EXCHANGE");
            auto *record = static_cast<_qv_md_container_usage_record *>(usageRecord);
            CBlob name;
            containerName(record->name, name);
            char const *label = name.GetSize() != 0 ? (char const *)name : "";
            hl_log(HL_INFO, "Container label : %s\n", label);

            _qv_md_container_key_info &key =
                record->keys[signature ? QVMD_KEY_SPEC_SIGNATURE : QVMD_KEY_SPEC_EXCHANGE];
            unsigned char const *der =
                signature ? record->signatureCertificate : record->exchangeCertificate;
            unsigned long derLength =
                signature ? record->signatureCertificateLength : record->exchangeCertificateLength;

            // members made so far go with the container on any failure
            std::unique_ptr<CP11X509Certificate> certificate;
            std::unique_ptr<CP11RSAPrivateKey> privateKey;
            std::unique_ptr<CP11RSAPublicKey> publicKey;
            if (der != nullptr && derLength != 0) {
                hl_log(HL_INFO, "Certificate (%s) :\n", label);
                hl_hd(HL_DEBUG, der, (int)derLength);
                certificate.reset(new CP11X509Certificate());
                certificate->SetHandle(++m_objectCounter);
                certificate->SetAttribute(CKA_TOKEN, boolOf(true));
                certificate->SetAttribute(CKA_LABEL, label, ~0UL);
                certificate->SetAttribute(CKA_VALUE, (void const *)der, derLength);
                fillCertificate(certificate.get());
                logHandle(certificate.get());
            }
            if (key.modulus != nullptr && key.modulusLength != 0 && key.exponent != nullptr &&
                key.exponentLength != 0) {
                hl_log(HL_DEBUG, "Key modulus :\n");
                hl_hd(HL_DEBUG, key.modulus, (int)key.modulusLength);
                hl_log(HL_DEBUG, "Key public exponent:\n");
                hl_hd(HL_DEBUG, key.exponent, (int)key.exponentLength);
                unsigned char const *exponent = key.exponent;
                unsigned long exponentLength = key.exponentLength;
                cardExponent(exponent, exponentLength);
                bool signs = (key.keyInfo5 & 0x01) != 0;
                bool decrypts = (key.keyInfo5 & 0x02) != 0;

                privateKey.reset(new CP11RSAPrivateKey());
                privateKey->SetHandle(++m_objectCounter);
                privateKey->SetAttribute(CKA_TOKEN, boolOf(true));
                privateKey->SetAttribute(CKA_PRIVATE, boolOf(true));
                privateKey->SetAttribute(CKA_MODIFIABLE, boolOf(false));
                privateKey->SetAttribute(CKA_MODULUS, (void const *)key.modulus, key.modulusLength);
                privateKey->SetAttribute(CKA_PUBLIC_EXPONENT, (void const *)exponent,
                                         exponentLength);
                privateKey->SetAttribute(CKA_SIGN, boolOf(signs));
                privateKey->SetAttribute(CKA_DECRYPT, boolOf(decrypts));
                privateKey->SetAttribute(CKA_LABEL, label, ~0UL);
                privateKey->SetAttribute(CKA_SENSITIVE, boolOf(true));
                subjectFrom(certificate.get(), privateKey.get());
                fillPrivateKey(privateKey.get());
                setAllowedMechanisms(privateKey.get(), PRIVATE_KEY_MECHANISMS);
                logHandle(privateKey.get());

                publicKey.reset(new CP11RSAPublicKey());
                publicKey->SetHandle(++m_objectCounter);
                publicKey->SetAttribute(CKA_TOKEN, boolOf(true));
                publicKey->SetAttribute(CKA_MODULUS, (void const *)key.modulus, key.modulusLength);
                publicKey->SetAttribute(CKA_PUBLIC_EXPONENT, (void const *)exponent,
                                        exponentLength);
                publicKey->SetAttribute(CKA_VERIFY, boolOf(signs));
                publicKey->SetAttribute(CKA_ENCRYPT, boolOf(decrypts));
                publicKey->SetAttribute(CKA_LABEL, label, ~0UL);
                subjectFrom(certificate.get(), publicKey.get());
                fillPublicKey(publicKey.get());
                setAllowedMechanisms(publicKey.get(), PUBLIC_KEY_MECHANISMS);
                logHandle(publicKey.get());
            }
            if (certificate == nullptr && privateKey == nullptr)
                return;
            std::unique_ptr<CP11Container> container(
                new CP11Container(publicKey.get(), privateKey.get(), certificate.get()));
            if (!container->SetAttribute(CKA_CONTAINER_ID, key.container) ||
                !container->SetAttribute(CKA_CONTAINER_TYPE, type) ||
                !container->SetAttribute(CKA_CONTAINER_LABEL, label, ~0UL) ||
                !container->SetAttribute(CKA_CONTAINER_KEY_NUMBER, key.keySpec))
                throw CP11Exception(CKR_HOST_MEMORY);
            readContainerFile(container.get());
            certificate.release();
            privateKey.release();
            publicKey.release();
            result = container.release();
        },
        true);
    return result;
}

unsigned long CP11Token_eiD::usedPrivateMemory()
{
    // Containers come and go only with the card's containers counter: while it
    // stands where the last count was made, that count holds and the card's
    // containers are not read again.
    unsigned char cardcf[QVMD_CACHE_RECORD];
    bool counted = QVMD_GetCurrentCache(m_card, cardcf) == 0;
    if (counted && m_privateUse.known &&
        std::memcmp(m_privateUse.counter, cardcf + 2, sizeof(m_privateUse.counter)) == 0)
        return m_privateUse.used;
    unsigned long used = CContainersUsage(this, HL_ERROR).UsedPrivateMemory();
    m_privateUse.known = counted;
    std::memcpy(m_privateUse.counter, cardcf + 2, sizeof(m_privateUse.counter));
    m_privateUse.used = used;
    return used;
}
