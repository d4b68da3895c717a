// "telnet.conf": the unit's address, console port, login name and password.
#include "link/settings_file.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "status/device_record.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
// Wide on Windows: the ANSI form of a path under a profile named outside the code page has
// "?" in it and names no file.
typedef wchar_t PathChar;
#define PATH_TEXT(text) L##text
#else
typedef char PathChar;
#define PATH_TEXT(text) text
#endif
const size_t kPathSize = 260;

// Guards the four settings fields of every record and the file's name: the dialog rereads
// the file on the main thread while the worker may be connecting with the fields.
std::mutex settings_lock;
PathChar settings_path[kPathSize] = PATH_TEXT("telnet.conf");

void copy_field(char* field, const char* text) {
    (void)snprintf(field, 32, "%s", text);
}

// The writer's text: four values of up to 31 characters each (more than the dialog's
// 15 + 3 x 31) and the 38 characters of keys, quotes and line ends.
constexpr size_t kFileTextSize = 4 * 31 + 38 + 1;

FILE* open_path(const PathChar* path, const char* mode) {
#ifdef _WIN32
    wchar_t wide_mode[8] = L"";
    for (size_t i = 0; mode[i] != '\0' && i + 1 < 8; ++i)
        wide_mode[i] = static_cast<wchar_t>(mode[i]);
    return _wfopen(path, wide_mode);
#else
    return fopen(path, mode);
#endif
}

// path + suffix into out; false when it does not fit.
bool join_path(const PathChar* path, const char* suffix, PathChar* out, size_t size) {
    size_t n = 0;
    for (; path[n] != 0; ++n) {
        if (n + 1 >= size) return false;
        out[n] = path[n];
    }
    for (; *suffix != '\0'; ++suffix, ++n) {
        if (n + 1 >= size) return false;
        out[n] = static_cast<PathChar>(*suffix);
    }
    out[n] = 0;
    return true;
}

// True when the file does not exist yet or can be opened for writing: a read-only file
// must stay as it is, and rename() alone would replace it.
bool target_writable(const PathChar* path) {
    FILE* probe = open_path(path, "rb");
    if (probe == nullptr) return true;
    (void)fclose(probe);
    probe = open_path(path, "rb+");
    if (probe == nullptr) return false;
    (void)fclose(probe);
    return true;
}

// The text is on the disk before the new file takes the old one's name.
bool flush_to_disk(FILE* file) {
#ifdef _WIN32
    return _commit(_fileno(file)) == 0;
#else
    return fsync(fileno(file)) == 0;
#endif
}

bool replace_file(const PathChar* from, const PathChar* to) {
#ifdef _WIN32
    return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return rename(from, to) == 0;
#endif
}

void remove_path(const PathChar* path) {
#ifdef _WIN32
    (void)_wremove(path);
#else
    (void)remove(path);
#endif
}

} // namespace

void settings_set_path(const char* path) {
    // Resolved now, once: a Save dialog or anything else that later moves the current
    // directory must not move the settings with it.
    PathChar full[kPathSize];
#ifdef _WIN32
    wchar_t given[kPathSize];
    int converted = MultiByteToWideChar(CP_ACP, 0, path, -1, given, kPathSize);
    DWORD length = converted > 0 ? GetFullPathNameW(given, kPathSize, full, nullptr) : 0;
    bool resolved = length > 0 && length < kPathSize;
    if (!resolved && converted > 0) resolved = join_path(given, "", full, kPathSize);
#else
    // An absolute path is kept as given.
    char dir[kPathSize];
    int length = path[0] == '/' || getcwd(dir, sizeof dir) == nullptr
                     ? -1
                     : snprintf(full, sizeof full, "%s/%s", dir, path);
    bool resolved = length > 0 && length < static_cast<int>(sizeof full);
    if (!resolved) resolved = join_path(path, "", full, kPathSize);
#endif
    std::lock_guard<std::mutex> guard(settings_lock);
    if (resolved) (void)join_path(full, "", settings_path, kPathSize);
}

bool settings_read(DeviceRecord& rec) {
    std::lock_guard<std::mutex> guard(settings_lock);
    // "rb+": a file that cannot be written counts as no file at all.
    FILE* file = open_path(settings_path, "rb+");
    if (file == nullptr) return false;
    // Pieces of at most 31 characters: a longer line is read as several lines, so a long
    // value is cut and the rest of its line matches nothing.
    char piece[32];
    char value[31]; // a value is at most 27 characters: the piece minus its key
    while (fgets(piece, sizeof piece, file) != nullptr) {
        if (sscanf(piece, "IP=\"%30[^\"]\"", value) == 1) {
            copy_field(rec.ip, value);
        } else if (sscanf(piece, "PORT=\"%30[^\"]\"", value) == 1) {
            copy_field(rec.port, value);
        } else if (sscanf(piece, "USERNAME=\"%30[^\"]\"", value) == 1) {
            (void)snprintf(rec.username, sizeof rec.username, "%s\r", value);
        } else if (sscanf(piece, "PASSWORD=\"%30[^\"]\"", value) == 1) {
            (void)snprintf(rec.password, sizeof rec.password, "%s\r", value);
        }
    }
    (void)fclose(file);
    // Fields are not cleared first: a key missing from the file keeps the earlier value.
    return rec.ip[0] != '\0' && rec.port[0] != '\0' && rec.username[0] != '\0' &&
           rec.password[0] != '\0';
}

bool settings_write(const char* ip, const char* port, const char* username, const char* password) {
    char text[kFileTextSize];
    int length =
        snprintf(text, sizeof text, "IP=\"%s\"\nPORT=\"%s\"\nUSERNAME=\"%s\"\nPASSWORD=\"%s\"\n",
                 ip, port, username, password);
    if (length < 0 || static_cast<size_t>(length) >= sizeof text) return false; // never cut

    // Under the lock: a reader never has the file open while it is replaced, which Windows
    // would refuse.
    std::lock_guard<std::mutex> guard(settings_lock);
    const PathChar* path = settings_path;
    if (!target_writable(path)) return false;

    // The whole text goes to a file beside the target first, which then replaces it, so a
    // failed or interrupted write leaves the old file as it was.
    PathChar temp[kPathSize + 8];
    if (!join_path(path, ".tmp", temp, kPathSize + 8)) return false;
    FILE* file = open_path(temp, "wb");
    if (file == nullptr) return false;
    bool written = fputs(text, file) >= 0 && fflush(file) == 0 && flush_to_disk(file);
    if (fclose(file) != 0) written = false;
    if (written && replace_file(temp, path)) return true;
    remove_path(temp);
    return false;
}

void strip_line_ends(char* text, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (text[i] == '\r' || text[i] == '\n') text[i] = '\0';
    }
}

bool settings_port(const char* text, int* port) {
    int value = 0;
    int digits = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (++digits > 5) return false;
        value = value * 10 + (*text - '0');
    }
    // "65559" or "23x" must never reach some other port.
    if (*text != '\0' || digits == 0 || value < 1 || value > 65535) return false;
    *port = value;
    return true;
}

void settings_snapshot(const DeviceRecord& rec, LinkSettings* out) {
    std::lock_guard<std::mutex> guard(settings_lock);
    memcpy(out->ip, rec.ip, sizeof out->ip);
    memcpy(out->port, rec.port, sizeof out->port);
    memcpy(out->username, rec.username, sizeof out->username);
    memcpy(out->password, rec.password, sizeof out->password);
    // Terminated whatever a racing writer outside this file left behind.
    out->ip[31] = out->port[31] = out->username[31] = out->password[31] = '\0';
}
