// The card's objects on the identity-card token in process: data objects from the
// files of "qv_p11", attribute reading with its per-entry failures, and object
// sizes.
#include "token_sim_support.h"

using namespace token_test;

namespace
{

std::vector<std::string> labels(SimToken &sim, CK_SESSION_HANDLE s)
{
    std::vector<std::string> out;
    for (CK_OBJECT_HANDLE h : sim.Find(s))
        out.push_back(sim.Text(s, h, CKA_LABEL));
    return out;
}

} // namespace

TEST(TokenDataObjects, EveryDataFileIsLoadedAndOnlyTheFirstSixteenTakeASlot)
{
    cardsim::Personalisation p;
    p.files = {
        QvP11File("data00", EncodedDataObject("zero", {0}, false)),
        QvP11File("data01", EncodedDataObject("private", {1}, true), true),
        // not an object: dropped, its slot stays taken
        QvP11File("data05", {'n', 'o', 't', ' ', 'D', 'E', 'R'}),
        QvP11File("data16", EncodedDataObject("sixteen", {16}, false)),
        QvP11File("data99", EncodedDataObject("ninety-nine", {99}, false)),
        // not data file names
        QvP11File("data7x", EncodedDataObject("7x", {7}, false)),
        QvP11File("data123", EncodedDataObject("123", {1}, false)),
        QvP11File("cont00", EncodedDataObject("cont", {2}, false)),
    };
    SimToken sim(p);
    ASSERT_TRUE(sim.Insert());
    CK_SESSION_HANDLE s = sim.Open();
    EXPECT_EQ(labels(sim, s), (std::vector<std::string>{"zero", "sixteen", "ninety-nine"}));
    EXPECT_EQ(sim.token->DataObjects().Count(), 4u) << "the private one waits for a login";
    for (unsigned n = 0; n < CP11Token_eiD::DATA_SLOTS; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(sim.token->DataSlot(n), n == 0 || n == 1 || n == 5 ? n : 0xFF);
    }
}

TEST(TokenDataObjects, AttributeEntriesFailOneByOne)
{
    cardsim::Personalisation p;
    p.files = {QvP11File("data00", EncodedDataObject("a label", {9, 8, 7}, false))};
    SimToken sim(p);
    ASSERT_TRUE(sim.Insert());
    CK_SESSION_HANDLE s = sim.Open();
    std::vector<CK_OBJECT_HANDLE> found = sim.Find(s);
    ASSERT_EQ(found.size(), 1u);
    CK_OBJECT_HANDLE object = found[0];

    EXPECT_EQ(sim.Ulong(s, object, CKA_CLASS), (CK_ULONG)CKO_DATA);
    EXPECT_EQ(sim.Attribute(s, object, CKA_TOKEN), (Bytes{1}));
    EXPECT_EQ(sim.Attribute(s, object, CKA_VALUE), (Bytes{9, 8, 7}));

    char small[2];
    CK_OBJECT_CLASS cls = 0;
    unsigned char hidden = 0xAA;
    CK_ATTRIBUTE templ[] = {{CKA_LABEL, small, sizeof(small)},
                            {CKA_CLASS, &cls, sizeof(cls)},
                            {CKA_HIDDEN, &hidden, sizeof(hidden)},
                            {CKA_MODULUS, nullptr, 0}};
    EXPECT_EQ(Rv([&] { sim.token->GetAttributeValue(s, object, templ, 4); }), CKR_BUFFER_TOO_SMALL)
        << "the first failure is the result";
    EXPECT_EQ(templ[0].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(cls, (CK_OBJECT_CLASS)CKO_DATA) << "the entries after a failure are answered";
    EXPECT_EQ(templ[1].ulValueLen, sizeof(cls));
    EXPECT_EQ(templ[2].ulValueLen, CK_UNAVAILABLE_INFORMATION) << "the object's own marks";
    EXPECT_EQ(hidden, 0xAA);
    EXPECT_EQ(templ[3].ulValueLen, CK_UNAVAILABLE_INFORMATION);

    // handle 0 is the token: an object attribute there touches nothing
    CK_ATTRIBUTE label = {CKA_LABEL, small, sizeof(small)};
    EXPECT_EQ(Rv([&] { sim.token->GetAttributeValue(s, 0, &label, 1); }),
              CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(label.ulValueLen, sizeof(small));

    struct Row {
        CK_SESSION_HANDLE session;
        CK_OBJECT_HANDLE object;
        CK_ATTRIBUTE *templ;
        CK_RV rv;
    };
    Row const rows[] = {
        {s, object, nullptr, CKR_ARGUMENTS_BAD},
        {s + 7, object, &label, CKR_SESSION_HANDLE_INVALID},
        {s, object + 100, &label, CKR_OBJECT_HANDLE_INVALID},
        {s, 0x80000001, &label, CKR_OBJECT_HANDLE_INVALID},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.object);
        EXPECT_EQ(Rv([&] { sim.token->GetAttributeValue(row.session, row.object, row.templ, 1); }),
                  row.rv);
    }

    CK_ULONG size = 1;
    sim.token->GetObjectSize(s, object, &size);
    EXPECT_GT(size, 3u);
    EXPECT_EQ(Rv([&] { sim.token->GetObjectSize(s, object, nullptr); }), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(Rv([&] { sim.token->GetObjectSize(s, object + 100, &size); }),
              CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(size, 0u);
}

TEST(TokenDataObjects, SessionObjectsAreSeenByEverySessionOfTheToken)
{
    SimToken sim;
    ASSERT_TRUE(sim.Insert());
    CK_SESSION_HANDLE a = sim.Open(), b = sim.Open();
    CP11DataObject object;
    object.SetAttribute(CKA_LABEL, "session", ~0UL);
    CK_OBJECT_HANDLE handle = 0;
    sim.token->GetSession(a)->PushObject(&object, &handle);
    EXPECT_EQ(sim.Text(b, handle, CKA_LABEL), "session");
    EXPECT_EQ(sim.Find(b), (std::vector<CK_OBJECT_HANDLE>{handle}));
}
