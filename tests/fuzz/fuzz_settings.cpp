// Arbitrary bytes as "telnet.conf": the four settings stay terminated inside their fields.
#include "link/settings_file.h"
#include "status/device_record.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

char conf_path[64];

void check_field(const char* field) {
    if (memchr(field, '\0', 32) == nullptr || strlen(field) > 31) abort();
}

void remove_conf() {
    remove(conf_path);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    snprintf(conf_path, sizeof conf_path, "/tmp/fuzz_settings_%d.conf", static_cast<int>(getpid()));
    settings_set_path(conf_path);
    atexit(remove_conf);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = fopen(conf_path, "wb");
    if (file == nullptr) return 0;
    fwrite(data, 1, size, file);
    fclose(file);

    device_record_init();
    bool complete = settings_read(device);
    check_field(device.ip);
    check_field(device.port);
    check_field(device.username);
    check_field(device.password);
    // "complete" means all four were found in this file
    if (complete && (device.ip[0] == '\0' || device.port[0] == '\0' || device.username[0] == '\0' ||
                     device.password[0] == '\0'))
        abort();
    return 0;
}
