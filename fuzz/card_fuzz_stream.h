// A card whose replies, and the caller's choices between them, are one stream of
// bytes read in the order the exchanges and choices happen: a choice is a byte (or a
// few), a reply is a 2-byte big-endian header and that many bytes. The header's top
// bit makes the card claim more bytes than the room it was given (it copies no more
// than the room), which the card layer must refuse; a reply longer than the room
// without it is the transport's refusal. An exhausted stream is a card that has gone.
//
// The same stream can be written: choices come from a script and replies from a
// card (the simulated one), so that the seeds of a fuzzer are real exchanges.
//
// Also the DES provider with "MK" and a session state, bound as the token binds
// them. Nothing here needs libFuzzer.
#pragma once

#include "card/card_keys.h"
#include "card/qvdes_prov.h"
#include "card/qvmd_card.h"
#include "card/qvmd_sm.h"

#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <vector>

namespace card_fuzz
{

using Bytes = std::vector<unsigned char>;

class Stream
{
  public:
    enum : unsigned { CLAIM = 0x8000 };
    using Answer = std::function<Bytes(const Bytes &command)>;

    // Reads the stream.
    Stream(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}
    // Writes it: choices from script (0 once it is used up), replies from answer.
    Stream(std::deque<unsigned char> script, Answer answer)
        : m_script(std::move(script)), m_answer(std::move(answer))
    {
    }

    bool Done() const { return m_answer ? m_script.empty() : m_at >= m_size; }

    unsigned char Byte()
    {
        if (m_answer) {
            unsigned char b = m_script.empty() ? 0 : m_script.front();
            if (!m_script.empty())
                m_script.pop_front();
            written.push_back(b);
            return b;
        }
        return m_at < m_size ? m_data[m_at++] : 0;
    }

    // n bytes; zeros past the end.
    Bytes Take(size_t n)
    {
        Bytes out(n);
        for (unsigned char &b : out)
            b = Byte();
        return out;
    }

    static uint32_t Transmit(void *context, const unsigned char *command,
                             unsigned long commandLength, unsigned char *response,
                             unsigned long *responseLength)
    {
        auto *self = static_cast<Stream *>(context);
        self->exchanges++;
        if (self->sent)
            self->sent(Bytes(command, command + commandLength));
        Bytes reply;
        bool claim = false;
        if (self->m_answer) {
            reply = self->m_answer(Bytes(command, command + commandLength));
            self->written.push_back(static_cast<unsigned char>(reply.size() >> 8));
            self->written.push_back(static_cast<unsigned char>(reply.size()));
            self->written.insert(self->written.end(), reply.begin(), reply.end());
        } else {
            if (self->m_at + 2 > self->m_size) {
                self->m_at = self->m_size;
                return 0x80100069; // removed
            }
            unsigned header = self->m_data[self->m_at] << 8 | self->m_data[self->m_at + 1];
            self->m_at += 2;
            claim = (header & CLAIM) != 0;
            size_t length = header & ~CLAIM;
            if (length > self->m_size - self->m_at)
                length = self->m_size - self->m_at;
            reply.assign(self->m_data + self->m_at, self->m_data + self->m_at + length);
            self->m_at += length;
        }
        unsigned long room = *responseLength;
        if (reply.size() > room && !claim)
            return 0x80100008;
        size_t copied = reply.size() < room ? reply.size() : room;
        if (copied != 0)
            memcpy(response, reply.data(), copied);
        *responseLength = claim ? room + 1 + reply.size() : reply.size();
        self->claims += claim;
        return 0;
    }

    // A card context over this stream.
    void Init(_qv_md_card_struct *context)
    {
        QVMD_CardInitStruct(context, reinterpret_cast<unsigned long>(this), nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr, Transmit);
    }

    unsigned long exchanges = 0;
    unsigned long claims = 0; // replies that claimed more than their room
    Bytes written;
    std::function<void(const Bytes &command)> sent; // sees every command, when set

  private:
    const uint8_t *m_data = nullptr;
    size_t m_size = 0;
    size_t m_at = 0;
    std::deque<unsigned char> m_script;
    Answer m_answer;
};

// The DES provider with "MK" and a session state, bound as the token binds them.
struct Binding {
    _qv_md_des_provider provider{};
    _qv_md_des_key_slot slots[7]{};
    _qv_md_des_key_storage storage{0, 7, slots};
    _qv_md_crypto_provider_handle handle{&provider, &storage};
    _qv_md_sm_state state{};

    explicit Binding(_qv_md_card_struct *card)
    {
        QVMD_DESSWProv_InitCryptoProvider(&provider, 0, 0, 0);
        QVMD_DESSWProv_InitDESKeyStorage(&provider, &storage);
        QVDES_DESProv_SetKey(&storage, "MK", QVDES_KEY_TYPE_DES3, QVMD_MK_STORED,
                             sizeof(QVMD_MK_STORED));
        QVMD_CryptoSWProviderInit(&card->sm, &state, &handle);
    }
    ~Binding() { QVMD_DESSWProv_CloseDESKeyStorage(&provider, &storage); }
    Binding(const Binding &) = delete;
    Binding &operator=(const Binding &) = delete;
};

inline void check(bool holds)
{
    if (!holds)
        __builtin_trap();
}

} // namespace card_fuzz
