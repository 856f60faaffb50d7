#include "crypto/random.h"

#include "crypto/crypto_random.h"

#include <gtest/gtest.h>

#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

using Bytes = std::vector<unsigned char>;

Bytes draw(size_t n)
{
    Bytes out(n);
    CRandom random;
    EXPECT_TRUE(random.Generate(out.data(), out.size()));
    return out;
}

TEST(Random, OutputDiffersBetweenCalls)
{
    Bytes a = draw(32), b = draw(32);
    EXPECT_NE(a, b);
    EXPECT_NE(a, Bytes(32, 0));
}

TEST(Random, LargeRequestsAreFilledWhole)
{
    // more than the generator gives per request
    Bytes big = draw(5000);
    std::set<unsigned char> values(big.begin(), big.end());
    EXPECT_GT(values.size(), 240u);
    size_t tailZeros = 0;
    for (size_t i = 4000; i < 5000; i++)
        tailZeros += big[i] == 0;
    EXPECT_LT(tailZeros, 20u);
}

TEST(Random, ArgumentEdges)
{
    CRandom random;
    EXPECT_FALSE(random.Generate(nullptr, 16));
    unsigned char one = 0x77;
    EXPECT_TRUE(random.Generate(&one, 0));
    EXPECT_EQ(one, 0x77);
}

TEST(Random, ConcurrentCallersAllGetBytes)
{
    std::vector<std::thread> threads;
    std::vector<Bytes> results(8);
    for (size_t t = 0; t < results.size(); t++)
        threads.emplace_back([&results, t] {
            for (int i = 0; i < 100; i++)
                results[t] = draw(64);
        });
    for (std::thread &t : threads)
        t.join();
    std::set<Bytes> distinct(results.begin(), results.end());
    EXPECT_EQ(distinct.size(), results.size());
}

// Freed at unload; a generator used again afterwards starts afresh and does not
// repeat the freed one's stream.
TEST(Random, FreedGeneratorIsMadeAnewOnNextUse)
{
    Bytes before = draw(32);
    crypto_random_free();
    crypto_random_free(); // nothing left to free
    Bytes after = draw(32);
    EXPECT_NE(after, before);
    EXPECT_NE(after, Bytes(32, 0));
}

// A forked child must not repeat the bytes its parent draws next.
TEST(Random, ForkedChildGetsItsOwnStream)
{
    draw(16); // seeded before the fork
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        unsigned char buf[32];
        int ok = crypto_random(nullptr, buf, sizeof(buf)) == 0;
        ok = ok && write(fds[1], buf, sizeof(buf)) == static_cast<ssize_t>(sizeof(buf));
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    Bytes parent = draw(32);
    Bytes child(32);
    ssize_t got = 0;
    while (got < 32) {
        ssize_t n = read(fds[0], child.data() + got, 32 - got);
        if (n <= 0)
            break;
        got += n;
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(got, 32);
    EXPECT_NE(parent, child);
}

} // namespace
