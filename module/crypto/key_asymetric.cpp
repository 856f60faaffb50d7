#include "crypto/key_asymetric.h"

#include "crypto/digest.h"

#include <mbedtls/platform_util.h>
#include <p11-kit/pkcs11.h>

#include <cstdlib>
#include <cstring>
#include <new>

CKeyAsymetric::CKeyAsymetric()
    : m_key(nullptr), m_mechanism(0), m_state(0), m_userData(0), m_digest(nullptr),
      m_input(nullptr), m_inputLength(0), m_output(nullptr), m_outputLength(0), m_operation(0),
      m_lastError(CKR_OK)
{
}

CKeyAsymetric::~CKeyAsymetric()
{
    CKeyAsymetric::Reset();
}

// Gathered data and results may be plaintext: wipe them before release.
static void wipeAndFree(unsigned char *&buffer, unsigned long &length)
{
    if (buffer != nullptr) {
        mbedtls_platform_zeroize(buffer, length);
        free(buffer);
    }
    buffer = nullptr;
    length = 0;
}

void CKeyAsymetric::freeInput()
{
    wipeAndFree(m_input, m_inputLength);
}

void CKeyAsymetric::freeOutput()
{
    wipeAndFree(m_output, m_outputLength);
}

bool CKeyAsymetric::SetAttribute(unsigned int, void const *, unsigned long)
{
    m_lastError = CKR_ATTRIBUTE_TYPE_INVALID;
    return false;
}

bool CKeyAsymetric::SetAttribute(unsigned int id, unsigned long value)
{
    if (id != ATTR_MECHANISM) {
        m_lastError = CKR_ATTRIBUTE_TYPE_INVALID;
        return false;
    }
    if (value != MECH_RSA_RAW &&
        (value < MECH_RSA_PKCS || value > (MECH_RSA_PKCS | DIGEST_SHA512))) {
        m_lastError = CKR_MECHANISM_INVALID;
        return false;
    }
    m_mechanism = value;
    return true;
}

bool CKeyAsymetric::GetAttribute(unsigned int, void *, unsigned long *)
{
    m_lastError = CKR_ATTRIBUTE_TYPE_INVALID;
    return false;
}

bool CKeyAsymetric::GetAttribute(unsigned int id, unsigned long &value)
{
    if (id != ATTR_MECHANISM) {
        m_lastError = CKR_ATTRIBUTE_TYPE_INVALID;
        return false;
    }
    value = m_mechanism;
    return true;
}

bool CKeyAsymetric::Reset()
{
    m_mechanism = 0;
    m_state = 0;
    m_userData = 0;
    delete m_digest;
    m_digest = nullptr;
    freeInput();
    freeOutput();
    m_operation = 0;
    return true;
}

bool CKeyAsymetric::Init(unsigned long op)
{
    m_lastError = CKR_OK;
    switch (op & 0xFFFF) {
    case OP_ENCRYPT:
    case OP_DECRYPT:
        if (m_mechanism != MECH_RSA_RAW && m_mechanism != MECH_RSA_PKCS) {
            m_lastError = CKR_MECHANISM_INVALID;
            return false;
        }
        break;
    case OP_SIGN:
    case OP_VERIFY:
        break;
    default:
        m_lastError = CKR_FUNCTION_NOT_SUPPORTED;
        return false;
    }
    if (m_mechanism == 0) {
        m_lastError = CKR_MECHANISM_INVALID;
        return false;
    }

    delete m_digest;
    m_digest = nullptr;
    freeInput();
    freeOutput();

    switch (digestId()) {
    case DIGEST_NONE:
        break;
    case DIGEST_MD5:
        m_digest = new (std::nothrow) CMD5;
        break;
    case DIGEST_SHA1:
        m_digest = new (std::nothrow) CSHA1;
        break;
    case DIGEST_SHA224:
        m_digest = new (std::nothrow) CSHA224;
        break;
    case DIGEST_SHA256:
        m_digest = new (std::nothrow) CSHA256;
        break;
    case DIGEST_SHA384:
        m_digest = new (std::nothrow) CSHA384;
        break;
    case DIGEST_SHA512:
        m_digest = new (std::nothrow) CSHA512;
        break;
    }
    if (digestId() != DIGEST_NONE && m_digest == nullptr) {
        m_lastError = CKR_MECHANISM_INVALID;
        return false;
    }

    m_operation = op;
    m_state = (m_state & ~FLAG_FINISHED) | FLAG_INITIALISED;
    return true;
}

bool CKeyAsymetric::Update(void const *data, unsigned long length)
{
    m_lastError = CKR_OK;
    if (data == nullptr && length != 0) {
        m_lastError = CKR_ARGUMENTS_BAD;
        return false;
    }
    if (digestId() != DIGEST_NONE) {
        if (m_digest == nullptr) {
            m_lastError = CKR_GENERAL_ERROR;
            return false;
        }
        m_digest->Update(data, length);
    } else if (length != 0) {
        if (length > ~0UL - m_inputLength) {
            m_lastError = CKR_HOST_MEMORY;
            return false;
        }
        unsigned long total = m_inputLength + length;
        // Grow into a fresh buffer so that the old one can be wiped.
        auto *grown = static_cast<unsigned char *>(malloc(total));
        if (grown == nullptr) {
            m_lastError = CKR_HOST_MEMORY;
            return false;
        }
        if (m_inputLength != 0)
            memcpy(grown, m_input, m_inputLength);
        memcpy(grown + m_inputLength, data, length);
        freeInput();
        m_input = grown;
        m_inputLength = total;
    }
    m_state &= ~FLAG_INITIALISED;
    return true;
}

bool CKeyAsymetric::Final(void const *data, unsigned long length)
{
    m_lastError = CKR_OK;
    unsigned long op = operation();
    if (op == OP_VERIFY && (data == nullptr || length == 0)) {
        m_lastError = CKR_ARGUMENTS_BAD;
        return false;
    }
    if (op == OP_SIGN && (data != nullptr || length != 0)) {
        m_lastError = CKR_ARGUMENTS_BAD;
        return false;
    }
    if (digestId() != DIGEST_NONE) {
        if (m_digest == nullptr) {
            m_lastError = CKR_GENERAL_ERROR;
            return false;
        }
        m_digest->Final();
    } else if (m_inputLength == 0) {
        m_lastError = CKR_DATA_INVALID;
        return false;
    }
    if (op == OP_VERIFY) {
        freeOutput();
        m_output = static_cast<unsigned char *>(malloc(length));
        if (m_output == nullptr) {
            m_lastError = CKR_HOST_MEMORY;
            return false;
        }
        memcpy(m_output, data, length);
        m_outputLength = length;
    }
    m_state |= FLAG_FINISHED;
    return true;
}

bool CKeyAsymetric::Do(void const *, unsigned long, void const *, unsigned long)
{
    m_lastError = CKR_OK;
    return true;
}
