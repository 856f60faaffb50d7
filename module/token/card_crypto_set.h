// What secure messaging with the card is bound to while the token runs one RSA
// step on the card: the software DES provider, its key storage with the master
// key "MK" in seven key slots, the provider handle and the state of the one
// session. Every byte of it is zero outside such a step, so no key outlives it.
#pragma once

#include <cstring>

#include <mbedtls/platform_util.h>

#include "card/qvdes_prov.h"
#include "card/qvmd_sm.h"

struct CCardCryptoSet {
    enum { KEY_SLOTS = 7 };

    _qv_md_des_key_storage storage;
    _qv_md_des_key_slot slots[KEY_SLOTS];
    _qv_md_sm_state state;
    _qv_md_des_provider provider;
    _qv_md_crypto_provider_handle handle;

    CCardCryptoSet() { Wipe(); }
    ~CCardCryptoSet() { Wipe(); }
    CCardCryptoSet(CCardCryptoSet const &) = delete;
    CCardCryptoSet &operator=(CCardCryptoSet const &) = delete;

    void Wipe() { mbedtls_platform_zeroize(this, sizeof(*this)); }
    // True when not one byte of it is set.
    bool IsClear() const
    {
        unsigned char const *p = reinterpret_cast<unsigned char const *>(this);
        for (size_t i = 0; i < sizeof(*this); ++i)
            if (p[i] != 0)
                return false;
        return true;
    }
};
