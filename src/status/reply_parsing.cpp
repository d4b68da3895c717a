#include "status/reply_parsing.h"

#include "status/device_record.h"
#include "status/reply_text.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The white space of a "%s" conversion.
bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

size_t copy_cut(char* field, const char* from, size_t length) {
    if (length > FIELD_TEXT_MAX) length = FIELD_TEXT_MAX;
    memcpy(field, from, length);
    field[length] = '\0';
    return length;
}

bool scan_word(const char* text, const char* end, const char* pattern, char* word) {
    if (text == nullptr) return false;
    const char* t = text;
    for (const char* p = pattern; *p != '\0'; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            while (t < end && is_space(*t))
                ++t;
            const char* start = t;
            while (t < end && *t != '\0' && !is_space(*t))
                ++t;
            if (t == start) return false; // no word left
            copy_cut(word, start, static_cast<size_t>(t - start));
            return true;
        }
        if (is_space(*p)) {
            while (t < end && is_space(*t))
                ++t;
        } else {
            if (t >= end || *t != *p) return false;
            ++t;
        }
    }
    return false; // a pattern without a word conversion reads nothing
}

bool scan_text(const char* text, const char* pattern, char* word) {
    return scan_word(text, text != nullptr ? text + strlen(text) : nullptr, pattern, word);
}

const char* skip_echo_line(const char* reply) {
    if (reply == nullptr) return nullptr;
    const char* p = strpbrk(reply, "\r\n");
    if (p == nullptr) return nullptr;
    while (*p == '\r' || *p == '\n')
        ++p;
    return *p != '\0' ? p : nullptr;
}

void scan_field(const char* text, const char* pattern, char* field, int width) {
    char word[FIELD_TEXT_MAX + 1];
    if (scan_text(text, pattern, word)) memcpy(field, word, sizeof word);
    if (width > 0) pad_field(field, width);
}

void uptime_extract(const char* text, char* field) {
    const char* up = text != nullptr ? strstr(text, "up ") : nullptr;
    const char* load = up != nullptr ? strstr(up + 3, ",  load") : nullptr;
    if (load == nullptr) {
        copy_cut(field, "N/A", 3);
        return;
    }
    copy_cut(field, up + 3, static_cast<size_t>(load - (up + 3)));
}

void knots_to_kph(const char* number, char* field) {
    double knots = strtod(number, nullptr);
    (void)snprintf(field, FIELD_TEXT_MAX + 1, "%.4f", knots * 1.852);
}

void nmea_to_degrees(const char* raw, char* field, const char* south, const char* west) {
    // "%d.%s": an optional sign, digits, then after a "." the rest as one word.
    const char* p = raw;
    while (is_space(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (!is_digit(*p)) {
        field[0] = '\0'; // no integer part: nothing to show
        return;
    }
    long long whole = 0;
    while (is_digit(*p)) {
        if (whole <= INT_MAX) whole = whole * 10 + (*p - '0');
        ++p;
    }
    if (whole > INT_MAX) whole = INT_MAX;
    int integer = static_cast<int>(negative ? -whole : whole);

    char rest[FIELD_TEXT_MAX + 1] = "";
    if (*p == '.') scan_text(p + 1, "%s", rest);
    // Formatting the minutes as text keeps the fraction's leading zeros: 4905.0123 -> 5.0123.
    char minutes_text[64];
    (void)snprintf(minutes_text, sizeof minutes_text, "%d.%s", integer % 100, rest);
    int whole_degrees = integer / 100; // whole-number division: ddmm -> dd
    double degrees = whole_degrees + strtod(minutes_text, nullptr) / 60.0;
    if (strncmp(south, "S", 1) == 0 || strncmp(west, "W", 1) == 0) degrees = -degrees;
    (void)snprintf(field, FIELD_TEXT_MAX + 1, "%.4f", degrees);
}
