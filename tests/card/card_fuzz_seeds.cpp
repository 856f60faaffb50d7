// Makes the seeds of the card-command fuzzers: each seed is a play of
// fuzz/card_fuzz_plays.h written against the simulated card, so its replies are
// the card's own. Run by fuzz/seeds/card_make_seeds.sh:
//   card_fuzz_seeds <fuzz/seeds directory>
#include "card_fuzz_plays.h"

#include "card.h"
#include "personalise.h"

#include <cstdio>
#include <deque>
#include <initializer_list>
#include <string>
#include <vector>

namespace
{

using card_fuzz::Bytes;
using card_fuzz::Stream;

// A script of choices, written op by op.
struct Script {
    std::deque<unsigned char> bytes;

    Script &Op(unsigned char op, std::initializer_list<unsigned char> args = {})
    {
        bytes.push_back(op);
        bytes.insert(bytes.end(), args.begin(), args.end());
        return *this;
    }
    Script &Raw(std::initializer_list<unsigned char> more)
    {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
    Script &Add(const std::string &text)
    {
        bytes.insert(bytes.end(), text.begin(), text.end());
        return *this;
    }
    Script &Add(size_t n, unsigned char value)
    {
        bytes.insert(bytes.end(), n, value);
        return *this;
    }
    // A session at level with a fixed host challenge.
    Script &Open(unsigned char op, unsigned char level)
    {
        Op(op, {level});
        return Add(8, 0x48);
    }
    Script &Verify(unsigned char op, std::initializer_list<unsigned char> role,
                   const std::string &pin)
    {
        Op(op, role);
        bytes.push_back(static_cast<unsigned char>(pin.size()));
        return Add(pin);
    }
};

cardsim::Personalisation Card(unsigned char major, unsigned char minor)
{
    cardsim::Personalisation p;
    p.appletMajor = major;
    p.appletMinor = minor;
    p.withContainer = true;
    p.keyBits = 1024;
    p.challengePin = true; // PIN 2 of role 0x10
    return p;
}

template <typename Step>
bool Write(const std::string &path, const cardsim::Personalisation &p, const Script &script,
           Step step)
{
    cardsim::CardState state;
    std::string error;
    if (!cardsim::Personalise(p, state, &error)) {
        fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    cardsim::Card card(state);
    card.PowerOn();
    Stream in(script.bytes, [&](const Bytes &command) { return card.Apdu(command); });
    std::vector<Bytes> commands, replayed;
    in.sent = [&](const Bytes &command) { commands.push_back(command); };
    card_fuzz::Play(in, step);
    // the seed, read as the fuzzer reads it, sends the same commands
    Stream replay(in.written.data(), in.written.size());
    replay.sent = [&](const Bytes &command) { replayed.push_back(command); };
    card_fuzz::Play(replay, step);
    if (replayed != commands) {
        fprintf(stderr, "%s: the seed does not play again as written\n", path.c_str());
        return false;
    }
    FILE *f = fopen(path.c_str(), "wb");
    if (f == nullptr || fwrite(in.written.data(), 1, in.written.size(), f) != in.written.size()) {
        fprintf(stderr, "%s: cannot write\n", path.c_str());
        if (f != nullptr)
            fclose(f);
        return false;
    }
    fclose(f);
    printf("%s: %zu bytes, %lu exchanges\n", path.c_str(), in.written.size(), in.exchanges);
    return true;
}

bool AdminSeeds(const std::string &dir)
{
    using namespace card_fuzz;
    Script session;
    session.Open(ADMIN_OPEN_SESSION, 1)
        .Verify(ADMIN_VERIFY, {QVMD_ROLE_PUK}, "12345678")
        .Op(ADMIN_UPDATE_PIN_PROPERTIES, {0, 0x01, 0x02, 0x03, 5, 0x02, 0x07})
        .Op(ADMIN_SET_CARD_DATA, {0x06, 4})
        .Add("seed")
        .Op(ADMIN_SET_CARD_DATA_ONE_TAG, {0x05, 0x00, 1, 6})
        .Add("holder")
        .Op(ADMIN_UPDATE_CSP_FLAGS, {2, 0x00, 0x0B})
        .Op(ADMIN_CHANGE_CONTAINER_USER, {0, 0x02, 0x06, 3})
        .Op(ADMIN_COMPUTE_RESPONSE, {1, 0})
        .Op(ADMIN_COMPUTE_RESPONSE, {1, 1})
        .Add(24, 0x5C)
        .Op(ADMIN_ACTIVATE_PIN, {0, 0})
        .Op(ADMIN_ACTIVATE_PIN, {0, 1})
        .Op(ADMIN_FREE_CONTAINERS)
        .Op(ADMIN_FREE_MEMORY);
    Script plain;
    plain.Op(ADMIN_GET_CHALLENGE, {0x10, 8})
        .Op(ADMIN_CANCEL_CHALLENGE, {2})
        .Op(ADMIN_GET_CHALLENGE, {0x10, 8})
        .Op(ADMIN_IMPORTED_KEY_PARAM, {0x01, 0x02, 0x03})
        .Op(ADMIN_IMPORTED_KEY_PARAM, {0x01, 0x02, 0x03})
        .Op(ADMIN_UNBLOCK, {QVMD_ROLE_PUK, 0, 8})
        .Add("12345678")
        .Raw({QVMD_ROLE_USER, 0, 6})
        .Add("654321")
        .Raw({3});
    Script older;
    older.Verify(ADMIN_VERIFY, {QVMD_ROLE_USER}, "123456")
        .Op(ADMIN_FREE_CONTAINERS)
        .Op(ADMIN_FREE_MEMORY);
    return Write(dir + "/session_applet_1_2", Card(1, 2), session, AdminStep) &&
           Write(dir + "/challenge_and_unblock", Card(1, 2), plain, AdminStep) &&
           Write(dir + "/clean_up_applet_0_9", Card(0, 9), older, AdminStep);
}

bool KeysSeeds(const std::string &dir)
{
    using namespace card_fuzz;
    Script rsa;
    rsa.Verify(KEYS_VERIFY, {}, "123456")
        .Open(KEYS_OPEN_SESSION, QVMD_SM_LEVEL_RSA)
        .Op(KEYS_SIGN, {0, 0, 0, 127})
        .Op(KEYS_CLOSE)
        .Open(KEYS_OPEN_SESSION, QVMD_SM_LEVEL_RSA)
        .Op(KEYS_DECRYPT, {0, 1, 0, 127})
        .Op(KEYS_CLOSE)
        .Open(KEYS_OPEN_SESSION, QVMD_SM_LEVEL_RSA)
        .Op(KEYS_DECRYPT_ON_CARD, {0, 1, 0, 127})
        .Op(KEYS_CLOSE_CLEAR_IMPORTED);
    Script containers;
    containers
        .Verify(KEYS_VERIFY, {}, "123456")
        // container 1 kept for a 1024-bit key, the key imported into it
        .Op(KEYS_CREATE, {1, 0, 0x01, 0x04, 0x00, 1, 0x02, 0x06})
        .Add(8, 0)
        .Raw({0})
        .Open(KEYS_OPEN_SESSION, QVMD_SM_LEVEL_IMPORT)
        .Op(KEYS_IMPORT, {1, 0x11, 1, 0})
        .Op(KEYS_CLOSE_CLEAR_IMPORTED)
        .Op(KEYS_DELETE, {1})
        // a key generated on the card in container 2, exponent 01 00 01
        .Op(KEYS_CREATE, {2, 0, 0x01, 0x04, 0x00, 0, 0x02, 0x06})
        .Add(5, 0)
        .Raw({0x01, 0x00, 0x01, 1})
        .Op(KEYS_DELETE, {2});
    return Write(dir + "/sign_and_decrypt", Card(1, 2), rsa, KeysStep) &&
           Write(dir + "/create_import_delete", Card(1, 2), containers, KeysStep);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s <fuzz/seeds directory>\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    return AdminSeeds(dir + "/card_admin_fuzz") && KeysSeeds(dir + "/card_keys_fuzz") ? 0 : 1;
}
