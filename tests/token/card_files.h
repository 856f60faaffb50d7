// What the simulated card holds, read from its state as the tests of the token's
// writes look at it: a file's plain contents, a container-map record, the elements
// of a container attribute file with the stored visible flag and label of each
// member, and the change counters.
#pragma once

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "asn1/asn_der.h"
#include "asn1/asn_item.h"
#include "asn1/asn_nav.h"
#include "card.h"
#include "lzh.h"
#include "objects/p11_rsa_private_key.h"
#include "objects/p11_rsa_public_key.h"
#include "objects/p11_x509_certificate.h"
#include "personalise.h"

namespace token_test
{

// A container of a new card: its name and the sizes of its signature and
// exchange keys (0: none).
inline cardsim::ContainerSpec KeyContainer(std::string const &name, int signatureBits,
                                           int exchangeBits)
{
    cardsim::ContainerSpec c;
    c.name = name;
    c.keys[0].bits = signatureBits;
    c.keys[1].bits = exchangeBits;
    return c;
}

// The plain contents of a card file, stored plainly with its CRC or compressed;
// empty when the file is absent.
inline std::vector<unsigned char> PlainFile(cardsim::CardState const &state, std::string const &dir,
                                            std::string const &name)
{
    cardsim::CardFile const *f = state.FindFile(dir, name);
    if (f == nullptr)
        return {};
    std::vector<unsigned char> const &s = f->stored;
    if (s.size() == f->plainLength + 1 && cardsim::Crc8(s.data(), f->plainLength) == s.back())
        return std::vector<unsigned char>(s.begin(), s.end() - 1);
    std::vector<unsigned char> plain;
    EXPECT_TRUE(cardsim::UnpackCardFile(s, f->plainLength, plain)) << dir << "/" << name;
    return plain;
}

inline bool HasFile(cardsim::CardState const &state, std::string const &dir,
                    std::string const &name)
{
    return state.FindFile(dir, name) != nullptr;
}

// Record index of "mscp"/"cmapfile" (86 bytes; empty past the map).
inline std::vector<unsigned char> MapRecord(cardsim::CardState const &state, size_t index)
{
    std::vector<unsigned char> map = PlainFile(state, "mscp", "cmapfile");
    if ((index + 1) * 86 > map.size())
        return {};
    return std::vector<unsigned char>(map.begin() + index * 86, map.begin() + (index + 1) * 86);
}

// A record's name (its UTF-16 characters below 128) and valid flag.
inline std::string MapName(std::vector<unsigned char> const &record)
{
    std::string name;
    for (size_t i = 0; i + 1 < 80 && i + 1 < record.size() && record[i] != 0; i += 2)
        name += (char)record[i];
    return name;
}
inline bool MapValid(std::vector<unsigned char> const &record)
{
    return record.size() == 86 && (record[80] & 1) != 0;
}

inline cardsim::Card::Counters Counters(cardsim::Card const &card)
{
    cardsim::Card::Counters c;
    EXPECT_TRUE(card.ReadCounters(c));
    return c;
}

// One element of a "contNN" file: its container type, its DER and, by class, the
// stored visible flag (as CKA_HIDDEN) and label of each member it holds.
struct StoredMember {
    bool hidden = false;
    std::string label;
    bool operator==(StoredMember const &o) const { return hidden == o.hidden && label == o.label; }
};
struct StoredElement {
    unsigned long type = 0;
    std::vector<unsigned char> der;
    std::map<CK_OBJECT_CLASS, StoredMember> members;
};

inline std::vector<StoredElement> ContainerFile(cardsim::CardState const &state,
                                                std::string const &name)
{
    std::vector<unsigned char> plain = PlainFile(state, "qv_p11", name);
    std::vector<StoredElement> out;
    if (plain.empty())
        return out;
    std::unique_ptr<_asn_t, void (*)(_asn_t *)> file(asn_read(plain.data(), plain.size(), nullptr),
                                                     asn_item_free);
    EXPECT_NE(file, nullptr);
    for (_asn_t *e = asn_get_child(file.get()); e != nullptr; e = e->next) {
        StoredElement element;
        element.type = e->tag;
        element.der.resize((size_t)asn_write(e, 0, nullptr));
        asn_write(e, 0, element.der.data());
        for (_asn_t *m = asn_get_child(e); m != nullptr; m = m->next) {
            // a member's tag is its class
            std::unique_ptr<CP11Object> object;
            if (m->tag == CKO_CERTIFICATE)
                object.reset(new CP11X509Certificate());
            else if (m->tag == CKO_PUBLIC_KEY)
                object.reset(new CP11RSAPublicKey());
            else
                object.reset(new CP11RSAPrivateKey());
            object->Decode(m, false);
            unsigned long length = 0;
            char const *label =
                static_cast<char const *>(object->FindBinaryAttribute(CKA_LABEL, &length));
            element.members[m->tag] = {object->FindByteAttribute(CKA_HIDDEN) != 0,
                                       std::string(label != nullptr ? label : "",
                                                   label != nullptr ? strnlen(label, length) : 0)};
        }
        out.push_back(element);
    }
    return out;
}

} // namespace token_test
