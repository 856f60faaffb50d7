// The generic bodies of the token interface. A token class overrides what its
// card can do; every operation left alone answers CKR_FUNCTION_NOT_SUPPORTED
// without looking at its arguments.
#include <p11-kit/pkcs11.h>

#include "base/linux/linux_log.h"
#include "core/core_support.h"
#include "core/p11_token.h"

namespace
{

[[noreturn]] void notSupported(char const *method)
{
    vok_core::leaveByException("CP11Token", method, CKR_FUNCTION_NOT_SUPPORTED);
}

} // namespace

void CP11Token::InitToken(unsigned char *pin, unsigned long pinLength, unsigned char *label)
{
    hl_log(1, "CP11Token::InitToken(%p,0x%.8x,%p)\n", (void *)pin, pinLength, (void *)label);
    notSupported("InitToken");
}

void CP11Token::InitPIN(unsigned long session, unsigned char *pin, unsigned long pinLength)
{
    hl_log(1, "CP11Token::InitPIN(0x%.8x,%p,0x%.8x)\n", session, (void *)pin, pinLength);
    notSupported("InitPIN");
}

void CP11Token::SetPIN(unsigned long session, unsigned char *oldPin, unsigned long oldLength,
                       unsigned char *newPin, unsigned long newLength)
{
    hl_log(1, "CP11Token::SetPIN(0x%.8x,%p,0x%.8x,%p,0x%.8x)\n", session, (void *)oldPin, oldLength,
           (void *)newPin, newLength);
    notSupported("SetPIN");
}

void CP11Token::OpenSession(unsigned long flags, void *application, CK_NOTIFY notify,
                            unsigned long *session)
{
    hl_log(1, "CP11Token::OpenSession(0x%.8x,%p,%p,%p)\n", flags, (void *)application,
           (void *)notify, (void *)session);
    notSupported("OpenSession");
}

void CP11Token::CloseSession(unsigned long session)
{
    hl_log(1, "CP11Token::CloseSession(0x%.8x)\n", session);
    notSupported("CloseSession");
}

void CP11Token::GetSessionInfo(unsigned long session, CK_SESSION_INFO *info)
{
    hl_log(1, "CP11Token::GetSessionInfo(0x%.8x,%p)\n", session, (void *)info);
    notSupported("GetSessionInfo");
}

void CP11Token::GetOperationState(unsigned long session, unsigned char *state,
                                  unsigned long *stateLength)
{
    hl_log(1, "CP11Token::GetOperationState(0x%.8x,%p,%p)\n", session, (void *)state,
           (void *)stateLength);
    notSupported("GetOperationState");
}

void CP11Token::SetOperationState(unsigned long session, unsigned char *state,
                                  unsigned long stateLength, unsigned long encryptionKey,
                                  unsigned long authenticationKey)
{
    hl_log(1, "CP11Token::SetOperationState(0x%.8x,%p,0x%.8x,0x%.8x,0x%.8x)\n", session,
           (void *)state, stateLength, encryptionKey, authenticationKey);
    notSupported("SetOperationState");
}

void CP11Token::Login(unsigned long session, unsigned long userType, unsigned char *pin,
                      unsigned long pinLength)
{
    hl_log(1, "CP11Token::Login(0x%.8x,0x%.8x,%p,0x%.8x)\n", session, userType, (void *)pin,
           pinLength);
    notSupported("Login");
}

void CP11Token::Logout(unsigned long session)
{
    hl_log(1, "CP11Token::Logout(0x%.8x)\n", session);
    notSupported("Logout");
}

void CP11Token::CreateObject(unsigned long session, CK_ATTRIBUTE *templ, unsigned long count,
                             unsigned long *object)
{
    hl_log(1, "CP11Token::CreateObject(0x%.8x,%p,0x%.8x,%p)\n", session, (void *)templ, count,
           (void *)object);
    notSupported("CreateObject");
}

void CP11Token::CopyObject(unsigned long session, unsigned long object, CK_ATTRIBUTE *templ,
                           unsigned long count, unsigned long *newObject)
{
    hl_log(1, "CP11Token::CopyObject(0x%.8x,0x%.8x,%p,0x%.8x,%p)\n", session, object, (void *)templ,
           count, (void *)newObject);
    notSupported("CopyObject");
}

void CP11Token::DestroyObject(unsigned long session, unsigned long object)
{
    hl_log(1, "CP11Token::DestroyObject(0x%.8x,0x%.8x)\n", session, object);
    notSupported("DestroyObject");
}

void CP11Token::GetObjectSize(unsigned long session, unsigned long object, unsigned long *size)
{
    hl_log(1, "CP11Token::GetObjectSize(0x%.8x,0x%.8x,%p)\n", session, object, (void *)size);
    notSupported("GetObjectSize");
}

void CP11Token::GetAttributeValue(unsigned long session, unsigned long object, CK_ATTRIBUTE *templ,
                                  unsigned long count)
{
    hl_log(1, "CP11Token::GetAttributeValue(0x%.8x,0x%.8x,%p,0x%.8x)\n", session, object,
           (void *)templ, count);
    notSupported("GetAttributeValue");
}

void CP11Token::SetAttributeValue(unsigned long session, unsigned long object, CK_ATTRIBUTE *templ,
                                  unsigned long count)
{
    hl_log(1, "CP11Token::SetAttributeValue(0x%.8x,0x%.8x,%p,0x%.8x)\n", session, object,
           (void *)templ, count);
    notSupported("SetAttributeValue");
}

void CP11Token::FindObjectsInit(unsigned long session, CK_ATTRIBUTE *templ, unsigned long count)
{
    hl_log(1, "CP11Token::FindObjectsInit(0x%.8x,%p,0x%.8x)\n", session, (void *)templ, count);
    notSupported("FindObjectsInit");
}

void CP11Token::FindObjects(unsigned long session, unsigned long *objects, unsigned long max,
                            unsigned long *count)
{
    hl_log(1, "CP11Token::FindObjects(0x%.8x,%p,0x%.8x,%p)\n", session, (void *)objects, max,
           (void *)count);
    notSupported("FindObjects");
}

void CP11Token::FindObjectsFinal(unsigned long session)
{
    hl_log(1, "CP11Token::FindObjectsFinal(0x%.8x)\n", session);
    notSupported("FindObjectsFinal");
}

void CP11Token::EncryptInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key)
{
    hl_log(1, "CP11Token::EncryptInit(0x%.8x,%p,0x%.8x)\n", session, (void *)mechanism, key);
    notSupported("EncryptInit");
}

void CP11Token::Encrypt(unsigned long session, unsigned char *data, unsigned long dataLength,
                        unsigned char *encrypted, unsigned long *encryptedLength)
{
    hl_log(1, "CP11Token::Encrypt(0x%.8x,%p,0x%.8x,%p,%p)\n", session, (void *)data, dataLength,
           (void *)encrypted, (void *)encryptedLength);
    notSupported("Encrypt");
}

void CP11Token::EncryptUpdate(unsigned long session, unsigned char *part, unsigned long partLength,
                              unsigned char *encrypted, unsigned long *encryptedLength)
{
    hl_log(1, "CP11Token::EncryptUpdate(0x%.8x,%p,0x%.8x,%p,%p)\n", session, (void *)part,
           partLength, (void *)encrypted, (void *)encryptedLength);
    notSupported("EncryptUpdate");
}

void CP11Token::EncryptFinal(unsigned long session, unsigned char *lastPart,
                             unsigned long *lastPartLength)
{
    hl_log(1, "CP11Token::EncryptFinal(0x%.8x,%p,%p)\n", session, (void *)lastPart,
           (void *)lastPartLength);
    notSupported("EncryptFinal");
}

void CP11Token::DecryptInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key)
{
    hl_log(1, "CP11Token::DecryptInit(0x%.8x,%p,0x%.8x)\n", session, (void *)mechanism, key);
    notSupported("DecryptInit");
}

void CP11Token::Decrypt(unsigned long session, unsigned char *encrypted,
                        unsigned long encryptedLength, unsigned char *data,
                        unsigned long *dataLength)
{
    hl_log(1, "CP11Token::Decrypt(0x%.8x,%p,0x%.8x,%p,%p)\n", session, (void *)encrypted,
           encryptedLength, (void *)data, (void *)dataLength);
    notSupported("Decrypt");
}

void CP11Token::DecryptUpdate(unsigned long session, unsigned char *encryptedPart,
                              unsigned long encryptedLength, unsigned char *part,
                              unsigned long *partLength)
{
    hl_log(1, "CP11Token::DecryptUpdate(0x%.8x,%p,0x%.8x,%p,%p)\n", session, (void *)encryptedPart,
           encryptedLength, (void *)part, (void *)partLength);
    notSupported("DecryptUpdate");
}

void CP11Token::DecryptFinal(unsigned long session, unsigned char *lastPart,
                             unsigned long *lastPartLength)
{
    hl_log(1, "CP11Token::DecryptFinal(0x%.8x,%p,%p)\n", session, (void *)lastPart,
           (void *)lastPartLength);
    notSupported("DecryptFinal");
}

void CP11Token::DigestInit(unsigned long session, CK_MECHANISM *mechanism)
{
    hl_log(1, "CP11Token::DigestInit(0x%.8x,%p)\n", session, (void *)mechanism);
    notSupported("DigestInit");
}

void CP11Token::Digest(unsigned long session, unsigned char *data, unsigned long dataLength,
                       unsigned char *digest, unsigned long *digestLength)
{
    hl_log(1, "CP11Token::Digest(0x%.8x,%p,0x%.8x,%p,%p)\n", session, (void *)data, dataLength,
           (void *)digest, (void *)digestLength);
    notSupported("Digest");
}

void CP11Token::DigestUpdate(unsigned long session, unsigned char *part, unsigned long partLength)
{
    hl_log(1, "CP11Token::DigestUpdate(0x%.8x,%p,0x%.8x)\n", session, (void *)part, partLength);
    notSupported("DigestUpdate");
}

void CP11Token::DigestKey(unsigned long session, unsigned long key)
{
    hl_log(1, "CP11Token::DigestKey(0x%.8x,0x%.8x)\n", session, key);
    notSupported("DigestKey");
}

void CP11Token::DigestFinal(unsigned long session, unsigned char *digest,
                            unsigned long *digestLength)
{
    hl_log(1, "CP11Token::DigestFinal(0x%.8x,%p,%p)\n", session, (void *)digest,
           (void *)digestLength);
    notSupported("DigestFinal");
}

void CP11Token::SignInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key)
{
    hl_log(1, "CP11Token::SignInit(0x%.8x,%p,0x%.8x)\n", session, (void *)mechanism, key);
    notSupported("SignInit");
}

void CP11Token::Sign(unsigned long session, unsigned char *data, unsigned long dataLength,
                     unsigned char *signature, unsigned long *signatureLength)
{
    hl_log(1, "CP11Token::Sign(0x%.8x,%p,0x%.8x,%p,%p)\n", session, (void *)data, dataLength,
           (void *)signature, (void *)signatureLength);
    notSupported("Sign");
}

void CP11Token::SignUpdate(unsigned long session, unsigned char *part, unsigned long partLength)
{
    hl_log(1, "CP11Token::SignUpdate(0x%.8x,%p,0x%.8x)\n", session, (void *)part, partLength);
    notSupported("SignUpdate");
}

void CP11Token::SignFinal(unsigned long session, unsigned char *signature,
                          unsigned long *signatureLength)
{
    hl_log(1, "CP11Token::SignFinal(0x%.8x,%p,%p)\n", session, (void *)signature,
           (void *)signatureLength);
    notSupported("SignFinal");
}

void CP11Token::SignRecoverInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key)
{
    hl_log(1, "CP11Token::SignRecoverInit(0x%.8x,%p,0x%.8x)\n", session, (void *)mechanism, key);
    notSupported("SignRecoverInit");
}

void CP11Token::SignRecover(unsigned long session, unsigned char *data, unsigned long dataLength,
                            unsigned char *signature, unsigned long *signatureLength)
{
    hl_log(1, "CP11Token::SignRecover(0x%.8x,%p,0x%.8x,%p,%p)\n", session, (void *)data, dataLength,
           (void *)signature, (void *)signatureLength);
    notSupported("SignRecover");
}

void CP11Token::VerifyInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key)
{
    hl_log(1, "CP11Token::VerifyInit(0x%.8x,%p,0x%.8x)\n", session, (void *)mechanism, key);
    notSupported("VerifyInit");
}

void CP11Token::Verify(unsigned long session, unsigned char *data, unsigned long dataLength,
                       unsigned char *signature, unsigned long signatureLength)
{
    hl_log(1, "CP11Token::Verify(0x%.8x,%p,0x%.8x,%p,0x%.8x)\n", session, (void *)data, dataLength,
           (void *)signature, signatureLength);
    notSupported("Verify");
}

void CP11Token::VerifyUpdate(unsigned long session, unsigned char *part, unsigned long partLength)
{
    hl_log(1, "CP11Token::VerifyUpdate(0x%.8x,%p,0x%.8x)\n", session, (void *)part, partLength);
    notSupported("VerifyUpdate");
}

void CP11Token::VerifyFinal(unsigned long session, unsigned char *signature,
                            unsigned long signatureLength)
{
    hl_log(1, "CP11Token::VerifyFinal(0x%.8x,%p,%p)\n", session, (void *)signature,
           (void *)signatureLength);
    notSupported("VerifyFinal");
}

void CP11Token::VerifyRecoverInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key)
{
    hl_log(1, "CP11Token::VerifyRecoverInit(0x%.8x,%p,0x%.8x)\n", session, (void *)mechanism, key);
    notSupported("VerifyRecoverInit");
}

void CP11Token::VerifyRecover(unsigned long session, unsigned char *signature,
                              unsigned long signatureLength, unsigned char *data,
                              unsigned long *dataLength)
{
    hl_log(1, "CP11Token::VerifyRecover(0x%.8x,%p,0x%.8x,%p,%p)\n", session, (void *)signature,
           signatureLength, (void *)data, (void *)dataLength);
    notSupported("VerifyRecover");
}

void CP11Token::DigestEncryptUpdate(unsigned long session, unsigned char *part,
                                    unsigned long partLength, unsigned char *encryptedPart,
                                    unsigned long *encryptedPartLength)
{
    hl_log(1, "CP11Token::DigestEncryptUpdate(0x%.8x,%p,0x%.8x,%p,%p)\n", session, (void *)part,
           partLength, (void *)encryptedPart, (void *)encryptedPartLength);
    notSupported("DigestEncryptUpdate");
}

void CP11Token::DecryptDigestUpdate(unsigned long session, unsigned char *encryptedPart,
                                    unsigned long encryptedPartLength, unsigned char *part,
                                    unsigned long *partLength)
{
    hl_log(1, "CP11Token::DecryptDigestUpdate(0x%.8x,%p,0x%.8x,%p,%p)\n", session,
           (void *)encryptedPart, encryptedPartLength, (void *)part, (void *)partLength);
    notSupported("DecryptDigestUpdate");
}

void CP11Token::SignEncryptUpdate(unsigned long session, unsigned char *part,
                                  unsigned long partLength, unsigned char *encryptedPart,
                                  unsigned long *encryptedPartLength)
{
    hl_log(1, "CP11Token::SignEncryptUpdate(0x%.8x,%p,0x%.8x,%p,%p)\n", session, (void *)part,
           partLength, (void *)encryptedPart, (void *)encryptedPartLength);
    notSupported("SignEncryptUpdate");
}

void CP11Token::DecryptVerifyUpdate(unsigned long session, unsigned char *encryptedPart,
                                    unsigned long encryptedPartLength, unsigned char *part,
                                    unsigned long *partLength)
{
    hl_log(1, "CP11Token::DecryptVerifyUpdate(0x%.8x,%p,0x%.8x,%p,%p)\n", session,
           (void *)encryptedPart, encryptedPartLength, (void *)part, (void *)partLength);
    notSupported("DecryptVerifyUpdate");
}

void CP11Token::GenerateKey(unsigned long session, CK_MECHANISM *mechanism, CK_ATTRIBUTE *templ,
                            unsigned long count, unsigned long *key)
{
    hl_log(1, "CP11Token::GenerateKey(0x%.8x,%p,%p,0x%.8x,%p)\n", session, (void *)mechanism,
           (void *)templ, count, (void *)key);
    notSupported("GenerateKey");
}

void CP11Token::GenerateKeyPair(unsigned long session, CK_MECHANISM *mechanism,
                                CK_ATTRIBUTE *publicTemplate, unsigned long publicCount,
                                CK_ATTRIBUTE *privateTemplate, unsigned long privateCount,
                                unsigned long *publicKey, unsigned long *privateKey)
{
    hl_log(1, "CP11Token::GenerateKeyPair(0x%.8x,%p,%p,0x%.8x,%p,0x%.8x,%p,%p)\n", session,
           (void *)mechanism, (void *)publicTemplate, publicCount, (void *)privateTemplate,
           privateCount, (void *)publicKey, (void *)privateKey);
    notSupported("GenerateKeyPair");
}

void CP11Token::WrapKey(unsigned long session, CK_MECHANISM *mechanism, unsigned long wrappingKey,
                        unsigned long key, unsigned char *wrappedKey,
                        unsigned long *wrappedKeyLength)
{
    hl_log(1, "CP11Token::WrapKey(0x%.8x,%p,0x%.8x,0x%.8x,%p,%p)\n", session, (void *)mechanism,
           wrappingKey, key, (void *)wrappedKey, (void *)wrappedKeyLength);
    notSupported("WrapKey");
}

void CP11Token::UnwrapKey(unsigned long session, CK_MECHANISM *mechanism,
                          unsigned long unwrappingKey, unsigned char *wrappedKey,
                          unsigned long wrappedKeyLength, CK_ATTRIBUTE *templ, unsigned long count,
                          unsigned long *key)
{
    hl_log(1, "CP11Token::UnwrapKey(0x%.8x,%p,0x%.8x,%p,0x%.8x,%p,0x%.8x,%p)\n", session,
           (void *)mechanism, unwrappingKey, (void *)wrappedKey, wrappedKeyLength, (void *)templ,
           count, (void *)key);
    notSupported("UnwrapKey");
}

void CP11Token::DeriveKey(unsigned long session, CK_MECHANISM *mechanism, unsigned long baseKey,
                          CK_ATTRIBUTE *templ, unsigned long count, unsigned long *key)
{
    hl_log(1, "CP11Token::DeriveKey(0x%.8x,%p,0x%.8x,%p,0x%.8x,%p)\n", session, (void *)mechanism,
           baseKey, (void *)templ, count, (void *)key);
    notSupported("DeriveKey");
}

void CP11Token::SeedRandom(unsigned long session, unsigned char *seed, unsigned long seedLength)
{
    hl_log(1, "CP11Token::SeedRandom(0x%.8x,%p,0x%.8x)\n", session, (void *)seed, seedLength);
    notSupported("SeedRandom");
}

void CP11Token::GenerateRandom(unsigned long session, unsigned char *randomData,
                               unsigned long randomLength)
{
    hl_log(1, "CP11Token::GenerateRandom(0x%.8x,%p,0x%.8x)\n", session, (void *)randomData,
           randomLength);
    notSupported("GenerateRandom");
}
