#include <gtest/gtest.h>

#include "platform/mapi/mapi_stream.h"

using namespace lyb::mapi;

TEST(MemoryStream, ReadsSeeksAndReportsShortReads) {
    auto* s = new CMemoryStream({1, 2, 3, 4, 5});
    uint8_t buf[8] = {};
    uint32_t got = 0;
    EXPECT_EQ(s->Read(buf, 3, &got), S_OK);
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(s->Read(buf, 8, &got), S_FALSE);
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(buf[1], 5);
    uint64_t pos = 99;
    EXPECT_EQ(s->Seek(-2, STREAM_SEEK_END, &pos), S_OK);
    EXPECT_EQ(pos, 3u);
    STATSTG st;
    EXPECT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.cbSize, 5u);
    s->Release();
}

TEST(MemoryStream, RefusesSeeksOutsideTheRange) {
    auto* s = new CMemoryStream({1, 2, 3});
    uint64_t pos = 7;
    EXPECT_EQ(s->Seek(-4, STREAM_SEEK_END, &pos), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(s->Seek(INT64_MAX, STREAM_SEEK_END, &pos), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(s->Seek(0, 7, &pos), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(pos, 7u);
    s->Release();
}
