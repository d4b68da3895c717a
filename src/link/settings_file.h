// The four connection settings in "telnet.conf".
#pragma once
#include <cstddef>

struct DeviceRecord;

// Reads the file into rec's ip, port, username and password (the last two get a CR).
// True when the file opened and all four fields are non-empty afterwards.
bool settings_read(DeviceRecord& rec);
// Replaces the file with the four texts (no CR); never leaves a half-written file: the text
// goes to "<file>.tmp" beside it first, which then takes the file's name.
bool settings_write(const char* ip, const char* port, const char* username, const char* password);
// Replaces every CR or LF among the first n characters by a terminating zero.
void strip_line_ends(char* text, size_t n);

// A port the viewer can connect to: 1 to 5 decimal digits naming 1 to 65535 and nothing
// else ("023", as a stored file may hold it, is 23). The one rule of the worker, the telnet
// command and the configuration dialog, so none of them takes a port the others refuse.
bool settings_port(const char* text, int* port);
// The longest user name and password a read keeps whole: a longer one is cut and the login
// then fails.
const int SETTINGS_LOGIN_MAX = 21;

// The worker's consistent view of the four fields while the main thread may rewrite them.
struct LinkSettings {
    char ip[32];
    char port[32];
    char username[32];
    char password[32];
};
void settings_snapshot(const DeviceRecord& rec, LinkSettings* out);

// The file every later read and write uses: path resolved against the current directory
// now, so it stays the same file for the rest of the run. The viewer calls it once at start
// with "telnet.conf"; tests point it elsewhere. Until then the bare name is used. On Windows
// the path is kept in wide characters, so a folder named outside the ANSI code page (a
// profile called "Łukasz" or "Иван") still names the file.
void settings_set_path(const char* path);
