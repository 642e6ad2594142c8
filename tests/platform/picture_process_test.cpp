// The reader-process client against fake_picture_reader, which answers well or
// badly as the file name asks: every answer either becomes the exact picture or
// a named failure, within the time limit, and no reader is left behind.
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "picture_reader/picture_reader.h"

namespace tplforge {
namespace {

using namespace std::chrono_literals;

PictureReader fake(std::chrono::milliseconds limit = 5s) { return {FAKE_PICTURE_READER, limit}; }

// No child of this test is still running or waiting to be reaped.
bool noReaderLeft() { return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

// The backdrop asked for reaches the reader, whose answer for the surface is opaque.
TEST(PictureProcess, WholeAnswersArrivePixelForPixel) {
    for (const auto& [name, width, height, backdrop] : {std::tuple{"ok-3x2.bmp", 3u, 2u, Backdrop::keepAlpha()},
                                                        {"ok-2x3.gif", 2u, 3u, Backdrop::over(0xF0F0F0)},
                                                        {"ok-8192x8192.bmp", 8192u, 8192u, Backdrop::keepAlpha()}}) {
        // 256 MiB through a pipe takes seconds on a busy machine; the largest allowed.
        const auto picture = readPictureInProcess(name, backdrop, fake(60s));
        ASSERT_TRUE(picture.ok()) << name << ": " << picture.error().detail;
        ASSERT_EQ(std::pair(picture->width, picture->height), std::pair(width, height));
        for (std::size_t i = 0; i < std::size_t{width} * height; i += width < 8 ? 1 : 4099) {
            const std::uint8_t* p = &picture->rgba[4 * i];
            ASSERT_EQ(p[0] | p[1] << 8 | p[2] << 16, static_cast<int>(i & 0xFFFFFF)) << name << " pixel " << i;
            const int alpha = backdrop == Backdrop::over(0xF0F0F0) ? 255 : static_cast<std::uint8_t>(255 - i);
            ASSERT_EQ(p[3], alpha) << name << " pixel " << i;
        }
    }
    EXPECT_TRUE(noReaderLeft());
}

// Each row: the misbehaviour, the error it must give, and a piece of the
// English detail the command line prints.
TEST(PictureProcess, NamesEveryWayAnAnswerFails) {
    using enum PictureError;
    const std::tuple<const char*, PictureError, const char*> rows[] = {
        {"refuse-1.bmp", CannotOpen, ""},
        {"refuse-2.bmp", NotAPicture, ""},
        {"refuse-3.bmp", Corrupt, ""},
        {"refuse-4.bmp", TooLarge, ""},
        {"refuse-9.bmp", ReaderFailed, "does not start with a picture header"},
        {"short.bmp", ReaderFailed, "ended after 10 bytes of the header"},
        {"cut.bmp", ReaderFailed, "ended after 20 of 64 pixel bytes"},
        {"garbage.bmp", ReaderFailed, "does not start with a picture header"},
        {"huge.bmp", ReaderFailed, "size of 100000 x 100000 pixels"},
        {"extra.bmp", ReaderFailed, "runs on past the picture"},
        {"exit-3.bmp", ReaderFailed, "exited with status 3"},
        {"abort.bmp", ReaderFailed, "crashed (signal 6"},
        {"abort-late.bmp", ReaderFailed, "crashed (signal 6"},
        {"kill.bmp", ReaderFailed, "crashed (signal 9"},
        {"unknown.bmp", ReaderFailed, "exited with status 3"},
    };
    for (const auto& [name, error, detail] : rows) {
        const auto picture = readPictureInProcess(name, Backdrop::keepAlpha(), fake());
        ASSERT_FALSE(picture.ok()) << name;
        EXPECT_EQ(picture.error().error, error) << name;
        EXPECT_NE(picture.error().detail.find(detail), std::string::npos) << name << ": " << picture.error().detail;
    }
    EXPECT_TRUE(noReaderLeft());
}

// A reader that stops answering, early or after its last byte, is killed at the
// limit, not waited for.
TEST(PictureProcess, StopsAReaderThatHangs) {
    for (const char* name : {"hang.jpg", "hang-late.jpg"}) {
        const auto start = std::chrono::steady_clock::now();
        const auto picture = readPictureInProcess(name, Backdrop::over(0xF0F0F0), fake(300ms));
        const auto took = std::chrono::steady_clock::now() - start;
        ASSERT_FALSE(picture.ok()) << name;
        EXPECT_EQ(picture.error().error, PictureError::ReaderTimedOut) << name;
        EXPECT_EQ(picture.error().detail, "stopped after 0.3 s");
        EXPECT_GE(took, 300ms);
        EXPECT_LT(took, 3s) << name;
    }
    EXPECT_TRUE(noReaderLeft());
}

TEST(PictureProcess, FindsTheReaderItIsToldOfOrSaysItIsMissing) {
    ASSERT_EQ(::setenv(kPictureProgramVariable, FAKE_PICTURE_READER, 1), 0);
    EXPECT_EQ(findPictureProgram(), FAKE_PICTURE_READER);
    EXPECT_TRUE(readPictureInProcess("ok-1x1.bmp", Backdrop::keepAlpha()).ok());
    ::unsetenv(kPictureProgramVariable);

    const auto missing = readPictureInProcess("ok-1x1.bmp", Backdrop::keepAlpha(), {"/nonexistent/reader", 1s});
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().error, PictureError::ReaderMissing);
    EXPECT_NE(missing.error().detail.find("/nonexistent/reader"), std::string::npos);
}

}  // namespace
}  // namespace tplforge
