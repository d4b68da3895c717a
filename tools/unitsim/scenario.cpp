// Scenario files: fault scenarios and unit settings for the program's --scenario option.
//
// Syntax, one statement per line:
//
//   # a comment; blank lines are ignored too
//   set <key>=<value>
//   fault <field> <field> ...
//
// A value is either a word without blanks or a text in double quotes, in which \r, \n, \t,
// \" and \\ stand for CR, LF, tab, quote and backslash. Booleans are 1/0, true/false or
// yes/no; a boolean field named alone (as "silence") means true. Lists are numbers
// separated by commas ("split=5,12").
//
// set keys (the unit's settings): user, password, restart_ms, frozen, never_login,
//   never_answer and refuse_all (read at start),
//   login_delay_ms, login_split, login_split_pause_ms, login_babble_ms, esn, modem_id,
//   cell_hardware, wifi_hardware, priority, firmware, wwan_ip, signal_percent, wlan_mode,
//   wan_device, ssid, system_mode, gps_fix.
//
// fault fields (one fault per line; all optional):
//   command=<text>      the exact command line it applies to; absent: every command
//   connection=<n>      only the n-th accepted connection (from 1); absent: every one
//   times=<n>           how many replies it spoils; absent: no limit
//   delay=<ms>          pause before the reply starts
//   split=<a,b,...>     send the reply in pieces cut at these byte offsets...
//   split_pause=<ms>    ...with this pause between them (default 30)
//   silence             send no reply at all; the connection stays open
//   close_after=<n>     close the connection after n bytes of the reply
//   output=<text>       replace the output lines (give the CR LF yourself)
//   no_prompt           end the reply without the prompt
//   endless=<ms>        then send the output again and again, never the prompt, pausing
//                       this long between copies (0: without pause)
//
// Example:
//   set restart_ms=5000
//   fault command="cmd esn" output="ABCDEF\r\n"
//   fault command="cmd ver" connection=2 times=1 split=20 split_pause=100
//   fault command="iwconfig" delay=1500
#include "unitsim.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace unitsim {

namespace {

struct Field {
    std::string key;
    std::string value;
    bool has_value = false;
};

// Splits the rest of a statement into key[=value] fields. False on an unclosed quote.
bool split_fields(const std::string& text, size_t pos, std::vector<Field>* fields,
                  std::string* why) {
    const size_t n = text.size();
    for (;;) {
        while (pos < n && (text[pos] == ' ' || text[pos] == '\t'))
            ++pos;
        if (pos >= n) return true;
        Field f;
        while (pos < n && text[pos] != '=' && text[pos] != ' ' && text[pos] != '\t')
            f.key += text[pos++];
        if (pos < n && text[pos] == '=') {
            f.has_value = true;
            ++pos;
            if (pos < n && text[pos] == '"') {
                ++pos;
                bool closed = false;
                while (pos < n) {
                    char c = text[pos++];
                    if (c == '"') {
                        closed = true;
                        break;
                    }
                    if (c == '\\' && pos < n) {
                        char e = text[pos++];
                        c = e == 'r' ? '\r' : e == 'n' ? '\n' : e == 't' ? '\t' : e;
                    }
                    f.value += c;
                }
                if (!closed) {
                    *why = "unclosed quote after " + f.key + "=";
                    return false;
                }
            } else {
                while (pos < n && text[pos] != ' ' && text[pos] != '\t')
                    f.value += text[pos++];
            }
        }
        fields->push_back(f);
    }
}

bool parse_int(const Field& f, long low, long high, long* out, std::string* why) {
    if (!f.has_value || f.value.empty()) {
        *why = f.key + " needs a number";
        return false;
    }
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(f.value.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high) {
        *why = f.key + "=" + f.value + " is not a number from " + std::to_string(low) + " to " +
               std::to_string(high);
        return false;
    }
    *out = v;
    return true;
}

bool parse_int(const Field& f, long low, long high, int* out, std::string* why) {
    long v;
    if (!parse_int(f, low, high, &v, why)) return false;
    *out = static_cast<int>(v);
    return true;
}

bool parse_bool(const Field& f, bool* out, std::string* why) {
    if (!f.has_value) {
        *out = true;
        return true;
    }
    const std::string& v = f.value;
    if (v == "1" || v == "true" || v == "yes") {
        *out = true;
        return true;
    }
    if (v == "0" || v == "false" || v == "no") {
        *out = false;
        return true;
    }
    *why = f.key + "=" + v + " is not a boolean";
    return false;
}

bool parse_list(const Field& f, std::vector<size_t>* out, std::string* why) {
    out->clear();
    std::string item;
    std::string v = f.value + ",";
    for (char c : v) {
        if (c != ',') {
            item += c;
            continue;
        }
        Field one{f.key, item, true};
        long n;
        if (!parse_int(one, 0, INT_MAX, &n, why)) return false;
        out->push_back(static_cast<size_t>(n));
        item.clear();
    }
    return true;
}

bool apply_set(const Field& f, Config* c, std::string* why) {
    const std::string& k = f.key;
    if (!f.has_value) {
        *why = "set " + k + " needs =value";
        return false;
    }
    std::string* text = k == "user"            ? &c->user
                        : k == "password"      ? &c->password
                        : k == "esn"           ? &c->esn
                        : k == "modem_id"      ? &c->modem_id
                        : k == "cell_hardware" ? &c->cell_hardware
                        : k == "wifi_hardware" ? &c->wifi_hardware
                        : k == "priority"      ? &c->priority
                        : k == "firmware"      ? &c->firmware
                        : k == "wwan_ip"       ? &c->wwan_ip
                        : k == "wan_device"    ? &c->wan_device
                        : k == "ssid"          ? &c->ssid
                        : k == "system_mode"   ? &c->system_mode
                                               : nullptr;
    if (text) {
        *text = f.value;
        return true;
    }
    if (k == "restart_ms") return parse_int(f, 0, 3600000, &c->restart_ms, why);
    if (k == "login_delay_ms") return parse_int(f, 0, 3600000, &c->login_delay_ms, why);
    if (k == "login_split_pause_ms") return parse_int(f, 0, 60000, &c->login_split_pause_ms, why);
    if (k == "login_babble_ms") return parse_int(f, -1, 60000, &c->login_babble_ms, why);
    if (k == "signal_percent") return parse_int(f, 0, 100, &c->signal_percent, why);
    if (k == "wlan_mode") return parse_int(f, 0, 9, &c->wlan_mode, why);
    if (k == "frozen") return parse_bool(f, &c->frozen, why);
    if (k == "never_login") return parse_bool(f, &c->never_login, why);
    if (k == "never_answer") return parse_bool(f, &c->never_answer, why);
    if (k == "refuse_all") return parse_bool(f, &c->refuse_all, why);
    if (k == "gps_fix") return parse_bool(f, &c->gps_fix, why);
    if (k == "login_split") return parse_list(f, &c->login_split, why);
    *why = "unknown setting " + k;
    return false;
}

bool apply_fault_field(const Field& f, Fault* fault, std::string* why) {
    const std::string& k = f.key;
    if (k == "command" || k == "output") {
        if (!f.has_value) {
            *why = k + " needs =value";
            return false;
        }
        if (k == "command") {
            fault->command = f.value;
        } else {
            fault->output = f.value;
            fault->has_output = true;
        }
        return true;
    }
    if (k == "connection") return parse_int(f, 0, INT_MAX, &fault->connection, why);
    if (k == "times") return parse_int(f, -1, INT_MAX, &fault->times, why);
    if (k == "delay") return parse_int(f, 0, 3600000, &fault->delay_ms, why);
    if (k == "split_pause") return parse_int(f, 0, 60000, &fault->split_pause_ms, why);
    if (k == "close_after") return parse_int(f, 0, LONG_MAX, &fault->close_after, why);
    if (k == "split") return parse_list(f, &fault->split_at, why);
    if (k == "silence") return parse_bool(f, &fault->silence, why);
    if (k == "no_prompt") return parse_bool(f, &fault->no_prompt, why);
    if (k == "endless") return parse_int(f, 0, 60000, &fault->endless_pause_ms, why);
    *why = "unknown fault field " + k;
    return false;
}

} // namespace

bool load_scenario(const std::string& path, Config* config, std::vector<Fault>* faults,
                   std::string* error) {
    std::ifstream in(path.c_str(), std::ios::binary);
    if (!in) {
        if (error) *error = "cannot open " + path;
        return false;
    }
    // Nothing changes unless the whole file is good.
    Config c = *config;
    std::vector<Fault> found;
    std::string line, why;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t pos = line.find_first_not_of(" \t");
        if (pos == std::string::npos || line[pos] == '#') continue;
        size_t end = line.find_first_of(" \t", pos);
        std::string word = line.substr(pos, end == std::string::npos ? end : end - pos);
        std::vector<Field> fields;
        bool ok = split_fields(line, end == std::string::npos ? line.size() : end, &fields, &why);
        if (ok && word == "set") {
            if (fields.empty()) why = "set needs key=value";
            ok = !fields.empty();
            for (size_t i = 0; ok && i < fields.size(); ++i)
                ok = apply_set(fields[i], &c, &why);
        } else if (ok && word == "fault") {
            Fault f;
            for (size_t i = 0; ok && i < fields.size(); ++i)
                ok = apply_fault_field(fields[i], &f, &why);
            if (ok) found.push_back(f);
        } else if (ok) {
            why = "unknown statement " + word + " (set or fault)";
            ok = false;
        }
        if (!ok) {
            if (error) *error = path + ":" + std::to_string(number) + ": " + why;
            return false;
        }
    }
    *config = c;
    faults->insert(faults->end(), found.begin(), found.end());
    return true;
}

} // namespace unitsim
