#include "card/qvmd_card.h"

#include <cstdlib>
#include <cstring>

namespace
{

using TransportInit = uint32_t (*)(_qv_caapi_card_struct *, unsigned long, QVCAAPI_ALLOC_FN,
                                   QVCAAPI_REALLOC_FN, QVCAAPI_FREE_FN,
                                   _qv_caapi_transmit_callback);

uint32_t initNoCommunication(_qv_caapi_card_struct *t, unsigned long handle, QVCAAPI_ALLOC_FN alloc,
                             QVCAAPI_REALLOC_FN realloc, QVCAAPI_FREE_FN free,
                             _qv_caapi_transmit_callback)
{
    return QVCAAPI_CardInitStruct_NoCommunication(t, handle, alloc, realloc, free);
}

uint32_t initCard(_qv_md_card_struct *card, TransportInit initTransport, unsigned long handle,
                  QVMD_ALLOC_FN alloc, QVMD_REALLOC_FN realloc, QVMD_FREE_FN free,
                  QVCAAPI_ALLOC_FN transportAlloc, QVCAAPI_REALLOC_FN transportRealloc,
                  QVCAAPI_FREE_FN transportFree, _qv_caapi_transmit_callback transmit)
{
    memset(card, 0, sizeof(*card));
    card->transport = &card->transportData;
    uint32_t rv = initTransport(card->transport, handle, transportAlloc, transportRealloc,
                                transportFree, transmit);
    if (rv != QV_OK)
        return rv;
    card->alloc = alloc != nullptr ? alloc : QVMD_Outer_Default_Alloc;
    card->realloc = realloc != nullptr ? realloc : QVMD_Outer_Default_Realloc;
    card->free = free != nullptr ? free : QVMD_Outer_Default_Free;
    card->info = &card->infoData; // zero with the whole context
    return QV_OK;
}

// Frees a buffer the layer handed out and clears it with its count.
template <typename T, typename Count>
void release(_qv_md_card_struct *card, T *&buffer, Count &count)
{
    if (buffer != nullptr)
        card->free(buffer);
    buffer = nullptr;
    count = 0;
}

} // namespace

uint32_t QVMD_CardInitStruct(_qv_md_card_struct *card, unsigned long handle, QVMD_ALLOC_FN alloc,
                             QVMD_REALLOC_FN realloc, QVMD_FREE_FN free,
                             QVCAAPI_ALLOC_FN transportAlloc, QVCAAPI_REALLOC_FN transportRealloc,
                             QVCAAPI_FREE_FN transportFree, _qv_caapi_transmit_callback transmit)
{
    return initCard(card, QVCAAPI_CardInitStruct, handle, alloc, realloc, free, transportAlloc,
                    transportRealloc, transportFree, transmit);
}

uint32_t QVMD_CardInitStructNoCommunication(_qv_md_card_struct *card, unsigned long handle,
                                            QVMD_ALLOC_FN alloc, QVMD_REALLOC_FN realloc,
                                            QVMD_FREE_FN free, QVCAAPI_ALLOC_FN transportAlloc,
                                            QVCAAPI_REALLOC_FN transportRealloc,
                                            QVCAAPI_FREE_FN transportFree,
                                            _qv_caapi_transmit_callback transmit)
{
    return initCard(card, initNoCommunication, handle, alloc, realloc, free, transportAlloc,
                    transportRealloc, transportFree, transmit);
}

void QVMD_CardReleaseStruct(_qv_md_card_struct *card)
{
    QVCAAPI_CardReleaseStruct(card->transport);
    if (card->info != nullptr) {
        QVMD_InfoReleaseStruct(card, card->info);
        card->info = nullptr;
    }
}

uint32_t QVMD_CardReinitStruct(_qv_md_card_struct *card, unsigned long handle, QVMD_ALLOC_FN alloc,
                               QVMD_REALLOC_FN realloc, QVMD_FREE_FN free, int *changed)
{
    *changed = 0;
    if (card->transport->handle != handle) {
        card->transport->handle = handle;
        *changed = 1;
    }
    if (alloc == nullptr || realloc == nullptr || free == nullptr)
        return QV_E_INVALID_PARAMETER;
    card->alloc = alloc;
    card->realloc = realloc;
    card->free = free;
    return QV_OK;
}

uint32_t QVMD_CardChangeHandleStruct(_qv_md_card_struct *card, unsigned long handle)
{
    card->transport->handle = handle;
    return QV_OK;
}

uint32_t QVMD_InfoInitStruct(_qv_md_card_struct *, _qv_md_info_struct *info)
{
    memset(info, 0, sizeof(*info));
    return QV_OK;
}

// The tables come from the context's alloc hook and go back through its free hook.
void QVMD_InfoReleaseStruct(_qv_md_card_struct *card, _qv_md_info_struct *info)
{
    release(card, info->keySizes, info->keySizeCount);
    info->keySizesValid = 0;
    release(card, info->memoryTable, info->memoryCount);
    info->memoryValid = 0;
}

uint32_t QVMD_ContainerInitStruct(_qv_md_container_key_info *keyInfo)
{
    memset(keyInfo, 0, sizeof(*keyInfo));
    return QV_OK;
}

uint32_t QVMD_ContainerReleaseStruct(_qv_md_card_struct *card, _qv_md_container_key_info *keyInfo)
{
    release(card, keyInfo->modulus, keyInfo->modulusLength);
    release(card, keyInfo->exponent, keyInfo->exponentLength);
    return QV_OK;
}

uint32_t QVMD_GetKeyNumberPerContainer(_qv_md_card_struct *, unsigned long *count)
{
    if (count != nullptr)
        *count = 2;
    return QV_OK;
}

void *QVMD_Alloc(_qv_md_card_struct *card, size_t size)
{
    return card->alloc(size);
}

void QVMD_Free(_qv_md_card_struct *card, void *p)
{
    card->free(p);
}

void *QVMD_Realloc(_qv_md_card_struct *card, void *old, size_t oldSize, size_t newSize)
{
    void *block = card->alloc(newSize);
    if (block == nullptr)
        return nullptr;
    if (old != nullptr) {
        memcpy(block, old, oldSize < newSize ? oldSize : newSize);
        card->free(old);
    }
    return block;
}

void *QVMD_Outer_Default_Alloc(size_t size)
{
    return malloc(size);
}

void *QVMD_Outer_Default_Realloc(void *old, size_t size)
{
    return realloc(old, size);
}

void QVMD_Outer_Default_Free(void *p)
{
    free(p);
}

uint32_t QVMD_SetResponse(_qv_md_card_struct *card, const unsigned char *data, unsigned long length,
                          unsigned char sw1, unsigned char sw2)
{
    _qv_caapi_card_struct *t = card->transport;
    if (length > t->responseCapacity - 2)
        return QV_E_INVALID_VALUE;
    if (length != 0)
        memcpy(t->response, data, length);
    t->response[length] = sw1;
    t->response[length + 1] = sw2;
    t->receivedLength = length + 2;
    t->sw1 = sw1;
    t->sw2 = sw2;
    return QV_OK;
}
