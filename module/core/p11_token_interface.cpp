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
    vok_core::rethrow(method, CKR_FUNCTION_NOT_SUPPORTED);
}

} // namespace

void CP11Token::InitToken(unsigned char *pin, unsigned long pinLength, unsigned char *label)
{
    hl_log(HL_ENTER, "CP11Token::InitToken(%p,0x%.8lx,%p)\n", (void *)pin, pinLength,
           (void *)label);
    notSupported("CP11Token::InitToken");
}

void CP11Token::InitPIN(unsigned long session, unsigned char *pin, unsigned long pinLength)
{
    hl_log(HL_ENTER, "CP11Token::InitPIN(0x%.8lx,%p,0x%.8lx)\n", session, (void *)pin, pinLength);
    notSupported("CP11Token::InitPIN");
}

void CP11Token::SetPIN(unsigned long session, unsigned char *oldPin, unsigned long oldLength,
                       unsigned char *newPin, unsigned long newLength)
{
    hl_log(HL_ENTER, "CP11Token::SetPIN(0x%.8lx,%p,0x%.8lx,%p,0x%.8lx)\n", session, (void *)oldPin,
           oldLength, (void *)newPin, newLength);
    notSupported("CP11Token::SetPIN");
}

void CP11Token::OpenSession(unsigned long flags, void *application, CK_NOTIFY notify,
                            unsigned long *session)
{
    hl_log(HL_ENTER, "CP11Token::OpenSession(0x%.8lx,%p,%p,%p)\n", flags, (void *)application,
           (void *)notify, (void *)session);
    notSupported("CP11Token::OpenSession");
}

void CP11Token::CloseSession(unsigned long session)
{
    hl_log(HL_ENTER, "CP11Token::CloseSession(0x%.8lx)\n", session);
    notSupported("CP11Token::CloseSession");
}

void CP11Token::GetSessionInfo(unsigned long session, CK_SESSION_INFO *info)
{
    hl_log(HL_ENTER, "CP11Token::GetSessionInfo(0x%.8lx,%p)\n", session, (void *)info);
    notSupported("CP11Token::GetSessionInfo");
}

void CP11Token::GetOperationState(unsigned long session, unsigned char *state,
                                  unsigned long *stateLength)
{
    hl_log(HL_ENTER, "CP11Token::GetOperationState(0x%.8lx,%p,%p)\n", session, (void *)state,
           (void *)stateLength);
    notSupported("CP11Token::GetOperationState");
}

void CP11Token::SetOperationState(unsigned long session, unsigned char *state,
                                  unsigned long stateLength, unsigned long encryptionKey,
                                  unsigned long authenticationKey)
{
    hl_log(HL_ENTER, "CP11Token::SetOperationState(0x%.8lx,%p,0x%.8lx,0x%.8lx,0x%.8lx)\n", session,
           (void *)state, stateLength, encryptionKey, authenticationKey);
    notSupported("CP11Token::SetOperationState");
}

void CP11Token::Login(unsigned long session, unsigned long userType, unsigned char *pin,
                      unsigned long pinLength)
{
    hl_log(HL_ENTER, "CP11Token::Login(0x%.8lx,0x%.8lx,%p,0x%.8lx)\n", session, userType,
           (void *)pin, pinLength);
    notSupported("CP11Token::Login");
}

void CP11Token::Logout(unsigned long session)
{
    hl_log(HL_ENTER, "CP11Token::Logout(0x%.8lx)\n", session);
    notSupported("CP11Token::Logout");
}

void CP11Token::CreateObject(unsigned long session, CK_ATTRIBUTE *templ, unsigned long count,
                             unsigned long *object)
{
    hl_log(HL_ENTER, "CP11Token::CreateObject(0x%.8lx,%p,0x%.8lx,%p)\n", session, (void *)templ,
           count, (void *)object);
    notSupported("CP11Token::CreateObject");
}

void CP11Token::CopyObject(unsigned long session, unsigned long object, CK_ATTRIBUTE *templ,
                           unsigned long count, unsigned long *newObject)
{
    hl_log(HL_ENTER, "CP11Token::CopyObject(0x%.8lx,0x%.8lx,%p,0x%.8lx,%p)\n", session, object,
           (void *)templ, count, (void *)newObject);
    notSupported("CP11Token::CopyObject");
}

void CP11Token::DestroyObject(unsigned long session, unsigned long object)
{
    hl_log(HL_ENTER, "CP11Token::DestroyObject(0x%.8lx,0x%.8lx)\n", session, object);
    notSupported("CP11Token::DestroyObject");
}

void CP11Token::GetObjectSize(unsigned long session, unsigned long object, unsigned long *size)
{
    hl_log(HL_ENTER, "CP11Token::GetObjectSize(0x%.8lx,0x%.8lx,%p)\n", session, object,
           (void *)size);
    notSupported("CP11Token::GetObjectSize");
}

void CP11Token::GetAttributeValue(unsigned long session, unsigned long object, CK_ATTRIBUTE *templ,
                                  unsigned long count)
{
    hl_log(HL_ENTER, "CP11Token::GetAttributeValue(0x%.8lx,0x%.8lx,%p,0x%.8lx)\n", session, object,
           (void *)templ, count);
    notSupported("CP11Token::GetAttributeValue");
}

void CP11Token::SetAttributeValue(unsigned long session, unsigned long object, CK_ATTRIBUTE *templ,
                                  unsigned long count)
{
    hl_log(HL_ENTER, "CP11Token::SetAttributeValue(0x%.8lx,0x%.8lx,%p,0x%.8lx)\n", session, object,
           (void *)templ, count);
    notSupported("CP11Token::SetAttributeValue");
}

void CP11Token::FindObjectsInit(unsigned long session, CK_ATTRIBUTE *templ, unsigned long count)
{
    hl_log(HL_ENTER, "CP11Token::FindObjectsInit(0x%.8lx,%p,0x%.8lx)\n", session, (void *)templ,
           count);
    notSupported("CP11Token::FindObjectsInit");
}

void CP11Token::FindObjects(unsigned long session, unsigned long *objects, unsigned long max,
                            unsigned long *count)
{
    hl_log(HL_ENTER, "CP11Token::FindObjects(0x%.8lx,%p,0x%.8lx,%p)\n", session, (void *)objects,
           max, (void *)count);
    notSupported("CP11Token::FindObjects");
}

void CP11Token::FindObjectsFinal(unsigned long session)
{
    hl_log(HL_ENTER, "CP11Token::FindObjectsFinal(0x%.8lx)\n", session);
    notSupported("CP11Token::FindObjectsFinal");
}

void CP11Token::EncryptInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key)
{
    hl_log(HL_ENTER, "CP11Token::EncryptInit(0x%.8lx,%p,0x%.8lx)\n", session, (void *)mechanism,
           key);
    notSupported("CP11Token::EncryptInit");
}

void CP11Token::Encrypt(unsigned long session, unsigned char *data, unsigned long dataLength,
                        unsigned char *encrypted, unsigned long *encryptedLength)
{
    hl_log(HL_ENTER, "CP11Token::Encrypt(0x%.8lx,%p,0x%.8lx,%p,%p)\n", session, (void *)data,
           dataLength, (void *)encrypted, (void *)encryptedLength);
    notSupported("CP11Token::Encrypt");
}

void CP11Token::EncryptUpdate(unsigned long session, unsigned char *part, unsigned long partLength,
                              unsigned char *encrypted, unsigned long *encryptedLength)
{
    hl_log(HL_ENTER, "CP11Token::EncryptUpdate(0x%.8lx,%p,0x%.8lx,%p,%p)\n", session, (void *)part,
           partLength, (void *)encrypted, (void *)encryptedLength);
    notSupported("CP11Token::EncryptUpdate");
}

void CP11Token::EncryptFinal(unsigned long session, unsigned char *lastPart,
                             unsigned long *lastPartLength)
{
    hl_log(HL_ENTER, "CP11Token::EncryptFinal(0x%.8lx,%p,%p)\n", session, (void *)lastPart,
           (void *)lastPartLength);
    notSupported("CP11Token::EncryptFinal");
}

void CP11Token::DecryptInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key)
{
    hl_log(HL_ENTER, "CP11Token::DecryptInit(0x%.8lx,%p,0x%.8lx)\n", session, (void *)mechanism,
           key);
    notSupported("CP11Token::DecryptInit");
}

void CP11Token::Decrypt(unsigned long session, unsigned char *encrypted,
                        unsigned long encryptedLength, unsigned char *data,
                        unsigned long *dataLength)
{
    hl_log(HL_ENTER, "CP11Token::Decrypt(0x%.8lx,%p,0x%.8lx,%p,%p)\n", session, (void *)encrypted,
           encryptedLength, (void *)data, (void *)dataLength);
    notSupported("CP11Token::Decrypt");
}

void CP11Token::DecryptUpdate(unsigned long session, unsigned char *encryptedPart,
                              unsigned long encryptedLength, unsigned char *part,
                              unsigned long *partLength)
{
    hl_log(HL_ENTER, "CP11Token::DecryptUpdate(0x%.8lx,%p,0x%.8lx,%p,%p)\n", session,
           (void *)encryptedPart, encryptedLength, (void *)part, (void *)partLength);
    notSupported("CP11Token::DecryptUpdate");
}

void CP11Token::DecryptFinal(unsigned long session, unsigned char *lastPart,
                             unsigned long *lastPartLength)
{
    hl_log(HL_ENTER, "CP11Token::DecryptFinal(0x%.8lx,%p,%p)\n", session, (void *)lastPart,
           (void *)lastPartLength);
    notSupported("CP11Token::DecryptFinal");
}

void CP11Token::DigestInit(unsigned long session, CK_MECHANISM *mechanism)
{
    hl_log(HL_ENTER, "CP11Token::DigestInit(0x%.8lx,%p)\n", session, (void *)mechanism);
    notSupported("CP11Token::DigestInit");
}

void CP11Token::Digest(unsigned long session, unsigned char *data, unsigned long dataLength,
                       unsigned char *digest, unsigned long *digestLength)
{
    hl_log(HL_ENTER, "CP11Token::Digest(0x%.8lx,%p,0x%.8lx,%p,%p)\n", session, (void *)data,
           dataLength, (void *)digest, (void *)digestLength);
    notSupported("CP11Token::Digest");
}

void CP11Token::DigestUpdate(unsigned long session, unsigned char *part, unsigned long partLength)
{
    hl_log(HL_ENTER, "CP11Token::DigestUpdate(0x%.8lx,%p,0x%.8lx)\n", session, (void *)part,
           partLength);
    notSupported("CP11Token::DigestUpdate");
}

void CP11Token::DigestKey(unsigned long session, unsigned long key)
{
    hl_log(HL_ENTER, "CP11Token::DigestKey(0x%.8lx,0x%.8lx)\n", session, key);
    notSupported("CP11Token::DigestKey");
}

void CP11Token::DigestFinal(unsigned long session, unsigned char *digest,
                            unsigned long *digestLength)
{
    hl_log(HL_ENTER, "CP11Token::DigestFinal(0x%.8lx,%p,%p)\n", session, (void *)digest,
           (void *)digestLength);
    notSupported("CP11Token::DigestFinal");
}

void CP11Token::SignInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key)
{
    hl_log(HL_ENTER, "CP11Token::SignInit(0x%.8lx,%p,0x%.8lx)\n", session, (void *)mechanism, key);
    notSupported("CP11Token::SignInit");
}

void CP11Token::Sign(unsigned long session, unsigned char *data, unsigned long dataLength,
                     unsigned char *signature, unsigned long *signatureLength)
{
    hl_log(HL_ENTER, "CP11Token::Sign(0x%.8lx,%p,0x%.8lx,%p,%p)\n", session, (void *)data,
           dataLength, (void *)signature, (void *)signatureLength);
    notSupported("CP11Token::Sign");
}

void CP11Token::SignUpdate(unsigned long session, unsigned char *part, unsigned long partLength)
{
    hl_log(HL_ENTER, "CP11Token::SignUpdate(0x%.8lx,%p,0x%.8lx)\n", session, (void *)part,
           partLength);
    notSupported("CP11Token::SignUpdate");
}

void CP11Token::SignFinal(unsigned long session, unsigned char *signature,
                          unsigned long *signatureLength)
{
    hl_log(HL_ENTER, "CP11Token::SignFinal(0x%.8lx,%p,%p)\n", session, (void *)signature,
           (void *)signatureLength);
    notSupported("CP11Token::SignFinal");
}

void CP11Token::SignRecoverInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key)
{
    hl_log(HL_ENTER, "CP11Token::SignRecoverInit(0x%.8lx,%p,0x%.8lx)\n", session, (void *)mechanism,
           key);
    notSupported("CP11Token::SignRecoverInit");
}

void CP11Token::SignRecover(unsigned long session, unsigned char *data, unsigned long dataLength,
                            unsigned char *signature, unsigned long *signatureLength)
{
    hl_log(HL_ENTER, "CP11Token::SignRecover(0x%.8lx,%p,0x%.8lx,%p,%p)\n", session, (void *)data,
           dataLength, (void *)signature, (void *)signatureLength);
    notSupported("CP11Token::SignRecover");
}

void CP11Token::VerifyInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key)
{
    hl_log(HL_ENTER, "CP11Token::VerifyInit(0x%.8lx,%p,0x%.8lx)\n", session, (void *)mechanism,
           key);
    notSupported("CP11Token::VerifyInit");
}

void CP11Token::Verify(unsigned long session, unsigned char *data, unsigned long dataLength,
                       unsigned char *signature, unsigned long signatureLength)
{
    hl_log(HL_ENTER, "CP11Token::Verify(0x%.8lx,%p,0x%.8lx,%p,0x%.8lx)\n", session, (void *)data,
           dataLength, (void *)signature, signatureLength);
    notSupported("CP11Token::Verify");
}

void CP11Token::VerifyUpdate(unsigned long session, unsigned char *part, unsigned long partLength)
{
    hl_log(HL_ENTER, "CP11Token::VerifyUpdate(0x%.8lx,%p,0x%.8lx)\n", session, (void *)part,
           partLength);
    notSupported("CP11Token::VerifyUpdate");
}

void CP11Token::VerifyFinal(unsigned long session, unsigned char *signature,
                            unsigned long signatureLength)
{
    hl_log(HL_ENTER, "CP11Token::VerifyFinal(0x%.8lx,%p,%p)\n", session, (void *)signature,
           (void *)signatureLength);
    notSupported("CP11Token::VerifyFinal");
}

void CP11Token::VerifyRecoverInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key)
{
    hl_log(HL_ENTER, "CP11Token::VerifyRecoverInit(0x%.8lx,%p,0x%.8lx)\n", session,
           (void *)mechanism, key);
    notSupported("CP11Token::VerifyRecoverInit");
}

void CP11Token::VerifyRecover(unsigned long session, unsigned char *signature,
                              unsigned long signatureLength, unsigned char *data,
                              unsigned long *dataLength)
{
    hl_log(HL_ENTER, "CP11Token::VerifyRecover(0x%.8lx,%p,0x%.8lx,%p,%p)\n", session,
           (void *)signature, signatureLength, (void *)data, (void *)dataLength);
    notSupported("CP11Token::VerifyRecover");
}

void CP11Token::DigestEncryptUpdate(unsigned long session, unsigned char *part,
                                    unsigned long partLength, unsigned char *encryptedPart,
                                    unsigned long *encryptedPartLength)
{
    hl_log(HL_ENTER, "CP11Token::DigestEncryptUpdate(0x%.8lx,%p,0x%.8lx,%p,%p)\n", session,
           (void *)part, partLength, (void *)encryptedPart, (void *)encryptedPartLength);
    notSupported("CP11Token::DigestEncryptUpdate");
}

void CP11Token::DecryptDigestUpdate(unsigned long session, unsigned char *encryptedPart,
                                    unsigned long encryptedPartLength, unsigned char *part,
                                    unsigned long *partLength)
{
    hl_log(HL_ENTER, "CP11Token::DecryptDigestUpdate(0x%.8lx,%p,0x%.8lx,%p,%p)\n", session,
           (void *)encryptedPart, encryptedPartLength, (void *)part, (void *)partLength);
    notSupported("CP11Token::DecryptDigestUpdate");
}

void CP11Token::SignEncryptUpdate(unsigned long session, unsigned char *part,
                                  unsigned long partLength, unsigned char *encryptedPart,
                                  unsigned long *encryptedPartLength)
{
    hl_log(HL_ENTER, "CP11Token::SignEncryptUpdate(0x%.8lx,%p,0x%.8lx,%p,%p)\n", session,
           (void *)part, partLength, (void *)encryptedPart, (void *)encryptedPartLength);
    notSupported("CP11Token::SignEncryptUpdate");
}

void CP11Token::DecryptVerifyUpdate(unsigned long session, unsigned char *encryptedPart,
                                    unsigned long encryptedPartLength, unsigned char *part,
                                    unsigned long *partLength)
{
    hl_log(HL_ENTER, "CP11Token::DecryptVerifyUpdate(0x%.8lx,%p,0x%.8lx,%p,%p)\n", session,
           (void *)encryptedPart, encryptedPartLength, (void *)part, (void *)partLength);
    notSupported("CP11Token::DecryptVerifyUpdate");
}

void CP11Token::GenerateKey(unsigned long session, CK_MECHANISM *mechanism, CK_ATTRIBUTE *templ,
                            unsigned long count, unsigned long *key)
{
    hl_log(HL_ENTER, "CP11Token::GenerateKey(0x%.8lx,%p,%p,0x%.8lx,%p)\n", session,
           (void *)mechanism, (void *)templ, count, (void *)key);
    notSupported("CP11Token::GenerateKey");
}

void CP11Token::GenerateKeyPair(unsigned long session, CK_MECHANISM *mechanism,
                                CK_ATTRIBUTE *publicTemplate, unsigned long publicCount,
                                CK_ATTRIBUTE *privateTemplate, unsigned long privateCount,
                                unsigned long *publicKey, unsigned long *privateKey)
{
    hl_log(HL_ENTER, "CP11Token::GenerateKeyPair(0x%.8lx,%p,%p,0x%.8lx,%p,0x%.8lx,%p,%p)\n",
           session, (void *)mechanism, (void *)publicTemplate, publicCount, (void *)privateTemplate,
           privateCount, (void *)publicKey, (void *)privateKey);
    notSupported("CP11Token::GenerateKeyPair");
}

void CP11Token::WrapKey(unsigned long session, CK_MECHANISM *mechanism, unsigned long wrappingKey,
                        unsigned long key, unsigned char *wrappedKey,
                        unsigned long *wrappedKeyLength)
{
    hl_log(HL_ENTER, "CP11Token::WrapKey(0x%.8lx,%p,0x%.8lx,0x%.8lx,%p,%p)\n", session,
           (void *)mechanism, wrappingKey, key, (void *)wrappedKey, (void *)wrappedKeyLength);
    notSupported("CP11Token::WrapKey");
}

void CP11Token::UnwrapKey(unsigned long session, CK_MECHANISM *mechanism,
                          unsigned long unwrappingKey, unsigned char *wrappedKey,
                          unsigned long wrappedKeyLength, CK_ATTRIBUTE *templ, unsigned long count,
                          unsigned long *key)
{
    hl_log(HL_ENTER, "CP11Token::UnwrapKey(0x%.8lx,%p,0x%.8lx,%p,0x%.8lx,%p,0x%.8lx,%p)\n", session,
           (void *)mechanism, unwrappingKey, (void *)wrappedKey, wrappedKeyLength, (void *)templ,
           count, (void *)key);
    notSupported("CP11Token::UnwrapKey");
}

void CP11Token::DeriveKey(unsigned long session, CK_MECHANISM *mechanism, unsigned long baseKey,
                          CK_ATTRIBUTE *templ, unsigned long count, unsigned long *key)
{
    hl_log(HL_ENTER, "CP11Token::DeriveKey(0x%.8lx,%p,0x%.8lx,%p,0x%.8lx,%p)\n", session,
           (void *)mechanism, baseKey, (void *)templ, count, (void *)key);
    notSupported("CP11Token::DeriveKey");
}

void CP11Token::SeedRandom(unsigned long session, unsigned char *seed, unsigned long seedLength)
{
    hl_log(HL_ENTER, "CP11Token::SeedRandom(0x%.8lx,%p,0x%.8lx)\n", session, (void *)seed,
           seedLength);
    notSupported("CP11Token::SeedRandom");
}

void CP11Token::GenerateRandom(unsigned long session, unsigned char *randomData,
                               unsigned long randomLength)
{
    hl_log(HL_ENTER, "CP11Token::GenerateRandom(0x%.8lx,%p,0x%.8lx)\n", session, (void *)randomData,
           randomLength);
    notSupported("CP11Token::GenerateRandom");
}
