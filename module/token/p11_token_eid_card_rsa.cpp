// The raw RSA step of a card key: the card applies its private key to one
// block of the key's length, inside a secure-messaging session with the master
// key "MK" (MACs on commands and responses) opened for that one command and
// closed right after it, under the channel's exclusive access and the PIN
// guard, so that no other application's command comes between the PIN, the
// session and the RSA command, and the card is left as it was found.
//
// Invariant: the secure-messaging provider set (m_crypto) is all zero outside
// cryptPrivateRSA, whatever happened inside it, and the card context is no
// longer bound to it.
#include <cstring>

#include "base/linux/linux_log.h"
#include "card/card_keys.h"
#include "card/qvmd.h"
#include "channel/card_connection.h"
#include "channel/channel_locker.h"
#include "objects/p11_container.h"
#include "objects/p11_object.h"
#include "token/p11_token_eid.h"

using vok_log::HL_ENTER;
using vok_log::HL_ERROR;
using vok_log::HL_INFO;

namespace
{

char const MASTER_KEY[] = "MK";

[[noreturn]] void setupFailed(char const *what)
{
    hl_log(HL_ERROR, "%s function call failed.\n", what);
    throw CP11Exception(CKR_GENERAL_ERROR);
}

unsigned long modulusLength(CP11Object *key)
{
    unsigned long length = 0;
    if (key->FindBinaryAttribute(CKA_MODULUS, &length) == nullptr)
        return 0;
    return length;
}

} // namespace

void CP11Token_eiD::cardStep(unsigned long handle, unsigned char *block, unsigned long length,
                             bool sign)
{
    CChannelLocker locker(channel(), m_connection);
    CAuthenticatorWorker worker(m_authenticator);
    CP11Object *key = GetObject(handle);
    // the context was made for this length; a key changed since cannot take it
    if (modulusLength(key) != length)
        throw CP11Exception(CKR_KEY_TYPE_INCONSISTENT);
    cryptPrivateRSA(key, block, sign);
    worker.Close();
}

void CP11Token_eiD::cryptPrivateRSA(CP11Object *key, unsigned char *block, bool sign)
{
    hl_log(HL_ENTER, "CP11Token_eiD::cryptPrivateRSA(%p,%p,%s)\n", (void *)key, (void *)block,
           sign ? "SIGN" : "DECRYPT");
    frame(
        "cryptPrivateRSA",
        [&] {
            if (key->FindLongAttribute(CKA_CLASS) != CKO_PRIVATE_KEY) {
                hl_log(HL_ERROR, "Unexpected 'CKA_CLASS' attribute value.\n");
                throw CP11Exception(CKR_KEY_TYPE_INCONSISTENT);
            }
            bool typed = false;
            if (key->FindLongAttribute(CKA_KEY_TYPE, &typed) != CKK_RSA || !typed) {
                hl_log(HL_ERROR, "Unexpected 'CKA_KEY_TYPE' attribute value.\n");
                throw CP11Exception(CKR_KEY_TYPE_INCONSISTENT);
            }
            unsigned long length = modulusLength(key);
            if (length == 0)
                throw CP11Exception(CKR_KEY_TYPE_INCONSISTENT);
            CP11Container *container = findContainer(key->GetHandle(), true);
            unsigned char number = container->FindByteAttribute(CKA_CONTAINER_ID);
            unsigned char keyNumber = container->FindByteAttribute(CKA_CONTAINER_KEY_NUMBER);
            hl_log(HL_INFO, "Container number : %d\n", (int)number);
            hl_log(HL_INFO, "Key number : %d\n", (int)keyNumber);

            openCrypto();
            unsigned char *result = nullptr;
            try {
                if (QVMD_OpenSM(m_card, MASTER_KEY, 0, 0, QVMD_SM_LEVEL_RSA) != 0) {
                    // a card that went away is reported as such, not as a set-up fault
                    bool gone = m_connection != nullptr && m_connection->GetCardStatus() ==
                                                               CCardConnection::CARD_STATUS_ABSENT;
                    throw CP11Exception(gone ? CKR_DEVICE_ERROR : CKR_GENERAL_ERROR);
                }
                unsigned long resultLength = length;
                if (sign) {
                    if (QVMD_RSASign(m_card, number, keyNumber, block, length, &result,
                                     &resultLength, 1) != 0)
                        cardFailed("QVMD_RSASign");
                    if (resultLength != length)
                        throw CP11Exception(CKR_DEVICE_ERROR);
                    std::memcpy(block, result, length);
                    QVMD_Free(m_card, result);
                    result = nullptr;
                } else {
                    if (QVMD_RSADecrypt(m_card, number, keyNumber, block, &resultLength) != 0)
                        cardFailed("QVMD_RSADecrypt");
                    // anything but a whole block would be unpadded as if it were one
                    if (resultLength != length)
                        throw CP11Exception(CKR_DEVICE_ERROR);
                }
            } catch (CP11Exception &) {
                QVMD_Free(m_card, result);
                QVMD_CloseSM(m_card); // also after a failed opening: it closes locally
                closeCrypto();
                throw;
            }
            QVMD_CloseSM(m_card);
            closeCrypto();
        },
        true);
}

void CP11Token_eiD::openCrypto()
{
    hl_log(HL_ENTER, "CP11Token_eiD::openCrypto()\n");
    frame("openCrypto", [&] {
        m_crypto.Wipe();
        m_crypto.storage.context = 0;
        m_crypto.storage.slotCount = CCardCryptoSet::KEY_SLOTS;
        m_crypto.storage.slots = m_crypto.slots;
        bool provider = false, storage = false;
        try {
            if (QVMD_DESSWProv_InitCryptoProvider(&m_crypto.provider, 0, 0, 0) != 0)
                setupFailed("QVMD_DESSWProv_InitCryptoProvider");
            provider = true;
            if (QVMD_DESSWProv_InitDESKeyStorage(&m_crypto.provider, &m_crypto.storage) != 0)
                setupFailed("QVMD_DESSWProv_InitDESKeyStorage");
            storage = true;
            m_crypto.handle = {&m_crypto.provider, &m_crypto.storage};
            if (m_crypto.provider.SetKey(&m_crypto.storage, MASTER_KEY, QVDES_KEY_TYPE_DES3,
                                         QVMD_MK_STORED, sizeof(QVMD_MK_STORED)) == nullptr)
                setupFailed("m_des_manipulator.set_key");
            if (QVMD_CryptoSWProviderInit(&m_card->sm, &m_crypto.state, &m_crypto.handle) != 0)
                setupFailed("QVMD_CryptoSWProviderInit");
        } catch (CP11Exception &) {
            if (storage)
                QVMD_DESSWProv_CloseDESKeyStorage(&m_crypto.provider, &m_crypto.storage);
            if (provider)
                QVMD_DESSWProv_CloseCryptoProvider(&m_crypto.provider);
            m_crypto.Wipe();
            m_card->sm = {};
            throw;
        }
    });
}

void CP11Token_eiD::closeCrypto()
{
    hl_log(HL_ENTER, "CP11Token_eiD::closeCrypto()\n");
    QVMD_DESSWProv_CloseDESKeyStorage(&m_crypto.provider, &m_crypto.storage);
    QVMD_DESSWProv_CloseCryptoProvider(&m_crypto.provider);
    m_crypto.Wipe();
    m_card->sm = {};
    leave("closeCrypto");
}
