// The file system against the simulated card in process: each file class written,
// read back, listed and deleted, with the card's stored bytes checked by the
// simulator's own codec; the change counters, also as another application raises
// them; the empty write by applet version; a container map round trip.
#include "card_file_support.h"
#include "card_sim_support.h"

#include "card/apdu.h"
#include "card/cmap_file.h"
#include "card/qvmd_cache.h"
#include "card/qvmd_compress.h"
#include "card/qvmd_file_io.h"
#include "card/qvmd_files.h"
#include "card/qvmd_info.h"

#include "lzh.h" // the simulator's codec

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

using namespace card_test;

namespace
{

Bytes Text(size_t lines)
{
    std::string t;
    for (size_t i = 0; i < lines; ++i)
        t += "attribute " + std::to_string(i % 23) + " of a stored object\n";
    return Bytes(t.begin(), t.end());
}

Bytes StoredForm(const Bytes &plain, bool compressed)
{
    if (compressed)
        return cardsim::PackCardFile(plain);
    Bytes s = plain;
    s.push_back(cardsim::Crc8(plain));
    return s;
}

// A selected simulated card; files are placed on it through the simulator's control.
struct Sim : SimCard {
    explicit Sim(const cardsim::Personalisation &p = {}) : SimCard(p)
    {
        EXPECT_EQ(QV_OK, QVMD_CheckAppletSelection(get()));
    }
    void Place(const Bytes &dir, const Bytes &name, unsigned char access, const Bytes &plain = {})
    {
        card->Modify([&](cardsim::CardState &s) {
            cardsim::CardFile f;
            f.access = access;
            f.fileSize = 4096;
            if (!plain.empty()) {
                f.stored = StoredForm(plain, QVMD_IsFileToCompress(dir.data(), name.data()));
                f.plainLength = static_cast<uint32_t>(plain.size());
            }
            s.dirs[NameText(dir)].files[NameText(name)] = f;
        });
    }
    const cardsim::CardFile *Stored(const Bytes &dir, const Bytes &name)
    {
        m_snapshot = card->Snapshot();
        return m_snapshot.FindFile(NameText(dir), NameText(name));
    }
    uint32_t Read(const Bytes &dir, const Bytes &name, Bytes &out)
    {
        unsigned char *data = nullptr;
        unsigned long length = 0;
        uint32_t rv = QVMD_ReadFile(get(), dir.data(), name.data(), &data, &length);
        out = data != nullptr ? Bytes(data, data + length) : Bytes{};
        QVMD_Free(get(), data);
        return rv;
    }
    uint32_t Write(const Bytes &dir, const Bytes &name, const Bytes &data)
    {
        return QVMD_WriteFile(get(), dir.data(), name.data(), data.data(), data.size());
    }
    std::set<std::string> List(const Bytes &dir, unsigned long flags = 0)
    {
        unsigned char *names = nullptr;
        unsigned long length = 0;
        std::set<std::string> out;
        if (QVMD_EnumFilesEx(get(), dir.data(), &names, &length, flags) == QV_OK && names) {
            for (unsigned long at = 0; names[at] != 0; at += strlen((char *)names + at) + 1)
                out.insert((char *)names + at);
        }
        QVMD_Free(get(), names);
        return out;
    }
    // The user PIN "123456", padded with FF to the card's 8 bytes.
    unsigned VerifyUserPin()
    {
        const unsigned char pin[8] = {'1', '2', '3', '4', '5', '6', 0xFF, 0xFF};
        QVCAAPI_RunCommand(get()->transport, CApdu(0xB0, 0x20, 0x00, 0x00).Append(pin, 8));
        return get()->transport->sw1 << 8 | get()->transport->sw2;
    }
    Bytes Counters()
    {
        Bytes c(QVMD_CACHE_RECORD);
        EXPECT_EQ(QV_OK, QVMD_GetCurrentCache(get(), c.data()));
        return c;
    }

  private:
    cardsim::CardState m_snapshot;
};

} // namespace

TEST(FileSystemSim, EachFileClassIsWrittenReadListedAndDeleted)
{
    const unsigned char FREE = 0x03, PRIVATE = 0x00;
    struct Row {
        const char *name;
        Bytes dir, file;
        unsigned char access;
        Bytes data;
        bool compressed;
        uint32_t rv; // of every operation
        bool pin = false;
    } const rows[] = {
        {"plain map", MSCP, CMAPFILE, FREE, RandomBytes(172, 1), false, QV_OK},
        {"plain, 700 bytes in three chunks", MSCP, Name("other"), FREE, RandomBytes(700, 2), false,
         QV_OK},
        {"compressed data object", QV_P11, Name("data00"), FREE, Text(200), true, QV_OK},
        {"compressed certificate", MSCP, Name("ksc00"), FREE, RandomBytes(1500, 3), true, QV_OK},
        {"compressed root list", MSCP, Name("msroots"), FREE, Text(3), true, QV_OK},
        {"private container file without the PIN", QV_P11, Name("cont01"), PRIVATE, Text(10), true,
         QV_W_SECURITY_VIOLATION},
        {"private container file with the PIN", QV_P11, Name("cont01"), PRIVATE, Text(10), true,
         QV_OK, true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Sim sim;
        Bytes old = Text(1);
        sim.Place(row.dir, row.file, row.access, old);
        if (row.pin) {
            ASSERT_EQ(0x9000u, sim.VerifyUserPin());
        }
        EXPECT_EQ(row.rv, sim.Write(row.dir, row.file, row.data));
        const cardsim::CardFile *f = sim.Stored(row.dir, row.file);
        ASSERT_NE(nullptr, f);
        Bytes expected = StoredForm(row.rv == QV_OK ? row.data : old, row.compressed);
        EXPECT_EQ(expected, f->stored) << "the card holds what its own codec reads";

        Bytes back;
        EXPECT_EQ(row.rv, sim.Read(row.dir, row.file, back));
        if (row.rv == QV_OK) {
            EXPECT_EQ(row.data, back);
            EXPECT_EQ(1u, sim.List(row.dir).count(NameText(row.file)));
        }
        EXPECT_EQ(row.rv, QVMD_DeleteFile(sim.get(), row.dir.data(), row.file.data()));
        EXPECT_EQ(row.rv == QV_OK, sim.Stored(row.dir, row.file) == nullptr);
    }
}

TEST(FileSystemSim, ListingTheRootWithTheFlagAddsTheDirectories)
{
    Sim sim;
    EXPECT_EQ((std::set<std::string>{"cardcf"}), sim.List(ROOT));
    EXPECT_EQ((std::set<std::string>{"cardcf", "mscp", "qv_p11"}), sim.List(ROOT, 1));
    unsigned char *names = nullptr;
    unsigned long length = 0;
    EXPECT_EQ(QV_E_FILE_NOT_FOUND, QVMD_EnumFiles(sim.get(), QV_P11.data(), &names, &length, 0));
    EXPECT_EQ(QV_E_DIR_NOT_FOUND,
              QVMD_EnumFiles(sim.get(), Name("none").data(), &names, &length, 0));
}

TEST(FileSystemSim, ChangeCountersAreRaisedByUsAndByAnotherApplication)
{
    Sim sim;
    EXPECT_EQ(Bytes(6, 0), sim.Counters());
    ASSERT_EQ(QV_OK, QVMD_OperationChangeCache(sim.get(), QVMD_CACHE_PIN | QVMD_CACHE_FILES));
    EXPECT_EQ((Bytes{0, 1, 0, 0, 1, 0}), sim.Counters());
    ASSERT_TRUE(sim.card->BumpCounters(QVMD_CACHE_CONTAINERS | QVMD_CACHE_FILES));
    EXPECT_EQ((Bytes{0, 1, 1, 0, 2, 0}), sim.Counters());
    EXPECT_EQ(StoredForm(Bytes{0, 1, 1, 0, 2, 0}, false), sim.Stored(ROOT, CARDCF)->stored);

    ASSERT_TRUE(sim.card->CorruptFile("", "cardcf"));
    Bytes out(6);
    EXPECT_EQ(QV_E_UNEXPECTED, QVMD_GetCurrentCache(sim.get(), out.data()));
    EXPECT_EQ(QV_E_UNEXPECTED, QVMD_OperationChangeCache(sim.get(), QVMD_CACHE_FILES));
}

TEST(FileSystemSim, AnEmptyWriteFollowsTheAppletVersion)
{
    struct Row {
        unsigned char major, minor;
        Bytes stored;
        const char *lastCommand;
    } const rows[] = {
        {0, 9, Bytes{0xC7}, "B0 A2 01 00 01 C7"},
        {1, 2, Bytes{},
         "B0 A0 01 08 17 6D 73 63 70 00 00 00 00 63 6D 61 70 66 69 6C 65 00 00 00 "
         "00 00 00 00"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(int(row.major * 10 + row.minor));
        Sim sim(Applet(row.major, row.minor));
        sim.Place(MSCP, CMAPFILE, 0x03, Text(2));
        ASSERT_EQ(QV_OK, sim.Write(MSCP, CMAPFILE, {}));
        EXPECT_EQ(row.lastCommand, ToHex(sim.transport->commands.back()));
        EXPECT_EQ(row.stored, sim.Stored(MSCP, CMAPFILE)->stored);
        Bytes back = {1};
        EXPECT_EQ(QV_OK, sim.Read(MSCP, CMAPFILE, back));
        EXPECT_TRUE(back.empty());
    }
}

TEST(FileSystemSim, TheContainerMapRoundTrips)
{
    Sim sim;
    sim.Place(MSCP, CMAPFILE, 0x03);
    Bytes map = cardsim::CmapRecord("first", 0x03, 2048, 0);
    Bytes second = cardsim::CmapRecord("second", 0x01, 0, 1024);
    map.insert(map.end(), second.begin(), second.end());
    ASSERT_EQ(QV_OK, sim.Write(MSCP, CMAPFILE, map));

    Bytes image;
    ASSERT_EQ(QV_OK, sim.Read(MSCP, CMAPFILE, image));
    ASSERT_EQ(map, image);
    unsigned char index = 0;
    EXPECT_EQ(QV_OK, QVMD_CmapFile_GetContainerIndex(image.data(), image.size(), "second", &index));
    EXPECT_EQ(1, index);
    ASSERT_EQ(QV_OK, QVMD_CmapFile_ChangeContainerDataByName(image.data(), image.size(), "second",
                                                             nullptr, QVMD_CMAP_BECAME_DEFAULT));
    ASSERT_EQ(QV_OK, sim.Write(MSCP, CMAPFILE, image));

    Bytes again;
    ASSERT_EQ(QV_OK, sim.Read(MSCP, CMAPFILE, again));
    char name[40];
    unsigned long room = sizeof name;
    EXPECT_EQ(QV_OK,
              QVMD_CmapFile_GetDefaultContainerName(again.data(), again.size(), name, &room));
    EXPECT_STREQ("second", name);
    Bytes expected = cardsim::CmapRecord("first", 0x01, 2048, 0);
    Bytes now = cardsim::CmapRecord("second", 0x03, 0, 1024);
    expected.insert(expected.end(), now.begin(), now.end());
    EXPECT_EQ(expected, again);
}

TEST(FileSystemSim, APersonalisedCertificateReadsBackAsTheCardWroteIt)
{
    cardsim::Personalisation p;
    p.withContainer = true;
    p.keyBits = 1024;
    std::vector<Bytes> certificates;
    cardsim::CardState state;
    std::string error;
    ASSERT_TRUE(cardsim::Personalise(p, state, &error, &certificates)) << error;
    Sim sim;
    sim.card->Modify([&](cardsim::CardState &s) { s = state; });

    Bytes cert;
    ASSERT_EQ(QV_OK, sim.Read(MSCP, Name("ksc00"), cert));
    EXPECT_EQ(certificates[0], cert);
    ASSERT_EQ(QV_OK, sim.Read(MSCP, Name("kxc00"), cert));
    EXPECT_EQ(certificates[1], cert);
}

TEST(FileSystemSim, FilesAndDirectoriesAreCreatedUnderTheUsersPin)
{
    Sim sim;
    const Bytes DIR = Name("tmp"), FILE = Name("data05");
    EXPECT_EQ(QV_W_SECURITY_VIOLATION, QVMD_CreateDir(sim.get(), DIR.data(), 0x3F));
    ASSERT_EQ(0x9000u, sim.VerifyUserPin());
    ASSERT_EQ(QV_OK, QVMD_CreateDir(sim.get(), DIR.data(), 0x3F));
    EXPECT_EQ(QV_ERROR_FILE_EXISTS, QVMD_CreateDir(sim.get(), DIR.data(), 0x3F));

    Bytes data = Text(40);
    ASSERT_EQ(QV_OK,
              QVMD_CreateFile(sim.get(), DIR.data(), FILE.data(), data.data(), data.size(), 0x103));
    const cardsim::CardFile *f = sim.Stored(DIR, FILE);
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(0x03, f->access);
    Bytes back;
    ASSERT_EQ(QV_OK, sim.Read(DIR, FILE, back));
    EXPECT_EQ(data, back);
    EXPECT_EQ(QV_ERROR_FILE_EXISTS,
              QVMD_CreateFile(sim.get(), DIR.data(), FILE.data(), nullptr, 0, 0x03));

    EXPECT_EQ(QV_ERROR_DIR_NOT_EMPTY, QVMD_DeleteDir(sim.get(), DIR.data()));
    ASSERT_EQ(QV_OK, QVMD_DeleteFile(sim.get(), DIR.data(), FILE.data()));
    EXPECT_EQ(QV_OK, QVMD_DeleteDir(sim.get(), DIR.data()));
    EXPECT_EQ(QV_E_INVALID_VALUE, QVMD_DeleteDir(sim.get(), nullptr));
}

TEST(FileSystemSim, AWriteRefusedMidwayLeavesTheOldContentReadable)
{
    struct Row {
        const char *name;
        Bytes dir, file, data;
    } const rows[] = {
        {"refused at its second chunk", MSCP, CMAPFILE, RandomBytes(700, 5)},
        {"refused at its only chunk", QV_P11, Name("data01"), Text(30)},
        {"the counters, in place", ROOT, CARDCF, {}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Sim sim;
        Bytes old = Text(3);
        if (row.file != CARDCF)
            sim.Place(row.dir, row.file, 0x03, old);
        else
            old = sim.Counters();
        sim.card->SetFault(cardsim::Fault::RefuseWrite);
        uint32_t rv = row.file == CARDCF ? QVMD_OperationChangeCache(sim.get(), QVMD_CACHE_FILES)
                                         : sim.Write(row.dir, row.file, row.data);
        EXPECT_EQ(QV_E_UNEXPECTED, rv);
        EXPECT_EQ(cardsim::Fault::None, sim.card->GetFault()) << "the refusal struck";
        Bytes back;
        ASSERT_EQ(QV_OK, sim.Read(row.dir, row.file, back));
        EXPECT_EQ(old, back);
    }
}
