#include "token/container_kind.h"

#include "base/linux/linux_log.h"
#include "base/p11_exception.h"
#include "card/qvmd_container.h"
#include "objects/p11_object.h"
#include "token/p11_token_eid.h"

CContainerKind containerKindOf(CP11Object *privateKey)
{
    bool signs = privateKey->FindByteAttribute(CKA_SIGN) != 0;
    bool decrypts = privateKey->FindByteAttribute(CKA_DECRYPT) != 0;
    bool unwraps = privateKey->FindByteAttribute(CKA_UNWRAP) != 0;
    if (!signs && !decrypts && !unwraps) {
        hl_log(vok_log::HL_ERROR, "Key usage missing ( CKA_SIGN, CKA_DECRYPT, CKA_UNWRAP ).\n");
        throw CP11Exception(CKR_TEMPLATE_INCONSISTENT);
    }
    CContainerKind kind;
    kind.usage = (signs ? 1 : 0) | (decrypts || unwraps ? 6 : 0);
    bool signature = signs && !decrypts;
    kind.type = signature ? CONTAINER_TYPE_SIGNATURE : CONTAINER_TYPE_EXCHANGE;
    kind.keyNumber = signature ? QVMD_KEY_SPEC_SIGNATURE : QVMD_KEY_SPEC_EXCHANGE;
    return kind;
}
