// Destroying objects through the shipped module over the real pcscd, with the
// simulated card's files, container map, keys and change counters looked at after
// each step, and what the token finds once it has read the card again.
#include "card_files.h"
#include "token_pcsc_support.h"

using namespace token_test;

namespace
{

unsigned char PIN[] = {'1', '2', '3', '4', '5', '6'};

using Shown = std::multiset<std::pair<CK_ULONG, std::string>>;

class DestroyOverPcscd : public TokenOverPcscd
{
  protected:
    void Start(cardsim::Personalisation const &p)
    {
        slot = Slot();
        Insert(p);
        ASSERT_TRUE(WaitToken(slot, true));
        s = Open();
    }
    CK_SESSION_HANDLE Open()
    {
        CK_SESSION_HANDLE h = 0;
        EXPECT_EQ(f->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &h),
                  CKR_OK);
        CK_RV rv = f->C_Login(h, CKU_USER, PIN, sizeof(PIN));
        EXPECT_TRUE(rv == CKR_OK || rv == CKR_USER_ALREADY_LOGGED_IN) << rv;
        return h;
    }
    // Every session closed and a new one opened: the token reads the card again.
    void Reload()
    {
        ASSERT_EQ(f->C_CloseAllSessions(slot), CKR_OK);
        s = Open();
    }
    // The (class, label) of every object a session finds.
    Shown Showing(CK_SESSION_HANDLE session)
    {
        Shown out;
        for (auto const &t : Contents(session))
            out.emplace(std::get<0>(t), std::get<1>(t));
        return out;
    }
    CK_OBJECT_HANDLE One(CK_OBJECT_CLASS cls, std::string const &label)
    {
        std::vector<CK_OBJECT_HANDLE> found = Find(
            s, {{CKA_CLASS, &cls, sizeof(cls)}, {CKA_LABEL, (void *)label.data(), label.size()}});
        EXPECT_EQ(found.size(), 1u) << cls << " " << label;
        return found.empty() ? 0 : found[0];
    }

    CK_SLOT_ID slot = 0;
    CK_SESSION_HANDLE s = 0;
};

} // namespace

TEST_F(DestroyOverPcscd, CertificateThenPrivateThenPublicKeyTakeTheContainerStepByStep)
{
    cardsim::Personalisation p;
    p.containers = {KeyContainer("kept", 1024, 1024), KeyContainer("single", 1024, 0)};
    Start(p);
    cardsim::CardState start = card->Snapshot();
    cardsim::Card::Counters c0 = Counters(*card);
    Shown kept = {{CKO_CERTIFICATE, "kept"}, {CKO_PRIVATE_KEY, "kept"}, {CKO_PUBLIC_KEY, "kept"},
                  {CKO_CERTIFICATE, "kept"}, {CKO_PRIVATE_KEY, "kept"}, {CKO_PUBLIC_KEY, "kept"}};

    // the certificate: its file goes at once, the container stays
    ASSERT_EQ(f->C_DestroyObject(s, One(CKO_CERTIFICATE, "single")), CKR_OK);
    cardsim::CardState state = card->Snapshot();
    EXPECT_FALSE(HasFile(state, "mscp", "ksc01"));
    EXPECT_TRUE(HasFile(state, "mscp", "ksc00"));
    EXPECT_FALSE(HasFile(state, "qv_p11", "cont01"));
    EXPECT_EQ(MapRecord(state, 1), MapRecord(start, 1));
    EXPECT_EQ(state.keys.count({1, 0}), 1u);
    cardsim::Card::Counters c1 = Counters(*card);
    EXPECT_EQ(c1.files, c0.files + 1);
    EXPECT_EQ(c1.containers, c0.containers);
    Reload();
    Shown expected = kept;
    expected.insert({{CKO_PRIVATE_KEY, "single"}, {CKO_PUBLIC_KEY, "single"}});
    EXPECT_EQ(Showing(s), expected);

    // the private key: hidden in the new attribute file, still on the card
    ASSERT_EQ(f->C_DestroyObject(s, One(CKO_PRIVATE_KEY, "single")), CKR_OK);
    state = card->Snapshot();
    ASSERT_TRUE(HasFile(state, "qv_p11", "cont01"));
    EXPECT_EQ(state.FindFile("qv_p11", "cont01")->access, 0x3D);
    std::vector<StoredElement> stored = ContainerFile(state, "cont01");
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].type, CONTAINER_TYPE_SIGNATURE);
    EXPECT_TRUE(stored[0].members[CKO_PRIVATE_KEY].hidden);
    EXPECT_FALSE(stored[0].members[CKO_PUBLIC_KEY].hidden);
    EXPECT_EQ(stored[0].members.count(CKO_CERTIFICATE), 0u);
    EXPECT_EQ(state.keys.count({1, 0}), 1u);
    EXPECT_TRUE(MapValid(MapRecord(state, 1)));
    cardsim::Card::Counters c2 = Counters(*card);
    EXPECT_EQ(c2.files, c1.files + 1) << "the attribute file was created";
    EXPECT_EQ(c2.containers, c1.containers);
    Reload();
    expected.erase(expected.find({CKO_PRIVATE_KEY, "single"}));
    EXPECT_EQ(Showing(s), expected);

    // the public key, the last visible member: the card container and its record go
    ASSERT_EQ(f->C_DestroyObject(s, One(CKO_PUBLIC_KEY, "single")), CKR_OK);
    state = card->Snapshot();
    EXPECT_EQ(state.keys.count({1, 0}), 0u);
    EXPECT_EQ(MapRecord(state, 1), std::vector<unsigned char>(86, 0));
    EXPECT_EQ(MapRecord(state, 0), MapRecord(start, 0));
    EXPECT_FALSE(HasFile(state, "qv_p11", "cont01"));
    EXPECT_EQ(state.keys.count({0, 0}) + state.keys.count({0, 1}), 2u);
    cardsim::Card::Counters c3 = Counters(*card);
    EXPECT_EQ(c3.containers, c2.containers + 1);
    EXPECT_EQ(c3.files, c2.files + 1);
    EXPECT_EQ(c3.pin, c0.pin);
    Reload();
    EXPECT_EQ(Showing(s), kept);
}

TEST_F(DestroyOverPcscd, ATwinWithAVisibleMemberKeepsTheContainerAndARefusedWriteChangesNothing)
{
    cardsim::Personalisation p;
    p.containers = {KeyContainer("pair", 1024, 1024)};
    p.files = {QvP11File("data00", EncodedDataObject("data", {1}, false))};
    Start(p);
    CK_SESSION_HANDLE other = Open();
    // load order: the exchange container's certificate, private and public key,
    // the signature container's, then the data object
    std::vector<CK_OBJECT_HANDLE> all = Find(other);
    ASSERT_EQ(all.size(), 7u);

    // a search of the first session runs across the destroys of the other
    CK_OBJECT_HANDLE got[8];
    CK_ULONG n = 0;
    ASSERT_EQ(f->C_FindObjectsInit(s, nullptr, 0), CKR_OK);
    ASSERT_EQ(f->C_FindObjects(s, got, 2, &n), CKR_OK);
    ASSERT_EQ(n, 2u);
    std::vector<CK_OBJECT_HANDLE> returned(got, got + n);

    for (CK_OBJECT_HANDLE h : {all[3], all[4], all[5]})
        ASSERT_EQ(f->C_DestroyObject(other, h), CKR_OK);
    cardsim::CardState state = card->Snapshot();
    EXPECT_TRUE(MapValid(MapRecord(state, 0)));
    EXPECT_EQ(state.keys.count({0, 0}), 1u) << "the empty signature container stays";
    EXPECT_EQ(state.keys.count({0, 1}), 1u);
    EXPECT_FALSE(HasFile(state, "mscp", "ksc00"));
    std::vector<StoredElement> stored = ContainerFile(state, "cont00");
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].type, CONTAINER_TYPE_SIGNATURE);
    EXPECT_TRUE(stored[0].members[CKO_PRIVATE_KEY].hidden);
    EXPECT_TRUE(stored[0].members[CKO_PUBLIC_KEY].hidden);
    EXPECT_EQ(stored[1].type, CONTAINER_TYPE_EXCHANGE);
    EXPECT_FALSE(stored[1].members[CKO_PUBLIC_KEY].hidden);

    do {
        ASSERT_EQ(f->C_FindObjects(s, got, 8, &n), CKR_OK);
        returned.insert(returned.end(), got, got + n);
    } while (n != 0);
    ASSERT_EQ(f->C_FindObjectsFinal(s), CKR_OK);
    EXPECT_EQ(returned, (std::vector<CK_OBJECT_HANDLE>{all[0], all[1], all[2], all[6]}))
        << "each remaining object once";

    // the card refuses the rewrite of the attribute file: the key stays and the
    // card is as it was
    std::string before = cardsim::SerializeState(card->Snapshot());
    card->SetFault(cardsim::Fault::RefuseWrite);
    EXPECT_EQ(f->C_DestroyObject(s, all[2]), CKR_DEVICE_ERROR);
    EXPECT_EQ(cardsim::SerializeState(card->Snapshot()), before);
    EXPECT_EQ(Find(s), (std::vector<CK_OBJECT_HANDLE>{all[0], all[1], all[2], all[6]}));

    Reload();
    EXPECT_EQ(Showing(s), (Shown{{CKO_CERTIFICATE, "pair"},
                                 {CKO_PRIVATE_KEY, "pair"},
                                 {CKO_PUBLIC_KEY, "pair"},
                                 {CKO_DATA, "data"}}));
}
