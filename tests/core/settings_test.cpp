// "telnet.conf" on a file of this test: the writer's format, the reader's rules, the port
// rule, saves racing reads, and on Windows a locked file and a folder named outside the
// code page.
#include "test_support.h"

#include "link/settings_file.h"

#include <algorithm>
#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;
using namespace ts;

namespace {

class SettingsFile : public ::testing::Test {
  protected:
    void SetUp() override {
        device_record_init();
        path_ = temp_path("telnet.conf");
        settings_set_path(path_.c_str());
    }
    void TearDown() override {
        settings_set_path("telnet.conf");
        fs::remove_all(path_);
    }
    template <class Settings> static std::string fields(const Settings& rec) {
        return std::string(rec.ip) + "|" + rec.port + "|" + rec.username + "|" + rec.password;
    }
    void store(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
    std::string path_;
};

TEST_F(SettingsFile, WrittenFileHasTheExactFormatAndAFailedWriteKeepsIt) {
    ASSERT_TRUE(settings_write("192.168.13.31", "23", "admin", "vorlix"));
    const std::string written =
        "IP=\"192.168.13.31\"\nPORT=\"23\"\nUSERNAME=\"admin\"\nPASSWORD=\"vorlix\"\n";
    EXPECT_EQ(read_file(path_), written);
    // A write that fails leaves the old file as it was.
    fs::create_directory(path_ + ".tmp"); // where the temporary file would go
    EXPECT_FALSE(settings_write("10.9.9.9", "99", "other", "other"));
    EXPECT_EQ(read_file(path_), written);
}

// Files written by hand, each read into a record that holds what an earlier file left.
TEST_F(SettingsFile, ReadRulesOnHandWrittenFiles) {
    const char* old = "IP=\"10.9.9.9\"\nPORT=\"99\"\nUSERNAME=\"old\"\nPASSWORD=\"old\"\n";
    const struct {
        const char* earlier; // read first; null: a fresh record
        const char* file;    // null: no file
        bool complete;
        const char* fields;
    } cases[] = {
        // CR LF, any order, noise between, the later line wins
        {nullptr,
         "PASSWORD=\"pw\"\r\nx\r\nIP=\"1.0.0.1\"\r\nUSERNAME=\"root\"\r\nPORT=\"23\"\r\nIP=\"1.0.0."
         "2\"",
         true, "1.0.0.2|23|root\r|pw\r"},
        // read in pieces of 31 characters: a long name is cut, its rest matches nothing
        {nullptr, "IP=\"1\"\nPORT=\"2\"\nUSERNAME=\"abcdefghijklmnopqrstuvwxy\"\nPASSWORD=\"pw\"\n",
         true, "1|2|abcdefghijklmnopqrstu\r|pw\r"},
        // a fresh record is complete only with all four: a key in lower case or after a blank,
        // a missing key or an empty value leaves its field empty
        {nullptr, "ip=\"1\"\nPORT=\"2\"\nUSERNAME=\"u\"\nPASSWORD=\"p\"\n", false, "|2|u\r|p\r"},
        {nullptr, "IP=\"1\"\n PORT=\"2\"\nUSERNAME=\"u\"\nPASSWORD=\"p\"\n", false, "1||u\r|p\r"},
        {nullptr, "IP=\"1\"\nPORT=\"2\"\nPASSWORD=\"p\"\n", false, "1|2||p\r"},
        {nullptr, "IP=\"1\"\nPORT=\"2\"\nUSERNAME=\"u\"\nPASSWORD=\"\"\n", false, "1|2|u\r|"},
        {nullptr, "IP=\"10.0.0.9\nPORT=\"23\r\nUSERNAME=\"root\nPASSWORD=\"pw\"\n", true,
         "10.0.0.9\n|23\r\n|root\n\r|pw\r"},
        // an empty value or a missing key keeps the earlier value, which then counts
        {old, "IP=\"\"\nPORT=\"23\"\nUSERNAME=\"root\"\nPASSWORD=\"\"\n", true,
         "10.9.9.9|23|root\r|old\r"},
        {old, "PORT=\"2424\"\n", true, "10.9.9.9|2424|old\r|old\r"},
        {old, nullptr, false, "10.9.9.9|99|old\r|old\r"},
    };
    for (const auto& c : cases) {
        device_record_init();
        if (c.earlier) {
            store(c.earlier);
            ASSERT_TRUE(settings_read(device));
        }
        fs::remove(path_);
        if (c.file) store(c.file);
        EXPECT_EQ(c.complete, settings_read(device)) << c.fields;
        EXPECT_EQ(c.fields, fields(device));
    }
}

// One rule for a port the viewer can connect to, as stored files hold it.
TEST(SettingsPort, OneToFiveDigitsFrom1To65535AndNothingElse) {
    const struct {
        const char* text;
        int port; // 0: refused
    } cases[] = {{"023", 23},  {"1", 1},      {"65535", 65535}, {"0", 0},
                 {"65536", 0}, {"000023", 0}, {"23 ", 0},       {"+23", 0}};
    for (const auto& c : cases) {
        int port = -1;
        EXPECT_EQ(settings_port(c.text, &port), c.port != 0) << '"' << c.text << '"';
        EXPECT_EQ(port, c.port != 0 ? c.port : -1) << '"' << c.text << '"';
    }
}

// Saves of two different sets race reads of the file (by the reader and as another program
// sees it) and copies of the record: each holds one set whole.
TEST_F(SettingsFile, ReadsWhileSavesRunSeeOneSetWhole) {
    const std::string whole[] = {
        "10.0.0.1|1111|aaaa\r|aaaa\r", "10.0.0.2|2222|bbbbbb\r|bbbbbb\r",
        "IP=\"10.0.0.1\"\nPORT=\"1111\"\nUSERNAME=\"aaaa\"\nPASSWORD=\"aaaa\"\n",
        "IP=\"10.0.0.2\"\nPORT=\"2222\"\nUSERNAME=\"bbbbbb\"\nPASSWORD=\"bbbbbb\"\n"};
    ASSERT_TRUE(settings_write("10.0.0.1", "1111", "aaaa", "aaaa"));
    ASSERT_TRUE(settings_read(device));
    std::atomic<bool> saving{true};
    std::thread dialog([&] { // saves, then reads back into the record, as "Connect" does
        for (int i = 0; i < 60; ++i) {
            EXPECT_TRUE(i % 2 ? settings_write("10.0.0.1", "1111", "aaaa", "aaaa")
                              : settings_write("10.0.0.2", "2222", "bbbbbb", "bbbbbb"));
            settings_read(device);
        }
        saving = false;
    });
    std::string broken; // the first text seen that holds neither set whole
    while (saving && broken.empty()) {
        DeviceRecord read{};
        settings_read(read);
        LinkSettings copy;
        settings_snapshot(device, &copy);
        for (const std::string& seen : {fields(read), fields(copy), read_file(path_)})
            if (std::find(whole, whole + 4, seen) == whole + 4) broken = seen;
    }
    dialog.join();
    EXPECT_EQ(broken, "");
}

#ifdef _WIN32
// Another program holds the file open without sharing: reads fail and keep the fields,
// saves fail and keep the file; once it lets go both work again.
TEST_F(SettingsFile, AFileLockedByAnotherProgramIsNeitherReadNorReplaced) {
    ASSERT_TRUE(settings_write("10.0.0.1", "23", "admin", "pw"));
    ASSERT_TRUE(settings_read(device));
    HANDLE lock = CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(settings_write("10.0.0.2", "24", "other", "other"));
    snprintf(device.port, sizeof device.port, "7");
    EXPECT_FALSE(settings_read(device));
    EXPECT_EQ(fields(device), "10.0.0.1|7|admin\r|pw\r");
    CloseHandle(lock);
    EXPECT_TRUE(settings_read(device)); // the file as it was

    EXPECT_EQ(fields(device), "10.0.0.1|23|admin\r|pw\r");
}

// A start folder whose name the ANSI code page cannot spell, as a profile named in Cyrillic
// on an English Windows gives: the viewer's start there still reads and writes its file.
TEST_F(SettingsFile, AStartFolderNamedOutsideTheCodePageKeepsItsFile) {
    const std::wstring folder =
        L"\u0418\u0432\u0430\u043d" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));
    settings_set_path("telnet.conf");
    SetCurrentDirectoryW(L".."); // the file stays the start folder's
    EXPECT_TRUE(settings_write("10.1.1.1", "23", "admin", "pw"));
    EXPECT_TRUE(settings_read(device));
    EXPECT_EQ(fields(device), "10.1.1.1|23|admin\r|pw\r");
    EXPECT_TRUE(DeleteFileW((folder + L"\\telnet.conf").c_str()));
    EXPECT_TRUE(RemoveDirectoryW(folder.c_str()));
}
#endif

} // namespace
