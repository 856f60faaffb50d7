// A small host for the simulated card, written from the card's command set alone: it
// builds the commands, follows reply streams and splits writes, over any transmit
// function (in process or through PC/SC).
#pragma once

#include "card_state.h"

#include <functional>
#include <string>

namespace cardsim_test
{

using cardsim::Bytes;
using Transmit = std::function<Bytes(const Bytes &)>;

inline uint16_t Sw(const Bytes &reply)
{
    return reply.size() < 2 ? 0
                            : static_cast<uint16_t>(reply[reply.size() - 2] << 8 | reply.back());
}
inline Bytes Data(const Bytes &reply)
{
    return reply.size() < 2 ? Bytes{} : Bytes(reply.begin(), reply.end() - 2);
}

inline Bytes Cat(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes Name(const std::string &name)
{
    Bytes n(8);
    cardsim::NameToWire(name, n.data());
    return n;
}

inline Bytes Len3(uint32_t length)
{
    Bytes b(3);
    cardsim::LengthToWire(length, b.data());
    return b;
}

inline const Bytes kSelectFirst = {0x00, 0xA4, 0x04, 0x00, 0x0A, 0xA0, 0x00, 0x00,
                                   0x00, 0x28, 0x80, 0x10, 0x30, 0x01, 0xFF};
inline const Bytes kSelectSecond = {0x00, 0xA4, 0x04, 0x00, 0x0A, 0xA0, 0x00, 0x00,
                                    0x00, 0x28, 0x80, 0x10, 0x37, 0x01, 0x01};

inline Bytes FileCommand(unsigned char ins, unsigned char p1, unsigned char p2,
                         const std::string &dir, const std::string &name)
{
    return Cat(Cat({0xB0, ins, p1, p2, 0x10}, Name(dir)), Name(name));
}

// B0 A0 01 01: create with an access byte and a file size
inline Bytes CreateCommand(const std::string &dir, const std::string &name, unsigned char access,
                           uint32_t size)
{
    Bytes c = Cat(Cat({0xB0, 0xA0, 0x01, 0x01, 0x17}, Name(dir)), Name(name));
    c.push_back(access);
    return Cat(Cat(c, Len3(0)), Len3(size));
}

// B0 A0 01 04 (new) or 01 08 (in place): announce stored and plain lengths
inline Bytes WriteInitCommand(bool inPlace, const std::string &dir, const std::string &name,
                              uint32_t stored, uint32_t plain)
{
    Bytes c = Cat(
        Cat({0xB0, 0xA0, 0x01, static_cast<unsigned char>(inPlace ? 0x08 : 0x04), 0x17}, Name(dir)),
        Name(name));
    c.push_back(0x00);
    return Cat(Cat(c, Len3(stored)), Len3(plain));
}

struct ReadResult {
    uint16_t sw = 0; // status of the first failing command, else 90 00
    uint32_t stored = 0, size = 0, plain = 0;
    Bytes bytes; // the stored bytes
};

// Read init, then GET RESPONSE in chunks of `chunk` bytes until the stored length is in.
inline ReadResult ReadStored(const Transmit &tx, const std::string &dir, const std::string &name,
                             size_t chunk = 256)
{
    ReadResult r;
    Bytes reply = tx(FileCommand(0xA4, 0x00, 0x00, dir, name));
    uint16_t sw = Sw(reply);
    if (sw != 0x9000 && (sw >> 8) != 0x61) {
        r.sw = sw;
        return r;
    }
    Bytes d = Data(reply);
    if (d.size() < 9) {
        r.sw = 0xFFFF;
        return r;
    }
    r.stored = cardsim::LengthFromWire(&d[0]);
    r.size = cardsim::LengthFromWire(&d[3]);
    r.plain = cardsim::LengthFromWire(&d[6]);
    r.bytes.assign(d.begin() + 9, d.end());
    while (r.bytes.size() < r.stored) {
        size_t want = std::min(chunk, r.stored - r.bytes.size());
        reply = tx({0x00, 0xC0, 0x00, 0x00, static_cast<unsigned char>(want & 0xFF)});
        sw = Sw(reply);
        if (sw != 0x9000 && (sw >> 8) != 0x61) {
            r.sw = sw;
            return r;
        }
        Bytes part = Data(reply);
        if (part.size() != want) {
            r.sw = 0xFFFE;
            return r;
        }
        r.bytes.insert(r.bytes.end(), part.begin(), part.end());
    }
    r.sw = 0x9000;
    return r;
}

// Write init and chunks of at most 255 bytes, the last flagged; the status of the first
// failing command, or 90 00 once the card confirmed the last chunk with 01.
inline uint16_t WriteStored(const Transmit &tx, bool inPlace, const std::string &dir,
                            const std::string &name, const Bytes &stored, uint32_t plain)
{
    Bytes reply =
        tx(WriteInitCommand(inPlace, dir, name, static_cast<uint32_t>(stored.size()), plain));
    if (Sw(reply) != 0x9000)
        return Sw(reply);
    size_t sent = 0;
    do {
        size_t n = std::min<size_t>(255, stored.size() - sent);
        bool last = sent + n == stored.size();
        Bytes c = {0xB0, 0xA2, static_cast<unsigned char>(last ? 1 : 0), 0x00,
                   static_cast<unsigned char>(n)};
        c.insert(c.end(), stored.begin() + static_cast<long>(sent),
                 stored.begin() + static_cast<long>(sent + n));
        reply = tx(c);
        sent += n;
        if (Sw(reply) != 0x9000)
            return Sw(reply);
        if (last && Data(reply) != Bytes{0x01})
            return 0xFFFD;
    } while (sent < stored.size());
    return 0x9000;
}

// Plain (uncompressed) stored form: the data and its CRC-8.
inline Bytes PlainStored(const Bytes &data)
{
    Bytes s = data;
    s.push_back(cardsim::Crc8(data));
    return s;
}

// A PIN as sent: its characters, then FF bytes up to padTo (0: unpadded).
inline Bytes PinBytes(const std::string &pin, size_t padTo = 8)
{
    Bytes v(pin.begin(), pin.end());
    if (v.size() < padTo)
        v.resize(padTo, 0xFF);
    return v;
}

inline Bytes VerifyCommand(unsigned char index, const std::string &pin, size_t padTo = 8)
{
    Bytes v = PinBytes(pin, padTo);
    return Cat({0xB0, 0x20, index, 0x00, static_cast<unsigned char>(v.size())}, v);
}

// Change or unblock: B0 INS P1 P2 Lc L x old new, with L the old value's length, ORed
// with 80 when flag80 is set (unblock from applet 1.0 on), and x the try limit.
inline Bytes ChangeCommand(unsigned char ins, unsigned char p1, unsigned char p2, bool flag80,
                           unsigned char limit, const Bytes &oldValue, const Bytes &newValue)
{
    Bytes c = {0xB0,
               ins,
               p1,
               p2,
               static_cast<unsigned char>(2 + oldValue.size() + newValue.size()),
               static_cast<unsigned char>(oldValue.size() | (flag80 ? 0x80 : 0)),
               limit};
    return Cat(Cat(c, oldValue), newValue);
}

// Sends a command and follows 61 xx with GET RESPONSE; the data of all replies and the
// last status word.
inline Bytes SendFollowing(const Transmit &tx, const Bytes &command)
{
    Bytes reply = tx(command);
    Bytes all = Data(reply);
    for (int round = 0; round < 16 && (Sw(reply) >> 8) == 0x61; ++round) {
        reply = tx({0x00, 0xC0, 0x00, 0x00, static_cast<unsigned char>(Sw(reply) & 0xFF)});
        all = Cat(all, Data(reply));
    }
    return Cat(all,
               {static_cast<unsigned char>(Sw(reply) >> 8), static_cast<unsigned char>(Sw(reply))});
}

// Lists a directory, following 61 xx with GET RESPONSE.
inline std::vector<std::string> List(const Transmit &tx, const std::string &dir, uint16_t *sw,
                                     unsigned char flag = 0)
{
    std::vector<std::string> names;
    Bytes reply = tx(Cat(Cat({0xB0, 0xAA, 0x00, 0x00, 0x09}, Name(dir)), {flag}));
    for (int round = 0; round < 64; ++round) {
        *sw = Sw(reply);
        if (*sw != 0x9000 && (*sw >> 8) != 0x61)
            return names;
        Bytes d = Data(reply);
        for (size_t i = 0; i + 8 <= d.size(); i += 8)
            names.push_back(cardsim::NameFromWire(&d[i]));
        if (*sw == 0x9000)
            return names;
        reply = tx({0x00, 0xC0, 0x00, 0x00, static_cast<unsigned char>(*sw & 0xFF)});
    }
    *sw = 0xFFFF;
    return names;
}

} // namespace cardsim_test
