// The card context: the one object every card-layer call takes first. It holds
// the caller's memory hooks, the APDU transport, the cached card information and
// the secure-messaging binding. The caller allocates it, sets it up once per card
// connection with QVMD_CardInitStruct and releases it with QVMD_CardReleaseStruct;
// it is used by one thread at a time.
//
// Memory that the layer hands out (file contents, lists, key parts) comes from the
// context's alloc hook and goes back with QVMD_Free.
#pragma once

#include "card/qvcaapi.h"
#include "card/qvmd_info_struct.h"

#include <cstddef>
#include <cstdint>

typedef void *(*QVMD_ALLOC_FN)(size_t size);
typedef void *(*QVMD_REALLOC_FN)(void *old, size_t size);
typedef void (*QVMD_FREE_FN)(void *p);

struct _qv_md_crypto_provider_handle; // the DES provider and its key storage (qvdes_prov.h)
struct _qv_md_sm_state;               // the state of one secure-messaging session

// Secure-messaging binding; all zero while no provider is bound.
struct _qv_md_sm_context {
    _qv_md_crypto_provider_handle *provider;
    _qv_md_sm_state *state;
};

struct _qv_md_card_struct {
    QVMD_ALLOC_FN alloc;
    QVMD_REALLOC_FN realloc;
    QVMD_FREE_FN free;
    _qv_caapi_card_struct *transport; // -> transportData
    _qv_caapi_card_struct transportData;
    _qv_md_info_struct *info; // -> infoData, null once released
    _qv_md_info_struct infoData;
    _qv_md_sm_context sm;
};

// One key of a key container: index and key spec, its public parts (from the
// context's alloc hook) and what the card's key information says.
struct _qv_md_container_key_info {
    uint8_t container;
    uint8_t keySpec; // 0 signature, 1 key exchange
    unsigned char *modulus;
    unsigned long modulusLength;
    unsigned char *exponent;
    unsigned long exponentLength;
    uint8_t keyInfo5; // bit 2: a key-exchange key
    uint8_t keyInfo4;
    uint32_t keyBits;
    unsigned char shortInfo[2];
};

// Zeroes the context and sets up its transport (its error, if any, is returned);
// null hooks take the defaults. 0.
uint32_t QVMD_CardInitStruct(_qv_md_card_struct *card, unsigned long handle, QVMD_ALLOC_FN alloc,
                             QVMD_REALLOC_FN realloc, QVMD_FREE_FN free,
                             QVCAAPI_ALLOC_FN transportAlloc, QVCAAPI_REALLOC_FN transportRealloc,
                             QVCAAPI_FREE_FN transportFree, _qv_caapi_transmit_callback transmit);
// The same for a context that prepares and parses data but never talks to a card.
uint32_t QVMD_CardInitStructNoCommunication(_qv_md_card_struct *card, unsigned long handle,
                                            QVMD_ALLOC_FN alloc, QVMD_REALLOC_FN realloc,
                                            QVMD_FREE_FN free, QVCAAPI_ALLOC_FN transportAlloc,
                                            QVCAAPI_REALLOC_FN transportRealloc,
                                            QVCAAPI_FREE_FN transportFree,
                                            _qv_caapi_transmit_callback transmit);
// Releases the transport and the information record; the context's own memory
// stays with the caller.
void QVMD_CardReleaseStruct(_qv_md_card_struct *card);
// Records a new handle (changed = 1 when it differs) before it checks the hooks:
// any null hook gives QV_E_INVALID_PARAMETER, else they are stored. 0.
uint32_t QVMD_CardReinitStruct(_qv_md_card_struct *card, unsigned long handle, QVMD_ALLOC_FN alloc,
                               QVMD_REALLOC_FN realloc, QVMD_FREE_FN free, int *changed);
uint32_t QVMD_CardChangeHandleStruct(_qv_md_card_struct *card, unsigned long handle);

// Zeroes the information record. 0.
uint32_t QVMD_InfoInitStruct(_qv_md_card_struct *card, _qv_md_info_struct *info);
// Frees the record's key-size and memory tables and clears them with their counts
// and valid flags.
void QVMD_InfoReleaseStruct(_qv_md_card_struct *card, _qv_md_info_struct *info);

uint32_t QVMD_ContainerInitStruct(_qv_md_container_key_info *keyInfo);
// Frees and clears the modulus and exponent buffers. 0.
uint32_t QVMD_ContainerReleaseStruct(_qv_md_card_struct *card, _qv_md_container_key_info *keyInfo);
// 2: one signature and one key-exchange key per container. 0.
uint32_t QVMD_GetKeyNumberPerContainer(_qv_md_card_struct *card, unsigned long *count);

void *QVMD_Alloc(_qv_md_card_struct *card, size_t size);
void QVMD_Free(_qv_md_card_struct *card, void *p);
// A new block from the alloc hook with the old block's first oldSize bytes; the
// old block is then freed. Null on failure, the old block untouched.
void *QVMD_Realloc(_qv_md_card_struct *card, void *old, size_t oldSize, size_t newSize);

void *QVMD_Outer_Default_Alloc(size_t size);
void *QVMD_Outer_Default_Realloc(void *old, size_t size);
void QVMD_Outer_Default_Free(void *p);

// Stores a reply as if the card had sent it: data, then SW1 SW2. QV_E_INVALID_VALUE
// (nothing changed) when it does not fit the response buffer.
uint32_t QVMD_SetResponse(_qv_md_card_struct *card, const unsigned char *data, unsigned long length,
                          unsigned char sw1, unsigned char sw2);
