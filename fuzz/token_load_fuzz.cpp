// The identity-card token against a card whose replies come from the fuzz input,
// one after another (a 2-byte big-endian length and that many bytes each; an
// exhausted input is a card that has gone): recognition, initialisation, the
// first session's load of containers and data objects, a search, every
// attribute of every object found, and the close. The seeds are the replies of
// the simulated card with containers and data files. Properties: no crash, no
// leak, no out-of-bounds access, and the objects go with the last session.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/p11_slot.h"
#include "sim_channel.h"
#include "token/p11_token_eid.h"

namespace
{

void check(bool holds)
{
    if (!holds)
        __builtin_trap();
}

CK_ATTRIBUTE_TYPE const TYPES[] = {
    CKA_CLASS,   CKA_LABEL,           CKA_ID,      CKA_VALUE,
    CKA_MODULUS, CKA_PUBLIC_EXPONENT, CKA_SUBJECT, CKA_ALLOWED_MECHANISMS};

template <typename Call> void quietly(Call call)
{
    try {
        call();
    } catch (CP11Exception &) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    size_t at = 0;
    token_test::SimChannel channel([&](token_test::Bytes const &) {
        size_t length = at + 2 <= size ? (size_t)data[at] << 8 | data[at + 1] : 0;
        at = at + 2 <= size ? at + 2 : size;
        length = length < size - at ? length : size - at;
        token_test::Bytes reply(data + at, data + at + length);
        at += length;
        return reply;
    });
    channel.refuse = [&](token_test::Bytes const &) { return at >= size; };
    CP11Slot slot(&channel);
    slot.SetAttribute(SLOT_A_ID, 0UL);
    slot.SetAttribute(SLOT_A_NAME, token_test::READER, ~0UL);
    std::unique_ptr<CP11Token_eiD> token(new CP11Token_eiD(&slot));
    if (!token->IsKnown())
        return 0;
    try {
        token->Initialize();
    } catch (CP11Exception &) {
        return 0;
    }
    CK_SESSION_HANDLE session = 0;
    quietly([&] { token->OpenSession(CKF_SERIAL_SESSION, nullptr, nullptr, &session); });
    if (session == 0) {
        check(token->GetObjects().Count() == 0);
        return 0;
    }
    quietly([&] {
        token->FindObjectsInit(session, nullptr, 0);
        CK_OBJECT_HANDLE found[16];
        CK_ULONG n = 0;
        token->FindObjects(session, found, 16, &n);
        token->FindObjectsFinal(session);
        for (CK_ULONG i = 0; i < n; ++i)
            for (CK_ATTRIBUTE_TYPE type : TYPES) {
                CK_ATTRIBUTE a = {type, nullptr, 0};
                quietly([&] { token->GetAttributeValue(session, found[i], &a, 1); });
                if (a.ulValueLen == CK_UNAVAILABLE_INFORMATION || a.ulValueLen > 1 << 20)
                    continue;
                std::unique_ptr<unsigned char[]> value(new unsigned char[a.ulValueLen + 1]);
                a.pValue = value.get();
                quietly([&] { token->GetAttributeValue(session, found[i], &a, 1); });
            }
    });
    quietly([&] { token->CloseSession(session); });
    check(token->GetObjects().Count() == 0);
    return 0;
}
