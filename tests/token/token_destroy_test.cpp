// Destroying objects on the identity-card token and the files it writes, in process
// against the simulated card: who may destroy what, the container map record of the
// right container, the companion's stored attributes kept, a refused write that
// changes nothing, data files and their slots, and searches running meanwhile.
#include "card_files.h"
#include "token_sim_support.h"

#include <set>

using namespace token_test;

namespace
{

unsigned char PIN[] = {'1', '2', '3', '4', '5', '6'};

// The token on a card, a read-write session and the user logged in.
struct Destroying {
    explicit Destroying(cardsim::Personalisation const &p) : sim(p)
    {
        EXPECT_TRUE(sim.Insert());
        s = sim.Open(CKF_SERIAL_SESSION | CKF_RW_SESSION);
        sim.token->Login(s, CKU_USER, PIN, sizeof(PIN));
    }

    // The visible objects of a class, with a label when one is given.
    std::vector<CK_OBJECT_HANDLE> Objects(CK_OBJECT_CLASS cls, std::string const &label = "")
    {
        std::vector<CK_ATTRIBUTE> templ = {{CKA_CLASS, &cls, sizeof(cls)}};
        if (!label.empty())
            templ.push_back({CKA_LABEL, (void *)label.data(), label.size()});
        return sim.Find(s, templ);
    }
    CK_OBJECT_HANDLE One(CK_OBJECT_CLASS cls, std::string const &label = "")
    {
        std::vector<CK_OBJECT_HANDLE> found = Objects(cls, label);
        EXPECT_EQ(found.size(), 1u) << cls << " " << label;
        return found.empty() ? 0 : found[0];
    }
    CK_RV Destroy(CK_OBJECT_HANDLE h)
    {
        return Rv([&] { sim.token->DestroyObject(s, h); });
    }
    // A data object stored on the card as CreateObject stores it: with the PIN
    // presented.
    CK_RV Push(CP11DataObject &object, CK_OBJECT_HANDLE &handle)
    {
        return Rv([&] {
            CP11Token_eiD::CAuthenticatorWorker worker(sim.token->GetAuthenticator());
            sim.token->pushDataObject(&object, &handle);
        });
    }
    // Destroys the exchange public key of container 0 (the first public key), so
    // that its attribute file exists; both public keys, as they were found.
    std::vector<CK_OBJECT_HANDLE> HideExchangeKey()
    {
        std::vector<CK_OBJECT_HANDLE> keys = Objects(CKO_PUBLIC_KEY);
        EXPECT_EQ(keys.size(), 2u);
        EXPECT_EQ(keys.empty() ? CKR_GENERAL_ERROR : Destroy(keys[0]), CKR_OK);
        return keys;
    }
    // Every session closed, then a new one logged in: what the card holds now.
    void Reload()
    {
        sim.token->CloseAllSessions();
        s = sim.Open(CKF_SERIAL_SESSION | CKF_RW_SESSION);
        sim.token->Login(s, CKU_USER, PIN, sizeof(PIN));
    }

    SimToken sim;
    CK_SESSION_HANDLE s = 0;
};

// A card with one container holding both keys.
cardsim::Personalisation OnePair()
{
    cardsim::Personalisation p;
    p.containers = {KeyContainer("pair", 1024, 1024)};
    return p;
}

} // namespace

TEST(TokenDestroy, OnlyAReadWriteSessionDestroysAndTokenObjectsNeedTheUser)
{
    cardsim::Personalisation p;
    p.containers = {KeyContainer("pair", 1024, 0)};
    SimToken sim(p);
    ASSERT_TRUE(sim.Insert());
    CK_SESSION_HANDLE ro = sim.Open(CKF_SERIAL_SESSION);
    CK_SESSION_HANDLE rw = sim.Open(CKF_SERIAL_SESSION | CKF_RW_SESSION);
    CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
    std::vector<CK_OBJECT_HANDLE> certificates = sim.Find(rw, {{CKA_CLASS, &cls, sizeof(cls)}});
    ASSERT_EQ(certificates.size(), 1u);
    CK_OBJECT_HANDLE certificate = certificates[0];

    // session objects of each kind, kept by the read-write session
    auto sessionObject = [&](bool isPrivate) {
        CP11DataObject data;
        data.SetAttribute(CKA_PRIVATE, (unsigned char)(isPrivate ? 1 : 0));
        CK_OBJECT_HANDLE h = 0;
        sim.token->GetSession(rw)->PushObject(&data, &h);
        return h;
    };
    CK_OBJECT_HANDLE publicSession = sessionObject(false);
    CK_OBJECT_HANDLE privateSession = sessionObject(true);
    cardsim::CardState before = sim.card->Snapshot();

    struct Row {
        char const *what;
        CK_SESSION_HANDLE session;
        CK_OBJECT_HANDLE object;
        CK_RV rv;
    };
    Row const rows[] = {
        {"a token object from a read-only session", ro, certificate, CKR_SESSION_READ_ONLY},
        {"a session object from a read-only session", ro, publicSession, CKR_SESSION_READ_ONLY},
        {"a token object while nobody is logged in", rw, certificate, CKR_USER_NOT_LOGGED_IN},
        {"a private session object while nobody is logged in", rw, privateSession,
         CKR_USER_NOT_LOGGED_IN},
        {"no such token object", rw, certificate + 100, CKR_OBJECT_HANDLE_INVALID},
        {"no such session object", rw, 0x80000100, CKR_OBJECT_HANDLE_INVALID},
        {"no such session", rw + 9, certificate, CKR_SESSION_HANDLE_INVALID},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(Rv([&] { sim.token->DestroyObject(row.session, row.object); }), row.rv);
    }
    EXPECT_EQ(sim.card->Snapshot().dirs.at("mscp").files.size(),
              before.dirs.at("mscp").files.size());
    EXPECT_EQ(sim.Find(rw).size(), 4u) << "certificate, public key and the two session objects";

    // a public session object goes in a public session, from any session of the token
    EXPECT_EQ(Rv([&] { sim.token->DestroyObject(rw, publicSession); }), CKR_OK);
    sim.token->Login(rw, CKU_USER, PIN, sizeof(PIN));
    EXPECT_EQ(Rv([&] { sim.token->DestroyObject(rw, privateSession); }), CKR_OK);
    EXPECT_EQ(sim.Find(rw).size(), 3u) << "certificate, public and private key";
    EXPECT_EQ(sim.channel->open, 0) << "no transaction left open";
    EXPECT_EQ(sim.card->AuthenticatedRoles(), 0u) << "the card is not left authenticated";
}

TEST(TokenDestroy, TheMapRecordClearedIsTheContainersOwnEvenWhenNamesAreShared)
{
    // two key pairs made in the same second share a name
    cardsim::Personalisation p;
    p.containers = {KeyContainer("same second", 1024, 0), KeyContainer("same second", 1024, 0)};
    Destroying d(p);
    std::vector<unsigned char> first = MapRecord(d.sim.card->Snapshot(), 0);
    ASSERT_TRUE(MapValid(first));
    ASSERT_EQ(MapName(first), "same second");
    // the second container's objects: the last certificate and keys in load order
    std::vector<CK_OBJECT_HANDLE> all = d.sim.Find(d.s);
    ASSERT_EQ(all.size(), 6u);
    for (CK_OBJECT_HANDLE h : {all[3], all[4], all[5]})
        ASSERT_EQ(d.Destroy(h), CKR_OK);

    cardsim::CardState after = d.sim.card->Snapshot();
    EXPECT_EQ(MapRecord(after, 0), first) << "the first container keeps its record";
    EXPECT_FALSE(MapValid(MapRecord(after, 1)));
    EXPECT_EQ(after.keys.count({0, 0}), 1u);
    EXPECT_EQ(after.keys.count({1, 0}), 0u);
    d.Reload();
    EXPECT_EQ(d.sim.Find(d.s).size(), 3u) << "the first container as it was";
}

TEST(TokenDestroy, ACompanionNotInMemoryKeepsItsStoredAttributes)
{
    Destroying d(OnePair());
    CK_OBJECT_CLASS pub = CKO_PUBLIC_KEY;
    // the exchange public key (container 0's keys load exchange first) is hidden:
    // cont00 holds the exchange element first
    std::vector<CK_OBJECT_HANDLE> keys = d.HideExchangeKey();
    std::vector<StoredElement> stored = ContainerFile(d.sim.card->Snapshot(), "cont00");
    ASSERT_EQ(stored.size(), 2u);
    ASSERT_EQ(stored[0].type, CONTAINER_TYPE_EXCHANGE);
    EXPECT_TRUE(stored[0].members[CKO_PUBLIC_KEY].hidden);
    EXPECT_FALSE(stored[1].members[CKO_PUBLIC_KEY].hidden);

    // the exchange certificate file is damaged: the token leaves that container out
    cardsim::CardFile kxc = *d.sim.card->Snapshot().FindFile("mscp", "kxc00");
    ASSERT_TRUE(d.sim.card->CorruptFile("mscp", "kxc00"));
    d.Reload();
    ASSERT_EQ(d.sim.token->Containers().Count(), 1u);
    ASSERT_EQ(d.Destroy(d.One(pub)), CKR_OK);
    std::vector<StoredElement> rewritten = ContainerFile(d.sim.card->Snapshot(), "cont00");
    ASSERT_EQ(rewritten.size(), 2u);
    EXPECT_EQ(rewritten[0].type, CONTAINER_TYPE_SIGNATURE);
    EXPECT_TRUE(rewritten[0].members[CKO_PUBLIC_KEY].hidden);
    EXPECT_EQ(rewritten[1].der, stored[0].der) << "the exchange element as it was";

    // the signature container loses its last visible member: the card container
    // stays for the exchange key the token could not show
    CK_OBJECT_CLASS cert = CKO_CERTIFICATE, priv = CKO_PRIVATE_KEY;
    ASSERT_EQ(d.Destroy(d.One(cert)), CKR_OK);
    ASSERT_EQ(d.Destroy(d.One(priv)), CKR_OK);
    cardsim::CardState after = d.sim.card->Snapshot();
    EXPECT_TRUE(MapValid(MapRecord(after, 0)));
    EXPECT_EQ(after.keys.count({0, 1}), 1u);
    EXPECT_TRUE(HasFile(after, "qv_p11", "cont00"));

    // with its certificate file mended the exchange container comes back with
    // its public key still destroyed
    d.sim.card->PutFile("mscp", "kxc00", kxc);
    d.Reload();
    EXPECT_EQ(d.Objects(pub).size(), 0u);
    EXPECT_EQ(d.Objects(cert).size(), 1u);
    EXPECT_EQ(d.Objects(priv).size(), 1u);
}

// The token's free-memory figure follows every destroy, as a fresh start would read it.
TEST(TokenDestroy, FreeMemoryFollowsEachDestroy)
{
    Destroying d(OnePair());
    auto freeMemory = [&] {
        CK_TOKEN_INFO info{};
        d.sim.token->GetInfo(&info);
        return info.ulFreePublicMemory;
    };
    ASSERT_EQ(freeMemory(), d.sim.card->Snapshot().FreeMemory());
    // certificates first (files go at once), then the keys (the container goes last)
    for (CK_OBJECT_CLASS cls : {CKO_CERTIFICATE, CKO_PUBLIC_KEY, CKO_PRIVATE_KEY}) {
        for (CK_OBJECT_HANDLE h : d.Objects(cls)) {
            SCOPED_TRACE(cls);
            ASSERT_EQ(d.Destroy(h), CKR_OK);
            EXPECT_EQ(freeMemory(), d.sim.card->Snapshot().FreeMemory());
        }
    }
    EXPECT_FALSE(MapValid(MapRecord(d.sim.card->Snapshot(), 0))) << "the container is gone";
}

TEST(TokenDestroy, ARefusedWriteLeavesTheKeyVisibleAndTheCardAsItWas)
{
    Destroying d(OnePair());
    CK_OBJECT_CLASS pub = CKO_PUBLIC_KEY;
    std::vector<CK_OBJECT_HANDLE> keys = d.HideExchangeKey(); // cont00 exists from here on
    cardsim::CardState before = d.sim.card->Snapshot();

    d.sim.card->SetFault(cardsim::Fault::RefuseWrite);
    EXPECT_EQ(d.Destroy(keys[1]), CKR_DEVICE_ERROR);
    cardsim::CardState after = d.sim.card->Snapshot();
    EXPECT_EQ(after.FindFile("qv_p11", "cont00")->stored,
              before.FindFile("qv_p11", "cont00")->stored);
    EXPECT_EQ(after.FindFile("", "cardcf")->stored, before.FindFile("", "cardcf")->stored);
    EXPECT_EQ(d.Objects(pub), std::vector<CK_OBJECT_HANDLE>{keys[1]}) << "still visible";
    EXPECT_EQ(d.sim.Attribute(d.s, keys[1], CKA_LABEL).size(), 4u);
    EXPECT_EQ(d.sim.card->AuthenticatedRoles(), 0u);

    // the next attempt works
    EXPECT_EQ(d.Destroy(keys[1]), CKR_OK);
    EXPECT_TRUE(d.Objects(pub).empty());
    d.Reload();
    EXPECT_TRUE(d.Objects(pub).empty());
}

TEST(TokenDestroy, DataObjectsLeaveTheirFilesAndSlots)
{
    cardsim::Personalisation p;
    p.files = {QvP11File("data00", EncodedDataObject("zero", {0}, false)),
               QvP11File("data01", EncodedDataObject("one", {1}, true), true),
               QvP11File("data16", EncodedDataObject("sixteen", {16}, false)),
               QvP11File("data99", EncodedDataObject("ninety-nine", {99}, false))};
    Destroying d(p);
    struct Row {
        char const *label, *file;
        int slot; // -1: a file with no slot
    };
    Row const rows[] = {
        {"zero", "data00", 0},
        {"one", "data01", 1},
        {"sixteen", "data16", -1},
        {"ninety-nine", "data99", -1},
    };
    std::set<unsigned> taken = {0, 1};
    for (Row const &row : rows) {
        SCOPED_TRACE(row.label);
        cardsim::Card::Counters before = Counters(*d.sim.card);
        ASSERT_EQ(d.Destroy(d.One(CKO_DATA, row.label)), CKR_OK);
        cardsim::CardState after = d.sim.card->Snapshot();
        EXPECT_FALSE(HasFile(after, "qv_p11", row.file));
        EXPECT_EQ(Counters(*d.sim.card).files, before.files + 1);
        EXPECT_TRUE(d.Objects(CKO_DATA, row.label).empty());
        taken.erase((unsigned)row.slot);
        for (unsigned n = 0; n < CP11Token_eiD::DATA_SLOTS; ++n)
            EXPECT_EQ(d.sim.token->DataSlot(n), taken.count(n) != 0 ? n : 0xFF) << n;
    }
    EXPECT_EQ(d.sim.token->DataObjects().Count(), 0u);
    d.Reload();
    EXPECT_TRUE(d.sim.Find(d.s).empty());
}

TEST(TokenDestroy, ADataObjectIsWrittenToTheLowestFreeSlot)
{
    cardsim::Personalisation p;
    p.files = {QvP11File("data00", EncodedDataObject("zero", {0}, false)),
               QvP11File("data02", EncodedDataObject("two", {2}, false))};
    Destroying d(p);
    struct Row {
        bool isPrivate;
        char const *file;
        unsigned char access;
    };
    Row const rows[] = {{false, "data01", 0x3D}, {true, "data03", 0x3C}};
    for (Row const &row : rows) {
        SCOPED_TRACE(row.file);
        cardsim::Card::Counters before = Counters(*d.sim.card);
        CP11DataObject object;
        object.SetAttribute(CKA_TOKEN, (unsigned char)1);
        object.SetAttribute(CKA_PRIVATE, (unsigned char)row.isPrivate);
        object.SetAttribute(CKA_LABEL, row.file, ~0UL);
        CK_OBJECT_HANDLE h = 0;
        ASSERT_EQ(d.Push(object, h), CKR_OK);
        EXPECT_NE(h, 0u);
        cardsim::CardState after = d.sim.card->Snapshot();
        ASSERT_TRUE(HasFile(after, "qv_p11", row.file));
        EXPECT_EQ(after.FindFile("qv_p11", row.file)->access, row.access);
        EXPECT_EQ(Counters(*d.sim.card).files, before.files + 1);
        EXPECT_EQ(d.sim.token->tokenCacheSynchronize(0), 0u) << "the token follows its own write";
    }
    // the written objects load as they were written, in their slots
    d.Reload();
    for (Row const &row : rows)
        EXPECT_EQ(d.Objects(CKO_DATA, row.file).size(), 1u) << row.file;

    // with every slot taken nothing is written
    for (unsigned n = 4; n < CP11Token_eiD::DATA_SLOTS; ++n) {
        CP11DataObject object;
        object.SetAttribute(CKA_TOKEN, (unsigned char)1);
        CK_OBJECT_HANDLE h = 0;
        ASSERT_EQ(d.Push(object, h), CKR_OK);
    }
    cardsim::CardState full = d.sim.card->Snapshot();
    CP11DataObject object;
    CK_OBJECT_HANDLE h = 7;
    EXPECT_EQ(d.Push(object, h), CKR_DEVICE_MEMORY);
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(d.sim.card->Snapshot().dirs.at("qv_p11").files.size(),
              full.dirs.at("qv_p11").files.size());
    EXPECT_EQ(d.sim.card->Snapshot().FindFile("", "cardcf")->stored,
              full.FindFile("", "cardcf")->stored);
}

TEST(TokenDestroy, ASearchGoesOnAcrossDestroysTwinDeletionsAndRebuilds)
{
    cardsim::Personalisation p;
    p.containers = {KeyContainer("pair", 1024, 1024), KeyContainer("single", 1024, 0)};
    p.files = {QvP11File("data00", EncodedDataObject("data", {0}, false))};
    Destroying d(p);
    std::vector<CK_OBJECT_HANDLE> all = d.sim.Find(d.s);
    ASSERT_EQ(all.size(), 10u);
    // the exchange container of "pair" loses everything but its private key
    for (CK_OBJECT_HANDLE h : {all[0], all[2]})
        ASSERT_EQ(d.Destroy(h), CKR_OK);

    CK_OBJECT_HANDLE got[3];
    CK_ULONG n = 0;
    d.sim.token->FindObjectsInit(d.s, nullptr, 0);
    d.sim.token->FindObjects(d.s, got, 2, &n);
    ASSERT_EQ(n, 2u);
    std::vector<CK_OBJECT_HANDLE> returned(got, got + n);
    // destroyed between two calls: the signature twin's members and with the last
    // of them both containers of "pair"; then the visible list is rebuilt
    for (CK_OBJECT_HANDLE h : {all[3], all[4], all[5]})
        ASSERT_EQ(d.Destroy(h), CKR_OK);
    ASSERT_EQ(d.Destroy(all[1]), CKR_OK);
    d.sim.token->Logout(d.s);
    d.sim.token->Login(d.s, CKU_USER, PIN, sizeof(PIN));
    do {
        d.sim.token->FindObjects(d.s, got, 3, &n);
        returned.insert(returned.end(), got, got + n);
    } while (n != 0);
    d.sim.token->FindObjectsFinal(d.s);

    std::vector<CK_OBJECT_HANDLE> remaining = d.sim.Find(d.s);
    EXPECT_EQ(remaining, (std::vector<CK_OBJECT_HANDLE>{all[6], all[7], all[8], all[9]}));
    std::set<CK_OBJECT_HANDLE> unique(returned.begin(), returned.end());
    EXPECT_EQ(unique.size(), returned.size()) << "each object once";
    for (CK_OBJECT_HANDLE h : remaining)
        EXPECT_EQ(unique.count(h), 1u) << h;
    EXPECT_FALSE(MapValid(MapRecord(d.sim.card->Snapshot(), 0)));
    EXPECT_EQ(d.sim.token->Containers().Count(), 1u);
}
