// Exception carrying a return code, and the PKCS#11 name tables.
#include "base/p11_convert.h"
#include "base/p11_exception.h"

#include <gtest/gtest.h>

#include <p11-kit/pkcs11.h>

#include <string>

namespace
{

std::string str(char const *s)
{
    return s != nullptr ? s : "<NULL>";
}

TEST(Convert, Names)
{
    using Fn = char const *(*)(unsigned long);
    struct Case {
        char const *table;
        Fn fn;
        unsigned long value;
        char const *name;
    };
    const Case cases[] = {
        {"CKR", CP11Convert::CKR2String, CKR_OK, "CKR_OK"},
        {"CKR", CP11Convert::CKR2String, CKR_SESSION_HANDLE_INVALID, "CKR_SESSION_HANDLE_INVALID"},
        {"CKR", CP11Convert::CKR2String, 0x1B0, "CKR_NEW_PIN_MODE"},
        {"CKR", CP11Convert::CKR2String, 0x1B1, "CKR_NEXT_OTP"},
        {"CKR", CP11Convert::CKR2String, 0x200, "CKR_FUNCTION_REJECTED"},
        {"CKR", CP11Convert::CKR2String, 0x80000001, "CKR_VENDOR_DEFINED"},
        {"CKR", CP11Convert::CKR2String, 0x4, "<NULL>"},
        {"CKR", CP11Convert::CKR2String, 0x1C0, "<NULL>"}, // newer than the tables
        {"CKA", CP11Convert::CKA2String, 0x0, "CKA_CLASS"},
        {"CKA", CP11Convert::CKA2String, 0x180, "CKA_ECDSA_PARAMS"},
        {"CKA", CP11Convert::CKA2String, 0x40000211, "CKA_WRAP_TEMPLATE"},
        {"CKA", CP11Convert::CKA2String, 0x22F, "CKA_OTP_TIME"},
        {"CKA", CP11Convert::CKA2String, 0x80001005, "CKA_VENDOR_DEFINED"},
        {"CKA", CP11Convert::CKA2String, 0x999, "<NULL>"},
        {"CKO", CP11Convert::CKO2String, 3, "CKO_PRIVATE_KEY"},
        {"CKO", CP11Convert::CKO2String, 8, "CKO_OTP_KEY"},
        {"CKO", CP11Convert::CKO2String, 0x80000042, "CKO_VENDOR_DEFINED"},
        {"CKO", CP11Convert::CKO2String, 9, "<NULL>"},
        {"CKK", CP11Convert::CKK2String, 0, "CKK_RSA"},
        {"CKK", CP11Convert::CKK2String, 3, "CKK_ECDSA"},
        {"CKK", CP11Convert::CKK2String, 0x18, "CKK_CAST5"},
        {"CKK", CP11Convert::CKK2String, 0x26, "CKK_ARIA"},
        {"CKK", CP11Convert::CKK2String, 0x27, "<NULL>"},
        {"CKK", CP11Convert::CKK2String, 0xFFFFFFFF, "CKK_VENDOR_DEFINED"},
        {"CKM", CP11Convert::CKM2String, 0x0, "CKM_RSA_PKCS_KEY_PAIR_GEN"},
        {"CKM", CP11Convert::CKM2String, CKM_SHA256_RSA_PKCS, "CKM_SHA256_RSA_PKCS"},
        {"CKM", CP11Convert::CKM2String, 0x46, "CKM_SHA224_RSA_PKCS"},
        {"CKM", CP11Convert::CKM2String, 0x302, "CKM_CAST_CBC"},
        {"CKM", CP11Convert::CKM2String, 0x320, "CKM_CAST5_KEY_GEN"},
        {"CKM", CP11Convert::CKM2String, 0x325, "CKM_CAST5_CBC_PAD"},
        {"CKM", CP11Convert::CKM2String, 0x3A4, "CKM_PBE_MD5_CAST5_CBC"},
        {"CKM", CP11Convert::CKM2String, 0x3A5, "CKM_PBE_SHA1_CAST5_CBC"},
        {"CKM", CP11Convert::CKM2String, 0x1040, "CKM_ECDSA_KEY_PAIR_GEN"},
        {"CKM", CP11Convert::CKM2String, 0x1086, "CKM_AES_CTR"},
        {"CKM", CP11Convert::CKM2String, 0x2002, "CKM_X9_42_DH_PARAMETER_GEN"},
        {"CKM", CP11Convert::CKM2String, 0x1087, "<NULL>"}, // newer than the tables
        {"CKM", CP11Convert::CKM2String, 0x80001234, "CKM_VENDOR_DEFINED"},
        {"CKC", CP11Convert::CKC2String, 0, "CKC_X_509"},
        {"CKC", CP11Convert::CKC2String, 2, "CKC_WTLS"},
        {"CKC", CP11Convert::CKC2String, 3, "<NULL>"},
        {"CKC", CP11Convert::CKC2String, 0x80000000, "CKC_VENDOR_DEFINED"},
        // only bit 31 marks vendor values: a value above 32 bits is simply unknown
        {"CKR", CP11Convert::CKR2String, 0x100000000UL, "<NULL>"},
        {"CKM", CP11Convert::CKM2String, 0x100000001UL, "<NULL>"},
    };
    for (Case const &c : cases)
        EXPECT_EQ(str(c.fn(c.value)), c.name) << c.table << " 0x" << std::hex << c.value;
}

TEST(Convert, AttributeKinds)
{
    struct Case {
        unsigned long type;
        unsigned long kind;
    };
    const Case cases[] = {
        {CKA_CLASS, CKA_KIND_ULONG},
        {CKA_TOKEN, CKA_KIND_BOOL},
        {CKA_LABEL, CKA_KIND_STRING},
        {CKA_VALUE, CKA_KIND_BYTES},
        {CKA_MODULUS, CKA_KIND_BYTES},
        {CKA_MODULUS_BITS, CKA_KIND_ULONG},
        {CKA_START_DATE, CKA_KIND_DATE},
        {CKA_END_DATE, CKA_KIND_DATE},
        {0x40000600, CKA_KIND_MECHANISMS},
        {0x40000212, CKA_KIND_BYTES},
        {0x22F, CKA_KIND_STRING},
        {0x22E, CKA_KIND_BYTES},
        {0x405, CKA_KIND_BOOL},
        {0x80001005, CKA_KIND_VENDOR},
        {0x999, CKA_KIND_VENDOR},
    };
    for (Case const &c : cases)
        EXPECT_EQ(CP11Convert::CKA2Type(c.type), c.kind) << std::hex << c.type;
}

TEST(Convert, EveryReturnCodeOfTheHeaderHasItsOwnName)
{
    // a spot check that the table's rows carry the values their names say
    const unsigned long codes[] = {CKR_CANCEL,
                                   CKR_HOST_MEMORY,
                                   CKR_ARGUMENTS_BAD,
                                   CKR_DEVICE_REMOVED,
                                   CKR_PIN_INCORRECT,
                                   CKR_PIN_LOCKED,
                                   CKR_BUFFER_TOO_SMALL,
                                   CKR_MUTEX_NOT_LOCKED,
                                   CKR_TOKEN_NOT_PRESENT,
                                   CKR_USER_NOT_LOGGED_IN};
    const char *names[] = {"CKR_CANCEL",
                           "CKR_HOST_MEMORY",
                           "CKR_ARGUMENTS_BAD",
                           "CKR_DEVICE_REMOVED",
                           "CKR_PIN_INCORRECT",
                           "CKR_PIN_LOCKED",
                           "CKR_BUFFER_TOO_SMALL",
                           "CKR_MUTEX_NOT_LOCKED",
                           "CKR_TOKEN_NOT_PRESENT",
                           "CKR_USER_NOT_LOGGED_IN"};
    for (size_t i = 0; i < sizeof(codes) / sizeof(codes[0]); ++i)
        EXPECT_EQ(str(CP11Convert::CKR2String(codes[i])), names[i]);
}

TEST(Exception, CarriesAndTranslatesItsCode)
{
    CP11Exception original(CKR_ARGUMENTS_BAD);
    CP11Exception copy(original);
    EXPECT_EQ(copy.GetErrorCode(), 0x7UL);

    unsigned long reached = 0;
    try {
        try {
            throw CP11Exception(CKR_DEVICE_ERROR);
        } catch (CP11Exception &e) {
            e.SetErrorCode(CKR_DEVICE_REMOVED);
            throw CP11Exception(e);
        }
    } catch (CP11Exception const &e) {
        reached = e.GetErrorCode();
    }
    EXPECT_EQ(reached, 0x32UL);
}

} // namespace
