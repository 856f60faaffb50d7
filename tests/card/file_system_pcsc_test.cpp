// The file system end to end over the real reader service: the simulated card in the
// virtual reader, the layer's APDUs through the token's callback on a PC/SC channel
// connection. Each file class written, read back, listed and deleted; the change
// counters raised here and by another application; the container map.
#include "card_file_support.h"
#include "card_pcsc_support.h"

#include "card/cmap_file.h"
#include "card/qvmd_cache.h"
#include "card/qvmd_file_io.h"
#include "card/qvmd_files.h"
#include "card/qvmd_info.h"

#include "lzh.h" // the simulator's codec

#include <gtest/gtest.h>

#include <memory>
#include <random>

namespace
{

using namespace card_test;

class FileSystemPcscTest : public PcscTest
{
  protected:
    void SetUp() override
    {
        PcscTest::SetUp();
        cardsim::CardState state;
        std::string error;
        ASSERT_TRUE(cardsim::Personalise({}, state, &error)) << error;
        for (const auto &[dir, name] :
             {std::make_pair("mscp", "cmapfile"), std::make_pair("mscp", "ksc00"),
              std::make_pair("qv_p11", "data00")}) {
            cardsim::CardFile f;
            f.access = 0x03; // reading and writing free: no PIN needed
            f.fileSize = 8192;
            state.dirs[dir].files[name] = f;
        }
        m_inserted.reset(new InsertedCard(m_ctx, state));
        ASSERT_FALSE(HasFailure());
        m_card = m_inserted->card.get();
        m_context = m_inserted->get();
        ASSERT_EQ(QVMD_CheckAppletSelection(m_context), 0u);
    }
    void TearDown() override
    {
        m_inserted.reset();
        PcscTest::TearDown();
    }

    uint32_t Read(const Bytes &dir, const Bytes &name, Bytes &out)
    {
        unsigned char *data = nullptr;
        unsigned long length = 0;
        uint32_t rv = QVMD_ReadFile(m_context, dir.data(), name.data(), &data, &length);
        out = data != nullptr ? Bytes(data, data + length) : Bytes{};
        QVMD_Free(m_context, data);
        return rv;
    }
    std::string List(const Bytes &dir)
    {
        unsigned char *names = nullptr;
        unsigned long length = 0;
        std::string all;
        if (QVMD_EnumFilesEx(m_context, dir.data(), &names, &length, 0) == 0 && names != nullptr)
            for (unsigned long at = 0; names[at] != 0; at += strlen((char *)names + at) + 1)
                all += std::string((char *)names + at) + " ";
        QVMD_Free(m_context, names);
        return all;
    }

    std::unique_ptr<InsertedCard> m_inserted;
    cardsim::Card *m_card = nullptr;
    _qv_md_card_struct *m_context = nullptr;
};

TEST_F(FileSystemPcscTest, FilesAndCountersOverTheReaderService)
{
    std::mt19937 rng(9);
    Bytes certificate(1800);
    for (auto &b : certificate)
        b = static_cast<unsigned char>(rng() % 40 + 'A'); // some, but not much, repetition
    std::string text;
    for (int i = 0; i < 300; i++)
        text += "attribute " + std::to_string(i % 29) + "\n";
    struct Row {
        const char *name;
        Bytes dir, file, data;
        bool compressed;
    } const rows[] = {
        {"plain map", MSCP, Name("cmapfile"), cardsim::CmapRecord("key", 3, 2048, 0), false},
        {"compressed certificate", MSCP, Name("ksc00"), certificate, true},
        {"compressed object of 4 KB", QV_P11, Name("data00"), Bytes(text.begin(), text.end()),
         true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(QVMD_WriteFile(m_context, row.dir.data(), row.file.data(), row.data.data(),
                                 row.data.size()),
                  0u);
        std::string dir = NameText(row.dir), file = NameText(row.file);
        Bytes stored = m_card->Snapshot().FindFile(dir, file)->stored;
        Bytes plain;
        if (row.compressed) {
            EXPECT_TRUE(cardsim::UnpackCardFile(stored, row.data.size(), plain));
        } else {
            plain.assign(stored.begin(), stored.end() - 1);
        }
        EXPECT_EQ(plain, row.data) << "the card holds what its own codec reads";
        Bytes back;
        ASSERT_EQ(Read(row.dir, row.file, back), 0u);
        EXPECT_EQ(back, row.data);
        EXPECT_NE(List(row.dir).find(file + " "), std::string::npos);
        ASSERT_EQ(QVMD_DeleteFile(m_context, row.dir.data(), row.file.data()), 0u);
        EXPECT_EQ(List(row.dir).find(file + " "), std::string::npos);
    }

    unsigned char counters[6];
    ASSERT_EQ(QVMD_OperationChangeCache(m_context, QVMD_CACHE_CONTAINERS), 0u);
    ASSERT_TRUE(m_card->BumpCounters(QVMD_CACHE_FILES));
    ASSERT_EQ(QVMD_GetCurrentCache(m_context, counters), 0u);
    EXPECT_EQ(ToHex(counters, 6), "00 00 01 00 01 00");
}

} // namespace
