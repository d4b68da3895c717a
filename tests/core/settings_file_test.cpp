// "telnet.conf": reading, writing and the stored texts, on a file private to this process.
#include "test_support.h"

#include "link/settings_file.h"

#include <cstring>
#include <filesystem>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;
using namespace ts;

namespace {

const char* const kValid = "IP=\"10.0.0.1\"\nPORT=\"23\"\nUSERNAME=\"root\"\nPASSWORD=\"pw\"\n";

void make_read_only(const std::string& path, bool read_only) {
#ifdef _WIN32
    _chmod(path.c_str(), read_only ? _S_IREAD : (_S_IREAD | _S_IWRITE));
#else
    chmod(path.c_str(), read_only ? 0444 : 0644);
#endif
}

class SettingsFile : public ::testing::Test {
  protected:
    void SetUp() override {
        device_record_init();
        dir_ = temp_path("settings");
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = (dir_ / "telnet.conf").string();
        settings_set_path(path_.c_str());
    }
    void TearDown() override {
        make_read_only(path_, false);
        settings_set_path("telnet.conf");
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    void put(const std::string& bytes) { write_file(path_, bytes); }
    std::string get() const { return read_file(path_); }
    void expect_fields(const char* ip, const char* port, const char* user, const char* password) {
        EXPECT_STREQ(device.ip, ip);
        EXPECT_STREQ(device.port, port);
        EXPECT_STREQ(device.username, user);
        EXPECT_STREQ(device.password, password);
    }

    // Neither call gets through: nothing read, and no temporary file left by the write.
    void expect_unusable() {
        EXPECT_FALSE(settings_read(device));
        expect_fields("", "", "", "");
        EXPECT_FALSE(settings_write("10.9.9.9", "99", "other", "other"));
        EXPECT_FALSE(fs::exists(path_ + ".tmp"));
    }

    fs::path dir_;
    std::string path_;
};

TEST_F(SettingsFile, WrittenFileHasTheExactFormatAndReadsBackWithCrOnTheCredentials) {
    ASSERT_TRUE(settings_write("192.168.13.31", "23", "admin", "vorlix"));
    EXPECT_EQ(get(),
              "IP=\"192.168.13.31\"\nPORT=\"23\"\nUSERNAME=\"admin\"\nPASSWORD=\"vorlix\"\n");
    EXPECT_TRUE(settings_read(device));
    expect_fields("192.168.13.31", "23", "admin\r", "vorlix\r");
    EXPECT_FALSE(fs::exists(path_ + ".tmp"));

    // Values at the read limits survive whole: 15, 25, 21 and 21 characters.
    ASSERT_TRUE(settings_write("255.255.255.255", "1234567890123456789012345",
                               "abcdefghijklmnopqrstu", "ABCDEFGHIJKLMNOPQRSTU"));
    EXPECT_TRUE(settings_read(device));
    expect_fields("255.255.255.255", "1234567890123456789012345", "abcdefghijklmnopqrstu\r",
                  "ABCDEFGHIJKLMNOPQRSTU\r");
}

TEST_F(SettingsFile, LongestDialogTextIsWrittenWholeAndCutOnlyWhenReadBack) {
    const char* ip = "100.100.100.100";
    const std::string port = "1234567890123456789012345678901"; // 31 characters each
    const std::string user = std::string(30, 'u') + "U";
    const std::string password = std::string(30, 'p') + "P";
    ASSERT_TRUE(settings_write(ip, port.c_str(), user.c_str(), password.c_str()));
    std::string expected = "IP=\"100.100.100.100\"\nPORT=\"" + port + "\"\nUSERNAME=\"" + user +
                           "\"\nPASSWORD=\"" + password + "\"\n";
    EXPECT_EQ(get(), expected);
    EXPECT_EQ(get().size(), 146u);
    EXPECT_TRUE(settings_read(device));
    expect_fields(ip, "1234567890123456789012345", "uuuuuuuuuuuuuuuuuuuuu\r",
                  "ppppppppppppppppppppp\r");
}

// Files written by hand, read into a fresh record.
TEST_F(SettingsFile, ReadRulesOnHandWrittenFiles) {
    struct Case {
        const char* name;
        const char* file;
        bool complete;
        const char *ip, *port, *user, *password;
    } const cases[] = {
        {"CR LF line ends read like LF",
         "IP=\"10.1.2.3\"\r\nPORT=\"2323\"\r\nUSERNAME=\"root\"\r\nPASSWORD=\"pw\"\r\n", true,
         "10.1.2.3", "2323", "root\r", "pw\r"},
        {"any order, noise between, the later line wins",
         "PASSWORD=\"pw\"\nnoise\nIP=\"10.0.0.1\"\nUSERNAME=\"root\"\nPORT=\"23\"\nIP=\"10.0.0."
         "2\"\n",
         true, "10.0.0.2", "23", "root\r", "pw\r"},
        // the rest of the line ("vwxy") is a piece of its own and matches nothing
        {"long user name cut to 21",
         "IP=\"10.0.0.1\"\nPORT=\"23\"\nUSERNAME=\"abcdefghijklmnopqrstuvwxy\"\nPASSWORD=\"pw\"\n",
         true, "10.0.0.1", "23", "abcdefghijklmnopqrstu\r", "pw\r"},
        {"lower-case keys and leading blanks ignored",
         "ip=\"10.0.0.1\"\n PORT=\"23\"\n\tUSERNAME=\"root\"\nPassword=\"pw\"\n", false, "", "", "",
         ""},
        {"unclosed quote takes the line end",
         "IP=\"10.0.0.9\nPORT=\"23\r\nUSERNAME=\"root\nPASSWORD=\"pw\"\n", true, "10.0.0.9\n",
         "23\r\n", "root\n\r", "pw\r"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device_record_init();
        put(c.file);
        EXPECT_EQ(c.complete, settings_read(device));
        expect_fields(c.ip, c.port, c.user, c.password);
    }
}

TEST_F(SettingsFile, EmptyValueMissingKeyOrNoFileKeepsTheEarlierValue) {
    put(kValid);
    ASSERT_TRUE(settings_read(device));
    put("IP=\"\"\nPORT=\"2424\"\nUSERNAME=\"admin\"\n");
    EXPECT_TRUE(settings_read(device)); // the earlier ip and password still count
    expect_fields("10.0.0.1", "2424", "admin\r", "pw\r");
    // The same file on a fresh record lacks two values.
    device_record_init();
    EXPECT_FALSE(settings_read(device));
    expect_fields("", "2424", "admin\r", "");
    // No file at all leaves every field as it was.
    fs::remove(path_);
    EXPECT_FALSE(settings_read(device));
    expect_fields("", "2424", "admin\r", "");
}

TEST_F(SettingsFile, ReadOnlyFileCountsAsNoFileAndIsNotReplaced) {
    put(kValid);
    make_read_only(path_, true);
    FILE* probe = fopen(path_.c_str(), "rb+");
    if (probe != nullptr) {
        fclose(probe);
        // Root opens it for writing anyway, natively and under Wine (which maps the
        // attribute to the file's mode bits).
        GTEST_SKIP() << "this user can open a read-only file for writing (root)";
    }
    expect_unusable();
    EXPECT_EQ(get(), kValid);
}

// Something that is there but cannot be opened for writing, whoever runs the test.
TEST_F(SettingsFile, DirectoryInThePlaceOfTheFileCountsAsNoFileAndStays) {
    fs::create_directory(path_);
    expect_unusable();
    EXPECT_TRUE(fs::is_directory(path_));
}

#ifdef _WIN32
// Another program holds the file open and denies writers: both calls fail, nothing changes.
TEST_F(SettingsFile, FileLockedAgainstWritersCountsAsNoFile) {
    put(kValid);
    HANDLE holder = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    expect_unusable();
    CloseHandle(holder);
    EXPECT_EQ(get(), kValid);
}
#endif

TEST_F(SettingsFile, FailedWriteLeavesThePreviousFileIntact) {
    ASSERT_TRUE(settings_write("10.0.0.1", "23", "root", "pw"));
    const std::string before = get();
    // A directory where the temporary file would go.
    fs::create_directory(path_ + ".tmp");
    EXPECT_FALSE(settings_write("10.9.9.9", "99", "other", "other"));
    EXPECT_EQ(get(), before);
    EXPECT_TRUE(fs::is_directory(path_ + ".tmp"));
    fs::remove(path_ + ".tmp");
    // A text longer than the writer holds is refused whole, never cut.
    const std::string huge(60, '7');
    EXPECT_FALSE(settings_write(huge.c_str(), huge.c_str(), huge.c_str(), huge.c_str()));
    EXPECT_EQ(get(), before);
    // And no file at all: a failed write does not create one.
    fs::remove(path_);
    fs::create_directory(path_ + ".tmp");
    EXPECT_FALSE(settings_write("10.0.0.1", "23", "root", "pw"));
    EXPECT_FALSE(fs::exists(path_));
}

TEST_F(SettingsFile, StripLineEndsOnlyTouchesTheFirstNCharacters) {
    char user[32] = "admin\r";
    strip_line_ends(user, strlen(user));
    EXPECT_STREQ(user, "admin");
    char untouched[32] = "\rabc";
    strip_line_ends(untouched, 0);
    EXPECT_EQ(memcmp(untouched, "\rabc", 5), 0);
    char first[32] = "\nabc";
    strip_line_ends(first, 1);
    EXPECT_EQ(memcmp(first, "\0abc", 5), 0);
    char both[32] = "ab\rc\nd\r";
    strip_line_ends(both, 5);
    EXPECT_EQ(memcmp(both, "ab\0c\0d\r", 8), 0);
}

// The worker's copy is always one whole set of settings, never half of a reread.
TEST_F(SettingsFile, SnapshotIsNeverTornByAConcurrentRead) {
    ASSERT_TRUE(settings_write("10.0.0.1", "1111", "aaaa", "aaaa"));
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread worker([&] {
        LinkSettings copy;
        while (!done.load()) {
            settings_snapshot(device, &copy);
            bool empty = copy.ip[0] == '\0';
            bool a = !strcmp(copy.ip, "10.0.0.1") && !strcmp(copy.port, "1111") &&
                     !strcmp(copy.username, "aaaa\r") && !strcmp(copy.password, "aaaa\r");
            bool b = !strcmp(copy.ip, "10.0.0.2") && !strcmp(copy.port, "2222") &&
                     !strcmp(copy.username, "bbbb\r") && !strcmp(copy.password, "bbbb\r");
            if (!empty && !a && !b) torn.fetch_add(1);
            settings_read(device); // the worker rereads too
        }
    });
    for (int i = 0; i < 60; ++i) {
        bool even = i % 2 == 0;
        EXPECT_TRUE(even ? settings_write("10.0.0.2", "2222", "bbbb", "bbbb")
                         : settings_write("10.0.0.1", "1111", "aaaa", "aaaa"));
        settings_read(device);
    }
    done.store(true);
    worker.join();
    EXPECT_EQ(torn.load(), 0);
}

} // namespace
