// RSA key pairs of the identity-card token: made in software as session objects,
// or by the card in a new key container, registered in the container map under a
// name of the token's making and described in the container's attribute file.
//
// Invariants:
// - A new container takes the first free record of the container map and is
//   refused (before the card is asked) when the card has no key of the size left
//   or no container number left.
// - No two containers get one name: the name hashes the container number, the
//   time and random bytes, and a name the map already holds is refused.
// - A generation that fails leaves the card as it was: a container the card
//   created is deleted again and the map written back as it was; only the change
//   counters stay raised, so that other applications read the card again.
// - Generated keys, in a session or on the card, carry CKA_LOCAL TRUE and their
//   generation mechanism.
#include <cctype>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "base/linux/linux_log.h"
#include "card/qvmd.h"
#include "channel/channel_locker.h"
#include "core/p11_session.h"
#include "crypto/digest.h"
#include "crypto/random.h"
#include "objects/p11_container.h"
#include "objects/p11_rsa_private_key.h"
#include "objects/p11_rsa_public_key.h"
#include "objects/p11_template.h"
#include "token/container_kind.h"
#include "token/containers_usage.h"
#include "token/p11_token_eid.h"

using vok_log::HL_ENTER;
using vok_log::HL_ERROR;
using vok_log::HL_INFO;
using vok_log::HL_WARNING;

namespace
{

unsigned char const DEFAULT_EXPONENT[] = {0x01, 0x00, 0x01};
unsigned char const ACCESS_ROLES[2] = {2, 6}; // the user and the security officer
unsigned long const NAME_SIZE = 40;           // 39 characters and the terminator
char const NAME_PREFIX[] = "VOK-RAL-";

void setInternal(CP11Object *object, unsigned long type, void const *value, unsigned long length)
{
    CK_ATTRIBUTE a = {type, const_cast<void *>(value), length};
    object->SetAttribute(&a, P11_OP_INTERNAL);
}

// What a generated key carries besides its key material.
void markGenerated(CP11Object *key)
{
    unsigned char local = CK_TRUE;
    unsigned long mechanism = CKM_RSA_PKCS_KEY_PAIR_GEN;
    setInternal(key, CKA_LOCAL, &local, sizeof(local));
    setInternal(key, CKA_KEY_GEN_MECHANISM, &mechanism, sizeof(mechanism));
}

// A key template's class and key type, when it names them, must be the key's.
// True when it names the allowed mechanisms.
bool checkKeyTemplate(CP11Template &templ, unsigned long cls)
{
    bool found = false;
    unsigned long value = templ.FindLongAttribute(CKA_CLASS, &found);
    if (found && value != cls) {
        hl_log(HL_ERROR, "Unexpected 'CKA_CLASS' attribute value.\n");
        throw CP11Exception(CKR_ATTRIBUTE_TYPE_INVALID);
    }
    value = templ.FindLongAttribute(CKA_KEY_TYPE, &found);
    if (found && value != CKK_RSA) {
        hl_log(HL_ERROR, "Unexpected 'CKA_KEY_TYPE' attribute value.\n");
        throw CP11Exception(CKR_KEY_TYPE_INCONSISTENT);
    }
    return templ.findAttribute(CKA_ALLOWED_MECHANISMS) != nullptr;
}

// The big-endian value of an exponent of at most 8 bytes.
unsigned long long exponentValue(unsigned char const *e, unsigned long length)
{
    unsigned long long v = 0;
    for (unsigned long i = 0; i < length; ++i)
        v = (v << 8) | e[i];
    return v;
}

// The card's information about one key, released at the end of the scope.
struct KeyInfo : _qv_md_container_key_info {
    KeyInfo(_qv_md_card_struct *card, unsigned char number, unsigned char keySpec) : m_card(card)
    {
        QVMD_ContainerInitStruct(this);
        container = number;
        this->keySpec = keySpec;
    }
    ~KeyInfo() { QVMD_ContainerReleaseStruct(m_card, this); }
    KeyInfo(KeyInfo const &) = delete;
    KeyInfo &operator=(KeyInfo const &) = delete;

  private:
    _qv_md_card_struct *m_card;
};

bool isSignature(unsigned long type)
{
    return type == CONTAINER_TYPE_SIGNATURE;
}

// The container map record of the name (as UTF-16), valid, with the key size on
// the side of the type when it is known.
_qv_md_container_map_record mapRecord(char const *name, unsigned long type, unsigned long bits)
{
    _qv_md_container_map_record r = {};
    for (size_t i = 0; name[i] != 0 && i + 1 < QVMD_CMAP_NAME_ROOM; ++i)
        r.name[i] = (unsigned char)name[i];
    r.flags = QVMD_CMAP_FLAG_VALID;
    if (isSignature(type))
        r.signatureKeySize = (uint16_t)bits;
    else
        r.exchangeKeySize = (uint16_t)bits;
    return r;
}

// Whether a valid record of the map carries the name.
bool nameTaken(std::vector<unsigned char> const &map, char const *name)
{
    unsigned char index = QVMD_CMAP_NO_INDEX;
    if (map.empty() || QVMD_CmapFile_GetContainerIndex(map.data(), map.size(), name, &index) != 0)
        return false;
    size_t at = (size_t)index * QVMD_CMAP_RECORD_SIZE;
    return at + QVMD_CMAP_RECORD_SIZE <= map.size() &&
           (map[at + offsetof(_qv_md_container_map_record, flags)] & QVMD_CMAP_FLAG_VALID) != 0;
}

} // namespace

CP11Session *CP11Token_eiD::writableSession(unsigned long handle, unsigned long *state)
{
    CP11Session *s = GetSession(handle);
    *state = s->FindLongAttribute(SESSION_A_STATE);
    if (*state == CKS_RO_PUBLIC_SESSION || *state == CKS_RO_USER_FUNCTIONS) {
        hl_log(HL_ERROR, "Session(0x%.8lx) state invalid (0x%.8lx).\n", handle, *state);
        throw CP11Exception(CKR_SESSION_READ_ONLY);
    }
    return s;
}

void CP11Token_eiD::GenerateKeyPair(unsigned long session, CK_MECHANISM *mechanism,
                                    CK_ATTRIBUTE *publicTemplate, unsigned long publicCount,
                                    CK_ATTRIBUTE *privateTemplate, unsigned long privateCount,
                                    unsigned long *publicKey, unsigned long *privateKey)
{
    hl_log(HL_ENTER, "CP11Token::GenerateKeyPair(0x%.8lx,%p,%p,0x%.8lx,%p,0x%.8lx,%p,%p)\n",
           session, (void *)mechanism, (void *)publicTemplate, publicCount, (void *)privateTemplate,
           privateCount, (void *)publicKey, (void *)privateKey);
    deviceFrame("GenerateKeyPair", [&] {
        if (mechanism == nullptr || publicTemplate == nullptr || publicCount == 0 ||
            privateTemplate == nullptr || privateCount == 0 || publicKey == nullptr ||
            privateKey == nullptr)
            throw CP11Exception(CKR_ARGUMENTS_BAD);
        logMechanism(mechanism);
        FindMechanism(mechanism->mechanism);
        if (mechanism->pParameter != nullptr || mechanism->ulParameterLen != 0)
            throw CP11Exception(CKR_MECHANISM_PARAM_INVALID);
        requirePurpose(mechanism->mechanism, CKF_GENERATE_KEY_PAIR, "CKF_GENERATE_KEY_PAIR");
        unsigned long state = 0;
        CP11Session *s = writableSession(session, &state);

        CP11Template publicCopy(publicTemplate, publicCount);
        CP11Template privateCopy(privateTemplate, privateCount);
        bool publicMechanisms = checkKeyTemplate(publicCopy, CKO_PUBLIC_KEY);
        bool privateMechanisms = checkKeyTemplate(privateCopy, CKO_PRIVATE_KEY);
        std::unique_ptr<CP11RSAPublicKey> pub(new CP11RSAPublicKey());
        std::unique_ptr<CP11RSAPrivateKey> priv(new CP11RSAPrivateKey());
        applyTemplate(pub.get(), publicTemplate, publicCount, P11_OP_GENERATE);
        if (!publicMechanisms)
            setAllowedMechanisms(pub.get(), PUBLIC_KEY_MECHANISMS);
        pub->Verify(P11_OP_GENERATE);
        applyTemplate(priv.get(), privateTemplate, privateCount, P11_OP_GENERATE);
        if (!privateMechanisms)
            setAllowedMechanisms(priv.get(), PRIVATE_KEY_MECHANISMS);
        priv->Verify(P11_OP_GENERATE);

        bool token = pub->FindByteAttribute(CKA_TOKEN) != 0;
        if (token != (priv->FindByteAttribute(CKA_TOKEN) != 0)) {
            hl_log(HL_ERROR, "Different 'CKA_TOKEN' attribute in templates.\n");
            throw CP11Exception(CKR_TEMPLATE_INCONSISTENT);
        }
        if ((pub->FindByteAttribute(CKA_PRIVATE) != 0 ||
             priv->FindByteAttribute(CKA_PRIVATE) != 0) &&
            !loggedInReadWrite(state))
            throw CP11Exception(CKR_USER_NOT_LOGGED_IN);
        if (!token) {
            s->GenerateKeyPair(pub.get(), priv.get(), publicKey, privateKey);
            markGenerated(s->GetObject(*publicKey));
            markGenerated(s->GetObject(*privateKey));
            return;
        }
        CChannelLocker locker(channel(), m_connection);
        CAuthenticatorWorker worker(m_authenticator);
        generateKeyPair(pub.get(), priv.get(), publicKey, privateKey);
        updateTokenMemoryInfo();
        updateObjects(loggedInReadWrite(state));
        worker.Close();
    });
}

void CP11Token_eiD::generateKeyPair(CP11PublicKey *pub, CP11PrivateKey *priv,
                                    unsigned long *phPublicKey, unsigned long *phPrivateKey)
{
    hl_log(HL_ENTER, "CP11Token_eiD::generateKeyPair(%p,%p,%p,%p)\n", (void *)pub, (void *)priv,
           (void *)phPublicKey, (void *)phPrivateKey);
    frame(
        "generateKeyPair",
        [&] {
            *phPublicKey = 0;
            *phPrivateKey = 0;
            auto *rsaPublic = dynamic_cast<CP11RSAPublicKey *>(pub);
            auto *rsaPrivate = dynamic_cast<CP11RSAPrivateKey *>(priv);
            if (rsaPublic == nullptr || rsaPrivate == nullptr ||
                pub->FindLongAttribute(CKA_KEY_TYPE) != CKK_RSA ||
                priv->FindLongAttribute(CKA_KEY_TYPE) != CKK_RSA) {
                hl_log(HL_ERROR, "Unexpected 'CKA_KEY_TYPE' attribute value.\n");
                throw CP11Exception(CKR_KEY_TYPE_INCONSISTENT);
            }
            unsigned long bits = pub->FindLongAttribute(CKA_MODULUS_BITS);
            unsigned long length = 0;
            auto const *exponent = static_cast<unsigned char const *>(
                pub->FindBinaryAttribute(CKA_PUBLIC_EXPONENT, &length));
            if (exponent == nullptr || length == 0) {
                exponent = DEFAULT_EXPONENT;
                length = sizeof(DEFAULT_EXPONENT);
            }
            hl_log(HL_INFO, "CKA_PUBLIC_EXPONENT :\n");
            hl_hd(HL_INFO, exponent, (int)(length < 64 ? length : 64));
            if (length > 8 || (exponentValue(exponent, length) != 65537 &&
                               exponentValue(exponent, length) != 3)) {
                hl_log(HL_ERROR, "Unexpected 'CKA_PUBLIC_EXPONENT' attribute value.\n");
                throw CP11Exception(CKR_ATTRIBUTE_VALUE_INVALID);
            }
            if (bits < FindLongAttribute(TOKEN_A_MIN_RSA_KEY_SIZE) ||
                bits > FindLongAttribute(TOKEN_A_MAX_RSA_KEY_SIZE))
                throw CP11Exception(CKR_KEY_SIZE_RANGE);

            unsigned long usage = 0;
            std::unique_ptr<CP11Container> fresh(newKeyContainer(priv, bits, &usage));
            unsigned char number = fresh->FindByteAttribute(CKA_CONTAINER_ID);
            unsigned char keyNumber = fresh->FindByteAttribute(CKA_CONTAINER_KEY_NUMBER);
            std::string name = fresh->FindStringAttribute(CKA_CONTAINER_LABEL);
            createContainer(fresh.get(), usage, bits, exponent, length);
            CP11Container *container = fresh.release(); // the token's now

            try {
                std::unique_ptr<CP11RSAPublicKey> publicCopy(new CP11RSAPublicKey(*rsaPublic));
                std::unique_ptr<CP11RSAPrivateKey> privateCopy(new CP11RSAPrivateKey(*rsaPrivate));
                // the key capacity as the card lists it now
                if (QVMD_GetInfo(m_card, m_card->info, QVMD_INFO_KEY_CAPACITY) != 0)
                    throw CP11Exception(CKR_DEVICE_ERROR);

                // the new key as the card made it
                KeyInfo key(m_card, number, keyNumber);
                if (QVMD_GetContainerInfo(m_card, &key, QVMD_KEY_INFO_MODULUS) != 0 ||
                    QVMD_GetContainerInfo(m_card, &key, QVMD_KEY_INFO_EXPONENT) != 0 ||
                    key.modulusLength == 0 || key.exponentLength == 0)
                    cardFailed("QVMD_GetContainerInfo");
                unsigned char const *e = key.exponent;
                unsigned long eLength = key.exponentLength;
                cardExponent(e, eLength);
                for (CP11Object *copy :
                     {(CP11Object *)publicCopy.get(), (CP11Object *)privateCopy.get()}) {
                    setInternal(copy, CKA_MODULUS, key.modulus, key.modulusLength);
                    setInternal(copy, CKA_PUBLIC_EXPONENT, e, eLength);
                    markGenerated(copy);
                }
                fillPrivateKey(privateCopy.get());
                fillPublicKey(publicCopy.get());
                for (CP11Object *copy :
                     {(CP11Object *)privateCopy.get(), (CP11Object *)publicCopy.get()}) {
                    unsigned long labelLength = 0;
                    copy->FindBinaryAttribute(CKA_LABEL, &labelLength);
                    if (labelLength == 0)
                        copy->SetAttribute(CKA_LABEL, name.c_str(), ~0UL);
                }
                container->SetKeyPublic(publicCopy.release());
                container->SetKeyPrivate(privateCopy.release());
                writeContainerFile(container);
            } catch (CP11Exception &) {
                discardContainer(container);
                throw;
            }
            CP11Object *publicStored = container->GetKeyPublic();
            CP11Object *privateStored = container->GetKeyPrivate();
            publicStored->SetHandle(++m_objectCounter);
            privateStored->SetHandle(++m_objectCounter);
            *phPublicKey = publicStored->GetHandle();
            *phPrivateKey = privateStored->GetHandle();
            containerAdded(bits);
            hl_log(HL_INFO, "RSA public key(%p) handle :( 0x%.8lx )\n", (void *)publicStored,
                   *phPublicKey);
            hl_log(HL_INFO, "RSA private key(%p) handle :( 0x%.8lx )\n", (void *)privateStored,
                   *phPrivateKey);
        },
        true);
}

CP11Container *CP11Token_eiD::newContainer(unsigned long bits)
{
    hl_log(HL_ENTER, "CP11Token_eiD::newContainer(0x%.8lx)\n", bits);
    CP11Container *result = nullptr;
    frame("newContainer", [&] {
        _qv_md_info_struct *info = m_card->info;
        if (QVMD_GetInfo(m_card, info, QVMD_INFO_KEY_CAPACITY) != 0)
            cardFailed("QVMD_GetInfo");
        unsigned long left = 0;
        for (uint32_t i = 0; i < info->keySizeCount && info->keySizes != nullptr; ++i)
            if (info->keySizes[i].bits == bits)
                left = info->keySizes[i].count;
        if (left == 0)
            throw CP11Exception(CKR_KEY_SIZE_RANGE);

        unsigned char cardcf[QVMD_CACHE_RECORD];
        bool counted = QVMD_GetCurrentCache(m_card, cardcf) == 0;
        CContainersUsage usage(this, HL_ERROR);
        unsigned long free = usage.Count();
        bool found = false;
        for (unsigned long i = 0; i < usage.Count() && left != 0; ++i) {
            _qv_md_container_usage_record const &r = usage.Record(i);
            if (r.valid == 0) {
                if (!found)
                    free = i;
                found = true;
            } else if (r.signatureBits == bits || r.exchangeBits == bits) {
                --left;
            }
        }
        if (left == 0 || free >= info->containers) {
            hl_log(HL_ERROR, "No container left for a key of 0x%.8lx bits.\n", bits);
            throw CP11Exception(CKR_DEVICE_MEMORY);
        }
        // what a later count would find while nobody changes the containers
        m_privateUse.known = counted;
        std::memcpy(m_privateUse.counter, cardcf + 2, sizeof(m_privateUse.counter));
        m_privateUse.used = usage.UsedPrivateMemory();

        std::unique_ptr<CP11Container> container(new CP11Container(nullptr, nullptr, nullptr));
        if (!container->SetAttribute(CKA_CONTAINER_ID, (unsigned char)free))
            throw CP11Exception(CKR_HOST_MEMORY);
        result = container.release();
    });
    return result;
}

CP11Container *CP11Token_eiD::newKeyContainer(CP11Object *privateKey, unsigned long bits,
                                              unsigned long *usage)
{
    hl_log(HL_ENTER, "CP11Token_eiD::newKeyContainer(%p,0x%.8lx,%p)\n", (void *)privateKey, bits,
           (void *)usage);
    CP11Container *result = nullptr;
    frame("newKeyContainer", [&] {
        CContainerKind kind = containerKindOf(privateKey);
        std::unique_ptr<CP11Container> container(newContainer(bits));
        hl_log(HL_INFO, "Container type : 0x%.8lx ( %s )\n", kind.type,
               isSignature(kind.type) ? "CKCT_SIGNATURE" : "CKCT_EXCHANGE");
        char name[NAME_SIZE];
        generateContainerName(name, sizeof(name), container->FindByteAttribute(CKA_CONTAINER_ID));
        if (!container->SetAttribute(CKA_CONTAINER_TYPE, kind.type) ||
            !container->SetAttribute(CKA_CONTAINER_LABEL, name, ~0UL) ||
            !container->SetAttribute(CKA_CONTAINER_KEY_NUMBER, kind.keyNumber))
            throw CP11Exception(CKR_HOST_MEMORY);
        *usage = kind.usage;
        result = container.release();
    });
    return result;
}

void CP11Token_eiD::createContainer(CP11Container *container, unsigned long flags,
                                    unsigned long bits, unsigned char const *exponent,
                                    unsigned long exponentLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::createContainer(%p,0x%.8lx,0x%.8lx,%p,0x%.8lx)\n",
           (void *)container, flags, bits, (void const *)exponent, exponentLength);
    frame("createContainer", [&] {
        unsigned char number = container->FindByteAttribute(CKA_CONTAINER_ID);
        unsigned long type = container->FindLongAttribute(CKA_CONTAINER_TYPE);
        char const *label = container->FindStringAttribute(CKA_CONTAINER_LABEL);
        std::string name = label != nullptr ? label : "";
        hl_log(HL_INFO, "Container label : %s\n", name.c_str());
        if (name.empty()) {
            char made[NAME_SIZE];
            generateContainerName(made, sizeof(made), number);
            name = made;
            if (!container->SetAttribute(CKA_CONTAINER_LABEL, made, ~0UL))
                throw CP11Exception(CKR_HOST_MEMORY);
        }
        if (name.size() >= NAME_SIZE) {
            hl_log(HL_ERROR, "Container label too long.\n");
            throw CP11Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        }
        flags = flags == 0 ? 7 : flags;
        bits = bits == 0 ? FindLongAttribute(TOKEN_A_MIN_RSA_KEY_SIZE) : bits;
        hl_log(HL_INFO, "Container flags : 0x%.8lx\n", flags);
        hl_log(HL_INFO, "Container key size : 0x%.8lx\n", bits);
        hl_log(HL_INFO, "Container index : 0x%.8x\n", (unsigned)number);
        hl_log(HL_INFO, "Container type : 0x%.8lx ( %s )\n", type,
               isSignature(type) ? "CKCT_SIGNATURE" : "CKCT_EXCHANGE");

        _qv_md_create_container_request request = {};
        request.container = number;
        request.keySpec = container->FindByteAttribute(CKA_CONTAINER_KEY_NUMBER);
        request.flags = (uint8_t)flags;
        request.keyBits = (uint16_t)bits;
        request.defaultExponent = exponent != nullptr ? 0 : 1;
        std::memcpy(request.access, ACCESS_ROLES, sizeof(request.access));
        if (exponent != nullptr && exponentLength <= sizeof(request.exponent))
            std::memcpy(request.exponent + sizeof(request.exponent) - exponentLength, exponent,
                        exponentLength);
        request.exponentPresent = exponent != nullptr ? 1 : 0;
        _qv_md_container_map_record record =
            mapRecord(name.c_str(), type, exponent != nullptr ? bits : 0);
        uint64_t mask =
            QVMD_CMAP_BECAME_VALID | QVMD_CMAP_NO_LONGER_DEFAULT | QVMD_CMAP_NAME_CHANGED;
        if (exponent != nullptr)
            mask |= isSignature(type) ? QVMD_CMAP_SIGNATURE_SET : QVMD_CMAP_EXCHANGE_SET;

        unsigned char *data = nullptr;
        unsigned long size = 0;
        if (QVMD_ReadFile(m_card, MSCP_DIR, CMAP_FILE, &data, &size) != 0)
            cardFailed("QVMD_ReadFile");
        {
            CardMemory held = cardMemory(data);
            m_mapBeforeCreate.assign(data, data + size);
        }
        std::vector<unsigned char> map = m_mapBeforeCreate;
        if (nameTaken(map, name.c_str())) {
            hl_log(HL_ERROR, "Container name already present.\n");
            throw CP11Exception(CKR_FUNCTION_FAILED);
        }
        if (number >= map.size() / QVMD_CMAP_RECORD_SIZE)
            map.resize(((size_t)number + 1) * QVMD_CMAP_RECORD_SIZE, 0);
        if (QVMD_CmapFile_ChangeContainerDataByIndex(map.data(), map.size(), number, &record,
                                                     mask) != 0)
            cardFailed("QVMD_CmapFile_ChangeContainerDataByIndex", CKR_DEVICE_MEMORY);
        m_readCache.Forget();
        if (QVMD_OperationChangeCache(m_card, QVMD_CACHE_CONTAINERS | QVMD_CACHE_FILES) != 0)
            cardFailed("QVMD_OperationChangeCache", CKR_DEVICE_MEMORY);
        tokenCacheSynchronize(QVMD_CACHE_CONTAINERS | QVMD_CACHE_FILES);
        if (QVMD_CreateContainer(m_card, &request) != 0)
            cardFailed("QVMD_CreateContainer", CKR_DEVICE_MEMORY);
        try {
            if (QVMD_WriteFile(m_card, MSCP_DIR, CMAP_FILE, map.data(), map.size()) != 0)
                cardFailed("QVMD_WriteFile", CKR_DEVICE_MEMORY);
            unsigned before = m_containers.Count();
            m_containers.PushBack(container);
            if (m_containers.Count() == before)
                throw CP11Exception(CKR_HOST_MEMORY);
        } catch (CP11Exception &) {
            undoNewContainer(number);
            throw;
        }
    });
}

void CP11Token_eiD::undoNewContainer(unsigned char number)
{
    hl_log(HL_ENTER, "CP11Token_eiD::undoNewContainer(%d)\n", (int)number);
    m_readCache.Forget();
    if (QVMD_OperationChangeCache(m_card, QVMD_CACHE_CONTAINERS | QVMD_CACHE_FILES) != 0)
        hl_log(HL_WARNING, "QVMD_OperationChangeCache function call failed.\n");
    try {
        tokenCacheSynchronize(QVMD_CACHE_CONTAINERS | QVMD_CACHE_FILES);
    } catch (CP11Exception &) {
    }
    uint32_t rv = QVMD_DeleteContainer(m_card, number);
    if (rv != 0 && rv != QV_E_NO_KEY_CONTAINER)
        hl_log(HL_WARNING, "QVMD_DeleteContainer function call failed.\n");
    if (QVMD_WriteFile(m_card, MSCP_DIR, CMAP_FILE, m_mapBeforeCreate.data(),
                       m_mapBeforeCreate.size()) != 0)
        hl_log(HL_WARNING, "QVMD_WriteFile function call failed.\n");
    leave("undoNewContainer");
}

void CP11Token_eiD::discardContainer(CP11Container *container)
{
    hl_log(HL_ENTER, "CP11Token_eiD::discardContainer(%p)\n", (void *)container);
    undoNewContainer(container->FindByteAttribute(CKA_CONTAINER_ID));
    removeContainer(container);
    deleteContainer(container);
    leave("discardContainer");
}

void CP11Token_eiD::generateContainerName(char *name, unsigned long size, unsigned char number)
{
    hl_log(HL_ENTER, "CP11Token_eiD::generateContainerName(%p,0x%.8lx)\n", (void *)name, size);
    // the time alone repeats within a second: the container number and random
    // bytes make the hashed input the card's only
    static unsigned long made = 0;
    unsigned char input[14 + 1 + sizeof(unsigned long) + 16] = {};
    std::time_t now = std::time(nullptr);
    std::tm utc = {};
    gmtime_r(&now, &utc);
    char stamp[15] = {};
    std::strftime(stamp, sizeof(stamp), "%Y%m%d%H%M%S", &utc);
    std::memcpy(input, stamp, 14);
    input[14] = number;
    ++made;
    std::memcpy(input + 15, &made, sizeof(made));
    CRandom().Generate(input + 15 + sizeof(made), 16);
    CSHA1 hash;
    hash.Hash(input, sizeof(input));
    char digest[41] = {};
    hash.Get(digest, CDigest::FORM_HEX);
    for (char &c : digest)
        c = (char)std::tolower((unsigned char)c);

    char const *serial = FindStringAttribute(TOKEN_A_SERIAL_NUMBER);
    std::string text = std::string(NAME_PREFIX) + (serial != nullptr ? serial : "") + "-" + digest;
    if (name != nullptr && size != 0) {
        std::memset(name, 0, size);
        std::memcpy(name, text.data(), text.size() < size - 1 ? text.size() : size - 1);
        if (size >= 15) {
            name[size - 10] = '-';
            name[size - 15] = '-';
        }
    }
    leave("generateContainerName");
}

void CP11Token_eiD::containerAdded(unsigned long bits)
{
    if (!m_privateUse.known)
        return;
    m_privateUse.used += bits / 8 + CONTAINER_MAP_RECORD_SIZE;
    std::memcpy(m_privateUse.counter, m_cardcf + 2, sizeof(m_privateUse.counter));
}
