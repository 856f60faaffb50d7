#include "fake_token.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "asn1/asn_cert.h"
#include "base/blob.h"
#include "base/linux/linux_log.h"
#include "base/p11_convert.h"
#include "base/p11_exception.h"
#include "channel/card_connection.h"
#include "channel/channel.h"
#include "core/p11_session.h"
#include "core/p11_slot.h"
#include "crypto/digest.h"
#include "crypto/random.h"
#include "crypto/rsa.h"
#include "objects/p11_data_object.h"
#include "objects/p11_key.h"
#include "objects/p11_rsa_private_key.h"
#include "objects/p11_rsa_public_key.h"
#include "objects/p11_x509_certificate.h"

namespace vok_test
{

namespace
{

constexpr unsigned long NOBODY = ~0UL;

// One method frame: enter line, body, leave line; a CP11Exception leaves with
// its type 16 line and is thrown on.
template <typename Body> void frame(char const *method, Body body)
{
    hl_log(HL_ENTER, "CP11Token_Fake::%s()\n", method);
    try {
        body();
    } catch (CP11Exception &e) {
        decloglevel();
        char const *name = CP11Convert::CKR2String(e.GetErrorCode());
        hl_log(HL_EXCEPTION, "CP11Token_Fake::%s( 0x%.8lx [ %s ] )\n", method, e.GetErrorCode(),
               name != nullptr ? name : vok_log::NULL_TEXT);
        throw CP11Exception(e.GetErrorCode());
    }
    hl_log(HL_LEAVE, "CP11Token_Fake::%s( )\n", method);
}

[[noreturn]] void fail(unsigned long rv)
{
    throw CP11Exception(rv);
}

struct MechanismRow {
    unsigned long type;
    unsigned long flags;
    unsigned long word; // key-context mechanism word of the RSA mechanisms
};
MechanismRow const MECHANISMS[] = {
    {CKM_RSA_PKCS_KEY_PAIR_GEN, CKF_GENERATE_KEY_PAIR, 0},
    {CKM_RSA_PKCS, CKF_SIGN | CKF_VERIFY,
     CKeyAsymetric::MECH_RSA_PKCS | CKeyAsymetric::DIGEST_NONE},
    {CKM_SHA1_RSA_PKCS, CKF_SIGN | CKF_VERIFY,
     CKeyAsymetric::MECH_RSA_PKCS | CKeyAsymetric::DIGEST_SHA1},
    {CKM_SHA256_RSA_PKCS, CKF_SIGN | CKF_VERIFY,
     CKeyAsymetric::MECH_RSA_PKCS | CKeyAsymetric::DIGEST_SHA256},
    {CKM_SHA_1, CKF_DIGEST, 0},
    {CKM_SHA256, CKF_DIGEST, 0},
};

MechanismRow const *mechanismRow(unsigned long type)
{
    for (MechanismRow const &row : MECHANISMS)
        if (row.type == type)
            return &row;
    return nullptr;
}

// CKA_ALLOWED_MECHANISMS of a key: the token's mechanisms that do one of the
// given things, in the token's order.
void setAllowedMechanisms(CP11Object *key, unsigned long flags)
{
    std::vector<CK_MECHANISM_TYPE> allowed;
    for (MechanismRow const &row : MECHANISMS)
        if ((row.flags & flags) != 0)
            allowed.push_back(row.type);
    CK_ATTRIBUTE a = {CKA_ALLOWED_MECHANISMS, allowed.data(),
                      allowed.size() * sizeof(CK_MECHANISM_TYPE)};
    key->SetAttribute(&a, P11_OP_INTERNAL);
}

CK_ATTRIBUTE *findEntry(CK_ATTRIBUTE *templ, unsigned long count, unsigned long type)
{
    for (unsigned long i = 0; i < count; ++i)
        if (templ[i].type == type)
            return &templ[i];
    return nullptr;
}

unsigned long entryLong(CK_ATTRIBUTE *a)
{
    if (a == nullptr || a->pValue == nullptr || a->ulValueLen != sizeof(CK_ULONG))
        return CK_UNAVAILABLE_INFORMATION;
    return *static_cast<CK_ULONG *>(a->pValue);
}

void checkBuffer(unsigned char *out, unsigned long *outLength, unsigned long needed)
{
    if (outLength == nullptr)
        fail(CKR_ARGUMENTS_BAD);
    if (out != nullptr && *outLength < needed) {
        *outLength = needed;
        fail(CKR_BUFFER_TOO_SMALL);
    }
}

// A big-endian number's bytes without leading zero bytes.
std::string significant(void const *bytes, unsigned long size)
{
    auto const *b = static_cast<unsigned char const *>(bytes);
    while (b != nullptr && size != 0 && *b == 0)
        ++b, --size;
    return b == nullptr ? std::string() : std::string(reinterpret_cast<char const *>(b), size);
}

unsigned long keyLength(CKeyAsymetric *ctx)
{
    unsigned long length = 0;
    ctx->GetAttribute(CKeyAsymetric::ATTR_KEY_LENGTH, length);
    return length;
}

// The operation a session has under way, or CKR_OPERATION_NOT_INITIALIZED.
template <typename Context> Context *active(Context *ctx)
{
    if (ctx == nullptr)
        fail(CKR_OPERATION_NOT_INITIALIZED);
    return ctx;
}

// The last step of a digest: the length alone without a buffer, else the
// step run, the digest handed out and the operation ended.
template <typename Step>
void finishDigest(CP11Session *s, CDigest *ctx, unsigned char *digest, unsigned long *digestLength,
                  Step step)
{
    unsigned long size = ctx->Get(nullptr, CDigest::FORM_RAW);
    checkBuffer(digest, digestLength, size);
    *digestLength = size;
    if (digest == nullptr)
        return;
    step();
    ctx->Get(digest, CDigest::FORM_RAW);
    s->DigestCtxSet(nullptr);
}

} // namespace

CP11Token_Fake::CP11Token_Fake(CP11Slot *slot)
    : CP11Token(slot),
      m_loggedIn(NOBODY), m_userPin{FAKE_USER_PIN, FAKE_USER_PIN_TRIES, FAKE_USER_PIN_TRIES},
      m_soPin{FAKE_SO_PIN, FAKE_SO_PIN_TRIES, FAKE_SO_PIN_TRIES}
{
    SetAttribute(TOKEN_A_LABEL, FAKE_LABEL, (unsigned long)std::strlen(FAKE_LABEL));
    SetAttribute(TOKEN_A_MAX_SESSIONS, FAKE_MAX_SESSIONS);
    SetAttribute(TOKEN_A_MAX_RW_SESSIONS, FAKE_MAX_SESSIONS);
}

CP11Token_Fake::~CP11Token_Fake() {}

bool CP11Token_Fake::IsKnown()
{
    hl_log(HL_ENTER, "CP11Token_Fake::IsKnown()\n");
    hl_log(HL_LEAVE, "CP11Token_Fake::IsKnown( %s )\n", "YES");
    return true;
}

void CP11Token_Fake::Initialize()
{
    frame("Initialize", [&] {
        releaseMechanisms();
        for (MechanismRow const &row : MECHANISMS)
            m_mechanisms.PushBack(row.type);
        SetAttribute(TOKEN_A_MANUFACTURER, FAKE_MANUFACTURER,
                     (unsigned long)std::strlen(FAKE_MANUFACTURER));
        SetAttribute(TOKEN_A_MODEL, FAKE_MODEL, (unsigned long)std::strlen(FAKE_MODEL));
        SetAttribute(TOKEN_A_SERIAL_NUMBER, FAKE_SERIAL, (unsigned long)std::strlen(FAKE_SERIAL));
        SetAttribute(
            TOKEN_A_PKCS11_FLAGS,
            (unsigned long)(CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED | CKF_LOGIN_REQUIRED));
        SetAttribute(TOKEN_A_MIN_PIN_LEN, FAKE_MIN_PIN_LEN);
        SetAttribute(TOKEN_A_MAX_PIN_LEN, FAKE_MAX_PIN_LEN);
        SetAttribute(TOKEN_A_MIN_RSA_KEY_SIZE, FAKE_MIN_RSA_BITS);
        SetAttribute(TOKEN_A_MAX_RSA_KEY_SIZE, FAKE_MAX_RSA_BITS);
        if (m_connection == nullptr && m_slot != nullptr && m_slot->GetChannel() != nullptr) {
            CBlob reader(m_slot->FindStringAttribute(SLOT_A_NAME));
            m_connection = m_slot->GetChannel()->Connect(
                reader, false, CChannel::PROTOCOL_T0 | CChannel::PROTOCOL_T1);
            if (m_connection == nullptr)
                fail(CKR_DEVICE_ERROR);
        }
    });
}

void CP11Token_Fake::Finalize()
{
    frame("Finalize", [&] {
        m_loggedIn = NOBODY;
        CP11Token::Finalize();
    });
}

void CP11Token_Fake::GetMechanismInfo(unsigned long type, CK_MECHANISM_INFO *info)
{
    frame("GetMechanismInfo", [&] {
        CP11Token::GetMechanismInfo(type, info);
        MechanismRow const *row = mechanismRow(type);
        if (row == nullptr)
            fail(CKR_MECHANISM_INVALID);
        info->flags = row->flags;
        if (row->flags != CKF_DIGEST) {
            info->ulMinKeySize = FindLongAttribute(TOKEN_A_MIN_RSA_KEY_SIZE);
            info->ulMaxKeySize = FindLongAttribute(TOKEN_A_MAX_RSA_KEY_SIZE);
        }
    });
}

void CP11Token_Fake::OpenSession(unsigned long flags, void *, CK_NOTIFY, unsigned long *session)
{
    frame("OpenSession", [&] {
        if (session == nullptr)
            fail(CKR_ARGUMENTS_BAD);
        if ((flags & CKF_SERIAL_SESSION) == 0)
            fail(CKR_SESSION_PARALLEL_NOT_SUPPORTED);
        bool rw = (flags & CKF_RW_SESSION) != 0;
        if (!rw && m_loggedIn == CKU_SO)
            fail(CKR_SESSION_READ_WRITE_SO_EXISTS);
        if (m_sessions.Count() >= FindLongAttribute(TOKEN_A_MAX_SESSIONS))
            fail(CKR_SESSION_COUNT);
        unsigned long handle = newSessionHandle();
        std::unique_ptr<CP11Session> created(new CP11Session(this, 0));
        unsigned long state =
            rw ? (m_loggedIn == CKU_USER ? CKS_RW_USER_FUNCTIONS
                  : m_loggedIn == CKU_SO ? CKS_RW_SO_FUNCTIONS
                                         : CKS_RW_PUBLIC_SESSION)
               : (m_loggedIn == CKU_USER ? CKS_RO_USER_FUNCTIONS : CKS_RO_PUBLIC_SESSION);
        created->SetAttribute(SESSION_A_BASE_OBJ_ID, SESSION_OBJECT_HANDLE_BASE);
        created->SetAttribute(SESSION_A_LAST_OBJ_ID, SESSION_OBJECT_HANDLE_BASE);
        created->SetAttribute(SESSION_A_FLAGS, flags);
        created->SetAttribute(SESSION_A_STATE, state);
        created->SetAttribute(SESSION_A_ID, handle);
        unsigned int before = m_sessions.Count();
        m_sessions.PushBack(created.get());
        if (m_sessions.Count() == before)
            fail(CKR_HOST_MEMORY);
        created.release();
        *session = handle;
        unsigned long counter = rw ? TOKEN_A_OPEN_RW_SESSIONS : TOKEN_A_OPEN_SESSIONS;
        SetAttribute(counter, FindLongAttribute(counter) + 1);
    });
}

void CP11Token_Fake::CloseSession(unsigned long session)
{
    frame("CloseSession", [&] {
        CP11Session *s = GetSession(session);
        bool rw = (s->FindLongAttribute(SESSION_A_FLAGS) & CKF_RW_SESSION) != 0;
        removeSession(s);
        unsigned long counter = rw ? TOKEN_A_OPEN_RW_SESSIONS : TOKEN_A_OPEN_SESSIONS;
        unsigned long open = FindLongAttribute(counter);
        SetAttribute(counter, open != 0 ? open - 1 : 0);
        delete s;
        // Closing the last session ends the login.
        if (m_sessions.Count() == 0)
            m_loggedIn = NOBODY;
    });
}

void CP11Token_Fake::CloseAllSessions()
{
    frame("CloseAllSessions", [&] {
        CP11Token::CloseAllSessions();
        m_loggedIn = NOBODY;
    });
}

void CP11Token_Fake::GetSessionInfo(unsigned long session, CK_SESSION_INFO *info)
{
    frame("GetSessionInfo", [&] { GetSession(session)->GetInfo(info); });
}

void CP11Token_Fake::Login(unsigned long session, unsigned long userType, unsigned char *pin,
                           unsigned long pinLength)
{
    frame("Login", [&] {
        CP11Session *s = GetSession(session);
        if (userType != CKU_USER && userType != CKU_SO)
            fail(CKR_USER_TYPE_INVALID);
        if (m_loggedIn == userType)
            fail(CKR_USER_ALREADY_LOGGED_IN);
        if (m_loggedIn != NOBODY)
            fail(CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
        if (pin == nullptr && pinLength != 0)
            fail(CKR_ARGUMENTS_BAD);
        if (userType == CKU_SO && getSessionCount(CKF_SERIAL_SESSION, true) != 0)
            fail(CKR_SESSION_READ_ONLY_EXISTS);
        present(pinOf(userType), pin, pinLength);
        updateSessionsState(userType);
        m_loggedIn = userType;
        s->PukSet(nullptr, 0);
        if (userType == CKU_SO)
            s->PukSet(pin, pinLength);
    });
}

void CP11Token_Fake::Logout(unsigned long session)
{
    frame("Logout", [&] {
        CP11Session *s = GetSession(session);
        if (m_loggedIn == NOBODY)
            fail(CKR_USER_NOT_LOGGED_IN);
        logoutSessions();
        updateSessionsState(NOBODY);
        m_loggedIn = NOBODY;
        s->PukSet(nullptr, 0);
    });
}

void CP11Token_Fake::present(Pin &pin, unsigned char const *given, unsigned long length)
{
    if (pin.left == 0)
        fail(CKR_PIN_LOCKED);
    if (length != pin.value.size() || (length != 0 && std::memcmp(given, pin.value.data(), length)))
        fail(--pin.left == 0 ? CKR_PIN_LOCKED : CKR_PIN_INCORRECT);
    pin.left = pin.limit;
}

void CP11Token_Fake::SetPIN(unsigned long session, unsigned char *oldPin, unsigned long oldLength,
                            unsigned char *newPin, unsigned long newLength)
{
    frame("SetPIN", [&] {
        if (oldPin == nullptr || oldLength == 0 || newPin == nullptr || newLength == 0)
            fail(CKR_ARGUMENTS_BAD);
        unsigned long state = GetSession(session)->FindLongAttribute(SESSION_A_STATE);
        if (state != CKS_RW_PUBLIC_SESSION && state != CKS_RW_USER_FUNCTIONS &&
            state != CKS_RW_SO_FUNCTIONS)
            fail(CKR_SESSION_READ_ONLY);
        if (newLength < FAKE_MIN_PIN_LEN || newLength > FAKE_MAX_PIN_LEN)
            fail(CKR_PIN_LEN_RANGE);
        Pin &pin = pinOf(state == CKS_RW_SO_FUNCTIONS ? CKU_SO : CKU_USER);
        present(pin, oldPin, oldLength);
        pin.value.assign(reinterpret_cast<char *>(newPin), newLength);
        if (state != CKS_RW_PUBLIC_SESSION) {
            updateSessionsState(NOBODY);
            m_loggedIn = NOBODY;
        }
    });
}

void CP11Token_Fake::InitPIN(unsigned long session, unsigned char *pin, unsigned long pinLength)
{
    frame("InitPIN", [&] {
        if (pin == nullptr || pinLength == 0)
            fail(CKR_ARGUMENTS_BAD);
        if (pinLength < FAKE_MIN_PIN_LEN || pinLength > FAKE_MAX_PIN_LEN)
            fail(CKR_PIN_LEN_RANGE);
        if (GetSession(session)->FindLongAttribute(SESSION_A_STATE) != CKS_RW_SO_FUNCTIONS)
            fail(CKR_USER_NOT_LOGGED_IN);
        m_userPin.value.assign(reinterpret_cast<char *>(pin), pinLength);
        m_userPin.left = m_userPin.limit;
    });
}

void CP11Token_Fake::CreateObject(unsigned long session, CK_ATTRIBUTE *templ, unsigned long count,
                                  unsigned long *object)
{
    frame("CreateObject", [&] {
        CP11Session *s = GetSession(session);
        if (object == nullptr || (templ == nullptr && count != 0))
            fail(CKR_ARGUMENTS_BAD);
        *object = 0;
        CK_ATTRIBUTE *classEntry = findEntry(templ, count, CKA_CLASS);
        if (classEntry == nullptr)
            fail(CKR_TEMPLATE_INCOMPLETE);
        // The container name is the token's to keep, not an attribute of the object.
        std::vector<CK_ATTRIBUTE> attributes;
        std::string container;
        for (unsigned long i = 0; i < count; ++i) {
            if (templ[i].type != FAKE_CKA_OBJECT_CONTAINER_NAME)
                attributes.push_back(templ[i]);
            else if (templ[i].pValue != nullptr)
                container.assign(static_cast<char *>(templ[i].pValue), templ[i].ulValueLen);
        }
        std::unique_ptr<CP11Object> created;
        unsigned long const cls = entryLong(classEntry);
        switch (cls) {
        case CKO_DATA:
            created.reset(new CP11DataObject());
            break;
        case CKO_PUBLIC_KEY:
            if (entryLong(findEntry(templ, count, CKA_KEY_TYPE)) != CKK_RSA)
                fail(CKR_TEMPLATE_INCONSISTENT);
            created.reset(new CP11RSAPublicKey());
            setAllowedMechanisms(created.get(), CKF_VERIFY); // as for a generated key
            break;
        case CKO_PRIVATE_KEY:
            if (entryLong(findEntry(templ, count, CKA_KEY_TYPE)) != CKK_RSA)
                fail(CKR_TEMPLATE_INCONSISTENT);
            created.reset(new CP11RSAPrivateKey());
            setAllowedMechanisms(created.get(), CKF_SIGN);
            break;
        case CKO_CERTIFICATE:
            if (entryLong(findEntry(templ, count, CKA_CERTIFICATE_TYPE)) != CKC_X_509)
                fail(CKR_TEMPLATE_INCONSISTENT);
            created.reset(new CP11X509Certificate());
            break;
        default:
            fail(CKR_ATTRIBUTE_VALUE_INVALID);
        }
        for (CK_ATTRIBUTE &a : attributes)
            created->SetAttribute(&a, P11_OP_CREATE);
        created->Verify(P11_OP_CREATE);
        if ((cls == CKO_PRIVATE_KEY || cls == CKO_PUBLIC_KEY) &&
            findEntry(templ, count, CKA_ALLOWED_MECHANISMS) == nullptr)
            setAllowedMechanisms(created.get(), cls == CKO_PRIVATE_KEY ? CKF_SIGN : CKF_VERIFY);

        if (created->FindByteAttribute(CKA_PRIVATE) != 0 && m_loggedIn != CKU_USER)
            fail(CKR_USER_NOT_LOGGED_IN);
        if (created->FindByteAttribute(CKA_TOKEN) == 0) {
            s->PushObject(created.get(), object);
            return;
        }
        if ((s->FindLongAttribute(SESSION_A_FLAGS) & CKF_RW_SESSION) == 0)
            fail(CKR_SESSION_READ_ONLY);
        if (m_objects.Count() >= FAKE_MAX_TOKEN_OBJECTS)
            fail(CKR_DEVICE_MEMORY);
        // A private key without a container gets a new one of the token's naming.
        if (cls == CKO_PRIVATE_KEY && container.empty())
            container = FAKE_CONTAINER_PREFIX + std::to_string(++m_containerCounter);
        if (cls == CKO_CERTIFICATE && !container.empty() &&
            !certificateFits(created.get(), container))
            fail(CKR_DEVICE_ERROR);
        created->SetHandle(++m_objectCounter);
        unsigned int before = m_objects.Count();
        m_objects.PushBack(created.get());
        if (m_objects.Count() == before)
            fail(CKR_HOST_MEMORY);
        *object = created.release()->GetHandle();
        if (!container.empty())
            m_containerNames[*object] = container;
    });
}

bool CP11Token_Fake::certificateFits(CP11Object *certificate, std::string const &container)
{
    unsigned long size = 0;
    auto const *der =
        static_cast<unsigned char const *>(certificate->FindBinaryAttribute(CKA_VALUE, &size));
    _asn_cert_ctx_t *ctx = nullptr;
    if (der == nullptr || asn_cert_ctx_init(der, (uint32_t)size, &ctx) != 0)
        return true;
    std::vector<unsigned char> record;
    int32_t length = asn_cert_ctx_get_attribute(ctx, ASN_CERT_RSA_KEY, nullptr);
    if (length > 0) {
        record.resize((size_t)length);
        if (asn_cert_ctx_get_attribute(ctx, ASN_CERT_RSA_KEY, record.data()) != length)
            record.clear();
    }
    asn_cert_ctx_final(ctx);
    if (record.size() < sizeof(asn_cert_rsa_key_t))
        return true;
    asn_cert_rsa_key_t key;
    std::memcpy(&key, record.data(), sizeof(key));
    std::string const modulus = significant(reinterpret_cast<void const *>(key.modulus),
                                            (unsigned long)key.modulus_length);
    std::string const exponent = significant(reinterpret_cast<void const *>(key.exponent),
                                             (unsigned long)key.exponent_length);

    bool holdsKeys = false;
    for (auto const &entry : m_containerNames) {
        CP11Object *member = entry.second == container ? findObject(entry.first) : nullptr;
        unsigned long cls = member != nullptr ? member->FindLongAttribute(CKA_CLASS) : CKO_DATA;
        if (cls != CKO_PUBLIC_KEY && cls != CKO_PRIVATE_KEY)
            continue;
        holdsKeys = true;
        unsigned long mSize = 0, eSize = 0;
        void const *m = member->FindBinaryAttribute(CKA_MODULUS, &mSize);
        void const *e = member->FindBinaryAttribute(CKA_PUBLIC_EXPONENT, &eSize);
        if (significant(m, mSize) == modulus && significant(e, eSize) == exponent)
            return true;
    }
    return !holdsKeys;
}

void CP11Token_Fake::GenerateRandom(unsigned long session, unsigned char *randomData,
                                    unsigned long randomLength)
{
    frame("GenerateRandom", [&] {
        GetSession(session);
        if (randomData == nullptr && randomLength != 0)
            fail(CKR_ARGUMENTS_BAD);
        CRandom random;
        if (randomLength != 0 && !random.Generate(randomData, randomLength))
            fail(CKR_FUNCTION_FAILED);
    });
}

void CP11Token_Fake::DestroyObject(unsigned long session, unsigned long object)
{
    frame("DestroyObject", [&] {
        CP11Session *s = GetSession(session);
        CP11Session *owner = nullptr;
        CP11Object *found = findObject(object, &owner);
        if (found == nullptr)
            fail(CKR_OBJECT_HANDLE_INVALID);
        if (owner != nullptr) {
            owner->DestroyObject(found);
            return;
        }
        if ((s->FindLongAttribute(SESSION_A_FLAGS) & CKF_RW_SESSION) == 0)
            fail(CKR_SESSION_READ_ONLY);
        delete RemoveObject(object);
        m_containerNames.erase(object);
    });
}

void CP11Token_Fake::GetAttributeValue(unsigned long session, unsigned long object,
                                       CK_ATTRIBUTE *templ, unsigned long count)
{
    frame("GetAttributeValue", [&] {
        GetSession(session);
        if (templ == nullptr && count != 0)
            fail(CKR_ARGUMENTS_BAD);
        // Handle 0 is the token itself, which has vendor attributes only.
        CP11Object *found = nullptr;
        if (object != 0)
            found = findObject(object);
        for (unsigned long i = 0; i < count && object == 0; ++i)
            if ((templ[i].type & CKA_VENDOR_DEFINED) == 0)
                fail(CKR_OBJECT_HANDLE_INVALID);
        if (found == nullptr && object != 0)
            fail(CKR_OBJECT_HANDLE_INVALID);
        // Every entry is answered; the last refusal is the result.
        unsigned long rv = CKR_OK;
        for (unsigned long i = 0; i < count; ++i) {
            try {
                if ((templ[i].type & CKA_VENDOR_DEFINED) != 0)
                    vendorAttribute(found, &templ[i]);
                else
                    found->GetAttribute(&templ[i]);
            } catch (CP11Exception &e) {
                unsigned long code = e.GetErrorCode();
                if (code != CKR_ATTRIBUTE_SENSITIVE && code != CKR_ATTRIBUTE_TYPE_INVALID &&
                    code != CKR_BUFFER_TOO_SMALL && code != CKR_OBJECT_HANDLE_INVALID)
                    throw;
                templ[i].ulValueLen = CK_UNAVAILABLE_INFORMATION;
                rv = code;
            }
        }
        if (rv != CKR_OK)
            fail(rv);
    });
}

void CP11Token_Fake::vendorAttribute(CP11Object *object, CK_ATTRIBUTE *attribute)
{
    std::vector<unsigned char> value;
    auto append = [&value](void const *bytes, size_t size) {
        value.insert(value.end(), static_cast<unsigned char const *>(bytes),
                     static_cast<unsigned char const *>(bytes) + size);
    };
    switch (attribute->type) {
    case FAKE_CKA_CARD_ATR:
        if (m_connection == nullptr)
            fail(CKR_DEVICE_ERROR);
        append(m_connection->GetATR().GetData(), m_connection->GetATR().GetSize());
        break;
    case FAKE_CKA_CARD_AID:
        append(FAKE_AID, sizeof(FAKE_AID));
        break;
    case FAKE_CKA_USER_PIN_INFO:
    case FAKE_CKA_SO_PIN_INFO: {
        Pin const &pin = pinOf(attribute->type == FAKE_CKA_SO_PIN_INFO ? CKU_SO : CKU_USER);
        uint64_t const info[3] = {pin.limit, pin.left, 0};
        append(info, sizeof(info));
        break;
    }
    case FAKE_CKA_CONTAINERS_USAGE:
        append(FAKE_CONTAINERS_USAGE, sizeof(FAKE_CONTAINERS_USAGE));
        break;
    case FAKE_CKA_OBJECT_CONTAINER_NAME: {
        auto name =
            object != nullptr ? m_containerNames.find(object->GetHandle()) : m_containerNames.end();
        if (name == m_containerNames.end())
            fail(CKR_OBJECT_HANDLE_INVALID);
        append(name->second.data(), name->second.size());
        break;
    }
    default:
        fail(CKR_ATTRIBUTE_TYPE_INVALID);
    }
    if (attribute->pValue != nullptr && attribute->ulValueLen < value.size())
        fail(CKR_BUFFER_TOO_SMALL);
    if (attribute->pValue != nullptr && !value.empty())
        std::memcpy(attribute->pValue, value.data(), value.size());
    attribute->ulValueLen = value.size();
}

void CP11Token_Fake::FindObjectsInit(unsigned long session, CK_ATTRIBUTE *templ,
                                     unsigned long count)
{
    frame("FindObjectsInit", [&] { GetSession(session)->FindObjectsInit(templ, count); });
}

void CP11Token_Fake::FindObjects(unsigned long session, unsigned long *objects, unsigned long max,
                                 unsigned long *count)
{
    frame("FindObjects", [&] { GetSession(session)->FindObjects(objects, max, count); });
}

void CP11Token_Fake::FindObjectsFinal(unsigned long session)
{
    frame("FindObjectsFinal", [&] { GetSession(session)->FindObjectsFinal(); });
}

void CP11Token_Fake::DigestInit(unsigned long session, CK_MECHANISM *mechanism)
{
    frame("DigestInit", [&] {
        CP11Session *s = GetSession(session);
        if (mechanism == nullptr)
            fail(CKR_ARGUMENTS_BAD);
        if (s->DigestCtxGet() != nullptr)
            fail(CKR_OPERATION_ACTIVE);
        FindMechanism(mechanism->mechanism);
        CDigest *digest = nullptr;
        if (mechanism->mechanism == CKM_SHA_1)
            digest = new CSHA1();
        else if (mechanism->mechanism == CKM_SHA256)
            digest = new CSHA256();
        else
            fail(CKR_MECHANISM_INVALID);
        s->DigestCtxSet(digest);
    });
}

void CP11Token_Fake::Digest(unsigned long session, unsigned char *data, unsigned long dataLength,
                            unsigned char *digest, unsigned long *digestLength)
{
    frame("Digest", [&] {
        CP11Session *s = GetSession(session);
        CDigest *ctx = active(s->DigestCtxGet());
        if (data == nullptr && dataLength != 0)
            fail(CKR_ARGUMENTS_BAD);
        finishDigest(s, ctx, digest, digestLength, [&] {
            ctx->Update(data, dataLength);
            ctx->Final();
        });
    });
}

void CP11Token_Fake::DigestUpdate(unsigned long session, unsigned char *part,
                                  unsigned long partLength)
{
    frame("DigestUpdate", [&] {
        CDigest *ctx = active(GetSession(session)->DigestCtxGet());
        if (part == nullptr && partLength != 0)
            fail(CKR_ARGUMENTS_BAD);
        ctx->Update(part, partLength);
    });
}

void CP11Token_Fake::DigestFinal(unsigned long session, unsigned char *digest,
                                 unsigned long *digestLength)
{
    frame("DigestFinal", [&] {
        CP11Session *s = GetSession(session);
        CDigest *ctx = active(s->DigestCtxGet());
        finishDigest(s, ctx, digest, digestLength, [&] { ctx->Final(); });
    });
}

namespace
{

// Prepares an RSA context for a sign or verify operation with a key object
// of the given class; the caller hands it to the session.
CRSA *keyContext(CP11Token_Fake *token, CP11Session *s, CK_MECHANISM *mechanism,
                 unsigned long handle, unsigned long keyClass, unsigned long usage,
                 unsigned long operation)
{
    if (mechanism == nullptr)
        fail(CKR_ARGUMENTS_BAD);
    token->FindMechanism(mechanism->mechanism);
    MechanismRow const *row = mechanismRow(mechanism->mechanism);
    if (row == nullptr || row->word == 0)
        fail(CKR_MECHANISM_INVALID);
    CP11Key *key = dynamic_cast<CP11Key *>(token->findObject(handle));
    if (key == nullptr)
        fail(CKR_KEY_HANDLE_INVALID);
    if (key->FindLongAttribute(CKA_CLASS) != keyClass ||
        key->FindLongAttribute(CKA_KEY_TYPE) != CKK_RSA)
        fail(CKR_KEY_TYPE_INCONSISTENT);
    if (key->FindByteAttribute(CKA_PRIVATE) != 0 && token->LoggedIn() != CKU_USER)
        fail(CKR_USER_NOT_LOGGED_IN);
    if (key->FindByteAttribute(usage) == 0 || !key->IsMechanismAllowed(mechanism->mechanism))
        fail(CKR_KEY_FUNCTION_NOT_PERMITTED);
    std::unique_ptr<CRSA> ctx(new CRSA());
    if (!ctx->SetAttribute(CKeyAsymetric::ATTR_MECHANISM, row->word))
        fail(ctx->GetLastError());
    s->WriteKeyToCtx(key, ctx.get());
    if (!ctx->Init(operation))
        fail(ctx->GetLastError());
    return ctx.release();
}

// Ends the operation and throws the context's error.
[[noreturn]] void failOperation(CP11Session *s, CKeyAsymetric *ctx, bool sign)
{
    unsigned long rv = ctx->GetLastError() != CKR_OK ? ctx->GetLastError() : CKR_FUNCTION_FAILED;
    if (sign)
        s->SignCtxSet(nullptr);
    else
        s->VerifyCtxSet(nullptr);
    fail(rv);
}

// The last step of a signature: the length alone without a buffer, else the
// step run, the signature handed out and the operation ended.
template <typename Step>
void finishSignature(CP11Session *s, CKeyAsymetric *ctx, unsigned char *signature,
                     unsigned long *signatureLength, Step step)
{
    unsigned long size = keyLength(ctx);
    checkBuffer(signature, signatureLength, size);
    *signatureLength = size;
    if (signature == nullptr)
        return;
    if (!step())
        failOperation(s, ctx, true);
    *signatureLength = ctx->Get(signature);
    s->SignCtxSet(nullptr);
}

} // namespace

void CP11Token_Fake::SignInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key)
{
    frame("SignInit", [&] {
        CP11Session *s = GetSession(session);
        if (s->SignCtxGet() != nullptr)
            fail(CKR_OPERATION_ACTIVE);
        s->SignCtxSet(
            keyContext(this, s, mechanism, key, CKO_PRIVATE_KEY, CKA_SIGN, CKeyAsymetric::OP_SIGN));
    });
}

void CP11Token_Fake::Sign(unsigned long session, unsigned char *data, unsigned long dataLength,
                          unsigned char *signature, unsigned long *signatureLength)
{
    frame("Sign", [&] {
        CP11Session *s = GetSession(session);
        CKeyAsymetric *ctx = active(s->SignCtxGet());
        finishSignature(s, ctx, signature, signatureLength,
                        [&] { return ctx->Do(data, dataLength, nullptr, 0); });
    });
}

void CP11Token_Fake::SignUpdate(unsigned long session, unsigned char *part,
                                unsigned long partLength)
{
    frame("SignUpdate", [&] {
        CP11Session *s = GetSession(session);
        CKeyAsymetric *ctx = active(s->SignCtxGet());
        if (!ctx->Update(part, partLength))
            failOperation(s, ctx, true);
    });
}

void CP11Token_Fake::SignFinal(unsigned long session, unsigned char *signature,
                               unsigned long *signatureLength)
{
    frame("SignFinal", [&] {
        CP11Session *s = GetSession(session);
        CKeyAsymetric *ctx = active(s->SignCtxGet());
        finishSignature(s, ctx, signature, signatureLength, [&] { return ctx->Final(nullptr, 0); });
    });
}

void CP11Token_Fake::VerifyInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key)
{
    frame("VerifyInit", [&] {
        CP11Session *s = GetSession(session);
        if (s->VerifyCtxGet() != nullptr)
            fail(CKR_OPERATION_ACTIVE);
        s->VerifyCtxSet(keyContext(this, s, mechanism, key, CKO_PUBLIC_KEY, CKA_VERIFY,
                                   CKeyAsymetric::OP_VERIFY));
    });
}

void CP11Token_Fake::Verify(unsigned long session, unsigned char *data, unsigned long dataLength,
                            unsigned char *signature, unsigned long signatureLength)
{
    frame("Verify", [&] {
        CP11Session *s = GetSession(session);
        CKeyAsymetric *ctx = active(s->VerifyCtxGet());
        if (!ctx->Do(data, dataLength, signature, signatureLength))
            failOperation(s, ctx, false);
        s->VerifyCtxSet(nullptr);
    });
}

void CP11Token_Fake::VerifyUpdate(unsigned long session, unsigned char *part,
                                  unsigned long partLength)
{
    frame("VerifyUpdate", [&] {
        CP11Session *s = GetSession(session);
        CKeyAsymetric *ctx = active(s->VerifyCtxGet());
        if (!ctx->Update(part, partLength))
            failOperation(s, ctx, false);
    });
}

void CP11Token_Fake::VerifyFinal(unsigned long session, unsigned char *signature,
                                 unsigned long signatureLength)
{
    frame("VerifyFinal", [&] {
        CP11Session *s = GetSession(session);
        CKeyAsymetric *ctx = active(s->VerifyCtxGet());
        if (!ctx->Final(signature, signatureLength))
            failOperation(s, ctx, false);
        s->VerifyCtxSet(nullptr);
    });
}

void CP11Token_Fake::GenerateKeyPair(unsigned long session, CK_MECHANISM *mechanism,
                                     CK_ATTRIBUTE *publicTemplate, unsigned long publicCount,
                                     CK_ATTRIBUTE *privateTemplate, unsigned long privateCount,
                                     unsigned long *publicKey, unsigned long *privateKey)
{
    frame("GenerateKeyPair", [&] {
        CP11Session *s = GetSession(session);
        if (mechanism == nullptr || publicKey == nullptr || privateKey == nullptr ||
            (publicTemplate == nullptr && publicCount != 0) ||
            (privateTemplate == nullptr && privateCount != 0))
            fail(CKR_ARGUMENTS_BAD);
        if (mechanism->mechanism != CKM_RSA_PKCS_KEY_PAIR_GEN)
            fail(CKR_MECHANISM_INVALID);
        FindMechanism(mechanism->mechanism);

        std::unique_ptr<CP11RSAPublicKey> pub(new CP11RSAPublicKey());
        std::unique_ptr<CP11RSAPrivateKey> priv(new CP11RSAPrivateKey());
        for (unsigned long i = 0; i < publicCount; ++i)
            pub->SetAttribute(&publicTemplate[i], P11_OP_GENERATE);
        for (unsigned long i = 0; i < privateCount; ++i)
            priv->SetAttribute(&privateTemplate[i], P11_OP_GENERATE);
        pub->Verify(P11_OP_GENERATE);
        priv->Verify(P11_OP_GENERATE);

        // This token keeps no keys of its own: generated keys live in the session.
        if (pub->FindByteAttribute(CKA_TOKEN) != 0 || priv->FindByteAttribute(CKA_TOKEN) != 0)
            fail(CKR_TEMPLATE_INCONSISTENT);
        if (priv->FindByteAttribute(CKA_PRIVATE) != 0 && m_loggedIn != CKU_USER)
            fail(CKR_USER_NOT_LOGGED_IN);
        unsigned long bits = pub->FindLongAttribute(CKA_MODULUS_BITS);
        if (bits < FindLongAttribute(TOKEN_A_MIN_RSA_KEY_SIZE) ||
            bits > FindLongAttribute(TOKEN_A_MAX_RSA_KEY_SIZE))
            fail(CKR_KEY_SIZE_RANGE);
        setAllowedMechanisms(pub.get(), CKF_VERIFY);
        setAllowedMechanisms(priv.get(), CKF_SIGN);
        s->GenerateKeyPair(pub.get(), priv.get(), publicKey, privateKey);
    });
}

CP11Token *CreateFakeToken(CP11Slot *slot)
{
    return new (std::nothrow) CP11Token_Fake(slot);
}

} // namespace vok_test
