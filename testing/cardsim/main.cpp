// cardsim: plays one simulated vOK card in a reader of the virtual PC/SC driver.
// Control commands are read from standard input, one per line; each is answered with
// a line "ok ..." or "error ...".
#include "card.h"
#include "control.h"
#include "personalise.h"
#include "vpcd_card.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <sys/stat.h>

using namespace cardsim;

namespace
{

const char kUsage[] =
    "usage: cardsim [options]\n"
    "  --state FILE          state file: loaded when it exists, else a new card is made\n"
    "                        and saved there (without it the card lives in memory only)\n"
    "  --reader N            virtual reader index (0: \"Virtual PCD 00 00\"), default 0\n"
    "  --port P              TCP port of the reader driver (overrides --reader)\n"
    "  --no-insert           start with the card removed\n"
    "  --strict-le           answer 6C nn to a case-2 command with a wrong Le\n"
    "  --second-aid-only     refuse the first application identifier\n"
    "  --card-data-piece N   largest card-data piece per reply (1..254), default 254\n"
    "new card only:\n"
    "  --applet X.Y          applet version (0.9, 1.1 or 1.2), default 1.2\n"
    "  --serial HEX          16-byte serial number\n"
    "  --atr HEX             answer to reset\n"
    "  --with-container      container 0 with keys and compressed certificates\n"
    "  --containers N        containers 0..N-1, each with both keys and certificates\n"
    "  --reverse-certificates  container NN's certificate files hold those of N-1-NN\n"
    "  --public-only-container  one more container: an exchange public key alone\n"
    "  --expired-container   one more container whose certificate has expired\n"
    "  --key-bits N          size of the container keys, default 2048\n"
    "  --larger-keys         the card lists 2560, 3072 and 4096-bit keys too\n"
    "  --unpadded-pin        the user PIN is sent unpadded (PIN type 1)\n"
    "  --challenge-pin       PIN 2: a challenge-response PIN keyed with the admin key\n"
    "  --issuer-key PEM      issuer private key that signs the card data\n"
    "control commands (standard input):\n"
    "  insert | remove | status | quit\n";

bool FileExists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

[[noreturn]] void Usage(const std::string &problem)
{
    std::fprintf(stderr, "cardsim: %s\n%s", problem.c_str(), kUsage);
    std::exit(2);
}

// The containers the options ask for: `count` full ones, then the special ones.
void Describe(Personalisation &p, int count, bool publicOnly, bool expired)
{
    if (count == 0 && (publicOnly || expired || p.certificatesReversed))
        count = p.withContainer ? 1 : 0;
    for (int i = 0; i < count; ++i) {
        ContainerSpec c;
        c.keys[0].bits = c.keys[1].bits = p.keyBits;
        c.isDefault = i == 0;
        p.containers.push_back(c);
    }
    ContainerSpec extra;
    extra.keys[1].bits = p.keyBits;
    if (publicOnly) {
        extra.keys[1].publicOnly = true;
        p.containers.push_back(extra);
        extra.keys[1].publicOnly = false;
    }
    if (expired) {
        extra.keys[1].expired = true;
        p.containers.push_back(extra);
    }
}

} // namespace

int main(int argc, char **argv)
{
    std::string statePath;
    int port = vpcd::PortOfReader(0);
    bool insert = true;
    Options options;
    Personalisation p;
    int containers = 0;
    bool publicOnly = false, expired = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                Usage(a + " needs a value");
            return argv[++i];
        };
        auto number = [&]() {
            std::string v = value();
            char *end = nullptr;
            long n = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end)
                Usage(a + " needs a number");
            return n;
        };
        if (a == "--state") {
            statePath = value();
        } else if (a == "--reader") {
            port = vpcd::PortOfReader(static_cast<int>(number()));
        } else if (a == "--port") {
            port = static_cast<int>(number());
        } else if (a == "--no-insert") {
            insert = false;
        } else if (a == "--strict-le") {
            options.strictLe = true;
        } else if (a == "--second-aid-only") {
            options.secondAidOnly = true;
        } else if (a == "--card-data-piece") {
            long n = number();
            if (n < 1 || n > 254)
                Usage("--card-data-piece must be 1..254");
            options.cardDataPiece = static_cast<size_t>(n);
        } else if (a == "--applet") {
            std::string v = value();
            if (v == "0.9")
                p.appletMajor = 0, p.appletMinor = 9;
            else if (v == "1.1")
                p.appletMajor = 1, p.appletMinor = 1;
            else if (v == "1.2")
                p.appletMajor = 1, p.appletMinor = 2;
            else
                Usage("--applet must be 0.9, 1.1 or 1.2");
        } else if (a == "--serial") {
            if (!FromHex(value(), p.serial) || p.serial.size() != 16)
                Usage("--serial needs 16 bytes in hex");
        } else if (a == "--atr") {
            if (!FromHex(value(), p.atr) || p.atr.size() < 2 || p.atr.size() > 33)
                Usage("--atr needs 2 to 33 bytes in hex");
        } else if (a == "--with-container") {
            p.withContainer = true;
        } else if (a == "--containers") {
            long n = number();
            if (n < 1 || n > 8)
                Usage("--containers must be 1..8");
            containers = static_cast<int>(n);
        } else if (a == "--reverse-certificates") {
            p.certificatesReversed = true;
        } else if (a == "--public-only-container") {
            publicOnly = true;
        } else if (a == "--expired-container") {
            expired = true;
        } else if (a == "--larger-keys") {
            p.largerKeys = true;
        } else if (a == "--unpadded-pin") {
            p.userPinPadded = false;
        } else if (a == "--challenge-pin") {
            p.challengePin = true;
        } else if (a == "--key-bits") {
            long n = number();
            if (n < 512 || n > 4096 || n % 512)
                Usage("--key-bits must be a multiple of 512 from 512 to 4096");
            p.keyBits = static_cast<int>(n);
        } else if (a == "--issuer-key") {
            p.issuerKeyPath = value();
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(kControlUsage, stdout);
            return 0;
        } else {
            Usage("unknown option " + a);
        }
    }

    Describe(p, containers, publicOnly, expired);

    CardState state;
    std::string error;
    if (!statePath.empty() && FileExists(statePath)) {
        if (!LoadStateFile(statePath, state, &error)) {
            std::fprintf(stderr, "cardsim: %s: %s\n", statePath.c_str(), error.c_str());
            return 1;
        }
    } else {
        if (!Personalise(p, state, &error)) {
            std::fprintf(stderr, "cardsim: %s\n", error.c_str());
            return 1;
        }
        if (!statePath.empty() && !SaveStateFile(statePath, state, &error)) {
            std::fprintf(stderr, "cardsim: %s\n", error.c_str());
            return 1;
        }
    }

    Card card(state, options, statePath);
    vpcd::VirtualCard link(card, port);
    if (insert && !link.Insert()) {
        std::fprintf(stderr, "cardsim: no virtual reader on port %d\n", port);
        return 1;
    }
    std::cout << "ok ready port " << port << (link.Inserted() ? " inserted" : " removed")
              << std::endl;

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream w(line);
        std::string cmd;
        if (!(w >> cmd))
            continue;
        if (cmd == "insert") {
            if (link.Inserted() || link.Insert())
                std::cout << "ok inserted" << std::endl;
            else
                std::cout << "error no virtual reader on port " << port << std::endl;
        } else if (cmd == "remove") {
            link.Remove();
            std::cout << "ok removed" << std::endl;
        } else if (cmd == "status") {
            CardState s = card.Snapshot();
            std::cout << "ok " << (link.Inserted() ? "inserted" : "removed") << " applet "
                      << int(s.appletMajor) << "." << int(s.appletMinor) << " roles "
                      << card.AuthenticatedRoles() << " serial " << ToHex(s.serial) << " session "
                      << (card.SessionOpen() ? "open" : "closed") << std::endl;
        } else if (cmd == "quit") {
            std::cout << "ok bye" << std::endl;
            break;
        } else if (!RunControl(card, line, std::cout)) {
            std::cout << "error unknown command " << cmd << std::endl;
        }
    }
    link.Remove();
    return 0;
}
