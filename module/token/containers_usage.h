// The card's containers-usage list as the identity-card token reads it: the card
// layer's walk of the container map, the certificate files and the key
// information, through the token's two callbacks, which go through the token's
// read cache. A certificate file the card keeps damaged does not end the walk:
// it reads as missing, and its container is marked damaged.
#pragma once

#include <set>

#include "card/qvmd_container.h"

class CP11Token_eiD;

class CContainersUsage
{
  public:
    // Reads the list; on failure writes "QVMD_Usage_GetContainersInfo function
    // call failed." with the log type given and throws CKR_DEVICE_ERROR.
    CContainersUsage(CP11Token_eiD *token, unsigned long failureLogType);
    ~CContainersUsage();
    CContainersUsage(CContainersUsage const &) = delete;
    CContainersUsage &operator=(CContainersUsage const &) = delete;

    unsigned long Count() const { return m_info.count; }
    _qv_md_container_usage_record &Record(unsigned long i) { return m_info.records[i]; }
    // Private memory the valid containers take: their keys' bits / 8 and a
    // container-map record each.
    unsigned long UsedPrivateMemory() const;
    // The certificate file of the container's key could not be read whole.
    bool Damaged(unsigned container, unsigned keySpec) const
    {
        return m_context.damaged.count(container * 2 + keySpec) != 0;
    }

    // The callbacks; context is the usage context of a CContainersUsage.
    static uint32_t ReadFile(_qv_md_usage_context *context, char const *dir, char const *name,
                             unsigned long flags, unsigned char **data, unsigned long *length);
    static uint32_t GetKeyInfo(_qv_md_usage_context *context, _qv_md_container_key_info *keyInfo);

  private:
    struct Context {
        _qv_md_usage_context usage; // first: the card layer hands this back
        CP11Token_eiD *token;
        std::set<unsigned> damaged; // container * 2 + key spec
    };
    Context m_context;
    _qv_md_containers_usage_info m_info;
};
