// The status record's padding and reset, as the views rely on them.
#include "status/device_record.h"

#include <gtest/gtest.h>
#include <cstring>
#include <string>

TEST(DeviceRecord, ResetBlanksEveryFieldToItsWidthAndLeavesSettings) {
    device_record_init();
    strcpy(device.ip, "192.168.1.1");
    strcpy(device.username, "admin\r");
    device.socket = 7;
    strcpy(device.imei, "123456789012345");
    strcpy(device.activity_caption, "Wi-Fi Activity");
    reset_status();

    EXPECT_EQ(std::string(31, ' '), device.imei);
    EXPECT_EQ(std::string(20, ' '), device.data_sent);
    EXPECT_EQ(std::string(20, ' '), device.data_received);
    EXPECT_EQ(std::string(31, ' '), device.data_total);
    EXPECT_EQ(std::string(31, ' '), device.wifi_ip);
    EXPECT_STREQ("", device.activity_caption);
    EXPECT_STREQ("192.168.1.1", device.ip);
    EXPECT_STREQ("admin\r", device.username);
    EXPECT_EQ(7, device.socket.load());
    int blank31 = 0;
    for (int i = 0; i < STATUS_FIELD_COUNT; ++i)
        if (std::string(*status_field_at(device, i)) == std::string(31, ' ')) ++blank31;
    EXPECT_EQ(25, blank31); // all but data_sent, data_received and activity_caption
}

TEST(DeviceRecord, InitZeroesSettingsAndHasNoSocket) {
    strcpy(device.port, "23");
    device_record_init();
    EXPECT_EQ(NO_SOCKET, device.socket.load());
    EXPECT_STREQ("", device.port);
    EXPECT_STREQ("", device.password);
    EXPECT_EQ(std::string(31, ' '), device.speed);
}

TEST(DeviceRecord, PadFieldKeepsLongTextAndStaysTerminated) {
    StatusField f;
    memset(f, 0, sizeof f);
    pad_field(f, 15);
    EXPECT_EQ(std::string(15, ' '), f);

    std::string v31(31, 'x');
    memcpy(f, v31.c_str(), 32);
    pad_field(f, 31);
    EXPECT_EQ(v31, f);

    strcpy(f, "12.5 MB");
    pad_field(f, 15);
    EXPECT_EQ("12.5 MB        ", std::string(f));

    memset(f, 'y', sizeof f); // unterminated garbage: padding must not run past the field
    pad_field(f, 31);
    EXPECT_EQ('\0', f[31]);
    EXPECT_EQ(31u, strlen(f));
}
