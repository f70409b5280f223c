// Files the user names: whole paths (long, non-ASCII), the system's reasons, and a
// replacement that leaves the older file whole until it is complete.
#include "common/FileAccess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

using namespace quellon;
namespace fs = std::filesystem;

namespace {

class FileAccess : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root = fs::path(::testing::TempDir()) / (std::string("file-access-") + info->name());
        fs::remove_all(root);
        fs::create_directories(root);
    }
    void TearDown() override { fs::remove_all(root); }

    static void Put(const fs::path& p, const std::string& text) {
        std::ofstream(p, std::ios::binary) << text;
    }
    static std::string Get(const std::string& p) {
        std::string content, reason;
        EXPECT_TRUE(ReadWholeFile(p, 1 << 20, content, reason)) << p << ": " << reason;
        return content;
    }
    std::size_t FilesIn(const fs::path& folder) const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {}));
    }

    fs::path root;
};

} // namespace

TEST_F(FileAccess, LongNonAsciiPathIsUsedWhole) {
    // Over 256 bytes in all, with characters outside any single-byte code page.
    fs::path folder = root;
    for (int i = 0; i < 4; ++i) {
        folder /= "Ölsensor-Konfiguration-äöü-日本語-" + std::to_string(i) + std::string(40, 'x');
    }
    fs::create_directories(folder);
    const std::string path = (folder / "Prüfstand ß 設定.dsc").string();
    ASSERT_GT(path.size(), 256u);
    ReplacingFile file;
    std::string reason;
    ASSERT_TRUE(file.Create(path, reason)) << reason;
    file.Write("1e:0123\n");
    ASSERT_TRUE(file.Commit(reason)) << reason;
    EXPECT_EQ(Get(path), "1e:0123\n");
    EXPECT_EQ(FilesIn(folder), 1u) << "no temporary file is left";
}

TEST_F(FileAccess, ReplacementLeavesTheOlderFileWholeUntilCommitted) {
    const fs::path target = root / "config.dsc";
    Put(target, "old\n");
    ::chmod(target.c_str(), 0640);
    {
        ReplacingFile file;
        std::string reason;
        ASSERT_TRUE(file.Create(target.string(), reason)) << reason;
        file.Write("new, half");
        EXPECT_EQ(Get(target.string()), "old\n") << "not overwritten while being written";
        EXPECT_EQ(FilesIn(root), 2u);
        // Destroyed without Commit, as when the export ends early.
    }
    EXPECT_EQ(Get(target.string()), "old\n");
    EXPECT_EQ(FilesIn(root), 1u) << "the temporary file is removed";

    ReplacingFile file;
    std::string reason;
    ASSERT_TRUE(file.Create(target.string(), reason)) << reason;
    file.Write("new\n");
    ASSERT_TRUE(file.Commit(reason)) << reason;
    EXPECT_EQ(Get(target.string()), "new\n");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "the replacement keeps the older file's mode";
    EXPECT_EQ(FilesIn(root), 1u);

    // A symbolic link stays a link; its target is replaced.
    const fs::path link = root / "link.dsc";
    fs::create_symlink(target, link);
    ASSERT_TRUE(file.Create(link.string(), reason)) << reason;
    file.Write("through the link\n");
    ASSERT_TRUE(file.Commit(reason)) << reason;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Get(target.string()), "through the link\n");
}

TEST_F(FileAccess, FailuresGiveTheSystemsReason) {
    Put(root / "plain", "x");
    Put(root / "big", std::string(1001, 'x'));
    Put(root / "limit", std::string(1000, 'x'));
    fs::create_directories(root / "folder");
    struct Case {
        fs::path path;
        bool create; // ReplacingFile::Create, else ReadWholeFile with a limit of 1000
        const char* reason;
    } cases[] = {
        {root / "missing" / "a.dsc", true, "No such file or directory"},
        {root / "plain" / "a.dsc", true, "Not a directory"},
        {root / "missing.dsc", false, "No such file or directory"},
        {root / "folder", false, "Is a directory"},
        {root / "big", false, "the file is larger than 1000 bytes"},
        {root / "limit", false, ""}, // read whole
    };
    for (const Case& c : cases) {
        std::string reason;
        if (c.create) {
            ReplacingFile file;
            EXPECT_FALSE(file.Create(c.path.string(), reason)) << c.path;
        } else {
            std::string content = "stale";
            const bool whole = *c.reason == '\0';
            EXPECT_EQ(ReadWholeFile(c.path.string(), 1000, content, reason), whole) << c.path;
            EXPECT_EQ(content.size(), whole ? 1000u : 0u);
        }
        EXPECT_EQ(reason, c.reason) << c.path;
    }
}
