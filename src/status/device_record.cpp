#include "status/device_record.h"

#include <cstddef>
#include <cstring>

DeviceRecord device;

namespace {

struct FieldInfo {
    size_t offset;
    int reset_width; // 0: never padded
};

#define FIELD(name, width)                                                                         \
    { offsetof(DeviceRecord, name), width }
// offsetof on a record with an atomic member is conditionally supported; g++ and clang
// accept it for this standard-layout record.
const FieldInfo kFields[STATUS_FIELD_COUNT] = {
    FIELD(imei, 31),           FIELD(modem_id, 31),        FIELD(wwan_ip, 31),
    FIELD(signal_quality, 31), FIELD(data_sent, 20),       FIELD(data_received, 20),
    FIELD(data_total, 31),     FIELD(odometer, 31),        FIELD(latitude, 31),
    FIELD(lat_hemisphere, 31), FIELD(longitude, 31),       FIELD(lon_hemisphere, 31),
    FIELD(speed, 31),          FIELD(uptime, 31),          FIELD(firmware_version, 31),
    FIELD(network_type, 31),   FIELD(cell_hardware, 31),   FIELD(wifi_hardware, 31),
    FIELD(priority, 31),       FIELD(activity_caption, 0), FIELD(wifi_mode, 31),
    FIELD(ap_ssid, 31),        FIELD(ap_mac, 31),          FIELD(tx_power, 31),
    FIELD(link_quality, 31),   FIELD(rx_power, 31),        FIELD(noise_level, 31),
    FIELD(wifi_ip, 31),
};
#undef FIELD

} // namespace

void pad_field(char* field, int width) {
    if (width > 31) width = 31;
    field[31] = '\0';
    size_t len = strlen(field);
    while (static_cast<int>(len) < width)
        field[len++] = ' ';
    field[len] = '\0';
}

StatusField* status_field_at(DeviceRecord& rec, int index) {
    return reinterpret_cast<StatusField*>(reinterpret_cast<char*>(&rec) + kFields[index].offset);
}

void reset_status() {
    for (int i = 0; i < STATUS_FIELD_COUNT; ++i) {
        char* field = *status_field_at(device, i);
        memset(field, 0, sizeof(StatusField));
        if (kFields[i].reset_width > 0) pad_field(field, kFields[i].reset_width);
    }
}

void device_record_init() {
    device.socket.store(NO_SOCKET);
    memset(device.ip, 0, reinterpret_cast<char*>(&device + 1) - device.ip);
    reset_status();
}
