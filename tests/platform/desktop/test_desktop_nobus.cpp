// Without a session bus: this process's own windows still work, nothing else
// is found, and nothing fails.
#include "peer.h"
#include "platform/desktop/desktop.h"

#include <gtest/gtest.h>

using namespace lyb::desktop;
using namespace lyb::desktop::test;

namespace {

TEST(DesktopWithoutBus, OwnWindowsOnlyAndNoFailure) {
    ensureApp();
    EXPECT_FALSE(busAvailable());
    int calls = 0;
    TopLevelWindow window(
        "Lonely", "test.lonely",
        [&](uint32_t, quint64, qint64) -> qint64 {
            ++calls;
            return 9;
        },
        nullptr);
    ASSERT_EQ(listWindows().size(), 1u);
    EXPECT_EQ(findWindow("Lonely"), window.handle());
    EXPECT_FALSE(findWindow("Lyrabell"));
    EXPECT_EQ(sendMessage(window.handle(), WM_USER, 0, 0), 9);
    EXPECT_EQ(broadcastMessage(registerWindowMessage("TavolinPlay"), 0, 0), 1);
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(setForegroundWindow(window.handle()));  // no raise function: nothing to do

    const WindowHandle elsewhere{"org.lyrabell.Desktop.p1", "/windows/1"};
    EXPECT_FALSE(sendMessage(elsewhere, WM_USER, 0, 0));
    EXPECT_FALSE(setForegroundWindow(elsewhere));
}

}  // namespace
