// The About and configuration dialogs from their templates, driven through their controls.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "link/link_flags.h"
#include "link/settings_file.h"
#include "res/resource.h"
#include "shell/tray_menu.h"
#include "shell_test_support.h"
#include "status/device_record.h"

namespace {

using shelltest::text_of;

const char kConfig[] = "Configuration Settings";
const char kStored[] =
    "IP=\"192.168.1.1\"\r\nPORT=\"23\"\r\nUSERNAME=\"admin\"\r\nPASSWORD=\"secret\"\r\n";

class ShellDialogs : public shelltest::ShellTest {
  protected:
    void SetUp() override {
        ShellTest::SetUp();
        path_ = shelltest::private_settings_path();
        FILE* file = fopen(path_.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        fputs(kStored, file);
        fclose(file);
        settings_read(device);
    }
    // Chooses `command` from the tray and, once its dialog `title` is up, runs `inside` on
    // the UI thread from within the dialog's modal loop; `inside` ends the dialog.
    void open(int command, const char* title, const std::function<void(HWND)>& inside) {
        shelltest::Driver d;
        bool ran = false;
        d.run(
            [&] {
                HWND dialog = shelltest::wait_dialog(title, 10000);
                if (dialog)
                    d.call([&] {
                        inside(dialog);
                        ran = true;
                    });
            },
            [&] { run_tray_command(command); });
        EXPECT_TRUE(ran) << title;
    }
    void expect_untouched() {
        EXPECT_EQ(shelltest::read_file(path_), kStored);
        EXPECT_EQ(reconnect_request.load(), 0);
        EXPECT_EQ(config_dialog, nullptr);
    }
    std::string path_;
};

// The address as the control itself reports it, and how many of its fields are filled.
std::string address_of(HWND dialog, LRESULT* fields) {
    DWORD a = 0;
    *fields =
        SendDlgItemMessageA(dialog, IDC_IPADDRESS, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&a));
    char text[32];
    snprintf(text, sizeof(text), "%lu.%lu.%lu.%lu", FIRST_IPADDRESS(a), SECOND_IPADDRESS(a),
             THIRD_IPADDRESS(a), FOURTH_IPADDRESS(a));
    return text;
}

TEST_F(ShellDialogs, ConfigurationShowsTheStoredValuesOpensOnceAndLeavingItWritesNothing) {
    ASSERT_STREQ(device.username, "admin\r"); // as the reader stores it
    // Cancel, Escape and the close box; the first look also tries to open it again.
    const char* const ways[] = {"Cancel", "Escape", "close box"};
    for (const char* way : ways) {
        SCOPED_TRACE(way);
        open(IDM_CONFIG, kConfig, [&](HWND dialog) {
            EXPECT_EQ(config_dialog, dialog);
            LRESULT fields = 0;
            EXPECT_EQ(address_of(dialog, &fields), "192.168.1.1");
            EXPECT_EQ(fields, 4);
            EXPECT_EQ(text_of(dialog, IDC_PORT), "23");
            EXPECT_EQ(text_of(dialog, IDC_USERNAME), "admin");
            EXPECT_EQ(text_of(dialog, IDC_PASSWORD), "secret");
            EXPECT_TRUE(GetWindowLongA(GetDlgItem(dialog, IDC_PASSWORD), GWL_STYLE) & ES_PASSWORD);
            run_tray_command(IDM_CONFIG);
            EXPECT_EQ(shelltest::count_windows(kConfig), 1);
            if (way == ways[0])
                PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
            else if (way == ways[1])
                PostMessageA(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0);
            else
                PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        });
        EXPECT_STREQ(device.username, "admin\r"); // the record itself is not changed
        expect_untouched();
    }

    // A stored address that is no dotted quad shows blank fields.
    snprintf(device.ip, sizeof(device.ip), "1.2.3.4 & calc");
    open(IDM_CONFIG, kConfig, [](HWND dialog) {
        LRESULT fields = -1;
        address_of(dialog, &fields);
        EXPECT_EQ(fields, 0);
        EXPECT_EQ(text_of(dialog, IDC_PORT), "23");
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    expect_untouched();
}

TEST_F(ShellDialogs, ConnectRewritesTheFileAndReconnectsEvenUnchanged) {
    open(IDM_CONFIG, kConfig, [](HWND dialog) { PostMessageA(dialog, WM_COMMAND, IDOK, 0); });
    EXPECT_EQ(shelltest::read_file(path_),
              "IP=\"192.168.1.1\"\nPORT=\"23\"\nUSERNAME=\"admin\"\nPASSWORD=\"secret\"\n");
    EXPECT_EQ(reconnect_request.load(), 1);
    EXPECT_STREQ(device.ip, "192.168.1.1");
    EXPECT_STREQ(device.username, "admin\r");
    EXPECT_EQ(config_dialog, nullptr);

    // A typed address is saved as the control holds it; a 40-character user name with its
    // 31 first characters (the 31st is X, the 32nd Y).
    reconnect_request = 0;
    std::string typed(40, 'u');
    typed.replace(30, 2, "XY");
    open(IDM_CONFIG, kConfig, [&](HWND dialog) {
        SendDlgItemMessageA(dialog, IDC_IPADDRESS, IPM_SETADDRESS, 0, MAKEIPADDRESS(10, 0, 0, 254));
        SetDlgItemTextA(dialog, IDC_USERNAME, typed.c_str());
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(shelltest::read_file(path_), "IP=\"10.0.0.254\"\nPORT=\"23\"\nUSERNAME=\"" +
                                               typed.substr(0, 31) + "\"\nPASSWORD=\"secret\"\n");
    EXPECT_STREQ(device.ip, "10.0.0.254");
    EXPECT_EQ(reconnect_request.load(), 1);
}

TEST_F(ShellDialogs, AboutShowsTheVersionOpensOnceIgnoresEscapeAndClosesWithOkOrTheCloseBox) {
    open(IDM_ABOUT, "About", [](HWND dialog) {
        EXPECT_EQ(about_dialog, dialog);
        // The first text line follows the icon in the template.
        EXPECT_EQ(text_of(GetWindow(GetDlgItem(dialog, IDC_ABOUT_ICON), GW_HWNDNEXT)),
                  "VORLIX Viewer Version 2.0.0");
        run_tray_command(IDM_ABOUT);
        SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0); // Escape
        EXPECT_EQ(shelltest::count_windows("About"), 1);
        EXPECT_TRUE(IsWindowVisible(dialog));
        EXPECT_EQ(about_dialog, dialog);
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(about_dialog, nullptr);
    EXPECT_EQ(shelltest::count_windows("About"), 0);

    // The close box; and from inside About the configuration opens its own dialog on top.
    bool config_ran = false;
    open(IDM_ABOUT, "About", [&](HWND dialog) {
        shelltest::Driver d;
        d.run(
            [&] {
                HWND config = shelltest::wait_dialog(kConfig);
                config_ran = config != nullptr;
                PostMessageA(config, WM_COMMAND, IDOK, 0);
            },
            [] { run_tray_command(IDM_CONFIG); });
        EXPECT_EQ(reconnect_request.load(), 1);
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    EXPECT_TRUE(config_ran);
    EXPECT_EQ(about_dialog, nullptr);
    EXPECT_EQ(config_dialog, nullptr);
}

} // namespace
