// The tray icon and tooltip against the device record, with a real shell tray.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "res/resource.h"
#include "shell/tray_icon.h"
#include "shell_test_support.h"
#include "status/device_record.h"

namespace {

class ShellTrayIcon : public shelltest::ShellTest {
  protected:
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
};

TEST_F(ShellTrayIcon, IconTableAtItsEdgesEachIconLoadedOnceAtTheSmallIconSize) {
    update_tray(true, false); // blank status
    EXPECT_EQ(last_tray_icon, 135);
    EXPECT_NE(tray_data.hIcon, nullptr);
    EXPECT_EQ(tip(), "IMEI: \nWWAN IP: \nRSSI: ");
    EXPECT_TRUE(shelltest::tray_icon_present(owner_, TRAY_ICON_ID));

    const struct {
        const char *ip, *signal;
        int icon;
    } table[] = {
        {"10.1.2.3", "35 %", 130},  {"10.1.2.3", "36 %", 131}, {"10.1.2.3", "55 %", 131},
        {"10.1.2.3", "56 %", 132},  {"10.1.2.3", "75 %", 132}, {"10.1.2.3", "76 %", 133},
        {"10.1.2.3", "100 %", 133}, {"10.1.2.3", "0 %", 134},  {"10.1.2.3", "1 %", 130},
        {"10.1.2.3", "", 134},      {"10.1.2.3", "N/A", 134},  {"", "75 %", 135},
        {" 10.1.2.3", "75 %", 135}, {"0.0.0.0", "75 %", 139},  {"0.0.0.0", "", 139},
    };
    for (const auto& row : table)
        EXPECT_EQ(icon_for(row.ip, row.signal), row.icon) << "'" << row.ip << "' " << row.signal;

    // The same icon is not loaded again; a negative signal keeps the icon but not the tip.
    ASSERT_EQ(icon_for("10.1.2.3", "60 %"), 132);
    HICON first = tray_data.hIcon;
    int loads = tray_icon_loads;
    EXPECT_EQ(icon_for("10.1.2.3", "70 %"), 132);
    EXPECT_EQ(icon_for("10.1.2.3", "-5 %"), 132);
    EXPECT_EQ(tray_icon_loads, loads);
    EXPECT_EQ(tray_data.hIcon, first);
    EXPECT_EQ(tip(), "IMEI: \nWWAN IP: 10.1.2.3\nRSSI: -5 %");

    // A change loads the new icon and destroys the one it replaces.
    EXPECT_EQ(icon_for("10.1.2.3", "80 %"), 133);
    EXPECT_EQ(tray_icon_loads, loads + 1);
    ICONINFO info;
    EXPECT_FALSE(GetIconInfo(first, &info)) << "the replaced icon was not destroyed";
    EXPECT_TRUE(shelltest::tray_icon_present(owner_, TRAY_ICON_ID));

    // Wine's screen runs at 96 DPI, where the small icon is 16 x 16.
    ASSERT_TRUE(GetIconInfo(tray_data.hIcon, &info));
    BITMAP bitmap;
    GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    EXPECT_EQ(bitmap.bmWidth, 16);
    EXPECT_EQ(GetSystemMetrics(SM_CXSMICON), 16);
}

TEST_F(ShellTrayIcon, TooltipTrimsTheThreeFieldsOnlyAndIsCutWithLogging) {
    // Every field "v<i>  x" blank-filled: the three shown lose their blanks, inner ones stay.
    char before[STATUS_FIELD_COUNT][32];
    for (int i = 0; i < STATUS_FIELD_COUNT; ++i) {
        char* field = *status_field_at(device, i);
        snprintf(field, 32, "v%d  x", i);
        pad_field(field, 31);
        memcpy(before[i], field, 32);
    }
    update_tray(true, false);
    for (int i = 0; i < STATUS_FIELD_COUNT; ++i) {
        const char* name = status_field_name(i);
        const char* field = *status_field_at(device, i);
        std::string trimmed = "v" + std::to_string(i) + "  x";
        if (!strcmp(name, "imei") || !strcmp(name, "wwan_ip") || !strcmp(name, "signal_quality"))
            EXPECT_EQ(field, trimmed) << name;
        else
            EXPECT_EQ(memcmp(field, before[i], 32), 0) << name;
    }
    EXPECT_EQ(tip(), "IMEI: v0  x\nWWAN IP: v2  x\nRSSI: v3  x");

    // A field without a terminator is cut to 31 characters.
    memset(device.imei, 'A', sizeof(StatusField));
    update_tray(false, false);
    EXPECT_EQ(std::string(device.imei), std::string(31, 'A'));
    EXPECT_EQ(tip(), "IMEI: " + std::string(31, 'A') + "\nWWAN IP: v2  x\nRSSI: v3  "); // 63

    set(device.imei, "123456789012345");
    set(device.wwan_ip, "100.100.100.100");
    set(device.signal_quality, "75 %");
    update_tray(false, false);
    const std::string full = "IMEI: 123456789012345\nWWAN IP: 100.100.100.100\nRSSI: 75 %";
    EXPECT_EQ(tip(), full);
    update_tray(false, true); // 67 characters with "Logging...": cut to 63
    EXPECT_EQ(tip(), "Logging...\nIMEI: 123456789012345\nWWAN IP: 100.100.100.100\nRSSI:");
    for (size_t i = 63; i < sizeof(tray_data.szTip); ++i)
        ASSERT_EQ(tray_data.szTip[i], '\0') << i;
    update_tray(false, false); // the end of a capture restores the plain tooltip
    EXPECT_EQ(tip(), full);

    // The worker's refresh brings the tray up to date (no status window exists here).
    set(device.wwan_ip, "10.9.8.7");
    set(device.signal_quality, "40 %");
    refresh_views();
    EXPECT_EQ(last_tray_icon, 131);
    EXPECT_EQ(tip(), "IMEI: 123456789012345\nWWAN IP: 10.9.8.7\nRSSI: 40 %");
}

} // namespace
