#include "card.h"
#include "personalise.h"
#include "status_words.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cstdio>

namespace cardsim
{

namespace
{

const Bytes kAidFirst = {0xA0, 0x00, 0x00, 0x00, 0x28, 0x80, 0x10, 0x30, 0x01, 0xFF};
const Bytes kAidSecond = {0xA0, 0x00, 0x00, 0x00, 0x28, 0x80, 0x10, 0x37, 0x01, 0x01};

constexpr size_t kMaxReplyData = 256;

unsigned Be16(const unsigned char *b)
{
    return b[0] * 256u + b[1];
}

// The state file a save or load goes to: the given path, else the card's own;
// null with the error when there is neither.
const std::string *StateFile(const std::string &path, const std::string &own, std::string *error)
{
    const std::string &file = path.empty() ? own : path;
    if (file.empty()) {
        if (error)
            *error = "the card has no state file";
        return nullptr;
    }
    return &file;
}

// The three lengths of a file as its information and its read begin with them.
Bytes FileLengths(const CardFile &f)
{
    Bytes d(9);
    LengthToWire(static_cast<uint32_t>(f.stored.size()), &d[0]);
    LengthToWire(f.fileSize, &d[3]);
    LengthToWire(f.plainLength, &d[6]);
    return d;
}

} // namespace

Card::Card(CardState state, Options options, std::string statePath)
    : m_state(std::move(state)), m_options(options), m_statePath(std::move(statePath))
{
    if (m_state.masterKey.empty())
        m_state.masterKey = ReadMasterKey();
    if (!m_statePath.empty())
        m_saved = m_state;
}

Bytes Card::Atr()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_state.atr;
}

void Card::PowerOn()
{
    ResetVolatile();
}
void Card::PowerOff()
{
    ResetVolatile();
}
void Card::Reset()
{
    ResetVolatile();
}
void Card::Disconnected()
{
    ResetVolatile();
}

void Card::ResetVolatile()
{
    std::lock_guard<std::mutex> lock(m_lock);
    ClearVolatileLocked();
}

void Card::ClearVolatileLocked()
{
    m_selected = false;
    m_roles = 0;
    m_write = PendingWrite{};
    EndStream();
    m_cursor = Cursor{};
    m_sm.Close();
    m_rsa = RsaBuffer{};
    m_import = Import{};
    m_keptResult.clear();
    if (!m_challenge.empty())
        OPENSSL_cleanse(m_challenge.data(), m_challenge.size());
    m_challenge.clear();
}

void Card::EndStream()
{
    m_stream.clear();
    m_streamPos = 0;
    m_streamActive = false;
}

bool Card::Persist()
{
    if (m_statePath.empty())
        return true;
    std::string error;
    if (!SaveStateFile(m_statePath, m_state, &error)) {
        m_saveError = error;
        std::fprintf(stderr, "cardsim: cannot save the card state: %s\n", error.c_str());
        // what cannot be kept is not done: the card goes back to its last saved state
        m_state = m_saved;
        return false;
    }
    m_saved = m_state;
    return true;
}

Card::Reply Card::Commit()
{
    if (!Persist())
        return {{}, SW_MEMORY_FAILURE};
    return {{}, SW_OK};
}

Bytes Card::Apdu(const Bytes &raw)
{
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_apduCount;
    bool getResponse = raw.size() >= 2 && raw[0] == 0x00 && raw[1] == 0xC0;
    bool writeChunk = raw.size() >= 2 && raw[0] == 0xB0 && raw[1] == 0xA2;
    // A new command ends the pending reply stream; anything but the next chunk
    // abandons a pending write, leaving the file as it was.
    if (!getResponse)
        EndStream();
    if (m_write.active && !writeChunk)
        m_write = PendingWrite{};

    Command c{};
    if (raw.size() < 4)
        return Finish({{}, SW_WRONG_LENGTH});
    c.cla = raw[0];
    c.ins = raw[1];
    c.p1 = raw[2];
    c.p2 = raw[3];
    if (raw.size() == 8 && c.cla == 0xB0 && c.ins == 0x54) {
        // the imported key's parameters: a command of its own shape
        c.parameterForm = true;
        c.hasData = true;
        c.data.assign(raw.begin() + 4, raw.end());
        return Finish(Dispatch(c));
    }
    if (raw.size() == 5) {
        c.hasLe = true;
        c.le = raw[4] ? raw[4] : 256;
    } else if (raw.size() > 5) {
        size_t lc = raw[4];
        if (lc == 0 || (raw.size() != 5 + lc && raw.size() != 6 + lc))
            return Finish({{}, SW_WRONG_LENGTH});
        c.hasData = true;
        c.data.assign(raw.begin() + 5, raw.begin() + 5 + lc);
        if (raw.size() == 6 + lc) {
            c.hasLe = true;
            c.le = raw.back() ? raw.back() : 256;
        }
    }
    return Finish(Dispatch(c));
}

Card::Reply Card::Dispatch(const Command &c)
{
    if (c.cla == 0x00) {
        if (c.ins == 0xA4)
            return Select(c);
        if (c.ins == 0xC0)
            return GetResponse(c);
        return {{}, SW_UNKNOWN_INS};
    }
    if (c.cla != 0xB0 && c.cla != 0xB4)
        return {{}, SW_UNKNOWN_CLA};
    if (!m_selected)
        return {{}, SW_UNKNOWN_INS};
    if (c.cla == 0xB4)
        return Secure(c);
    bool v10 = m_state.AppletAtLeast(1, 0);
    switch (c.ins) {
    case 0x50:
        return Challenge(c);
    case 0x52: // the response command is never sent without its MAC
        return {{}, SW_SM_ERROR};
    case 0x54:
        if (c.parameterForm)
            return ImportedKeyParameters(c);
        return CloseSession(c);
    case 0x70:
        return CreateContainer(c);
    case 0x72:
        return DeleteContainer(c);
    case 0x74:
        return KeyInformation(c);
    case 0x76:
        return ImportKey(c);
    case 0x78:
    case 0x7A:
        return RsaOperation(c);
    case 0x7E:
        return ChangeContainerAccess(c);
    case 0x1A:
        return SetCardData(c);
    case 0xAC: // free memory before 1.0
    case 0x1C: // free memory or containers from 1.0 on
        return FreeMemory(c);
    case 0x22:
        return PinChallenge(c);
    case 0x2C:
        return UpdatePinProperties(c);
    case 0x2A:
        return AdminCard(c);
    case 0x10:
        return GetInfo(c);
    case 0xAA:
        if (c.p1 == 0x00)
            return ListFiles(c);
        if (c.p1 == 0x01)
            return FileInfo(c);
        return {{}, SW_BAD_P1P2};
    case 0xA4:
        return ReadInit(c);
    case 0xA0:
        if (c.p1 == 0x01 && c.p2 == 0x01)
            return CreateFile(c);
        if (c.p1 == 0x01 && c.p2 == 0x04)
            return WriteInit(c, false);
        if (c.p1 == 0x01 && c.p2 == 0x08)
            return WriteInit(c, true);
        if (c.p1 == 0x00 && c.p2 == 0x01)
            return CreateDir(c);
        return {{}, SW_BAD_P1P2};
    case 0xA2:
        return WriteChunk(c);
    case 0xA8:
        if (c.p1 == 0x01)
            return DeleteFile(c);
        if (c.p1 == 0x00)
            return DeleteDir(c);
        return {{}, SW_BAD_P1P2};
    case 0x20:
        return Verify(c);
    case 0x24: // log out before 1.0; change or unblock from 1.0 on
        if (v10)
            return ChangePin(c);
        return Logout(c);
    case 0x26: // unblock before 1.0; log out from 1.0 on
        if (v10)
            return Logout(c);
        return ChangePin(c);
    case 0x28: // change before 1.0
        if (v10)
            return {{}, SW_UNKNOWN_INS};
        return ChangePin(c);
    default:
        return {{}, SW_UNKNOWN_INS};
    }
}

Card::Reply Card::Secure(const Command &c)
{
    if (c.ins == 0x52)
        return {{}, m_sm.Respond(m_state.masterKey, c.p1, c.p2, c.data)};
    Command plain = c;
    plain.cla = 0xB0;
    if (!m_sm.IsOpen() || !m_sm.Unwrap(c.ins, c.p1, c.p2, plain.data))
        return {{}, SW_SM_ERROR};
    plain.hasData = !plain.data.empty();
    plain.secured = true;
    Reply r = Dispatch(plain);
    // only replies that carry data are protected; bare status words leave the chain alone
    if (!r.data.empty() && r.sw == SW_OK && m_sm.IsOpen()) {
        bool spoil = m_fault == Fault::FlipRmac && (m_sm.Level() & 0x10);
        r.data = m_sm.Protect(r.data, spoil);
        if (spoil)
            m_fault = Fault::None;
    }
    return r;
}

Card::Reply Card::Challenge(const Command &c)
{
    if (!m_state.AppletAtLeast(1, 2)) {
        if (c.data.size() != 8)
            return {{}, SW_WRONG_LENGTH};
        uint16_t before = m_state.smCounter;
        m_state.smCounter = static_cast<uint16_t>(before + 1);
        if (!Persist()) {
            m_sm.Close();
            return {{}, SW_MEMORY_FAILURE};
        }
        Bytes reply = m_sm.ChallengeV1(m_state.masterKey, m_state.smCounter, c.data);
        return {reply, reply.empty() ? SW_NOT_FOUND : SW_OK};
    }
    if (c.hasData)
        return {{}, SW_WRONG_LENGTH};
    if (c.p1 != 0x00 || c.p2 != 0x00)
        return {{}, SW_BAD_P1P2};
    return CaseTwo(c, m_sm.ChallengeV2());
}

Card::Reply Card::CloseSession(const Command &c)
{
    if (c.p1 > 0x01 || c.p2 != 0x00)
        return {{}, SW_BAD_P1P2};
    m_sm.Close();
    if (c.p1 == 0x01)
        DropImport();
    return {{}, SW_OK};
}

Bytes Card::Finish(Reply reply)
{
    if (reply.data.size() > kMaxReplyData && (reply.sw == SW_OK)) {
        m_stream.assign(reply.data.begin() + kMaxReplyData, reply.data.end());
        m_streamPos = 0;
        m_streamActive = true;
        reply.data.resize(kMaxReplyData);
        reply.sw =
            static_cast<uint16_t>(0x6100 | (std::min(m_stream.size(), kMaxReplyData) & 0xFF));
    }
    if (m_fault == Fault::Storm && reply.sw == SW_OK)
        reply.sw = 0x6108;
    if (m_fault == Fault::Oversize && reply.data.size() < m_faultParam)
        reply.data.resize(m_faultParam, 0x00);
    Bytes out = std::move(reply.data);
    out.push_back(static_cast<unsigned char>(reply.sw >> 8));
    out.push_back(static_cast<unsigned char>(reply.sw));
    if ((m_fault == Fault::Truncate || m_fault == Fault::TruncateNext) && out.size() > m_faultParam)
        out.resize(m_faultParam);
    if (m_fault == Fault::TruncateNext)
        m_fault = Fault::None;
    return out;
}

Card::Reply Card::CaseTwo(const Command &c, Bytes data)
{
    // an empty reply is 90 00 whatever the Le; nor is a reply that streams asked again
    if (m_options.strictLe && !c.hasData && !data.empty() && data.size() <= kMaxReplyData &&
        (!c.hasLe || c.le != data.size()))
        return {{}, static_cast<uint16_t>(0x6C00 | (data.size() & 0xFF))};
    return {std::move(data), SW_OK};
}

Card::Reply Card::Select(const Command &c)
{
    if (c.p1 != 0x04)
        return {{}, SW_BAD_P1P2};
    if (c.data == kAidSecond || (c.data == kAidFirst && !m_options.secondAidOnly)) {
        m_selected = true;
        return {{}, SW_OK};
    }
    return {{}, SW_NO_DIR};
}

Card::Reply Card::GetResponse(const Command &c)
{
    size_t want = c.hasLe ? c.le : kMaxReplyData;
    if (c.hasData)
        return {{}, SW_WRONG_LENGTH};
    if (m_fault == Fault::Storm)
        return {Bytes(want, 0x00), static_cast<uint16_t>(0x6100 | (want & 0xFF))};
    if (!m_streamActive)
        return {{}, SW_NO_RESPONSE};
    size_t rest = m_stream.size() - m_streamPos;
    size_t n = std::min(want, rest);
    Bytes data(m_stream.begin() + m_streamPos, m_stream.begin() + m_streamPos + n);
    m_streamPos += n;
    rest -= n;
    if (rest == 0) {
        EndStream();
        return {std::move(data), SW_OK};
    }
    // the stream stays open for the next GET RESPONSE
    return {std::move(data),
            static_cast<uint16_t>(0x6100 | (std::min(rest, kMaxReplyData) & 0xFF))};
}

Card::Reply Card::GetInfo(const Command &c)
{
    const CardState &s = m_state;
    Bytes d;
    switch (c.p1) {
    case 1:
        d = {0x00, s.containers};
        if (!s.keySizes.empty()) {
            d.push_back(0x00);
            for (const auto &k : s.keySizes) {
                d.push_back(static_cast<unsigned char>(k.bits / 512));
                d.push_back(k.count);
            }
        }
        break;
    case 2: {
        d.resize(4);
        uint64_t free = std::min<uint64_t>(s.FreeMemory(), kMaxFileLength);
        LengthToWire(static_cast<uint32_t>(free), d.data());
        d[3] = 0x00;
        break;
    }
    case 3:
        return CardData(c);
    case 4:
        d = s.serial;
        break;
    case 5:
        d = {0x00, 0x01,           s.appletMajor,     s.appletMinor, 0x00,
             0x00, s.maxPinLength, s.challengeLength, 0x00,          s.infoFlags};
        for (const auto &p : s.pins)
            d.insert(d.end(), {p.limit, p.type, p.role, p.updaters});
        break;
    case 6:
        d = {0x00, static_cast<unsigned char>(m_roles ? m_roles : 1), 0x00, 0x00};
        break;
    case 7: {
        // the provider flags written as card data, else those of the personalisation
        size_t at = 0, length = 0;
        d = s.providerFlags;
        if (FindCardDataEntry(s.cardData, kProviderFlagsTag, at, length) && length == 2)
            d.assign(s.cardData.begin() + static_cast<long>(at + 3),
                     s.cardData.begin() + static_cast<long>(at + 5));
        break;
    }
    case 8:
        d = {0x00, 0x00};
        for (const auto &p : s.pins)
            d.insert(d.end(),
                     {p.statusA, p.tries, p.statusB, p.updaters, p.info[0], p.info[1], p.info[2]});
        break;
    case 9:
        d = s.cardId;
        break;
    case 10:
        d = s.memoryInfo;
        break;
    case 11:
        d = s.importedKeyParams;
        break;
    default:
        return {{}, SW_BAD_P1P2};
    }
    return CaseTwo(c, std::move(d));
}

Card::Reply Card::CardData(const Command &c)
{
    const Bytes &cd = m_state.cardData;
    size_t maxPiece = std::clamp<size_t>(m_options.cardDataPiece, 1, 254);
    Cursor next;
    size_t want = maxPiece;
    if (c.hasData) {
        // by offset: off-hi off-lo len-hi len-lo over the whole card data
        if (c.p2 != 0x00 || c.data.size() != 4)
            return {{}, SW_BAD_DATA};
        size_t offset = Be16(&c.data[0]);
        size_t length = Be16(&c.data[2]);
        if (offset > cd.size())
            return {{}, SW_BAD_DATA};
        next = {true, 0, cd.size(), offset};
        if (length != 0)
            want = std::min(length, maxPiece);
    } else if (c.p2 == 0xFF) {
        if (!m_cursor.active)
            return {{}, SW_NOT_FOUND};
        next = m_cursor;
    } else if (c.p2 == 0x00) {
        next = {true, 0, cd.size(), 0};
    } else {
        size_t at = 0, length = 0;
        if (!FindCardDataEntry(cd, c.p2, at, length))
            return {{}, SW_NOT_FOUND};
        next = {true, at + 3, length, 0};
    }
    size_t piece = std::min(want, next.length - next.position);
    size_t remaining = next.length - next.position - piece;
    Bytes d = {static_cast<unsigned char>(remaining >> 8), static_cast<unsigned char>(remaining)};
    auto from = cd.begin() + static_cast<long>(next.begin + next.position);
    d.insert(d.end(), from, from + static_cast<long>(piece));
    Reply r = CaseTwo(c, std::move(d));
    if (r.sw == SW_OK) {
        next.position += piece;
        m_cursor = next;
    }
    return r;
}

Card::Reply Card::ListFiles(const Command &c)
{
    if (c.data.size() != 9)
        return {{}, SW_BAD_DATA};
    std::string dir = NameFromWire(c.data.data());
    auto d = m_state.dirs.find(dir);
    if (d == m_state.dirs.end())
        return {{}, SW_NO_DIR};
    Bytes out;
    auto add = [&out](const std::string &name) {
        unsigned char n[8];
        NameToWire(name, n);
        out.insert(out.end(), n, n + 8);
    };
    for (const auto &f : d->second.files)
        add(f.first);
    if (dir.empty() && (c.data[8] & 0x01)) {
        for (const auto &sub : m_state.dirs)
            if (!sub.first.empty())
                add(sub.first);
    }
    return {std::move(out), SW_OK};
}

CardFile *Card::AccessibleFile(const std::string &dir, const std::string &name,
                               unsigned char freeRight, Reply &failure)
{
    if (!m_state.dirs.count(dir)) {
        failure = {{}, SW_NO_DIR};
        return nullptr;
    }
    CardFile *f = m_state.FindFile(dir, name);
    if (!f) {
        failure = {{}, SW_NO_FILE};
        return nullptr;
    }
    if (!(f->access & freeRight) && !Privileged()) {
        failure = {{}, SW_DENIED};
        return nullptr;
    }
    return f;
}

Card::Reply Card::FileInfo(const Command &c)
{
    if (c.data.size() != 16)
        return {{}, SW_BAD_DATA};
    Reply failure;
    const CardFile *f = AccessibleFile(NameFromWire(&c.data[0]), NameFromWire(&c.data[8]),
                                       kAccessReadFree, failure);
    if (!f)
        return failure;
    Bytes d = FileLengths(*f);
    d.push_back(f->access);
    return {std::move(d), SW_OK};
}

Card::Reply Card::ReadInit(const Command &c)
{
    if (c.p1 != 0x00 || c.p2 != 0x00)
        return {{}, SW_BAD_P1P2};
    if (c.data.size() != 16)
        return {{}, SW_BAD_DATA};
    Reply failure;
    const CardFile *f = AccessibleFile(NameFromWire(&c.data[0]), NameFromWire(&c.data[8]),
                                       kAccessReadFree, failure);
    if (!f)
        return failure;
    // header, then the stored bytes; what does not fit this reply is fetched by
    // GET RESPONSE in the chunk sizes the host asks for
    Bytes d = FileLengths(*f);
    d.insert(d.end(), f->stored.begin(), f->stored.end());
    return {std::move(d), SW_OK};
}

Card::Reply Card::CreateFile(const Command &c)
{
    if (c.data.size() != 23)
        return {{}, SW_BAD_DATA};
    std::string dir = NameFromWire(&c.data[0]);
    std::string name = NameFromWire(&c.data[8]);
    auto d = m_state.dirs.find(dir);
    if (d == m_state.dirs.end())
        return {{}, SW_NO_DIR};
    if (!Privileged())
        return {{}, SW_DENIED};
    if (name.empty())
        return {{}, SW_BAD_DATA};
    if (d->second.files.count(name) || (dir.empty() && m_state.dirs.count(name)))
        return {{}, SW_EXISTS};
    uint32_t first = LengthFromWire(&c.data[17]);
    uint32_t second = LengthFromWire(&c.data[20]);
    uint32_t size = std::max(first, second);
    if (size > kMaxFileLength)
        return {{}, SW_BAD_DATA};
    if (size > m_state.FreeMemory())
        return {{}, SW_NO_ROOM};
    CardFile f;
    f.access = c.data[16];
    f.fileSize = size;
    d->second.files[name] = f;
    return Commit();
}

Card::Reply Card::WriteInit(const Command &c, bool inPlace)
{
    if (c.data.size() != 23)
        return {{}, SW_BAD_DATA};
    std::string dir = NameFromWire(&c.data[0]);
    std::string name = NameFromWire(&c.data[8]);
    Reply failure;
    CardFile *f = AccessibleFile(dir, name, kAccessWriteFree, failure);
    if (!f)
        return failure;
    uint32_t stored = LengthFromWire(&c.data[17]);
    uint32_t plain = LengthFromWire(&c.data[20]);
    if (stored > kMaxFileLength || plain > kMaxFileLength)
        return {{}, SW_BAD_DATA};
    if (stored == 0) {
        // emptying a file in one command exists from applet 1.0 on
        if (plain != 0 || !m_state.AppletAtLeast(1, 0))
            return {{}, SW_BAD_DATA};
        f->stored.clear();
        f->plainLength = 0;
        return Commit();
    }
    if (inPlace) {
        if (stored > f->fileSize)
            return {{}, SW_NO_ROOM};
    } else if (stored > f->fileSize && stored - f->fileSize > m_state.FreeMemory()) {
        return {{}, SW_NO_ROOM};
    }
    m_write = PendingWrite{true, dir, name, stored, plain, inPlace, {}};
    m_write.buffer.reserve(stored);
    return {{}, SW_OK};
}

Card::Reply Card::WriteChunk(const Command &c)
{
    if (!m_write.active)
        return {{}, SW_DENIED};
    if (c.p1 > 0x01 || c.p2 != 0x00) {
        m_write = PendingWrite{};
        return {{}, SW_BAD_P1P2};
    }
    if (m_fault == Fault::RefuseWrite && (c.p1 == 0x01 || !m_write.buffer.empty())) {
        m_fault = Fault::None;
        m_write = PendingWrite{};
        return {{}, SW_MEMORY_FAILURE};
    }
    if (m_write.buffer.size() + c.data.size() > m_write.storedLength) {
        m_write = PendingWrite{};
        return {{}, SW_BAD_DATA};
    }
    m_write.buffer.insert(m_write.buffer.end(), c.data.begin(), c.data.end());
    if (c.p1 == 0x00)
        return {{}, SW_OK};
    PendingWrite w = std::move(m_write);
    m_write = PendingWrite{};
    if (w.buffer.size() != w.storedLength)
        return {{}, SW_BAD_DATA};
    CardFile *f = m_state.FindFile(w.dir, w.name);
    if (!f)
        return {{}, SW_NO_FILE};
    f->stored = std::move(w.buffer);
    f->plainLength = w.plainLength;
    if (!w.inPlace)
        f->fileSize = std::max(f->fileSize, w.storedLength);
    if (!Persist())
        return {{}, SW_MEMORY_FAILURE};
    return {{0x01}, SW_OK};
}

Card::Reply Card::DeleteFile(const Command &c)
{
    if (c.data.size() != 16)
        return {{}, SW_BAD_DATA};
    std::string dir = NameFromWire(&c.data[0]);
    std::string name = NameFromWire(&c.data[8]);
    Reply failure;
    if (!AccessibleFile(dir, name, kAccessWriteFree, failure))
        return failure;
    m_state.dirs[dir].files.erase(name);
    return Commit();
}

Card::Reply Card::CreateDir(const Command &c)
{
    if (c.data.size() != 9)
        return {{}, SW_BAD_DATA};
    std::string dir = NameFromWire(&c.data[0]);
    if (dir.empty())
        return {{}, SW_BAD_DATA};
    if (!Privileged())
        return {{}, SW_DENIED};
    if (m_state.dirs.count(dir) || m_state.dirs[""].files.count(dir))
        return {{}, SW_EXISTS};
    m_state.dirs[dir].access = c.data[8];
    return Commit();
}

Card::Reply Card::DeleteDir(const Command &c)
{
    if (c.data.size() != 8)
        return {{}, SW_BAD_DATA};
    std::string dir = NameFromWire(&c.data[0]);
    if (dir.empty())
        return {{}, SW_BAD_DATA};
    auto d = m_state.dirs.find(dir);
    if (d == m_state.dirs.end())
        return {{}, SW_NO_DIR};
    if (!Privileged())
        return {{}, SW_DENIED};
    if (!d->second.files.empty())
        return {{}, SW_DIR_NOT_EMPTY};
    m_state.dirs.erase(d);
    return Commit();
}

bool Card::PinLengthFits(const CardPin &pin, size_t length) const
{
    if (pin.ChallengeResponse())
        return length == 24; // a new key; the PIN itself is checked by its response
    if (pin.FfPadded())
        return length == m_state.maxPinLength;
    return length >= 1 && length <= m_state.maxPinLength;
}

Bytes Card::NormalisePin(const CardPin &pin, const Bytes &given) const
{
    Bytes v = given;
    if (pin.FfPadded())
        while (!v.empty() && v.back() == 0xFF)
            v.pop_back();
    return v;
}

bool Card::CheckPin(size_t index, const Bytes &given, Reply &failure)
{
    CardPin &pin = m_state.pins[index];
    if (pin.tries == 0) {
        failure = {{}, SW_PIN_BLOCKED};
        return false;
    }
    bool match = false;
    if (pin.ChallengeResponse()) {
        // the 8-byte response to the pending challenge, which any answer uses up
        if (given.size() != 8) {
            failure = {{}, SW_WRONG_LENGTH};
            return false;
        }
        if (m_challenge.empty()) {
            failure = {{}, SW_DENIED};
            return false;
        }
        match = ResponseToChallenge(pin.value, m_challenge) == given;
        OPENSSL_cleanse(m_challenge.data(), m_challenge.size());
        m_challenge.clear();
    } else {
        if (!PinLengthFits(pin, given.size())) {
            failure = {{}, SW_WRONG_LENGTH};
            return false;
        }
        match = NormalisePin(pin, given) == pin.value;
    }
    unsigned char tries = match ? pin.limit : static_cast<unsigned char>(pin.tries - 1);
    if (tries != pin.tries) {
        pin.tries = tries;
        if (!Persist()) {
            failure = {{}, SW_MEMORY_FAILURE};
            return false;
        }
    }
    if (!match)
        failure = {{}, static_cast<uint16_t>(0x6300 | tries)};
    return match;
}

Card::Reply Card::Verify(const Command &c)
{
    if (c.p2 != 0x00 || (c.p1 & 0x30))
        return {{}, SW_BAD_P1P2}; // the challenge modes are not served
    size_t index = c.p1 & 0x0F;
    if (index >= m_state.pins.size())
        return {{}, SW_BAD_REFERENCE};
    Reply failure;
    if (!CheckPin(index, c.data, failure))
        return failure;
    m_roles |= m_state.pins[index].role;
    return {{}, SW_OK};
}

Card::Reply Card::Logout(const Command &c)
{
    m_roles &= ~static_cast<unsigned>(c.p1);
    return {{}, SW_OK};
}

Card::Reply Card::ChangePin(const Command &c)
{
    // P1 the PIN that authorises, P2 the target; data L x old new, where L is the old
    // value's length (bit 7: unblock, on applets from 1.0) and x the target's try limit
    if (c.p1 >= m_state.pins.size() || c.p2 >= m_state.pins.size())
        return {{}, SW_BAD_REFERENCE};
    if (!((m_state.pins[c.p2].updaters >> c.p1) & 1))
        return {{}, SW_BAD_REFERENCE};
    size_t oldLength = c.data.empty() ? 0 : c.data[0] & 0x7F;
    if (c.data.size() < 2 + oldLength)
        return {{}, SW_WRONG_LENGTH};
    Bytes oldValue(c.data.begin() + 2, c.data.begin() + 2 + static_cast<long>(oldLength));
    Bytes newValue(c.data.begin() + 2 + static_cast<long>(oldLength), c.data.end());
    if (!PinLengthFits(m_state.pins[c.p2], newValue.size()))
        return {{}, SW_WRONG_LENGTH};
    Reply failure;
    if (!CheckPin(c.p1, oldValue, failure))
        return failure;
    CardPin &target = m_state.pins[c.p2];
    target.value = NormalisePin(target, newValue);
    if (target.value.empty())
        return {{}, SW_WRONG_LENGTH};
    if (c.data[1] != 0)
        target.limit = c.data[1];
    target.tries = target.limit;
    return Commit();
}

bool Card::BumpCounters(unsigned mask)
{
    std::lock_guard<std::mutex> lock(m_lock);
    CardFile *f = m_state.FindFile("", "cardcf");
    if (!f || f->stored.size() < 7)
        return false;
    Bytes plain(f->stored.begin(), f->stored.end() - 1);
    if (Crc8(plain) != f->stored.back())
        return false;
    if (mask & 1)
        plain[1] = static_cast<unsigned char>(plain[1] + 1);
    auto bump16 = [&plain](size_t at) {
        unsigned v = (plain[at] | plain[at + 1] << 8) + 1;
        plain[at] = static_cast<unsigned char>(v);
        plain[at + 1] = static_cast<unsigned char>(v >> 8);
    };
    if (mask & 2)
        bump16(2);
    if (mask & 4)
        bump16(4);
    f->plainLength = static_cast<uint32_t>(plain.size());
    f->stored = plain;
    f->stored.push_back(Crc8(plain));
    return Persist();
}

bool Card::ReadCounters(Counters &out) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    const CardFile *f = m_state.FindFile("", "cardcf");
    if (!f || f->stored.size() < 7 ||
        Crc8(f->stored.data(), f->stored.size() - 1) != f->stored.back())
        return false;
    const Bytes &b = f->stored;
    out.pin = b[1];
    out.containers = b[2] | b[3] << 8u;
    out.files = b[4] | b[5] << 8u;
    return true;
}

bool Card::AddKey(int index, int spec, const KeyOptions &options, std::string *error,
                  Bytes *privateDer)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (!InstallKey(m_state, index, spec, options, error, privateDer))
        return false;
    if (Persist())
        return true;
    if (error)
        *error = m_saveError;
    return false;
}

bool Card::PutFile(const std::string &dir, const std::string &name, const CardFile &file)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (name.empty() || name.size() > 8 || dir.size() > 8)
        return false;
    if (!m_state.dirs.count(dir))
        m_state.dirs[dir].access = 0x3F;
    m_state.dirs[dir].files[name] = file;
    return Persist();
}

bool Card::SetPinTries(size_t index, unsigned char tries)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (index >= m_state.pins.size())
        return false;
    m_state.pins[index].tries = tries;
    return Persist();
}

size_t Card::ApduCount() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_apduCount;
}

bool Card::Save(const std::string &path, std::string *error)
{
    std::lock_guard<std::mutex> lock(m_lock);
    const std::string *target = StateFile(path, m_statePath, error);
    return target && SaveStateFile(*target, m_state, error);
}

bool Card::Load(const std::string &path, std::string *error)
{
    std::lock_guard<std::mutex> lock(m_lock);
    const std::string *source = StateFile(path, m_statePath, error);
    CardState loaded;
    if (!source || !LoadStateFile(*source, loaded, error))
        return false;
    m_state = std::move(loaded);
    ClearVolatileLocked();
    if (*source == m_statePath) {
        m_saved = m_state;
    } else if (!Persist()) {
        if (error)
            *error = m_saveError;
        return false;
    }
    return true;
}

void Card::SetFault(Fault fault, size_t param)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_fault = fault;
    m_faultParam = param;
}

Fault Card::GetFault() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_fault;
}

bool Card::CorruptFile(const std::string &dir, const std::string &name, long offset)
{
    std::lock_guard<std::mutex> lock(m_lock);
    CardFile *f = m_state.FindFile(dir, name);
    if (!f || f->stored.empty())
        return false;
    size_t at = offset < 0 ? f->stored.size() - 1 : static_cast<size_t>(offset);
    if (at >= f->stored.size())
        return false;
    f->stored[at] ^= 0xFF;
    return Persist();
}

void Card::SetOptions(const Options &options)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_options = options;
}

Options Card::GetOptions() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_options;
}

CardState Card::Snapshot() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_state;
}

bool Card::Modify(const std::function<void(CardState &)> &change)
{
    std::lock_guard<std::mutex> lock(m_lock);
    Bytes cardData = m_state.cardData;
    change(m_state);
    // a cursor into card data that changed would point anywhere
    if (m_state.cardData != cardData)
        m_cursor = Cursor{};
    return Persist();
}

unsigned Card::AuthenticatedRoles() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_roles;
}

bool Card::SessionOpen() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_sm.IsOpen();
}

std::string Card::SaveError() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_saveError;
}

} // namespace cardsim
