// Win32-style critical sections and UTF-16 to UTF-8 conversion.
#include "base/linux/linux_log.h"
#include "base/win32.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

std::vector<unsigned char> bytes(char const *p, int n)
{
    return std::vector<unsigned char>(reinterpret_cast<unsigned char const *>(p),
                                      reinterpret_cast<unsigned char const *>(p) + n);
}

TEST(Win32, CriticalSectionIsRecursiveAndExcludesOtherThreads)
{
    pthread_mutex_t cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EXPECT_TRUE(TryEnterCriticalSection(&cs));
    bool other = true;
    std::thread([&] { other = TryEnterCriticalSection(&cs); }).join();
    EXPECT_FALSE(other);
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    std::thread([&] {
        other = TryEnterCriticalSection(&cs);
        if (other)
            LeaveCriticalSection(&cs);
    }).join();
    EXPECT_TRUE(other);
    DeleteCriticalSection(&cs);

    InitializeCriticalSection(nullptr);
    EnterCriticalSection(nullptr);
    LeaveCriticalSection(nullptr);
    EXPECT_FALSE(TryEnterCriticalSection(nullptr));
    DeleteCriticalSection(nullptr);
}

TEST(Win32, WideCharToMultiByte)
{
    const unsigned short text[] = {0x0041, 0x00E9, 0x20AC, 0};
    EXPECT_EQ(WideCharToMultiByte(65001, 0, text, -1, nullptr, 0, nullptr, nullptr), 7);
    char out[16];
    std::memset(out, 'x', sizeof(out));
    EXPECT_EQ(WideCharToMultiByte(0, 0, text, -1, out, 6, nullptr, nullptr), 0);
    EXPECT_EQ(WideCharToMultiByte(0, 0, text, -1, out, 7, nullptr, nullptr), 7);
    EXPECT_EQ(bytes(out, 7),
              (std::vector<unsigned char>{0x41, 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0x00}));

    // the whole destination is cleared
    std::memset(out, 'x', sizeof(out));
    EXPECT_EQ(WideCharToMultiByte(0, 0, text, 1, out, 16, nullptr, nullptr), 2);
    EXPECT_EQ(bytes(out, 16),
              std::vector<unsigned char>({0x41, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    // a zero unit inside the stated length, a 2-byte edge, a lone surrogate
    const unsigned short odd[] = {0x0000, 0x07FF, 0x0800, 0xD800};
    EXPECT_EQ(WideCharToMultiByte(0, 0, odd, 4, out, 16, nullptr, nullptr), 2 + 2 + 3 + 3 + 1);
    EXPECT_EQ(bytes(out, 11), (std::vector<unsigned char>{0xC0, 0x80, 0xDF, 0xBF, 0xE0, 0xA0, 0x80,
                                                          0xED, 0xA0, 0x80, 0x00}));

    EXPECT_EQ(WideCharToMultiByte(0, 0, text, 0, nullptr, 0, nullptr, nullptr), 1);
    std::memset(out, 'x', sizeof(out));
    EXPECT_EQ(WideCharToMultiByte(0, 0, text, 0, out, 4, nullptr, nullptr), 1);
    EXPECT_EQ(bytes(out, 4), (std::vector<unsigned char>{0, 0, 0, 0}));

    EXPECT_EQ(WideCharToMultiByte(0, 0, nullptr, -1, out, 16, nullptr, nullptr), 0);
    EXPECT_EQ(WideCharToMultiByte(0, 0, text, -2, out, 16, nullptr, nullptr), 0);
    EXPECT_EQ(WideCharToMultiByte(0, 0, text, 3, nullptr, 16, nullptr, nullptr), 0);
}

TEST(Win32, ConversionsAreDumpedToAnOpenLog)
{
    char tmpl[] = "/tmp/vok-w32-XXXXXX";
    int fd = mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    close(fd);
    hl_openlog((std::string("(0,0x100,0)file:") + tmpl).c_str());
    const unsigned short text[] = {0x0041, 0x0042, 0};
    char out[8];
    EXPECT_EQ(WideCharToMultiByte(0, 0, text, -1, out, sizeof(out), nullptr, nullptr), 3);
    closelog();
    std::ifstream in(tmpl);
    std::stringstream content;
    content << in.rdbuf();
    std::remove(tmpl);
    std::string row = "[]    \t  0000 41 00 42 00 " + std::string(36, ' ') + " A.B.\n";
    EXPECT_EQ(content.str(), row + row) << "the measuring and the writing pass";
}

} // namespace
