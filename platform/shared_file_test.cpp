#include "platform/shared_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "platform/clock.h"

namespace marl::platform {
namespace {

namespace fs = std::filesystem;

class SharedFileTest : public ::testing::Test {
  protected:
    SharedFileTest()
        : m_dir(fs::temp_directory_path() / ("shared_file_" + std::to_string(CurrentProcessId()) +
                                             "_" + std::to_string(std::random_device()()))) {
        fs::create_directories(m_dir);
    }
    ~SharedFileTest() override {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    std::string Path(const std::string& name) const { return (m_dir / name).string(); }

    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        std::string out;
        for (char c : ss.str()) {
            if (c != '\r') out += c;  // text mode on Windows
        }
        return out;
    }
    static void Put(std::FILE* f, const char* text) {
        std::fputs(text, f);
        std::fflush(f);
    }

  private:
    fs::path m_dir;
};

TEST_F(SharedFileTest, AppendKeepsAndTruncateEmpties) {
    std::string path = Path("log.txt");
    std::ofstream(path, std::ios::binary) << "old\n";
    std::FILE* a = OpenSharedFile(path, "a");
    ASSERT_NE(a, nullptr);
    Put(a, "more\n");
    std::fclose(a);
    EXPECT_EQ(Read(path), "old\nmore\n");
    std::FILE* w = OpenSharedFile(path, "w");
    ASSERT_NE(w, nullptr);
    Put(w, "new\n");
    std::fclose(w);
    EXPECT_EQ(Read(path), "new\n");
    int error = 0;
    EXPECT_EQ(OpenSharedFile(Path("missing/log.txt"), "a", &error), nullptr);
    EXPECT_EQ(error, ENOENT);  // the C runtime's number in both builds
}

// The process that rotated writes through a stream opened with "w" while the
// others append: its next line must land after theirs, not over them.
TEST_F(SharedFileTest, EveryStreamWritesAtTheEnd) {
    std::string path = Path("log.txt");
    std::FILE* rotated = OpenSharedFile(path, "w");
    ASSERT_NE(rotated, nullptr);
    Put(rotated, "first\n");
    std::FILE* other = OpenSharedFile(path, "a");
    ASSERT_NE(other, nullptr);
    Put(other, "second\n");
    Put(rotated, "third\n");
    Put(other, "fourth\n");
    std::fclose(rotated);
    std::fclose(other);
    EXPECT_EQ(Read(path), "first\nsecond\nthird\nfourth\n");
}

// Another process may rename the file away while we hold it open; the
// identities tell our stream's file from the one that now has the name.
TEST_F(SharedFileTest, OpenFileCanBeRenamedAndIdentitiesTellFilesApart) {
    std::string path = Path("log.txt");
    std::FILE* f = OpenSharedFile(path, "a");
    ASSERT_NE(f, nullptr);
    Put(f, "12345\n");
    FileIdentity stream, atPath;
    uint64_t size = 0;
    ASSERT_TRUE(IdentityOfStream(f, &stream));
    ASSERT_TRUE(IdentityOfPath(path, &atPath, &size));
    EXPECT_EQ(stream, atPath);
    EXPECT_GE(size, 6u);

    ASSERT_EQ(std::rename(path.c_str(), Path("log_0.txt").c_str()), 0);
    EXPECT_FALSE(PathExists(path));
    EXPECT_FALSE(IdentityOfPath(path, &atPath, &size));
    std::FILE* fresh = OpenSharedFile(path, "w");
    ASSERT_NE(fresh, nullptr);
    ASSERT_TRUE(IdentityOfPath(path, &atPath, &size));
    EXPECT_NE(stream, atPath);
    EXPECT_EQ(size, 0u);
    ASSERT_TRUE(IdentityOfPath(Path("log_0.txt"), &atPath, &size));
    EXPECT_EQ(stream, atPath);
    std::fclose(fresh);
    std::fclose(f);
}

// Files that hold passwords: whether created, emptied or already there, only
// the system and the administrators may open them.
TEST_F(SharedFileTest, SecretFilesAreClosedToOthers) {
    struct Case {
        const char* name;
        bool existed;
        bool opened;  // through OpenSharedFile, else MakeFileSecret
    };
    const Case cases[] = {{"created", false, true}, {"emptied", true, true}, {"made", true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = Path(std::string(c.name) + ".txt");
        if (c.existed) {
            std::ofstream(path) << "old\n";
            fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write |
                                      fs::perms::group_read | fs::perms::others_read);
        }
        int error = 0;
        if (c.opened) {
            std::FILE* f = OpenSharedFile(path, "w", &error, FileAccess::Secret);
            ASSERT_NE(f, nullptr) << error;
            std::fclose(f);
        } else {
            ASSERT_TRUE(MakeFileSecret(path, &error)) << error;
        }
#ifndef _WIN32
        EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
#endif
    }
    int error = 0;
    EXPECT_FALSE(MakeFileSecret(Path("missing.txt"), &error));
    EXPECT_EQ(error, ENOENT);
#ifdef _WIN32
    // Wine keeps no access lists (a file's list is made from its Unix mode), so
    // what is checked is the descriptor the backend applies, read back as text.
    EXPECT_EQ(SecretFileAccess(), "D:P(A;;FA;;;SY)(A;;FA;;;BA)");
#endif
}

}  // namespace
}  // namespace marl::platform
