// The tray icon and tooltip against the device record, with a real shell tray.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "res/resource.h"
#include "shell/tray_icon.h"
#include "shell_test_support.h"
#include "status/device_record.h"

namespace {

const UINT kTestIconId = 2101;

class ShellTrayIcon : public ::testing::Test {
  protected:
    void SetUp() override {
        shelltest::init_shell_classes();
        owner_ = CreateWindowExA(0, "STATIC", "tray owner", 0, 0, 0, 0, 0, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(owner_, nullptr);
        device_record_init();
        if (tray_data.hIcon) DestroyIcon(tray_data.hIcon);
        tray_data_reset(tray_data, "");
        tray_data.hWnd = owner_;
        tray_data.uID = kTestIconId;
        tray_data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        tray_data.uCallbackMessage = 5;
        last_tray_icon = 0;
    }
    void TearDown() override {
        Shell_NotifyIconA(NIM_DELETE, &tray_data);
        DestroyWindow(owner_);
    }

    // Fields as the poll cycle leaves them: blank-filled to 31 characters.
    static void set(char* field, const char* text) {
        snprintf(field, sizeof(StatusField), "%s", text);
        pad_field(field, 31);
    }
    int icon_for(const char* wwan_ip, const char* signal) {
        set(device.wwan_ip, wwan_ip);
        set(device.signal_quality, signal);
        update_tray(false, false);
        return last_tray_icon;
    }
    std::string tip() const { return std::string(tray_data.szTip); }

    HWND owner_ = nullptr;
};

TEST_F(ShellTrayIcon, FirstCallWithBlankStatusShowsNoWwanIconAndThreeEmptyValues) {
    update_tray(true, false);
    EXPECT_EQ(last_tray_icon, 135);
    EXPECT_NE(tray_data.hIcon, nullptr);
    EXPECT_EQ(tip(), "IMEI: \nWWAN IP: \nRSSI: ");
    EXPECT_TRUE(shelltest::tray_icon_present(owner_, kTestIconId));
    EXPECT_EQ(tray_data.cbSize, static_cast<DWORD>(NOTIFYICONDATAA_V1_SIZE));
}

TEST_F(ShellTrayIcon, IconTableAtItsEdges) {
    update_tray(true, false);
    EXPECT_EQ(icon_for("10.1.2.3", "35 %"), 130);
    EXPECT_EQ(icon_for("10.1.2.3", "36 %"), 131);
    EXPECT_EQ(icon_for("10.1.2.3", "55 %"), 131);
    EXPECT_EQ(icon_for("10.1.2.3", "56 %"), 132);
    EXPECT_EQ(icon_for("10.1.2.3", "75 %"), 132);
    EXPECT_EQ(icon_for("10.1.2.3", "76 %"), 133);
    EXPECT_EQ(icon_for("10.1.2.3", "100 %"), 133);
    EXPECT_EQ(icon_for("10.1.2.3", "0 %"), 134);
    EXPECT_EQ(icon_for("10.1.2.3", "1 %"), 130);
    EXPECT_EQ(icon_for("10.1.2.3", ""), 134);      // blanks: no number
    EXPECT_EQ(icon_for("10.1.2.3", "N/A"), 134);   // no digits
    EXPECT_EQ(icon_for("", "75 %"), 135);          // blank address wins
    EXPECT_EQ(icon_for(" 10.1.2.3", "75 %"), 135); // first character a blank
    EXPECT_EQ(icon_for("0.0.0.0", "75 %"), 139);
    EXPECT_EQ(icon_for("0.0.0.0", ""), 139);
    EXPECT_TRUE(shelltest::tray_icon_present(owner_, kTestIconId));
}

TEST_F(ShellTrayIcon, NegativeSignalKeepsTheIconAndStillUpdatesTheTooltip) {
    update_tray(true, false);
    ASSERT_EQ(icon_for("10.1.2.3", "60 %"), 132);
    HICON before = tray_data.hIcon;
    int loads = tray_icon_loads;
    EXPECT_EQ(icon_for("10.1.2.3", "-5 %"), 132);
    EXPECT_EQ(tray_data.hIcon, before);
    EXPECT_EQ(tray_icon_loads, loads);
    EXPECT_EQ(tip(), "IMEI: \nWWAN IP: 10.1.2.3\nRSSI: -5 %");
}

TEST_F(ShellTrayIcon, SameIconIsLoadedOnceAndAReplacedOneIsReleased) {
    update_tray(true, false);
    ASSERT_EQ(icon_for("10.1.2.3", "60 %"), 132);
    HICON first = tray_data.hIcon;
    int loads = tray_icon_loads;
    EXPECT_EQ(icon_for("10.1.2.3", "70 %"), 132);
    EXPECT_EQ(tray_icon_loads, loads);
    EXPECT_EQ(tray_data.hIcon, first);

    EXPECT_EQ(icon_for("10.1.2.3", "80 %"), 133);
    EXPECT_EQ(tray_icon_loads, loads + 1);
    ICONINFO info;
    EXPECT_FALSE(GetIconInfo(first, &info)) << "the replaced icon was not destroyed";
}

TEST_F(ShellTrayIcon, IconsLoadAtTheSystemSmallIconSize) {
    update_tray(true, false);
    ICONINFO info;
    ASSERT_TRUE(GetIconInfo(tray_data.hIcon, &info));
    BITMAP bitmap;
    GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    // Wine's screen runs at 96 DPI, where the small icon is 16 x 16.
    EXPECT_EQ(bitmap.bmWidth, 16);
    EXPECT_EQ(GetSystemMetrics(SM_CXSMICON), 16);
}

TEST_F(ShellTrayIcon, FullTooltipAndItsCutWithLogging) {
    set(device.imei, "123456789012345");
    set(device.wwan_ip, "100.100.100.100");
    set(device.signal_quality, "75 %");
    update_tray(true, false);
    EXPECT_EQ(tip(), "IMEI: 123456789012345\nWWAN IP: 100.100.100.100\nRSSI: 75 %");
    EXPECT_EQ(tip().size(), 57u);

    update_tray(false, true);
    EXPECT_EQ(tip(), "Logging...\nIMEI: 123456789012345\nWWAN IP: 100.100.100.100\nRSSI:");
    EXPECT_EQ(tip().size(), 63u);
    for (size_t i = 63; i < sizeof(tray_data.szTip); ++i)
        ASSERT_EQ(tray_data.szTip[i], '\0') << i;

    update_tray(false, false); // the end of a capture restores the plain tooltip
    EXPECT_EQ(tip(), "IMEI: 123456789012345\nWWAN IP: 100.100.100.100\nRSSI: 75 %");
}

TEST_F(ShellTrayIcon, TrimsTheThreeShownFieldsAndLeavesTheOther25Alone) {
    char before[STATUS_FIELD_COUNT][32];
    for (int i = 0; i < STATUS_FIELD_COUNT; ++i) {
        char* field = *status_field_at(device, i);
        snprintf(field, 32, "v%d  x", i); // inner blanks stay
        pad_field(field, 31);
        memcpy(before[i], field, 32);
    }
    update_tray(true, false);
    for (int i = 0; i < STATUS_FIELD_COUNT; ++i) {
        const char* name = status_field_name(i);
        const char* field = *status_field_at(device, i);
        char expected[32];
        snprintf(expected, sizeof(expected), "v%d  x", i);
        if (!strcmp(name, "imei") || !strcmp(name, "wwan_ip") || !strcmp(name, "signal_quality"))
            EXPECT_STREQ(field, expected) << name;
        else
            EXPECT_EQ(memcmp(field, before[i], 32), 0) << name;
    }
    EXPECT_EQ(tip(), "IMEI: v0  x\nWWAN IP: v2  x\nRSSI: v3  x");
}

TEST_F(ShellTrayIcon, UnterminatedFieldIsCutTo31Characters) {
    memset(device.imei, 'A', sizeof(StatusField)); // no terminator inside the field
    update_tray(true, false);
    EXPECT_EQ(std::string(device.imei), std::string(31, 'A'));
    EXPECT_EQ(tip(), "IMEI: " + std::string(31, 'A') + "\nWWAN IP: \nRSSI: ");
}

TEST_F(ShellTrayIcon, RefreshViewsBringsTheTrayUpToDate) {
    update_tray(true, false);
    set(device.wwan_ip, "10.9.8.7");
    set(device.signal_quality, "40 %");
    refresh_views(); // no status window exists: only the tray changes
    EXPECT_EQ(last_tray_icon, 131);
    EXPECT_EQ(tip(), "IMEI: \nWWAN IP: 10.9.8.7\nRSSI: 40 %");
}

} // namespace
