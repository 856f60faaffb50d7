#include "card_state.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace cardsim
{

std::string NameFromWire(const unsigned char *name8)
{
    std::string name;
    for (int i = 0; i < 8 && name8[i] != 0; ++i)
        name.push_back(static_cast<char>(name8[i]));
    return name;
}

void NameToWire(const std::string &name, unsigned char *name8)
{
    for (size_t i = 0; i < 8; ++i)
        name8[i] = i < name.size() ? static_cast<unsigned char>(name[i]) : 0;
}

uint32_t LengthFromWire(const unsigned char *b)
{
    return b[0] * 256u + b[1] + b[2] * 32767u;
}

void LengthToWire(uint32_t length, unsigned char *b)
{
    uint32_t q = length / 32767u, r = length % 32767u;
    b[0] = static_cast<unsigned char>(r >> 8);
    b[1] = static_cast<unsigned char>(r);
    b[2] = static_cast<unsigned char>(q);
}

void CardState::ListKeySize(uint16_t bits)
{
    auto at = keySizes.begin();
    while (at != keySizes.end() && at->bits < bits)
        ++at;
    if (at == keySizes.end() || at->bits != bits)
        keySizes.insert(at, {bits, containers});
}

uint64_t CardState::TotalMemory() const
{
    uint64_t total = 0;
    for (size_t i = 2; i + 3 <= memoryInfo.size(); i += 3) {
        unsigned a = memoryInfo[i];
        if (a < 40)
            total += (uint64_t{1} << a) * memoryInfo[i + 1] * memoryInfo[i + 2];
    }
    return total;
}

uint64_t CardKey::Memory() const
{
    // public key: modulus and a 4-byte exponent; a key pair or a slot kept for one adds
    // the two primes, the two CRT exponents and the coefficient
    uint64_t modulus = bits / 8u;
    return form == Form::Public ? modulus + 4 : modulus + 5 * (modulus / 2) + 4;
}

uint64_t CardState::FreeMemory() const
{
    uint64_t used = 0;
    for (const auto &d : dirs)
        for (const auto &f : d.second.files)
            used += f.second.fileSize;
    for (const auto &k : keys)
        used += k.second.Memory();
    uint64_t total = TotalMemory();
    return used >= total ? 0 : total - used;
}

bool FindCardDataEntry(const Bytes &cd, unsigned char tag, size_t &at, size_t &length)
{
    for (size_t i = 0; i + 3 <= cd.size();) {
        size_t len = cd[i + 1] * 256u + cd[i + 2];
        if (i + 3 + len > cd.size())
            return false;
        if (cd[i] == tag) {
            at = i;
            length = len;
            return true;
        }
        i += 3 + len;
    }
    return false;
}

void PutCardDataEntry(Bytes &cd, unsigned char tag, const Bytes &value)
{
    Bytes entry = {tag, static_cast<unsigned char>(value.size() >> 8),
                   static_cast<unsigned char>(value.size())};
    entry.insert(entry.end(), value.begin(), value.end());
    size_t at = 0, length = 0;
    if (FindCardDataEntry(cd, tag, at, length)) {
        auto from = cd.begin() + static_cast<long>(at);
        cd.erase(from, from + static_cast<long>(3 + length));
        cd.insert(cd.begin() + static_cast<long>(at), entry.begin(), entry.end());
    } else {
        cd.insert(cd.end(), entry.begin(), entry.end());
    }
}

CardFile *CardState::FindFile(const std::string &dir, const std::string &name)
{
    auto d = dirs.find(dir);
    if (d == dirs.end())
        return nullptr;
    auto f = d->second.files.find(name);
    return f == d->second.files.end() ? nullptr : &f->second;
}

const CardFile *CardState::FindFile(const std::string &dir, const std::string &name) const
{
    return const_cast<CardState *>(this)->FindFile(dir, name);
}

std::string ToHex(const Bytes &b)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(b.size() * 2);
    for (unsigned char c : b) {
        s.push_back(digits[c >> 4]);
        s.push_back(digits[c & 15]);
    }
    return s;
}

bool FromHex(const std::string &hex, Bytes &out)
{
    out.clear();
    if (hex == "-")
        return true;
    if (hex.size() % 2)
        return false;
    auto nibble = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = nibble(hex[i]), lo = nibble(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out.push_back(static_cast<unsigned char>(hi * 16 + lo));
    }
    return true;
}

namespace
{

const char kMagic[] = "cardsim-state 1";

const char *KeyFormName(CardKey::Form form)
{
    switch (form) {
    case CardKey::Form::Private:
        return "private";
    case CardKey::Form::Public:
        return "public";
    case CardKey::Form::Reserved:
        return "reserved";
    }
    return "?";
}

bool KeyFormFromName(const std::string &name, CardKey::Form &form)
{
    for (auto f : {CardKey::Form::Private, CardKey::Form::Public, CardKey::Form::Reserved})
        if (name == KeyFormName(f)) {
            form = f;
            return true;
        }
    return false;
}

// Empty byte strings are written as "-" so that every field is one word.
std::string Field(const Bytes &b)
{
    return b.empty() ? "-" : ToHex(b);
}
std::string Field(const std::string &name)
{
    return Field(Bytes(name.begin(), name.end()));
}

} // namespace

std::string SerializeState(const CardState &s)
{
    std::ostringstream o;
    o << kMagic << "\n";
    o << "atr " << Field(s.atr) << "\n";
    o << "applet " << int(s.appletMajor) << " " << int(s.appletMinor) << "\n";
    o << "serial " << Field(s.serial) << "\n";
    o << "card-id " << Field(s.cardId) << "\n";
    o << "max-pin-length " << int(s.maxPinLength) << "\n";
    o << "challenge-length " << int(s.challengeLength) << "\n";
    o << "info-flags " << int(s.infoFlags) << "\n";
    o << "containers " << int(s.containers) << "\n";
    for (const auto &k : s.keySizes)
        o << "key-size " << k.bits << " " << int(k.count) << "\n";
    o << "memory " << Field(s.memoryInfo) << "\n";
    o << "provider-flags " << Field(s.providerFlags) << "\n";
    o << "imported-key-params " << Field(s.importedKeyParams) << "\n";
    o << "card-data " << Field(s.cardData) << "\n";
    o << "master-key " << Field(s.masterKey) << "\n";
    o << "sm-counter " << s.smCounter << "\n";
    for (const auto &k : s.adminKeys)
        o << "admin-key " << int(k.first) << " " << Field(k.second) << "\n";
    for (const auto &p : s.pins)
        o << "pin " << int(p.limit) << " " << int(p.type) << " " << int(p.role) << " "
          << int(p.updaters) << " " << int(p.tries) << " " << Field(p.value) << " "
          << int(p.statusA) << " " << int(p.statusB) << " "
          << Field(Bytes(p.info, p.info + sizeof p.info)) << "\n";
    for (const auto &d : s.dirs) {
        o << "dir " << Field(d.first) << " " << int(d.second.access) << "\n";
        for (const auto &f : d.second.files)
            o << "file " << Field(d.first) << " " << Field(f.first) << " " << int(f.second.access)
              << " " << f.second.fileSize << " " << f.second.plainLength << " "
              << Field(f.second.stored) << "\n";
    }
    for (const auto &k : s.keys) {
        const CardKey &key = k.second;
        o << "key " << k.first.first << " " << k.first.second << " " << KeyFormName(key.form) << " "
          << key.bits << " " << int(key.usage) << " " << int(key.access[0]) << " "
          << int(key.access[1]) << " " << Field(key.der) << "\n";
    }
    o << "end\n";
    return o.str();
}

bool ParseState(const std::string &text, CardState &out, std::string *error)
{
    auto fail = [&](size_t line, const std::string &what) {
        if (error)
            *error = "line " + std::to_string(line) + ": " + what;
        return false;
    };
    std::istringstream in(text);
    std::string line;
    size_t number = 0;
    if (!std::getline(in, line) || line != kMagic)
        return fail(1, "not a card simulator state file");
    number = 1;
    CardState s;
    s.keySizes.clear();
    s.pins.clear();
    bool ended = false;
    auto byteValue = [](long v) { return v >= 0 && v <= 255; };
    while (std::getline(in, line)) {
        ++number;
        std::istringstream w(line);
        std::string key;
        if (!(w >> key))
            continue;
        if (ended)
            return fail(number, "data after the end mark");
        bool ok = true;
        std::string h1, h2, h3;
        long a = 0, b = 0, c = 0, d = 0, e = 0;
        Bytes x, y, z;
        if (key == "atr") {
            ok = (w >> h1) && FromHex(h1, s.atr);
        } else if (key == "applet") {
            ok = (w >> a >> b) && byteValue(a) && byteValue(b);
            s.appletMajor = static_cast<unsigned char>(a);
            s.appletMinor = static_cast<unsigned char>(b);
        } else if (key == "serial") {
            ok = (w >> h1) && FromHex(h1, s.serial) && s.serial.size() == 16;
        } else if (key == "card-id") {
            ok = (w >> h1) && FromHex(h1, s.cardId) && s.cardId.size() == 8;
        } else if (key == "max-pin-length") {
            ok = (w >> a) && a >= 1 && a <= 15;
            s.maxPinLength = static_cast<unsigned char>(a);
        } else if (key == "challenge-length") {
            ok = (w >> a) && a >= 0 && a <= 128;
            s.challengeLength = static_cast<unsigned char>(a);
        } else if (key == "info-flags") {
            ok = (w >> a) && byteValue(a);
            s.infoFlags = static_cast<unsigned char>(a);
        } else if (key == "containers") {
            ok = (w >> a) && byteValue(a);
            s.containers = static_cast<unsigned char>(a);
        } else if (key == "key-size") {
            ok = (w >> a >> b) && a > 0 && a <= 0xFFFF && byteValue(b);
            s.keySizes.push_back({static_cast<uint16_t>(a), static_cast<unsigned char>(b)});
        } else if (key == "memory") {
            ok = (w >> h1) && FromHex(h1, s.memoryInfo);
        } else if (key == "provider-flags") {
            ok = (w >> h1) && FromHex(h1, s.providerFlags) && s.providerFlags.size() == 2;
        } else if (key == "imported-key-params") {
            ok = (w >> h1) && FromHex(h1, s.importedKeyParams) && s.importedKeyParams.size() <= 17;
        } else if (key == "card-data") {
            ok = (w >> h1) && FromHex(h1, s.cardData);
        } else if (key == "master-key") {
            ok = (w >> h1) && FromHex(h1, s.masterKey) &&
                 (s.masterKey.empty() || s.masterKey.size() == 16);
        } else if (key == "sm-counter") {
            ok = (w >> a) && a >= 0 && a <= 0xFFFF;
            s.smCounter = static_cast<uint16_t>(a);
        } else if (key == "admin-key") {
            ok = (w >> a >> h1) && byteValue(a) && FromHex(h1, x) && x.size() == 24;
            s.adminKeys[static_cast<unsigned char>(a)] = x;
        } else if (key == "pin") {
            // pin LIMIT TYPE ROLE UPDATERS TRIES VALUE [STATUS-A STATUS-B INFO]
            CardPin p;
            ok = (w >> a >> b >> c >> d >> e >> h1) && byteValue(a) && byteValue(b) &&
                 byteValue(c) && byteValue(d) && byteValue(e) && FromHex(h1, p.value) &&
                 s.pins.size() < 8;
            p.limit = static_cast<unsigned char>(a);
            p.type = static_cast<unsigned char>(b);
            p.role = static_cast<unsigned char>(c);
            p.updaters = static_cast<unsigned char>(d);
            p.tries = static_cast<unsigned char>(e);
            long statusA = 0, statusB = 0;
            if (ok && (w >> statusA)) {
                ok = (w >> statusB >> h2) && byteValue(statusA) && byteValue(statusB) &&
                     FromHex(h2, x) && x.size() == sizeof p.info;
                p.statusA = static_cast<unsigned char>(statusA);
                p.statusB = static_cast<unsigned char>(statusB);
                if (ok)
                    std::copy(x.begin(), x.end(), p.info);
            }
            s.pins.push_back(p);
        } else if (key == "dir") {
            ok = (w >> h1 >> a) && FromHex(h1, x) && x.size() <= 8 && byteValue(a);
            s.dirs[std::string(x.begin(), x.end())].access = static_cast<unsigned char>(a);
        } else if (key == "file") {
            CardFile f;
            long long size = 0, plain = 0;
            ok = (w >> h1 >> h2 >> a >> size >> plain >> h3) && FromHex(h1, x) && FromHex(h2, y) &&
                 !y.empty() && y.size() <= 8 && byteValue(a) && size >= 0 &&
                 size <= kMaxFileLength && plain >= 0 && plain <= kMaxFileLength &&
                 FromHex(h3, f.stored) && f.stored.size() <= kMaxFileLength;
            std::string dir(x.begin(), x.end());
            ok = ok && s.dirs.count(dir);
            if (ok) {
                f.access = static_cast<unsigned char>(a);
                f.fileSize = static_cast<uint32_t>(size);
                f.plainLength = static_cast<uint32_t>(plain);
                s.dirs[dir].files[std::string(y.begin(), y.end())] = std::move(f);
            }
        } else if (key == "key") {
            // key INDEX SPEC FORM BITS USAGE ACCESS1 ACCESS2 DER
            CardKey k;
            long bits = 0, usage = 0, a1 = 0, a2 = 0;
            ok = (w >> a >> b >> h2 >> bits >> usage >> a1 >> a2 >> h1) && byteValue(a) &&
                 (b == 0 || b == 1) && KeyFormFromName(h2, k.form) && bits > 0 && bits <= 0xFFFF &&
                 bits % 8 == 0 && byteValue(usage) && byteValue(a1) && byteValue(a2) &&
                 FromHex(h1, k.der) && (k.form == CardKey::Form::Reserved) == k.der.empty();
            k.bits = static_cast<uint16_t>(bits);
            k.usage = static_cast<unsigned char>(usage);
            k.access[0] = static_cast<unsigned char>(a1);
            k.access[1] = static_cast<unsigned char>(a2);
            s.keys[{int(a), int(b)}] = k;
        } else if (key == "end") {
            ended = true;
        } else {
            return fail(number, "unknown entry \"" + key + "\"");
        }
        if (!ok)
            return fail(number, "bad \"" + key + "\" entry");
    }
    if (!ended)
        return fail(number, "the file is cut short (no end mark)");
    if (!s.dirs.count(""))
        s.dirs[""].access = 0x3F;
    out = std::move(s);
    return true;
}

bool SaveStateFile(const std::string &path, const CardState &state, std::string *error)
{
    std::string tmp = path + ".tmp";
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        f << SerializeState(state);
        f.flush();
        if (!f) {
            if (error)
                *error = "cannot write " + tmp;
            return false;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        if (error)
            *error = "cannot rename " + tmp + " to " + path;
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool LoadStateFile(const std::string &path, CardState &state, std::string *error)
{
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        if (error)
            *error = "cannot read " + path;
        return false;
    }
    std::ostringstream text;
    text << f.rdbuf();
    return ParseState(text.str(), state, error);
}

} // namespace cardsim
