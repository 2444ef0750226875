// The request-call stand-in: the configured dialler with two arguments, or a
// tel: URI to the desktop's URL handler; one line on stderr when neither starts.
#include "platform/telephony/telephony.h"
#include "tests/platform/telephony/recording_dialler.h"

#include <gtest/gtest.h>

using lyb::testing::RecordingDialler;
using namespace lyb::telephony;

TEST(Telephony, StartsTheDiallerWithNumberAndNameAsTwoArguments) {
    RecordingDialler dialler;
    qputenv("LYRABELL_DIALLER", dialler.script.toUtf8());
    const QStringList calls[][2] = {
        {{"+14155551234", "Anna Maria Berg"}, {"+14155551234", "Anna Maria Berg"}},
        {{"555 1234", ""}, {"555 1234", ""}},
        {{"1; rm -rf ~", "$(name) \"q\""}, {"1; rm -rf ~", "$(name) \"q\""}},
    };
    int n = 0;
    for (const auto& c : calls) {
        EXPECT_TRUE(tapi_request_make_call(c[0][0], c[0][1]));
        const auto recorded = dialler.waitForCalls(++n);
        ASSERT_EQ(recorded.size(), n);
        EXPECT_EQ(recorded.last(), c[1]);
    }
    qunsetenv("LYRABELL_DIALLER");
}

TEST(Telephony, HandsATelUriToTheDesktopWithoutTheDialler) {
    RecordingDialler opener;  // records the URL it is given
    qunsetenv("LYRABELL_DIALLER");
    qputenv("LYRABELL_URL_OPENER", opener.script.toUtf8());
    EXPECT_TRUE(tapi_request_make_call("+1 (415) 555-1234#9", "Anna"));
    EXPECT_EQ(opener.waitForCalls(1).value(0), QStringList{"tel:+1%20(415)%20555-1234%239"});
    EXPECT_FALSE(tapi_request_make_call("", "Anna"));  // nothing to call
    EXPECT_EQ(opener.calls().size(), 1);
}

TEST(Telephony, ReportsADiallerThatCannotStartOnce) {
    qputenv("LYRABELL_DIALLER", "/no/such/dialler");
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(tapi_request_make_call("5551234", "Anna"));
    EXPECT_FALSE(tapi_request_make_call("5551234", "Anna"));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err,
              "lyrabell: cannot start the dialler /no/such/dialler (LYRABELL_DIALLER) to "
              "place a call\n");
    qunsetenv("LYRABELL_DIALLER");
}
