// Mapped reads against plain reads, and what both refuse; whole-file writes
// with and without the flush, new and replacing.
#include <sys/stat.h>

#include <optional>

#include "support/scratch.h"

namespace tplforge {
namespace {

namespace fs = std::filesystem;

TEST(FileIo, MappedFilesHoldWhatAPlainReadGetsAndRefuseTheSame) {
    const testing::ScratchDir folder;
    std::vector<std::uint8_t> big(3 * 4096 + 17);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
    testing::writeBytes(folder.path("big"), big);
    testing::writeBytes(folder.path("empty"), {});
    ASSERT_EQ(::mkfifo(folder.path("fifo").c_str(), 0600), 0);

    const struct {
        const char* name;
        std::optional<std::errc> error;
    } rows[] = {
        {"big", {}},
        {"empty", {}},
        {"missing", std::errc::no_such_file_or_directory},
        {".", std::errc::is_a_directory},
        {"fifo", std::errc::invalid_argument},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = folder.path(row.name);
        const auto read = readWholeFile(path);
        auto mapped = mapWholeFile(path);
        ASSERT_EQ(bool(read), !row.error);
        ASSERT_EQ(bool(mapped), !row.error);
        if (row.error) {
            EXPECT_TRUE(read.error() == *row.error) << read.error().message();
            EXPECT_TRUE(mapped.error() == *row.error) << mapped.error().message();
            continue;
        }
        const auto bytes = mapped->bytes();
        EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), *read);
        // A moved-from mapping is empty and the new owner keeps the bytes.
        MappedFile moved = std::move(mapped).value();
        EXPECT_TRUE(std::equal(moved.bytes().begin(), moved.bytes().end(), read->begin(), read->end()));
    }
}

TEST(FileIo, EveryFlushChoiceWritesTheWholeFileAndKeepsAReplacedFilesMode) {
    const testing::ScratchDir folder;
    for (const Flush flush : {Flush::Always, Flush::WhenReplacing}) {
        const std::string path = folder.path(flush == Flush::Always ? "always" : "replacing");
        const std::vector<std::uint8_t> first(5000, 1), second(70, 2);
        ASSERT_TRUE(writeFileAtomically(path, first, flush));
        EXPECT_EQ(readWholeFile(path).value(), first);
        fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        ASSERT_TRUE(writeFileAtomically(path, second, flush));
        EXPECT_EQ(readWholeFile(path).value(), second);
        EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        // No temporary file is left beside it.
        EXPECT_EQ(std::distance(fs::directory_iterator(folder.dir), fs::directory_iterator()),
                  flush == Flush::Always ? 1 : 2);
    }
}

}  // namespace
}  // namespace tplforge
