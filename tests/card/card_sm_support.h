// Secure messaging for the card-layer tests: the DES provider and its key storage
// holding the module's master key "MK", and a session state, bound to a card
// context as the token binds them before it opens a session; and a scripted card
// whose secure messaging is the simulator's session.
#pragma once

#include "card_test_support.h"

#include "card/card_keys.h"
#include "card/qvdes_prov.h"
#include "card/qvmd_sm.h"

#include "personalise.h"
#include "sm_session.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

namespace card_test
{

class SmBinding
{
  public:
    explicit SmBinding(_qv_md_card_struct *card) : m_card(card)
    {
        QVMD_DESSWProv_InitCryptoProvider(&m_provider, 0, 0, 0);
        m_storage.context = 0;
        m_storage.slotCount = SLOTS;
        m_storage.slots = m_slots;
        QVMD_DESSWProv_InitDESKeyStorage(&m_provider, &m_storage);
        m_handle = {&m_provider, &m_storage};
        QVDES_DESProv_SetKey(&m_storage, "MK", QVDES_KEY_TYPE_DES3, QVMD_MK_STORED,
                             sizeof(QVMD_MK_STORED));
        QVMD_CryptoSWProviderInit(&card->sm, &m_state, &m_handle);
    }
    ~SmBinding()
    {
        QVMD_DESSWProv_CloseDESKeyStorage(&m_provider, &m_storage);
        QVMD_DESSWProv_CloseCryptoProvider(&m_provider);
        m_card->sm = {};
    }
    SmBinding(const SmBinding &) = delete;
    SmBinding &operator=(const SmBinding &) = delete;

    _qv_md_sm_state &State() { return m_state; }
    _qv_md_des_key_storage &Storage() { return m_storage; }
    // Slots in use, by name.
    unsigned Keys(const char *name) const
    {
        unsigned n = 0;
        for (const _qv_md_des_key_slot &s : m_slots)
            n += s.inUse != 0 && std::string(s.name) == name;
        return n;
    }

  private:
    enum { SLOTS = 7 };
    _qv_md_card_struct *m_card;
    _qv_md_des_provider m_provider{};
    _qv_md_des_key_slot m_slots[SLOTS]{};
    _qv_md_des_key_storage m_storage{};
    _qv_md_crypto_provider_handle m_handle{};
    _qv_md_sm_state m_state{};
};

// A scripted card whose secure messaging is the simulator's session (independent of
// the module's): it opens sessions of either generation with the test master key,
// checks every protected command and protects the data of its successful replies at
// the session's level. What it answers is the test's script, given each command as
// the card saw it (plain). A reply can be split into 61 xx parts fetched by GET
// RESPONSE, delivered without its protection, or end in a GET RESPONSE storm.
class SessionCard
{
  public:
    struct Reply {
        Bytes data;
        uint16_t sw = 0x9000;
    };
    using Script = std::function<Reply(const Bytes &plainCommand)>;

    SessionCard(bool secondGeneration, Script script)
        : m_second(secondGeneration), m_script(std::move(script)),
          m_masterKey(cardsim::ReadMasterKey())
    {
    }

    Bytes Answer(const Bytes &c)
    {
        if (c.size() >= 2 && c[0] == 0x00 && c[1] == 0xC0)
            return NextPart();
        m_parts.clear();
        Bytes data = c.size() > 5 ? Bytes(c.begin() + 5, c.end()) : Bytes();
        if (c[1] == 0x50)
            return Concat(m_second ? session.ChallengeV2()
                                   : session.ChallengeV1(m_masterKey, m_counter++, data),
                          {0x90, 0x00});
        if (c[0] == 0xB4 && c[1] == 0x52)
            return Status(session.Respond(m_masterKey, c[2], c[3], data));
        if (c[1] == 0x54) {
            session.Close();
            return {0x90, 0x00};
        }
        if (c[0] != 0xB4) {
            plainCommands.push_back(c);
            return Deliver(m_script(c), false);
        }
        if (!session.Unwrap(c[1], c[2], c[3], data))
            return {0x69, 0x88};
        Bytes plain =
            Concat({0xB0, c[1], c[2], c[3], static_cast<unsigned char>(data.size())}, data);
        plainCommands.push_back(plain);
        return Deliver(m_script(plain), true);
    }

    cardsim::SmSession session;
    std::vector<Bytes> plainCommands;
    // How the next protected reply travels: the sizes of its parts (empty: whole),
    // without protection, with its R-MAC spoilt, or with GET RESPONSE never ending.
    std::vector<size_t> parts;
    bool unprotected = false;
    bool spoilMac = false;
    bool storm = false;

  private:
    static Bytes Status(uint16_t sw)
    {
        return {static_cast<unsigned char>(sw >> 8), static_cast<unsigned char>(sw)};
    }

    Bytes Deliver(const Reply &r, bool secured)
    {
        if (r.sw != 0x9000)
            return Status(r.sw);
        Bytes out = r.data;
        if (out.empty())
            return Status(r.sw);
        if (secured && !unprotected)
            out = session.Protect(out, spoilMac);
        m_final = Status(r.sw);
        size_t at = 0;
        for (size_t i = 0; i < parts.size(); i++) {
            size_t n =
                i + 1 == parts.size() ? out.size() - at : std::min(parts[i], out.size() - at);
            m_parts.push_back(Bytes(out.begin() + at, out.begin() + at + n));
            at += n;
        }
        if (m_parts.empty())
            return Concat(out, m_final);
        return NextPart();
    }

    Bytes NextPart()
    {
        if (storm)
            return {0x61, 0x08};
        if (m_parts.empty())
            return {0x6F, 0x00};
        Bytes part = m_parts.front();
        m_parts.pop_front();
        if (m_parts.empty())
            return Concat(part, m_final);
        return Concat(part, {0x61, static_cast<unsigned char>(m_parts.front().size())});
    }

    bool m_second;
    Script m_script;
    Bytes m_masterKey;
    uint16_t m_counter = 1;
    std::deque<Bytes> m_parts;
    Bytes m_final;
};

// A context over a session card (applet 1.2 for the second generation, else 1.1),
// its session opened at level.
struct ScriptedSession {
    ScriptedSession(bool secondGeneration, uint32_t level,
                    SessionCard::Script script = nullptr)
        : card(secondGeneration, script ? script : SessionCard::Script([](const Bytes &) {
                   return SessionCard::Reply{};
               })),
          transport([this](const Bytes &c) { return card.Answer(c); }), context(transport),
          sm(context.get())
    {
        context->info->appletMajor = 1;
        context->info->appletMinor = secondGeneration ? 2 : 1;
        context->info->appletValid = 1;
        opened = QVMD_OpenSM(context.get(), "MK", 0, 0, level);
    }

    SessionCard card;
    RecordingTransport transport;
    TestCard context;
    SmBinding sm;
    uint32_t opened;
};

} // namespace card_test
