// The card's key containers: create (key generation or a slot kept for an import),
// delete, change of the access bytes, key information, key import under secure
// messaging, and the private-key operation (signature, decryption) over one or several
// commands.
#include "card.h"
#include "rsa_key.h"
#include "status_words.h"

#include <openssl/crypto.h>

namespace cardsim
{

namespace
{

constexpr size_t kFirstPiece = 128; // a piece pair splits its data at offset 80

void Wipe(Bytes &b)
{
    if (!b.empty())
        OPENSSL_cleanse(b.data(), b.size());
    b.clear();
}

} // namespace

const CardKey *Card::CommandKey(unsigned char index, unsigned spec, bool privateNeeded,
                                Reply &failure) const
{
    if (spec > 1) {
        failure = {{}, SW_BAD_P1P2};
        return nullptr;
    }
    if (index >= m_state.containers) {
        failure = {{}, SW_NO_DIR};
        return nullptr;
    }
    auto k = m_state.keys.find({index, static_cast<int>(spec)});
    if (k == m_state.keys.end() || k->second.form == CardKey::Form::Reserved ||
        (privateNeeded && k->second.form != CardKey::Form::Private)) {
        failure = {{}, SW_NO_FILE};
        return nullptr;
    }
    return &k->second;
}

Card::Reply Card::CreateContainer(const Command &c)
{
    // data: flags, key size (2 bytes), default-exponent flag, access bytes a1 a2, then
    // the public exponent without leading zeros (none: a slot kept for an import)
    if (c.p2 > 1)
        return {{}, SW_BAD_P1P2};
    if (c.data.size() < 6)
        return {{}, SW_WRONG_LENGTH};
    if (!Privileged())
        return {{}, SW_DENIED};
    if (c.p1 >= m_state.containers)
        return {{}, SW_NO_DIR};
    CardKey k;
    k.bits = static_cast<uint16_t>(c.data[1] << 8 | c.data[2]);
    k.usage = c.data[0] & 0x07;
    k.access[0] = c.data[4];
    k.access[1] = c.data[5];
    bool listed = false;
    for (const auto &size : m_state.keySizes)
        listed = listed || size.bits == k.bits;
    if (!listed)
        return {{}, SW_BAD_DATA};
    Bytes e(c.data.begin() + 6, c.data.end());
    while (!e.empty() && e.front() == 0)
        e.erase(e.begin());
    unsigned long exponent = 0;
    for (unsigned char b : e)
        exponent = exponent << 8 | b;
    if (!e.empty() && (e.size() > 3 || (exponent != 3 && exponent != 65537)))
        return {{}, SW_BAD_DATA};
    k.form = e.empty() ? CardKey::Form::Reserved : CardKey::Form::Private;
    std::pair<int, int> at{c.p1, c.p2};
    auto old = m_state.keys.find(at);
    uint64_t freed = old == m_state.keys.end() ? 0 : old->second.Memory();
    if (k.Memory() > m_state.FreeMemory() + freed)
        return {{}, SW_NO_ROOM};
    if (!e.empty() && !GenerateRsaKey(k.bits, exponent, k.der))
        return {{}, SW_NO_RESPONSE};
    m_state.keys[at] = std::move(k);
    Reply r = Commit();
    if (r.sw == SW_OK) {
        m_import = Import{};
        m_import.targetSet = true;
        m_import.index = c.p1;
        m_import.spec = c.p2;
    }
    return r;
}

Card::Reply Card::DeleteContainer(const Command &c)
{
    if (c.p2 != 0x00)
        return {{}, SW_BAD_P1P2};
    if (!Privileged())
        return {{}, SW_DENIED};
    if (c.p1 >= m_state.containers)
        return {{}, SW_NO_DIR};
    size_t removed = m_state.keys.erase({c.p1, 0}) + m_state.keys.erase({c.p1, 1});
    if (removed == 0)
        return {{}, SW_NO_DIR};
    if (m_import.targetSet && m_import.index == c.p1)
        m_import = Import{};
    return Commit();
}

Card::Reply Card::ChangeContainerAccess(const Command &c)
{
    // B0 7E index mask 02 a1 a2, with a C-MAC: mask bit 0 gives both keys of the container
    // (and a slot kept for an import) access byte a1, bit 1 access byte a2
    if (!MacProtected(c))
        return {{}, SW_SM_NEEDED};
    if (c.p2 == 0x00 || c.p2 > 0x03)
        return {{}, SW_BAD_P1P2};
    if (c.data.size() != 2)
        return {{}, SW_WRONG_LENGTH};
    if (c.p1 >= m_state.containers)
        return {{}, SW_NO_DIR};
    bool found = false;
    for (int spec = 0; spec < 2; ++spec) {
        auto k = m_state.keys.find({c.p1, spec});
        if (k == m_state.keys.end())
            continue;
        found = true;
        for (int i = 0; i < 2; ++i)
            if (c.p2 >> i & 1)
                k->second.access[i] = c.data[static_cast<size_t>(i)];
    }
    if (!found)
        return {{}, SW_NO_DIR};
    return Commit();
}

Card::Reply Card::KeyInformation(const Command &c)
{
    unsigned what = c.p2 >> 4;
    if (what > 3)
        return {{}, SW_BAD_P1P2};
    Reply failure;
    const CardKey *k = CommandKey(c.p1, c.p2 & 0x0F, false, failure);
    if (!k)
        return failure;
    Bytes d;
    if (what <= 1) {
        Bytes n, e;
        if (!RsaPublicParts(k->der, k->form == CardKey::Form::Public, n, e) || e.size() > 4)
            return {{}, SW_NO_RESPONSE};
        d = what == 0 ? n : e;
        size_t width = what == 0 ? k->bits / 8u : 4u;
        if (d.size() < width)
            d.insert(d.begin(), width - d.size(), 0x00);
    } else {
        // short information: the access bytes; then size, whether the private key is
        // here, and the usage
        d = {k->access[0], k->access[1]};
        if (what == 2)
            d.insert(d.end(),
                     {static_cast<unsigned char>(k->bits >> 8), static_cast<unsigned char>(k->bits),
                      static_cast<unsigned char>(k->form == CardKey::Form::Private), k->usage});
    }
    return CaseTwo(c, std::move(d));
}

void Card::DropImport()
{
    for (Bytes *part : {&m_import.n, &m_import.e, &m_import.p, &m_import.q, &m_import.dp,
                        &m_import.dq, &m_import.qinv})
        Wipe(*part);
    m_import.expected = 0;
}

Card::Reply Card::ImportKey(const Command &c)
{
    if (!c.secured || (m_sm.Level() & 0x03) != 0x03)
        return {{}, SW_SM_NEEDED};
    if (!Privileged())
        return {{}, SW_DENIED};
    auto target = m_state.keys.find({m_import.index, m_import.spec});
    if (!m_import.targetSet || target == m_state.keys.end())
        return {{}, SW_NO_DIR};
    const size_t modulusLength = target->second.bits / 8u;
    const Bytes &d = c.data;
    Import &im = m_import;
    auto refuse = [this]() -> Reply {
        DropImport();
        return {{}, SW_BAD_DATA};
    };
    unsigned code = c.p1;
    if (code == 0) {
        if (im.expected != 0 || d.size() != modulusLength)
            return refuse();
        im.n = d;
        im.expected = 1;
    } else if (code == 7) {
        // two pieces: offset 00 / 80, piece 00 / 01, bytes
        bool first = d.size() >= 2 && d[0] == 0x00 && d[1] == 0x00;
        bool second = d.size() >= 2 && d[0] == 0x80 && d[1] == 0x01;
        if (first && im.expected == 0 && d.size() == 2 + kFirstPiece &&
            modulusLength > kFirstPiece) {
            im.n.assign(d.begin() + 2, d.end());
            im.expected = -7;
        } else if (second && im.expected == -7 && d.size() - 2 + kFirstPiece == modulusLength) {
            im.n.insert(im.n.end(), d.begin() + 2, d.end());
            im.expected = 1;
        } else {
            return refuse();
        }
    } else if (code >= 1 && code <= 5) {
        Bytes *parts[] = {&im.p, &im.q, &im.dp, &im.dq, &im.qinv};
        if (im.expected != static_cast<int>(code) || d.empty() || d.size() > modulusLength)
            return refuse();
        *parts[code - 1] = d;
        ++im.expected;
    } else if (code == 6) {
        if (im.expected != 6 || d.size() != 4)
            return refuse();
        im.e = d;
        Bytes der;
        if (!AssembleRsaKey(im.n, im.e, im.p, im.q, im.dp, im.dq, im.qinv, der, nullptr) ||
            RsaBits(der, false) != target->second.bits)
            return refuse();
        target->second.form = CardKey::Form::Private;
        target->second.der = std::move(der);
        DropImport();
        m_import.targetSet = false;
        return Commit();
    } else {
        return refuse();
    }
    return {{}, SW_OK};
}

Card::Reply Card::RsaOperation(const Command &c)
{
    // P2: flags x 16 + key spec. Flags: 1 first, 2 keep the result on the card, 4 last,
    // 8 piece of a pair (data: offset 00/80, piece 00/01, bytes)
    if (!c.secured || !(m_sm.Level() & 0x01))
        return {{}, SW_SM_NEEDED};
    unsigned flags = c.p2 >> 4;
    Reply failure;
    const CardKey *key = CommandKey(c.p1, c.p2 & 0x0F, true, failure);
    if (!key)
        return failure;
    if (!(key->access[0] & m_roles))
        return {{}, SW_DENIED};
    auto refuse = [this]() -> Reply {
        m_rsa = RsaBuffer{};
        return {{}, SW_BAD_DATA};
    };
    unsigned char spec = c.p2 & 0x0F;
    if (flags & 0x1) {
        m_rsa = RsaBuffer{};
        m_rsa.active = true;
        m_rsa.ins = c.ins;
        m_rsa.index = c.p1;
        m_rsa.spec = spec;
    } else if (!m_rsa.active || m_rsa.ins != c.ins || m_rsa.index != c.p1 || m_rsa.spec != spec) {
        return refuse();
    }
    Bytes part = c.data;
    if (flags & 0x8) {
        bool first = part.size() == 2 + kFirstPiece && part[0] == 0x00 && part[1] == 0x00;
        bool second = part.size() > 2 && part[0] == 0x80 && part[1] == 0x01;
        if (first && !m_rsa.pairOpen)
            m_rsa.pairOpen = true;
        else if (second && m_rsa.pairOpen)
            m_rsa.pairOpen = false;
        else
            return refuse();
        part.erase(part.begin(), part.begin() + 2);
    } else if (m_rsa.pairOpen) {
        return refuse();
    }
    const size_t length = key->bits / 8u;
    if (m_rsa.block.size() + part.size() > length)
        return refuse();
    m_rsa.block.insert(m_rsa.block.end(), part.begin(), part.end());
    if (!(flags & 0x4))
        return {{}, SW_OK};

    RsaBuffer op = std::move(m_rsa);
    m_rsa = RsaBuffer{};
    Bytes result;
    if (op.pairOpen || op.block.size() != length || !RsaPrivateRaw(key->der, op.block, result))
        return {{}, SW_BAD_DATA};
    if (flags & 0x2) {
        m_keptResult = std::move(result);
        return {{}, SW_OK};
    }
    return {std::move(result), SW_OK};
}

} // namespace cardsim
