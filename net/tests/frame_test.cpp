#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>
#include <thread>

#include "loopback.h"
#include "qs/net/frame.h"

namespace {

using qs::test::connected_pair;

void send_all(qs::socket& s, const std::string& bytes)
{
    s.send(bytes.data(), static_cast<int>(bytes.size()));
}

TEST(Frame, EncodesIdLittleEndianThenTextThenNul)
{
    EXPECT_EQ(qs::encode_frame(1, "ver"), std::string("\x01\0\0\0ver\0", 8));
    EXPECT_EQ(qs::encode_frame(3, "0.1"), std::string("\x03\0\0\0"
                                                      "0.1\0",
                                                      8));
    EXPECT_EQ(qs::encode_frame(0x01020304, ""), std::string("\x04\x03\x02\x01\0", 5));
    EXPECT_EQ(qs::encode_frame(-1, "a"), std::string("\xff\xff\xff\xff"
                                                     "a\0",
                                                     6));
    EXPECT_EQ(qs::encode_frame(7, std::string("ab\0cd", 5)), std::string("\x07\0\0\0ab\0", 7));
}

TEST(Frame, AppendsAfterWhatIsThereAsEncodeFrameWrites)
{
    std::string out = "x";
    qs::append_frame(out, -7, "Ok.");
    qs::append_frame(out, 0x01020304, std::string("ab\0cd", 5));
    std::string expected = "x";
    expected += qs::encode_frame(-7, "Ok.");
    expected += qs::encode_frame(0x01020304, "ab");
    EXPECT_EQ(out, expected);
}

TEST(FrameSplitter, CutsTheSameFramesWhateverSizesTheBytesArriveIn)
{
    std::string stream;
    for (int i = 0; i < 40; ++i)
        stream += qs::encode_frame(
            i - 3, std::string(static_cast<std::size_t>(i * 37 % 300), static_cast<char>('a' + i % 26)));
    for (std::size_t piece : {1u, 2u, 3u, 7u, 100u, 5000u, 100000u}) {
        qs::frame_splitter splitter(512);
        std::vector<qs::frame> got;
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            splitter.feed(stream.data() + at, std::min(piece, stream.size() - at));
            for (qs::frame f; splitter.next(f);)
                got.push_back(f);
        }
        ASSERT_EQ(got.size(), 40u) << piece;
        for (int i = 0; i < 40; ++i) {
            EXPECT_EQ(got[static_cast<std::size_t>(i)].cid, i - 3);
            EXPECT_EQ(got[static_cast<std::size_t>(i)].text.size(), static_cast<std::size_t>(i * 37 % 300));
        }
        EXPECT_FALSE(splitter.has_partial());
    }
}

TEST(FrameSplitter, KeepsAPartialFrameAndRefusesOneLongerThanTheCap)
{
    qs::frame_splitter splitter(16);
    const std::string exact = qs::encode_frame(1, std::string(11, 'x')); // 16 bytes
    splitter.feed(exact.data(), 10);
    qs::frame f;
    EXPECT_FALSE(splitter.next(f));
    EXPECT_TRUE(splitter.has_partial());
    splitter.feed(exact.data() + 10, 6);
    ASSERT_TRUE(splitter.next(f));
    EXPECT_EQ(f.text, std::string(11, 'x'));

    const std::string over = qs::encode_frame(2, std::string(12, 'y')) + qs::encode_frame(3, "z");
    splitter.feed(over.data(), over.size()); // the NUL is there, one byte past the cap
    EXPECT_THROW(splitter.next(f), qs::exception);
    qs::frame_splitter endless(16);
    endless.feed(std::string(16, 'q').data(), 16); // no NUL yet, already at the cap
    EXPECT_THROW(endless.next(f), qs::exception);
}

TEST(Frame, ReaderReassemblesFramesHoweverTheStreamIsSplit)
{
    connected_pair pair;
    std::string all_bytes;
    for (int b = 1; b <= 255; ++b)
        all_bytes.push_back(static_cast<char>(b));
    const std::string stream = qs::encode_frame(1, "ver") + qs::encode_frame(-7, "") +
                               qs::encode_frame(300, all_bytes) + qs::encode_frame(2, "Ok.");
    std::thread writer([&] {
        send_all(pair.near, stream.substr(0, 2)); // inside the id
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        send_all(pair.near, stream.substr(2, 10)); // rest of frame 1, all of frame 2, start of 3
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        for (std::size_t i = 12; i < stream.size(); i += 7) {
            send_all(pair.near, stream.substr(i, 7));
        }
    });
    qs::frame_reader reader(pair.far);
    std::vector<qs::frame> got;
    for (int i = 0; i < 4; ++i)
        got.push_back(reader.next());
    writer.join();
    EXPECT_EQ(got[0].cid, 1);
    EXPECT_EQ(got[0].text, "ver");
    EXPECT_EQ(got[1].cid, -7);
    EXPECT_EQ(got[1].text, "");
    EXPECT_EQ(got[2].cid, 300);
    EXPECT_EQ(got[2].text, all_bytes);
    EXPECT_EQ(got[3].text, "Ok.");
}

TEST(Frame, FramesUpToTheCapAreReadWholeAndLongerOnesEndTheConnection)
{
    connected_pair pair;
    const std::string biggest(qs::max_frame_size - qs::frame_overhead, 'x');
    const std::string too_big(qs::max_frame_size - qs::frame_overhead + 1, 'y');
    std::thread writer([&] {
        try {
            send_all(pair.near, qs::encode_frame(5, biggest));
            send_all(pair.near, qs::encode_frame(6, too_big));
        } catch (const qs::exception&) { // the reader stopped early
        }
    });
    qs::frame_reader reader(pair.far);
    qs::frame f = reader.next();
    EXPECT_EQ(f.cid, 5);
    EXPECT_EQ(f.text.size(), biggest.size());
    try {
        reader.next();
        ADD_FAILURE() << "an oversized frame was accepted";
    } catch (const qs::exception& e) {
        EXPECT_EQ(e.code(), 3);
    }
    pair.far.shutdown();
    writer.join();
}

TEST(Frame, ReaderEndsWithCode3WhenThePeerClosesInsideAFrame)
{
    connected_pair pair;
    send_all(pair.near, std::string("\x01\0\0\0unfinished", 14));
    pair.near.close();
    qs::frame_reader reader(pair.far);
    try {
        reader.next();
        ADD_FAILURE() << "a partial frame was returned";
    } catch (const qs::exception& e) {
        EXPECT_EQ(e.code(), 3);
    }
}

} // namespace
