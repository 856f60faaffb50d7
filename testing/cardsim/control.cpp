#include "control.h"

#include "rsa_key.h"

#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <vector>

namespace cardsim
{

const char kControlUsage[] =
    "  reset | bump MASK | save [FILE] | load [FILE] | apdus\n"
    "  fault none|truncate N|truncate-next N|storm|oversize N|flip-rmac|refuse-write\n"
    "  corrupt DIR NAME [OFFSET] | tries PIN N | block PIN\n"
    "  key INDEX SPEC BITS [public] [nocert] [expired] [usage U] [padding N]\n"
    "  put DIR NAME ACCESS HOSTFILE stored PLAIN | packed | plain\n"
    "  files | keys | pins | counters\n";

namespace
{

struct Answer {
    std::string line;
    std::vector<std::string> details;
};

Answer Ok(const std::string &what)
{
    return {"ok " + what, {}};
}
Answer Error(const std::string &what)
{
    return {"error " + what, {}};
}

// A directory as the controls write it: "/" is the root.
std::string DirArg(const std::string &dir)
{
    return dir == "/" ? "" : dir;
}
std::string DirText(const std::string &dir)
{
    return dir.empty() ? "/" : dir;
}

// A number in decimal, or in hex with 0x.
bool Number(std::istringstream &in, unsigned long &value)
{
    std::string word;
    if (!(in >> word))
        return false;
    try {
        size_t used = 0;
        value = std::stoul(word, &used, 0);
        return used == word.size();
    } catch (...) {
        return false;
    }
}

Answer Reset(Card &card, std::istringstream &)
{
    card.ResetVolatile();
    return Ok("reset");
}

Answer Bump(Card &card, std::istringstream &in)
{
    unsigned long mask = 0;
    if (!Number(in, mask) || mask == 0 || mask > 7)
        return Error("bump needs a mask 1..7");
    return card.BumpCounters(static_cast<unsigned>(mask))
               ? Ok("bumped")
               : Error("\"cardcf\" is missing or damaged, or the state cannot be saved");
}

Answer SaveOrLoad(Card &card, std::istringstream &in, bool save)
{
    std::string path, error;
    in >> path;
    bool ok = save ? card.Save(path, &error) : card.Load(path, &error);
    return ok ? Ok(save ? "saved" : "loaded") : Error(error);
}

Answer FaultMode(Card &card, std::istringstream &in)
{
    std::string mode;
    in >> mode;
    static const std::map<std::string, Fault> plain = {{"none", Fault::None},
                                                       {"storm", Fault::Storm},
                                                       {"flip-rmac", Fault::FlipRmac},
                                                       {"refuse-write", Fault::RefuseWrite}};
    static const std::map<std::string, Fault> counted = {{"truncate", Fault::Truncate},
                                                         {"truncate-next", Fault::TruncateNext},
                                                         {"oversize", Fault::Oversize}};
    unsigned long n = 0;
    if (plain.count(mode)) {
        card.SetFault(plain.at(mode));
    } else if (counted.count(mode) && Number(in, n) && n <= 4096) {
        card.SetFault(counted.at(mode), n);
    } else {
        return Error("fault none|truncate N|truncate-next N|storm|oversize N|flip-rmac|"
                     "refuse-write");
    }
    return Ok("fault " + mode);
}

Answer Corrupt(Card &card, std::istringstream &in)
{
    std::string dir, name;
    if (!(in >> dir >> name))
        return Error("corrupt DIR NAME [OFFSET] (DIR \"/\" for the root)");
    long offset = -1;
    in >> offset;
    return card.CorruptFile(DirArg(dir), name, offset) ? Ok("corrupted")
                                                       : Error("no such file or offset");
}

Answer Tries(Card &card, std::istringstream &in, bool block)
{
    unsigned long pin = 0, tries = 0;
    if (!Number(in, pin) || (!block && (!Number(in, tries) || tries > 15)))
        return Error(block ? "block PIN" : "tries PIN N (N 0..15)");
    if (!card.SetPinTries(pin, static_cast<unsigned char>(tries)))
        return Error("no PIN " + std::to_string(pin) + ", or the state cannot be saved");
    return Ok(block ? "blocked" : "tries");
}

Answer Key(Card &card, std::istringstream &in)
{
    unsigned long index = 0, spec = 0, bits = 0;
    if (!Number(in, index) || !Number(in, spec) || !Number(in, bits) || spec > 1 || bits % 512 ||
        bits == 0 || bits > 4096)
        return Error("key INDEX SPEC BITS [public] [nocert] [expired] [usage U] [padding N]");
    KeyOptions o;
    o.bits = static_cast<int>(bits);
    bool certificate = true, expired = false;
    unsigned long padding = 0;
    std::string word;
    while (in >> word) {
        unsigned long usage = 0;
        if (word == "public")
            o.publicOnly = true;
        else if (word == "nocert")
            certificate = false;
        else if (word == "expired")
            expired = true;
        else if (word == "usage" && Number(in, usage) && usage <= 7)
            o.usage = static_cast<unsigned char>(usage);
        else if (word == "padding" && Number(in, padding) && padding <= 65536)
            continue;
        else
            return Error("unknown key option " + word);
    }
    std::string error;
    Bytes pair, cert;
    int i = static_cast<int>(index), s = static_cast<int>(spec);
    if (!card.AddKey(i, s, o, &error, &pair))
        return Error(error);
    if (certificate && (!MakeCertificate(pair,
                                         "Test holder " + std::to_string(i) +
                                             (s ? " - Exchange key" : " - Signature key"),
                                         100 + 2 * i + s, expired, cert, padding) ||
                        !card.PutFile("mscp", CertificateFileName(i, s), StoredPacked(cert, 0x3D))))
        return Error("cannot store the certificate");
    if (!card.Modify([&](CardState &st) { MarkContainer(st, i, s, static_cast<uint16_t>(bits)); }))
        return Error("the state cannot be saved");
    Bytes n, e;
    RsaPublicParts(pair, false, n, e);
    return Ok("key " + std::to_string(i) + " " + std::to_string(s) + " modulus " + ToHex(n));
}

Answer Put(Card &card, std::istringstream &in)
{
    std::string dir, name, host, mode;
    unsigned long access = 0, plainLength = 0;
    if (!(in >> dir >> name) || !Number(in, access) || access > 0xFF || !(in >> host >> mode) ||
        (mode == "stored" && !Number(in, plainLength)) ||
        (mode != "stored" && mode != "packed" && mode != "plain"))
        return Error("put DIR NAME ACCESS HOSTFILE stored PLAIN | packed | plain");
    std::ifstream f(host, std::ios::binary);
    if (!f)
        return Error("cannot read " + host);
    Bytes bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    unsigned char a = static_cast<unsigned char>(access);
    CardFile file;
    if (mode == "packed") {
        file = StoredPacked(bytes, a);
    } else if (mode == "plain") {
        file = StoredPlain(bytes, a);
    } else {
        if (bytes.size() > kMaxFileLength || plainLength > kMaxFileLength)
            return Error("too long for the card");
        file.stored = bytes;
        file.plainLength = static_cast<uint32_t>(plainLength);
        file.fileSize = static_cast<uint32_t>(bytes.size());
        file.access = a;
    }
    if (!card.PutFile(DirArg(dir), name, file))
        return Error("bad name, or the state cannot be saved");
    return Ok("put " + std::to_string(file.stored.size()));
}

Answer Files(Card &card, std::istringstream &)
{
    Answer a;
    for (const auto &d : card.Snapshot().dirs)
        for (const auto &f : d.second.files) {
            std::ostringstream line;
            line << DirText(d.first) << " " << f.first << " access " << ToHex({f.second.access})
                 << " size " << f.second.fileSize << " plain " << f.second.plainLength << " stored "
                 << (f.second.stored.empty() ? "-" : ToHex(f.second.stored));
            a.details.push_back(line.str());
        }
    a.line = "ok files " + std::to_string(a.details.size());
    return a;
}

Answer Keys(Card &card, std::istringstream &)
{
    static const char *forms[] = {"private", "public", "reserved"};
    Answer a;
    for (const auto &k : card.Snapshot().keys) {
        const CardKey &key = k.second;
        Bytes n, e;
        if (key.form != CardKey::Form::Reserved)
            RsaPublicParts(key.der, key.form == CardKey::Form::Public, n, e);
        std::ostringstream line;
        line << k.first.first << " " << k.first.second << " " << forms[static_cast<int>(key.form)]
             << " bits " << key.bits << " usage " << ToHex({key.usage}) << " access "
             << ToHex({key.access[0], key.access[1]}) << " exponent "
             << (e.empty() ? "-" : ToHex(e)) << " modulus " << (n.empty() ? "-" : ToHex(n));
        a.details.push_back(line.str());
    }
    a.line = "ok keys " + std::to_string(a.details.size());
    return a;
}

Answer Pins(Card &card, std::istringstream &)
{
    Answer a;
    CardState s = card.Snapshot();
    for (size_t i = 0; i < s.pins.size(); ++i) {
        const CardPin &p = s.pins[i];
        a.details.push_back(std::to_string(i) + " role " + ToHex({p.role}) + " tries " +
                            std::to_string(p.tries) + " of " + std::to_string(p.limit));
    }
    a.line = "ok pins " + std::to_string(a.details.size());
    return a;
}

Answer ShowCounters(Card &card, std::istringstream &)
{
    Card::Counters c;
    if (!card.ReadCounters(c))
        return Error("\"cardcf\" is missing or damaged");
    return Ok("counters pin " + std::to_string(c.pin) + " containers " +
              std::to_string(c.containers) + " files " + std::to_string(c.files));
}

Answer Apdus(Card &card, std::istringstream &)
{
    return Ok("apdus " + std::to_string(card.ApduCount()));
}

} // namespace

bool RunControl(Card &card, const std::string &line, std::ostream &out)
{
    using Handler = Answer (*)(Card &, std::istringstream &);
    static const std::map<std::string, Handler> handlers = {
        {"reset", Reset},
        {"bump", Bump},
        {"save", [](Card &c, std::istringstream &in) { return SaveOrLoad(c, in, true); }},
        {"load", [](Card &c, std::istringstream &in) { return SaveOrLoad(c, in, false); }},
        {"fault", FaultMode},
        {"corrupt", Corrupt},
        {"tries", [](Card &c, std::istringstream &in) { return Tries(c, in, false); }},
        {"block", [](Card &c, std::istringstream &in) { return Tries(c, in, true); }},
        {"key", Key},
        {"put", Put},
        {"files", Files},
        {"keys", Keys},
        {"pins", Pins},
        {"counters", ShowCounters},
        {"apdus", Apdus},
    };
    std::istringstream in(line);
    std::string command;
    in >> command;
    auto h = handlers.find(command);
    if (h == handlers.end())
        return false;
    Answer a = h->second(card, in);
    out << a.line << "\n";
    for (const auto &d : a.details)
        out << d << "\n";
    out.flush();
    return true;
}

} // namespace cardsim
