// Parsing helpers of the poll cycle. Every field written stays within 31 characters.
#pragma once

const char* skip_echo_line(const char* reply); // text after the echoed line, or nullptr
void scan_field(const char* text, const char* pattern, char* field, int width);
void uptime_extract(const char* text, char* field);
void knots_to_kph(const char* number, char* field);
void nmea_to_degrees(const char* raw, char* field, const char* south, const char* west);
