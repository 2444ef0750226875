// Threads of one process each keep a connection of their own.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/registry/registry.h"

using namespace lyb::reg;

TEST(RegistryThreads, ThreadsWritingAtOnceLoseNothing) {
    constexpr int kThreads = 4;
    constexpr int kEach = 200;
    std::atomic<int> refused{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &refused] {
            for (int i = 0; i < kEach; ++i) {
                const auto key =
                    Key::create(Hive::CurrentUser, QStringLiteral("Threads\\%1").arg(t));
                if (!key || !key->writeDword(QString::number(i), uint32_t(i)))
                    ++refused;
                // Reads of other threads' keys run alongside the writes.
                if (const auto other = Key::open(Hive::CurrentUser, "Threads"))
                    other->subkeys();
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(refused.load(), 0);
    for (int t = 0; t < kThreads; ++t) {
        const auto key = Key::open(Hive::CurrentUser, QStringLiteral("Threads\\%1").arg(t));
        ASSERT_TRUE(key);
        EXPECT_EQ(key->values().size(), kEach);
    }
}
