// Walks the reader list of the running pcscd (virtual reader driver) through
// a blob, the way the channel reads it.
#include "base/blob.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <winscard.h>

namespace
{

class ReaderList : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        LONG rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &m_ctx);
        ASSERT_EQ(rv, SCARD_S_SUCCESS) << pcsc_stringify_error(rv);
        m_open = true;
    }
    void TearDown() override
    {
        if (m_open)
            SCardReleaseContext(m_ctx);
    }

    // Every string of the multi-string, by MBStringFirst and MBStringNext.
    static std::vector<std::string> walk(CBlob &list)
    {
        std::vector<std::string> names;
        for (char const *name = list.MBStringFirst(); name != nullptr; name = list.MBStringNext())
            names.push_back(name);
        return names;
    }

    static void expectVirtualReaders(std::vector<std::string> const &names)
    {
        for (char const *expected : {"Virtual PCD 00 00", "Virtual PCD 00 01"})
            EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end())
                << expected << " not among " << names.size() << " readers";
    }

    SCARDCONTEXT m_ctx = 0;
    bool m_open = false;
};

} // namespace

TEST_F(ReaderList, OwnedBlobFilledBySizeQuery)
{
    DWORD len = 0;
    LONG rv = SCardListReaders(m_ctx, nullptr, nullptr, &len);
    ASSERT_EQ(rv, SCARD_S_SUCCESS) << pcsc_stringify_error(rv);
    ASSERT_GT(len, 2u);

    CBlob list;
    ASSERT_NE(list.SetSize((unsigned int)len), nullptr);
    rv = SCardListReaders(m_ctx, nullptr, reinterpret_cast<char *>(list.GetData()), &len);
    ASSERT_EQ(rv, SCARD_S_SUCCESS) << pcsc_stringify_error(rv);
    ASSERT_NE(list.CutSize((unsigned int)len), nullptr);

    std::vector<std::string> names = walk(list);
    expectVirtualReaders(names);
    // the walk ends at the empty string: as many names as NUL-separated entries
    size_t total = 1;
    for (auto const &n : names)
        total += n.size() + 1;
    EXPECT_EQ(total, (size_t)len);
}

TEST_F(ReaderList, BorrowedBufferWithoutTheFinalNul)
{
    DWORD len = 0;
    ASSERT_EQ(SCardListReaders(m_ctx, nullptr, nullptr, &len), SCARD_S_SUCCESS);
    std::vector<char> buffer(len);
    ASSERT_EQ(SCardListReaders(m_ctx, nullptr, buffer.data(), &len), SCARD_S_SUCCESS);

    // Borrow all but the closing NUL: the walk must stop at the end of the
    // data and leave the caller's buffer untouched.
    std::vector<char> before = buffer;
    CBlob list(buffer.data(), (unsigned int)len - 1, false);
    expectVirtualReaders(walk(list));
    EXPECT_EQ(buffer, before);
}
