// What the unit prints for each command the viewer sends. Live values are derived from the
// time since the stand-in started, so every reply is a pure function of config and clock.
#include "sim_internal.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace unitsim {

const char* const kPrompt = "VORLIX:/# ";

namespace {

const double kPi = 3.14159265358979323846;
const char* const kSignalQuery = "cmd rfstats|grep 'Signal Quality'|awk -F: '{print $2}'";

void add_line(std::string& out, const char* text) {
    out += text;
    out += "\r\n";
}

void add_linef(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void add_linef(std::string& out, const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    add_line(out, line);
}

// Signal quality steps through every icon level: 0, 1-35, 36-55, 56-75, 76-100.
int signal_now(const Config& c, const Clock& t) {
    static const int levels[] = {75, 88, 100, 64, 45, 20, 0, 30, 52, 70};
    if (c.frozen) return c.signal_percent;
    long step = static_cast<long>(t.live_s / 4.0);
    return levels[step % 10];
}

// Data counters in tenths of a megabyte, so TX + RX = Total after printing.
void data_now(const Config& c, const Clock& t, long* tx, long* rx) {
    long grow = c.frozen ? 0 : static_cast<long>(t.live_s);
    *tx = 125 + grow / 2;
    *rx = 31 + grow / 5;
}

// A drive around a block of Vancouver; the unit moves at about 40 km/h.
struct Point {
    double lat, lon;
};
const Point kRoute[] = {{49.274167, -123.185333},
                        {49.274167, -123.160000},
                        {49.262000, -123.160000},
                        {49.262000, -123.185333}};
const int kRouteLen = 4;
const double kSpeedKnots = 22.4;

double leg_km(const Point& a, const Point& b) {
    const double r = 6371.0, rad = kPi / 180.0;
    double dlat = (b.lat - a.lat) * rad;
    double dlon = (b.lon - a.lon) * rad * std::cos((a.lat + b.lat) / 2 * rad);
    return r * std::sqrt(dlat * dlat + dlon * dlon);
}

struct Fix {
    double lat, lon, course, km;
};

Fix position_now(const Clock& t) {
    double travelled = t.live_s * kSpeedKnots * 1.852 / 3600.0;
    double loop = 0;
    for (int i = 0; i < kRouteLen; ++i)
        loop += leg_km(kRoute[i], kRoute[(i + 1) % kRouteLen]);
    double left = std::fmod(travelled, loop);
    for (int i = 0;; i = (i + 1) % kRouteLen) {
        const Point& a = kRoute[i];
        const Point& b = kRoute[(i + 1) % kRouteLen];
        double len = leg_km(a, b);
        if (left <= len || len <= 0) {
            double f = len > 0 ? left / len : 0;
            double course =
                std::atan2((b.lon - a.lon) * std::cos(a.lat * kPi / 180.0), b.lat - a.lat) * 180.0 /
                kPi;
            if (course < 0) course += 360.0;
            return Fix{a.lat + (b.lat - a.lat) * f, a.lon + (b.lon - a.lon) * f, course, travelled};
        }
        left -= len;
    }
}

// ddmm.mmmm from signed decimal degrees.
void nmea_coord(char* out, size_t size, double deg, int degree_digits) {
    long ten_thousandths = std::lround(std::fabs(deg) * 60.0 * 10000.0); // of a minute
    long whole = ten_thousandths / 600000;
    long minutes = ten_thousandths % 600000;
    snprintf(out, size, "%0*ld%02ld.%04ld", degree_digits, whole % 1000, minutes / 10000,
             minutes % 10000);
}

std::string with_checksum(const char* body) {
    unsigned sum = 0;
    for (const char* p = body; *p; ++p)
        sum ^= static_cast<unsigned char>(*p);
    char tail[8];
    snprintf(tail, sizeof tail, "*%02X", sum);
    return std::string("$") + body + tail;
}

void clock_text(char* out, size_t size, long seconds) {
    seconds %= 86400;
    snprintf(out, size, "%02ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

// Time of day the unit reports: 12:10:05 at start.
long time_of_day(const Clock& t) {
    return 12 * 3600 + 10 * 60 + 5 + static_cast<long>(t.live_s);
}

std::string gpsrmc(const Config& c, const Clock& t) {
    if (!c.gps_fix) return with_checksum("GPRMC,123519,V,,,,,,,230394,,,N");
    if (c.frozen)
        return with_checksum("GPRMC,123519,A,4916.45,N,12311.12,W,022.4,084.4,230394,003.1,W");
    Fix f = position_now(t);
    char lat[32], lon[32], hms[16], body[160];
    nmea_coord(lat, sizeof lat, f.lat, 2);
    nmea_coord(lon, sizeof lon, f.lon, 3);
    clock_text(hms, sizeof hms, time_of_day(t));
    std::string hhmmss;
    for (const char* p = hms; *p; ++p)
        if (*p != ':') hhmmss += *p;
    snprintf(body, sizeof body, "GPRMC,%s,A,%s,%c,%s,%c,%05.1f,%05.1f,061226,003.1,W",
             hhmmss.c_str(), lat, f.lat < 0 ? 'S' : 'N', lon, f.lon < 0 ? 'W' : 'E', kSpeedKnots,
             f.course);
    return with_checksum(body);
}

std::string uptime_line(const Config& c, const Clock& t) {
    long up = static_cast<long>(c.frozen ? kInitialUptime : t.up_s);
    long now = c.frozen ? 12 * 3600 + 10 * 60 + 5 : time_of_day(t);
    char hms[16], span[64];
    clock_text(hms, sizeof hms, now);
    long days = up / 86400, hours = up % 86400 / 3600, minutes = up % 3600 / 60;
    int n = 0;
    if (days > 0) n = snprintf(span, sizeof span, "%ld day%s, ", days, days == 1 ? "" : "s");
    if (hours > 0)
        snprintf(span + n, sizeof span - n, "%ld:%02ld", hours, minutes);
    else
        snprintf(span + n, sizeof span - n, "%ld min", minutes);
    char line[160];
    snprintf(line, sizeof line, " %s up %s,  load average: 0.08, 0.03, 0.01", hms, span);
    return line;
}

void rfstats(std::string& out, const Config& c, int signal) {
    add_linef(out, "rfdiag.rssi=%d", -113 + signal * 62 / 100);
    add_linef(out, "rfdiag.rsrp=%d", -125 + signal * 50 / 100);
    add_line(out, "rfdiag.rsrq=-9");
    add_line(out, "rfdiag.sinr=12");
    bool lte = c.system_mode == "LTE" || c.system_mode.empty();
    add_line(out, "rfdiag.network2g=0");
    add_linef(out, "rfdiag.network3g=%d", lte ? 0 : 1);
    add_linef(out, "rfdiag.network4g=%d", lte ? 1 : 0);
    if (!c.system_mode.empty()) add_linef(out, "rfdiag.systemmode=%s", c.system_mode.c_str());
    add_line(out, "rfdiag.band=B13");
    add_line(out, "rfdiag.channel=5230");
    add_line(out, "rfdiag.roaming=0");
    add_linef(out, "Signal Quality: %d%%", signal);
}

void uci_wireless(std::string& out, const Config& c) {
    add_line(out, "wireless.radio0=wifi-device");
    add_line(out, "wireless.radio0.type=mac80211");
    add_line(out, "wireless.radio0.channel=6");
    add_line(out, "wireless.radio0.hwmode=11g");
    add_line(out, "wireless.radio0.path=platform/10180000.wmac");
    add_line(out, "wireless.@wifi-iface[0]=wifi-iface");
    add_line(out, "wireless.@wifi-iface[0].device=radio0");
    add_line(out, "wireless.@wifi-iface[0].network=wwan");
    add_line(out, c.wlan_mode == 2 ? "wireless.@wifi-iface[0].mode=ap"
                                   : "wireless.@wifi-iface[0].mode=sta");
    add_linef(out, "wireless.@wifi-iface[0].ssid=%s", c.ssid.c_str());
    add_line(out, "wireless.@wifi-iface[0].encryption=psk2");
}

void iwconfig(std::string& out, const Config& c, const Clock& t) {
    int level = c.frozen ? -40 : -40 - static_cast<int>(t.live_s / 3) % 30;
    int quality = level + 110 > 70 ? 70 : level + 110;
    add_line(out, "lo        no wireless extensions.");
    add_line(out, "");
    add_line(out, "eth1      no wireless extensions.");
    add_line(out, "");
    add_linef(out, "wlan0     IEEE 802.11bgn  ESSID:\"%s\"", c.ssid.c_str());
    add_linef(out, "          Mode:%s  Frequency:2.437 GHz  Access Point: 00:11:22:33:44:55",
              c.wlan_mode == 2 ? "Master" : "Managed");
    add_line(out, "          Bit Rate=65 Mb/s   Tx-Power=20 dBm");
    add_line(out, "          Retry  long limit:7   RTS thr:off   Fragment thr:off");
    add_line(out, "          Power Management:off");
    add_linef(out, "          Link Quality=%d/70  Signal level=%d dBm  Noise level=-95 dBm",
              quality, level);
    add_line(out, "          Rx invalid nwid:0  Rx invalid crypt:0  Rx invalid frag:0");
    add_line(out, "          Tx excessive retries:0  Invalid misc:0   Missed beacon:0");
    add_line(out, "");
}

void ifconfig(std::string& out, const std::string& name, long tx, long rx) {
    char label[16];
    snprintf(label, sizeof label, "%-9.9s", name.c_str());
    add_linef(out, "%s Link encap:Ethernet  HWaddr 00:11:22:33:44:56", label);
    add_line(out, "          inet addr:192.168.10.1  Bcast:192.168.10.255  Mask:255.255.255.0");
    add_line(out, "          UP BROADCAST RUNNING MULTICAST  MTU:1500  Metric:1");
    add_linef(out, "          RX packets:%ld errors:0 dropped:0 overruns:0 frame:0", rx * 77);
    add_linef(out, "          TX packets:%ld errors:0 dropped:0 overruns:0 carrier:0", tx * 91);
    add_line(out, "          collisions:0 txqueuelen:1000");
    add_linef(out, "          RX bytes:%ld (%ld.%ld MiB)  TX bytes:%ld (%ld.%ld MiB)", rx * 104858,
              rx / 10, rx % 10, tx * 104858, tx / 10, tx % 10);
}

void showstate(std::string& out, const Config& c, const Clock& t, int signal, long tx, long rx) {
    add_line(out, "==== unit state ====");
    add_linef(out, "modem.id            %s", c.modem_id.c_str());
    add_linef(out, "modem.esn           %s", c.esn.c_str());
    add_linef(out, "modem.hardware      %s", c.cell_hardware.c_str());
    add_linef(out, "modem.firmware      %s", c.firmware.c_str());
    add_linef(out, "wwan.state          %s", signal > 0 ? "connected" : "searching");
    add_linef(out, "wwan.ip             %s", c.wwan_ip.c_str());
    add_linef(out, "wwan.signal         %d%%", signal);
    add_linef(out, "wwan.mode           %s", c.system_mode.c_str());
    add_linef(out, "wwan.tx_mb          %ld.%ld", tx / 10, tx % 10);
    add_linef(out, "wwan.rx_mb          %ld.%ld", rx / 10, rx % 10);
    add_linef(out, "wifi.hardware       %s", c.wifi_hardware.c_str());
    add_linef(out, "wifi.mode           %d", c.wlan_mode);
    add_linef(out, "wifi.ssid           %s", c.ssid.c_str());
    add_linef(out, "wan.device          %s", c.wan_device.c_str());
    add_linef(out, "gps.fix             %s", c.gps_fix ? "3d" : "none");
    add_linef(out, "power.mode          1");
    add_linef(out, "power.ignition      on");
    add_linef(out, "power.voltage       13.8");
    add_linef(out, "system.uptime       %s", uptime_line(c, t).c_str() + 1);
}

void showconfig(std::string& out, const Config& c) {
    static const char* const lines[] = {
        "config system",
        "\toption hostname 'vorlix'",
        "\toption timezone 'UTC'",
        "\toption log_size '64'",
        "",
        "config interface 'lan'",
        "\toption ifname 'eth1'",
        "\toption proto 'static'",
        "\toption ipaddr '192.168.10.1'",
        "\toption netmask '255.255.255.0'",
        "",
        "config interface 'wwan'",
        "\toption proto 'qmi'",
        "\toption apn 'internet'",
        "\toption auth 'none'",
        "",
        "config gps 'gps'",
        "\toption enabled '1'",
        "\toption rate '1'",
        "\toption server_port '5000'",
        "",
        "config power 'power'",
        "\toption mode '1'",
        "\toption shutdown_delay '300'",
        "\toption low_voltage '11.5'",
        "",
        "config telnet 'telnet'",
        "\toption enabled '1'",
        "\toption port '23'",
    };
    for (const char* line : lines)
        add_line(out, line);
    add_linef(out, "\toption cellular '%s'", c.cell_hardware.c_str());
    add_linef(out, "\toption wifi '%s'", c.wifi_hardware.c_str());
    add_linef(out, "\toption priority '%s'", c.priority.c_str());
    add_linef(out, "\toption wlan_enable '%d'", c.wlan_mode);
}

// Several kilobytes, so a capture of it arrives in more than one 2048-byte piece.
void syslog(std::string& out, const Config& c, const Clock& t, int signal) {
    long start = time_of_day(t) - 600;
    for (int i = 0; i < 64; ++i) {
        char hms[16];
        clock_text(hms, sizeof hms, start + i * 9);
        switch (i % 4) {
        case 0:
            add_linef(out,
                      "Dec  6 %s vorlix daemon.info rfmgr[812]: signal %d%%, rssi %d dBm, mode %s",
                      hms, signal, -113 + signal * 62 / 100, c.system_mode.c_str());
            break;
        case 1:
            add_linef(out,
                      "Dec  6 %s vorlix daemon.notice gpsd[640]: fix %s, %d satellites in view",
                      hms, c.gps_fix ? "3d" : "none", 6 + i % 5);
            break;
        case 2:
            add_linef(out,
                      "Dec  6 %s vorlix kern.info kernel: [%6d.%03d] wlan0: associated with "
                      "00:11:22:33:44:55",
                      hms, 130000 + i * 9, i * 37 % 1000);
            break;
        default:
            add_linef(out,
                      "Dec  6 %s vorlix daemon.info dhcpd[702]: DHCPACK on 192.168.10.%d to eth1",
                      hms, 100 + i % 50);
            break;
        }
    }
}

void event_dump(std::string& out, const Clock& t) {
    long start = time_of_day(t) - 3600;
    static const char* const events[] = {"POWER_ON", "IGNITION_ON", "WWAN_UP",     "GPS_FIX",
                                         "WIFI_UP",  "WWAN_DOWN",   "WWAN_UP",     "TEMP_OK",
                                         "GPS_LOST", "GPS_FIX",     "IGNITION_ON", "HEARTBEAT"};
    add_line(out, "seq  time      event");
    for (int i = 0; i < 12; ++i) {
        char hms[16];
        clock_text(hms, sizeof hms, start + i * 300);
        add_linef(out, "%4d %s  %s", 101 + i, hms, events[i]);
    }
    add_line(out, "12 events");
}

bool starts_with(const std::string& s, const char* prefix) {
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

} // namespace

std::string unit_banner(const Config& config) {
    std::string out = "\r\n\r\nBusyBox v1.19.4 built-in shell (ash)\r\n";
    out += "Enter 'help' for a list of built-in commands.\r\n\r\n";
    out += "  VORLIX " + config.modem_id + "  firmware " + config.firmware + "\r\n\r\n";
    return out;
}

std::string unit_output(const Config& c, const Clock& t, const std::string& cmd, ReplyKind* kind) {
    *kind = ReplyKind::normal;
    std::string out;
    const int signal = signal_now(c, t);
    long tx, rx;
    data_now(c, t, &tx, &rx);
    if (cmd.empty()) return out;
    if (cmd == "cmd device cell") {
        add_linef(out, "cmd device cell %s", c.cell_hardware.c_str());
    } else if (cmd == "cmd device wifi") {
        add_linef(out, "cmd device wifi %s", c.wifi_hardware.c_str());
    } else if (cmd == "cmd device priority") {
        add_linef(out, "cmd device priority %s", c.priority.c_str());
    } else if (cmd == "cmd modemid") {
        add_linef(out, "cmd modemid %s", c.modem_id.c_str());
    } else if (cmd == "cmd wlan enable") {
        add_linef(out, "cmd wlan enable %d", c.wlan_mode);
    } else if (cmd == "cmd wandevice") {
        if (!c.wan_device.empty()) add_linef(out, "cmd wandevice %s", c.wan_device.c_str());
    } else if (cmd == "cmd ver") {
        add_line(out, c.firmware.c_str());
    } else if (cmd == "cmd esn") {
        add_line(out, c.esn.c_str());
    } else if (cmd == "cmd ipadr") {
        add_line(out, c.wwan_ip.c_str());
    } else if (cmd == "cmd odometer") {
        double km = c.frozen ? 0 : position_now(t).km;
        add_linef(out, "%.1f", 1234.5 + km);
    } else if (cmd == "uptime") {
        add_line(out, uptime_line(c, t).c_str());
    } else if (cmd == kSignalQuery) {
        add_linef(out, " %d%%", signal);
    } else if (cmd == "cmd data") {
        add_linef(out, "TX: %ld.%ld", tx / 10, tx % 10);
        add_linef(out, "RX: %ld.%ld", rx / 10, rx % 10);
        add_linef(out, "Total: %ld.%ld", (tx + rx) / 10, (tx + rx) % 10);
    } else if (cmd == "cmd gpsrmc") {
        add_line(out, gpsrmc(c, t).c_str());
    } else if (cmd == "cmd rfstats") {
        rfstats(out, c, signal);
    } else if (cmd == "uci show wireless") {
        uci_wireless(out, c);
    } else if (cmd == "iwconfig") {
        iwconfig(out, c, t);
    } else if (starts_with(cmd, "ifconfig ") && cmd.size() > 9) {
        ifconfig(out, cmd.substr(9), tx, rx);
    } else if (cmd == "cmd pwrmode 2") {
        *kind = ReplyKind::power_cycle;
    } else if (cmd == "cmd showstate") {
        showstate(out, c, t, signal, tx, rx);
    } else if (cmd == "cmd showconfig") {
        showconfig(out, c);
    } else if (cmd == "cmd syslog") {
        syslog(out, c, t, signal);
    } else if (cmd == "cmd event dump") {
        event_dump(out, t);
    } else {
        out = "-sh: " + cmd + ": not found\r\n";
    }
    return out;
}

} // namespace unitsim
