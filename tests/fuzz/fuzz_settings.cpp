// Arbitrary bytes as "telnet.conf": the four settings stay terminated inside their fields,
// and a file read as complete filled all four.
#include "link/settings_file.h"
#include "status/device_record.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {
std::string conf_path;
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    conf_path = "/tmp/fuzz_settings_" + std::to_string(getpid()) + ".conf";
    settings_set_path(conf_path.c_str());
    atexit([] { remove(conf_path.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = fopen(conf_path.c_str(), "wb");
    if (file == nullptr) return 0;
    fwrite(data, 1, size, file);
    fclose(file);
    device_record_init();
    const bool complete = settings_read(device);
    for (const char* field : {device.ip, device.port, device.username, device.password})
        if (memchr(field, '\0', 32) == nullptr || (complete && field[0] == '\0')) abort();
    return 0;
}
