#include "status/poll_cycle.h"

#include "link/console_link.h"
#include "link/link_flags.h"
#include "link/link_state.h"
#include "link/unit_console.h"
#include "status/device_record.h"
#include "status/device_requests.h"
#include "status/reply_parsing.h"
#include "status/reply_text.h"

#include <cstdio>
#include <cstring>

namespace {

// Everything one cycle works in; on the worker's stack, so a cycle allocates nothing.
struct CycleBuffers {
    char reply[REPLY_BUFFER_SIZE];
    char sentence[CHUNK_SIZE]; // the NMEA sentence, shorter than its reply
    char raw_latitude[FIELD_TEXT_MAX + 1];
    char raw_longitude[FIELD_TEXT_MAX + 1];
    char wan_interface[128];
    char command[160];
};

// A reply is only ever taken for the command that asked for it: what came unasked before the
// command is discarded first.
bool exchange(DeviceRecord& rec, const char* command, char* reply) {
    intptr_t sock = rec.socket.load();
    if (!link_discard_waiting(sock)) return false;
    if (link_send(sock, command) <= 0) {
        link_note_failure(REASON_CLOSED);
        return false;
    }
    return link_receive(sock, reply, REPLY_BUFFER_SIZE, DEVICE_PROMPT, REPLY_IDLE_LIMIT_S);
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
bool is_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The unit's word goes back to it inside a command line: only a plain interface name may.
bool interface_name(const char* word) {
    size_t length = 0;
    for (; word[length] != '\0'; ++length) {
        char c = word[length];
        if (!is_digit(c) && !is_letter(c) && c != '.' && c != '_' && c != '-') return false;
    }
    return length >= 1 && length <= 15;
}

void set_text(char* field, const char* text) {
    copy_cut(field, text, strlen(text));
}

// The word followed by the unit's text, cut to 31 as a whole.
void join_cut(char* field, const char* word, const char* unit) {
    size_t length = copy_cut(field, word, strlen(word));
    size_t unit_length = strlen(unit);
    if (unit_length > FIELD_TEXT_MAX - length) unit_length = FIELD_TEXT_MAX - length;
    memcpy(field + length, unit, unit_length);
    field[length + unit_length] = '\0';
}

// The value after key, up to the first of the stop characters (or the end), cut to 31.
// The position past the value; nullptr when the key is absent (field untouched).
const char* key_value(const char* from, const char* key, const char* stops, char* field) {
    const char* at = strstr(from, key);
    if (at == nullptr) return nullptr;
    const char* value = at + strlen(key);
    size_t length = strcspn(value, stops);
    copy_cut(field, value, length);
    return value + length;
}

// A word read with "%s": the unit's suffix appended when it begins with a digit, else empty.
void counter_with_unit(char* field, const char* word, const char* unit, int width) {
    if (is_digit(word[0]))
        join_cut(field, word, unit);
    else
        field[0] = '\0';
    pad_field(field, width);
}

void parse_data_lines(DeviceRecord& rec, const char* text) {
    static const char* const patterns[3] = {"TX: %s", "RX: %s", "Total: %s"};
    char* fields[3] = {rec.data_sent, rec.data_received, rec.data_total};
    const char* p = text;
    for (int line = 0; line < 3 && p != nullptr; ++line) {
        p += strspn(p, "\r\n");
        if (*p == '\0') break; // fewer lines: the rest keep their values
        const char* end = p + strcspn(p, "\r\n");
        char word[FIELD_TEXT_MAX + 1];
        if (!scan_word(p, end, patterns[line], word)) word[0] = '\0';
        counter_with_unit(fields[line], word, " MB", 15);
        p = end;
    }
}

// Pieces of the sentence split at commas, a run of commas counting as one.
void parse_gps(DeviceRecord& rec, const char* text, CycleBuffers& b) {
    // The first word of the text: the whole sentence, which holds no blanks.
    static const char kSpace[] = " \t\r\n\v\f";
    b.sentence[0] = '\0';
    if (text != nullptr) {
        const char* p = text + strspn(text, kSpace);
        size_t length = strcspn(p, kSpace);
        if (length >= sizeof b.sentence) length = sizeof b.sentence - 1;
        memcpy(b.sentence, p, length);
        b.sentence[length] = '\0';
    }
    int piece = 0;
    const char* p = b.sentence;
    while (*p != '\0') {
        p += strspn(p, ",");
        if (*p == '\0') break;
        size_t length = strcspn(p, ",");
        ++piece;
        char cut[FIELD_TEXT_MAX + 1];
        copy_cut(cut, p, length);
        switch (piece) {
        case 4:
            memcpy(b.raw_latitude, cut, sizeof cut);
            break;
        case 5:
            memcpy(rec.lat_hemisphere, cut, sizeof cut);
            break;
        case 6:
            memcpy(b.raw_longitude, cut, sizeof cut);
            break;
        case 7:
            memcpy(rec.lon_hemisphere, cut, sizeof cut);
            break;
        case 8: {
            char kph[FIELD_TEXT_MAX + 1];
            knots_to_kph(cut, kph);
            join_cut(rec.speed, kph, " kph");
            break;
        }
        default:
            break;
        }
        p += length;
    }
    nmea_to_degrees(b.raw_latitude, rec.latitude, rec.lat_hemisphere, "");
    nmea_to_degrees(b.raw_longitude, rec.longitude, "", rec.lon_hemisphere);
    pad_field(rec.latitude, 31);
    pad_field(rec.lat_hemisphere, 31);
    pad_field(rec.longitude, 31);
    pad_field(rec.lon_hemisphere, 31);
    pad_field(rec.speed, 31);
}

void parse_network_type(DeviceRecord& rec, const char* reply) {
    auto flag = [reply](const char* key) {
        const char* at = strstr(reply, key);
        return at != nullptr && at[strlen(key)] == '1';
    };
    bool g2 = flag("rfdiag.network2g="), g3 = flag("rfdiag.network3g="),
         g4 = flag("rfdiag.network4g=");
    char mode[FIELD_TEXT_MAX + 1] = "";
    key_value(reply, "rfdiag.systemmode=", "\r\n", mode);
    if (mode[0] != '\0')
        set_text(rec.network_type, mode);
    else
        set_text(rec.network_type, g4 ? "4G" : g3 ? "3G" : g2 ? "2G" : "Not Available");
    pad_field(rec.network_type, 31);
}

void parse_wlan_mode(DeviceRecord& rec, const char* reply) {
    const char* at = strstr(reply, "cmd wlan enable ");
    char c = at != nullptr ? at[16] : '\0';
    int mode = (c == '1' || c == '2' || c == '3') ? c - '0' : 0;
    set_text(rec.wifi_mode, mode == 2 ? "Access Point" : mode == 0 ? "None" : "Client");
    pad_field(rec.wifi_mode, 31);
    set_text(rec.activity_caption, mode == 3 ? "Wi-Fi Activity" : "Cellular Activity");
}

// A key whose value runs through the first " dBm" after it; without one it counts as absent.
const char* dbm_value(const char* from, const char* key, char* field) {
    const char* at = strstr(from, key);
    const char* dbm = at != nullptr ? strstr(at + strlen(key), " dBm") : nullptr;
    if (dbm == nullptr) {
        set_text(field, "Not Available");
    } else {
        const char* value = at + strlen(key);
        copy_cut(field, value, static_cast<size_t>(dbm + 4 - value));
        if (field[0] == '\0') set_text(field, "Not Available");
        from = dbm[4] != '\0' ? dbm + 5 : dbm + 4; // past the character after "dBm"
    }
    pad_field(field, 31);
    return from;
}

void parse_iwconfig(DeviceRecord& rec, const char* reply) {
    const char* pos = reply;
    rec.ap_mac[0] = '\0';
    const char* end = key_value(pos, "Access Point: ", "\r\n", rec.ap_mac);
    if (end != nullptr && *end != '\0') pos = end + 1;
    pad_field(rec.ap_mac, 31);

    pos = dbm_value(pos, "Tx-Power=", rec.tx_power);

    rec.link_quality[0] = '\0';
    end = key_value(pos, "Link Quality=", " \r\n", rec.link_quality);
    if (end != nullptr && *end != '\0') pos = end + 1;
    if (rec.link_quality[0] == '\0') set_text(rec.link_quality, "Not Available");
    pad_field(rec.link_quality, 31);

    pos = dbm_value(pos, "Signal level=", rec.rx_power);
    dbm_value(pos, "Noise level=", rec.noise_level);
}

// The 17 or 18 exchanges; false at the first one that fails.
bool run_cycle(DeviceRecord& rec, CycleBuffers& b) {
    char* reply = b.reply;

    if (!exchange(rec, "cmd device cell\r", reply)) return false;
    scan_field(skip_echo_line(reply), "cmd device cell %s", rec.cell_hardware, 31);

    if (!exchange(rec, "cmd device wifi\r", reply)) return false;
    scan_field(skip_echo_line(reply), "cmd device wifi %s", rec.wifi_hardware, 31);

    if (strncmp(rec.cell_hardware, "NONE", 4) != 0 && strncmp(rec.wifi_hardware, "NONE", 4) != 0) {
        if (!exchange(rec, "cmd device priority\r", reply)) return false;
        scan_field(skip_echo_line(reply), "cmd device priority %s", rec.priority, 31);
    } else {
        set_text(rec.priority, "Not Available");
    }
    pad_field(rec.priority, 31);

    if (!exchange(rec, "cmd ver\r", reply)) return false;
    scan_field(skip_echo_line(reply), "%s", rec.firmware_version, 31);

    if (!exchange(rec, "uptime\r", reply)) return false;
    uptime_extract(skip_echo_line(reply), rec.uptime);
    pad_field(rec.uptime, 31);

    if (!exchange(rec, "cmd esn\r", reply)) return false;
    scan_field(skip_echo_line(reply), "%s", rec.imei, 31);
    if (!is_digit(rec.imei[0])) rec.imei[0] = '\0';
    pad_field(rec.imei, 31);

    if (!exchange(rec, "cmd modemid\r", reply)) return false;
    scan_field(skip_echo_line(reply), "cmd modemid %s", rec.modem_id, 0);
    if (!is_digit(rec.modem_id[0]) && !is_letter(rec.modem_id[0])) rec.modem_id[0] = '\0';
    pad_field(rec.modem_id, 31);

    if (!exchange(rec, "cmd ipadr\r", reply)) return false;
    scan_field(skip_echo_line(reply), "%s", rec.wwan_ip, 0);
    if (!is_digit(rec.wwan_ip[0])) rec.wwan_ip[0] = '\0';
    pad_field(rec.wwan_ip, 31);

    char word[FIELD_TEXT_MAX + 1];
    if (!exchange(rec, "cmd rfstats|grep 'Signal Quality'|awk -F: '{print $2}'\r", reply))
        return false;
    if (!scan_text(skip_echo_line(reply), "%s", word) || word[0] == '%') {
        rec.signal_quality[0] = '\0';
    } else {
        word[strcspn(word, "%")] = '\0';
        join_cut(rec.signal_quality, word, " %");
    }
    pad_field(rec.signal_quality, 31);

    if (!exchange(rec, "cmd data\r", reply)) return false;
    parse_data_lines(rec, skip_echo_line(reply));

    if (!exchange(rec, "cmd odometer\r", reply)) return false;
    if (!scan_text(skip_echo_line(reply), "%s", word)) word[0] = '\0';
    counter_with_unit(rec.odometer, word, " km", 31);

    if (!exchange(rec, "cmd gpsrmc\r", reply)) return false;
    parse_gps(rec, skip_echo_line(reply), b);

    if (!exchange(rec, "cmd rfstats\r", reply)) return false;
    parse_network_type(rec, reply);

    if (!exchange(rec, "cmd wlan enable\r", reply)) return false;
    parse_wlan_mode(rec, reply);

    if (!exchange(rec, "cmd wandevice\r", reply)) return false;
    memset(b.wan_interface, 0, sizeof b.wan_interface);
    if (key_value(reply, "cmd wandevice ", "\r\n", b.wan_interface) == nullptr ||
        !interface_name(b.wan_interface))
        set_text(b.wan_interface, "wlan0");

    if (!exchange(rec, "uci show wireless\r", reply)) return false;
    rec.ap_ssid[0] = '\0';
    key_value(reply, "wireless.@wifi-iface[0].ssid=", "\r\n", rec.ap_ssid);
    pad_field(rec.ap_ssid, 31);

    if (!exchange(rec, "iwconfig\r", reply)) return false;
    parse_iwconfig(rec, reply);

    (void)snprintf(b.command, sizeof b.command, "ifconfig %s\r", b.wan_interface);
    if (!exchange(rec, b.command, reply)) return false;
    rec.wifi_ip[0] = '\0';
    key_value(reply, "inet addr:", " \r\n", rec.wifi_ip);
    pad_field(rec.wifi_ip, 31);
    return true;
}

} // namespace

bool poll_status(DeviceRecord& rec) {
    if (rec.socket.load() == NO_SOCKET) return false;
    if (request_raised(REQUEST_POWER_CYCLE)) {
        lower_request(REQUEST_POWER_CYCLE);
        return serve_power_cycle(rec);
    }
    // Lowers the bit itself; false when the unit's reply never ended and the link is out of step.
    if (request_raised(REQUEST_LOG_CAPTURE) && !serve_log_capture(rec)) return false;
    if (!request_raised(REQUEST_REFRESH)) return true;
    lower_request(REQUEST_REFRESH);

    CycleBuffers buffers;
    buffers.raw_latitude[0] = '\0';
    buffers.raw_longitude[0] = '\0';
    return run_cycle(rec, buffers);
}
