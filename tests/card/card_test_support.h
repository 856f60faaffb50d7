// What the card-layer tests share: hex byte strings, a recording transport that
// answers from a script or from an in-process simulated card, and a card context
// set up over it.
#pragma once

#include "card/qvmd_card.h"

#include <cctype>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace card_test
{

using Bytes = std::vector<unsigned char>;

// "B0 10 04 00" -> bytes; spaces are ignored.
inline Bytes Hex(const std::string &text)
{
    Bytes out;
    std::string digits;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

inline std::string ToHex(const unsigned char *p, size_t n)
{
    static const char D[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; i++) {
        if (i != 0)
            s += ' ';
        s += D[p[i] >> 4];
        s += D[p[i] & 15];
    }
    return s;
}

inline std::string ToHex(const Bytes &b)
{
    return ToHex(b.data(), b.size());
}

inline Bytes Concat(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The transmit callback's context: every command and reply is recorded. Each
// command is answered by the next queued reply while the queue holds one, and
// then by the responder (a simulated card), or with 6D 00 when there is none; a
// command that a queued reply answers never reaches the responder. failAt makes
// exchange number n (from 0) fail with failCode, before any reply is taken.
class RecordingTransport
{
  public:
    using Responder = std::function<Bytes(const Bytes &)>;

    explicit RecordingTransport(Responder responder = nullptr) : m_responder(std::move(responder))
    {
    }

    void Queue(const Bytes &reply) { m_script.push_back(reply); }
    void Queue(const std::string &hex) { m_script.push_back(Hex(hex)); }

    static uint32_t Transmit(void *context, const unsigned char *command,
                             unsigned long commandLength, unsigned char *response,
                             unsigned long *responseLength)
    {
        auto *self = static_cast<RecordingTransport *>(context);
        Bytes c(command, command + commandLength);
        self->commands.push_back(c);
        self->capacities.push_back(*responseLength);
        if (self->failAt == self->commands.size() - 1)
            return self->failCode;
        Bytes reply = self->Answer(c);
        self->replies.push_back(reply);
        unsigned long const room = *responseLength;
        if (reply.size() > room && !self->claimsBeyondRoom)
            return 0x80100008;
        size_t const copied = reply.size() < room ? reply.size() : room;
        if (copied != 0)
            memcpy(response, reply.data(), copied);
        *responseLength = reply.size();
        return 0;
    }

    std::vector<Bytes> commands;
    std::vector<unsigned long> capacities; // the room offered with each command
    std::vector<Bytes> replies;
    size_t failAt = ~size_t(0);
    uint32_t failCode = 0x80100069;
    // A hostile callback: a reply longer than the room is copied as far as the
    // room goes and claimed whole, in place of the error.
    bool claimsBeyondRoom = false;

  private:
    // A queued reply stands in for the responder's next one.
    Bytes Answer(const Bytes &command)
    {
        if (m_script.empty())
            return m_responder ? m_responder(command) : Bytes{0x6D, 0x00};
        Bytes reply = m_script.front();
        m_script.pop_front();
        return reply;
    }

    Responder m_responder;
    std::deque<Bytes> m_script;
};

// A card context over a recording transport (T=0, as every callback transport),
// released at the end of the scope.
class TestCard
{
  public:
    explicit TestCard(RecordingTransport &transport)
    {
        QVMD_CardInitStruct(&card, reinterpret_cast<unsigned long>(&transport), nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr, RecordingTransport::Transmit);
    }
    ~TestCard() { QVMD_CardReleaseStruct(&card); }
    TestCard(const TestCard &) = delete;
    TestCard &operator=(const TestCard &) = delete;

    _qv_md_card_struct *operator->() { return &card; }
    _qv_md_card_struct *get() { return &card; }
    // The reply of the last exchange, status word included.
    Bytes Reply() const
    {
        return Bytes(card.transport->response,
                     card.transport->response + card.transport->receivedLength);
    }

    _qv_md_card_struct card;
};

} // namespace card_test
