// The About and configuration dialogs from their templates, driven through their controls.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <string>

#include "link/link_flags.h"
#include "link/settings_file.h"
#include "res/resource.h"
#include "shell/main_window.h"
#include "shell/tray_menu.h"
#include "shell_test_support.h"
#include "status/device_record.h"

namespace {

const char kStored[] =
    "IP=\"192.168.1.1\"\r\nPORT=\"23\"\r\nUSERNAME=\"admin\"\r\nPASSWORD=\"secret\"\r\n";

// What a dialog showed, read from inside its modal loop, and how it was then answered.
struct Seen {
    HWND dialog = nullptr;
    HWND global = nullptr;
    std::string ip, port, user, password;
    LONG password_style = 0;
    int dialogs_open = 0;
    std::string first_line;
    UINT message = WM_COMMAND; // how to close: WM_COMMAND with `button`, or WM_SYSCOMMAND
    WPARAM button = IDCANCEL;
    const char* typed_user = nullptr;
    DWORD typed_address = 0; // put into the address control when not 0
    LRESULT address_fields = -1;
    int reopen = 0; // a menu command chosen again while the dialog is open
} seen;

std::string text_of(HWND dialog, int id) {
    char text[64] = "";
    GetDlgItemTextA(dialog, id, text, sizeof(text));
    return text;
}

int count_dialogs(const char* title) {
    struct Count {
        const char* title;
        int n;
    } count = {title, 0};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            Count* c = reinterpret_cast<Count*>(context);
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            char title[64] = "";
            GetWindowTextA(window, title, sizeof(title));
            if (pid == GetCurrentProcessId() && IsWindowVisible(window) && !strcmp(title, c->title))
                ++c->n;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count.n;
}

void answer(HWND dialog) {
    if (seen.message == WM_SYSCOMMAND)
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    else if (seen.message == WM_KEYDOWN)
        PostMessageA(GetFocus(), WM_KEYDOWN, seen.button, 0);
    else
        PostMessageA(dialog, WM_COMMAND, seen.button, 0);
}

void inspect_config(void*) {
    HWND dialog = shelltest::find_dialog("Configuration Settings");
    seen.dialog = dialog;
    seen.global = config_dialog;
    // What the address control holds, by its own message.
    DWORD address = 0;
    seen.address_fields = SendDlgItemMessageA(dialog, IDC_IPADDRESS, IPM_GETADDRESS, 0,
                                              reinterpret_cast<LPARAM>(&address));
    seen.ip = std::to_string(FIRST_IPADDRESS(address)) + "." +
              std::to_string(SECOND_IPADDRESS(address)) + "." +
              std::to_string(THIRD_IPADDRESS(address)) + "." +
              std::to_string(FOURTH_IPADDRESS(address));
    if (seen.typed_address)
        SendDlgItemMessageA(dialog, IDC_IPADDRESS, IPM_SETADDRESS, 0, seen.typed_address);
    seen.port = text_of(dialog, IDC_PORT);
    seen.user = text_of(dialog, IDC_USERNAME);
    seen.password = text_of(dialog, IDC_PASSWORD);
    seen.password_style = GetWindowLongA(GetDlgItem(dialog, IDC_PASSWORD), GWL_STYLE);
    if (seen.typed_user) SetDlgItemTextA(dialog, IDC_USERNAME, seen.typed_user);
    if (seen.reopen) run_tray_command(seen.reopen);
    seen.dialogs_open = count_dialogs("Configuration Settings");
    answer(dialog);
}

void inspect_about(void*) {
    HWND dialog = shelltest::find_dialog("About");
    seen.dialog = dialog;
    seen.global = about_dialog;
    // The first text line follows the icon in the template.
    HWND icon = GetDlgItem(dialog, IDC_ABOUT_ICON);
    HWND line = GetWindow(icon, GW_HWNDNEXT);
    char text[64] = "";
    GetWindowTextA(line, text, sizeof(text));
    seen.first_line = text;
    if (seen.reopen) run_tray_command(seen.reopen);
    seen.dialogs_open = count_dialogs("About");
    answer(dialog);
}

class ShellDialogs : public ::testing::Test {
  protected:
    void SetUp() override {
        shelltest::init_shell_classes();
        owner_ = CreateWindowExA(0, "STATIC", "dialog owner", 0, 0, 0, 0, 0, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
        main_window = owner_;
        device_record_init();
        reconnect_request = 0;
        seen = Seen();
        path_ = shelltest::private_settings_path();
        FILE* file = fopen(path_.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        fputs(kStored, file);
        fclose(file);
        settings_read(device);
    }
    void TearDown() override {
        main_window = nullptr;
        DestroyWindow(owner_);
        remove(path_.c_str());
        reconnect_request = 0;
    }
    void open(int command, void (*inspect)(void*), const char* title) {
        shelltest::InLoop step(title, inspect, nullptr);
        run_tray_command(command);
        EXPECT_TRUE(step.ran());
    }
    void expect_untouched() {
        EXPECT_EQ(shelltest::read_file(path_), kStored);
        EXPECT_EQ(reconnect_request.load(), 0);
        EXPECT_EQ(config_dialog, nullptr);
    }

    HWND owner_ = nullptr;
    std::string path_;
};

TEST_F(ShellDialogs, ConfigurationShowsTheStoredValuesWithoutCrAndThePasswordMasked) {
    ASSERT_STREQ(device.username, "admin\r"); // as the reader stores it
    open(IDM_CONFIG, inspect_config, "Configuration Settings");
    EXPECT_NE(seen.dialog, nullptr);
    EXPECT_EQ(seen.global, seen.dialog);
    EXPECT_EQ(seen.address_fields, 4);
    EXPECT_EQ(seen.ip, "192.168.1.1");
    EXPECT_EQ(seen.port, "23");
    EXPECT_EQ(seen.user, "admin");
    EXPECT_EQ(seen.password, "secret");
    EXPECT_TRUE(seen.password_style & ES_PASSWORD);
    EXPECT_STREQ(device.username, "admin\r"); // the record itself is not changed
    expect_untouched();
}

TEST_F(ShellDialogs, ConnectRewritesTheFileAndReconnectsEvenUnchanged) {
    seen.button = IDOK;
    open(IDM_CONFIG, inspect_config, "Configuration Settings");
    EXPECT_EQ(shelltest::read_file(path_),
              "IP=\"192.168.1.1\"\nPORT=\"23\"\nUSERNAME=\"admin\"\nPASSWORD=\"secret\"\n");
    EXPECT_EQ(reconnect_request.load(), 1);
    EXPECT_STREQ(device.ip, "192.168.1.1");
    EXPECT_STREQ(device.username, "admin\r");
    EXPECT_EQ(config_dialog, nullptr);
}

TEST_F(ShellDialogs, ConnectSavesTheAddressAsTheControlHoldsIt) {
    seen.typed_address = MAKEIPADDRESS(10, 0, 0, 254);
    seen.button = IDOK;
    open(IDM_CONFIG, inspect_config, "Configuration Settings");
    EXPECT_EQ(shelltest::read_file(path_),
              "IP=\"10.0.0.254\"\nPORT=\"23\"\nUSERNAME=\"admin\"\nPASSWORD=\"secret\"\n");
    EXPECT_STREQ(device.ip, "10.0.0.254");
}

TEST_F(ShellDialogs, AnAddressThatIsNoDottedQuadShowsBlankFields) {
    snprintf(device.ip, sizeof(device.ip), "1.2.3.4 & calc");
    open(IDM_CONFIG, inspect_config, "Configuration Settings");
    EXPECT_EQ(seen.address_fields, 0);
    EXPECT_EQ(seen.port, "23");
    expect_untouched();
}

TEST_F(ShellDialogs, CancelEscapeAndTheCloseBoxWriteNothing) {
    seen.button = IDCANCEL;
    open(IDM_CONFIG, inspect_config, "Configuration Settings");
    expect_untouched();

    seen = Seen();
    seen.message = WM_KEYDOWN;
    seen.button = VK_ESCAPE;
    open(IDM_CONFIG, inspect_config, "Configuration Settings");
    expect_untouched();

    seen = Seen();
    seen.message = WM_SYSCOMMAND;
    open(IDM_CONFIG, inspect_config, "Configuration Settings");
    expect_untouched();
}

TEST_F(ShellDialogs, LongUserNameIsSavedWithIts31FirstCharacters) {
    std::string typed(40, 'u');
    typed.replace(30, 2, "XY"); // the 31st character is X, the 32nd Y
    seen.typed_user = typed.c_str();
    seen.button = IDOK;
    open(IDM_CONFIG, inspect_config, "Configuration Settings");
    std::string file = shelltest::read_file(path_);
    EXPECT_NE(file.find("\nUSERNAME=\"" + typed.substr(0, 31) + "\"\n"), std::string::npos) << file;
    EXPECT_EQ(reconnect_request.load(), 1);
}

TEST_F(ShellDialogs, ConfigurationOpensOnce) {
    seen.reopen = IDM_CONFIG;
    open(IDM_CONFIG, inspect_config, "Configuration Settings");
    EXPECT_EQ(seen.dialogs_open, 1);
    expect_untouched();
}

TEST_F(ShellDialogs, AboutShowsTheVersionOpensOnceAndClosesOnOk) {
    seen.reopen = IDM_ABOUT;
    seen.button = IDOK;
    open(IDM_ABOUT, inspect_about, "About");
    EXPECT_EQ(seen.global, seen.dialog);
    EXPECT_EQ(seen.first_line, "VORLIX Viewer Version 2.0.0");
    EXPECT_EQ(seen.dialogs_open, 1);
    EXPECT_EQ(about_dialog, nullptr);
}

// Escape must leave the About dialog open: press it, then close with the close box.
void escape_then_close(void*) {
    HWND dialog = shelltest::find_dialog("About");
    SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    seen.dialogs_open = count_dialogs("About");
    seen.global = about_dialog;
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

TEST_F(ShellDialogs, AboutStaysOpenOnEscapeAndClosesWithTheCloseBox) {
    open(IDM_ABOUT, escape_then_close, "About");
    EXPECT_EQ(seen.dialogs_open, 1);
    EXPECT_NE(seen.global, nullptr);
    EXPECT_EQ(about_dialog, nullptr);
    EXPECT_EQ(count_dialogs("About"), 0);
}

TEST_F(ShellDialogs, ConfigurationOpensOnTopOfAbout) {
    // From inside About, the configuration entry opens its own dialog.
    seen.reopen = IDM_CONFIG;
    seen.button = IDOK;
    shelltest::InLoop config_step("Configuration Settings", inspect_config, nullptr);
    open(
        IDM_ABOUT,
        [](void*) {
            HWND dialog = shelltest::find_dialog("About");
            run_tray_command(IDM_CONFIG);
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        },
        "About");
    EXPECT_TRUE(config_step.ran());
    EXPECT_EQ(about_dialog, nullptr);
    EXPECT_EQ(config_dialog, nullptr);
}

} // namespace
