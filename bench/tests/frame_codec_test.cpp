#include <gtest/gtest.h>
#include <stdexcept>

#include "frame_codec.h"

namespace qsb {
namespace {

TEST(FrameCodec, IdIsLittleEndianAndTextEndsAtNul)
{
    std::string out;
    append_frame(out, 0x01020304, std::string_view("ab\0cd", 5));
    EXPECT_EQ(out, std::string("\x04\x03\x02\x01"
                               "ab\0",
                               7));
}

TEST(FrameCodec, FramesFedByteByByteComeOutWhole)
{
    std::string bytes;
    append_frame(bytes, -7, "Ok.");
    append_frame(bytes, 70000, "");
    append_frame(bytes, 3, "getmessage: x");
    frame_decoder in;
    std::vector<frame> got;
    for (char c : bytes) {
        in.feed(&c, 1);
        for (frame f; in.next(f);)
            got.push_back(f);
    }
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].cid, -7);
    EXPECT_EQ(got[0].text, "Ok.");
    EXPECT_EQ(got[1].cid, 70000);
    EXPECT_EQ(got[1].text, "");
    EXPECT_EQ(got[2].text, "getmessage: x");
    EXPECT_EQ(in.buffered(), 0u);
}

TEST(FrameCodec, ManyFramesInOneFeedKeepTheirOrder)
{
    std::string bytes;
    for (int i = 0; i < 1000; ++i)
        append_frame(bytes, i, std::to_string(i));
    frame_decoder in;
    in.feed(bytes.data(), bytes.size() / 2);
    int next = 0;
    for (frame f; in.next(f); ++next)
        ASSERT_EQ(f.text, std::to_string(next));
    in.feed(bytes.data() + bytes.size() / 2, bytes.size() - bytes.size() / 2);
    for (frame f; in.next(f); ++next)
        ASSERT_EQ(f.cid, next);
    EXPECT_EQ(next, 1000);
}

TEST(FrameCodec, AFrameBeyondTheCapIsRefused)
{
    frame_decoder in(16);
    const std::string bytes(20, 'x');
    in.feed(bytes.data(), bytes.size());
    frame f;
    EXPECT_THROW(in.next(f), std::runtime_error);
}

TEST(FrameCodec, AFrameJustWithinTheCapIsTaken)
{
    frame_decoder in(16);
    std::string bytes;
    append_frame(bytes, 1, std::string(11, 'y')); // 4 + 11 + 1 bytes
    in.feed(bytes.data(), bytes.size());
    frame f;
    ASSERT_TRUE(in.next(f));
    EXPECT_EQ(f.text.size(), 11u);
}

} // namespace
} // namespace qsb
