// The one record of the watched unit: its console socket, the connection settings and
// the 28 fixed-width status fields that the poll cycle fills and every view reads.
#pragma once
#include <atomic>
#include <cstdint>

// NUL-terminated text of at most 31 characters, blank-padded to its display width.
typedef char StatusField[32];

struct DeviceRecord {
    // The console socket, or -1 when there is none. Wide enough for a 64-bit SOCKET;
    // atomic because the menu reads it on the main thread while the worker writes it.
    std::atomic<intptr_t> socket;

    // Settings from "telnet.conf"; username and password carry a trailing CR.
    char ip[32];
    char port[32];
    char username[32];
    char password[32];

    StatusField imei;
    StatusField modem_id;
    StatusField wwan_ip;
    StatusField signal_quality;
    StatusField data_sent;
    StatusField data_received;
    StatusField data_total;
    StatusField odometer;
    StatusField latitude;
    StatusField lat_hemisphere;
    StatusField longitude;
    StatusField lon_hemisphere;
    StatusField speed;
    StatusField uptime;
    StatusField firmware_version;
    StatusField network_type;
    StatusField cell_hardware;
    StatusField wifi_hardware;
    StatusField priority;
    StatusField activity_caption;
    StatusField wifi_mode;
    StatusField ap_ssid;
    StatusField ap_mac;
    StatusField tx_power;
    StatusField link_quality;
    StatusField rx_power;
    StatusField noise_level;
    StatusField wifi_ip;
};

constexpr intptr_t NO_SOCKET = -1;
constexpr int STATUS_FIELD_COUNT = 28;

extern DeviceRecord device;

// Blank-pads the text on the right to width characters ("%-*s"); longer text is kept.
// The field stays terminated inside its 32 bytes.
void pad_field(char* field, int width);

// Blanks the 28 status fields of `device`; socket and settings are untouched.
void reset_status();

// Zeroes the whole record, sets socket to -1 and blanks the status (main window creation).
void device_record_init();

// The status fields in record order, for code that walks all of them.
StatusField* status_field_at(DeviceRecord& rec, int index);
