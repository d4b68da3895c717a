// The status query: 17 or 18 exchanges whose replies fill the status fields.
#pragma once

struct DeviceRecord;

// Serves, in order, a power cycle (alone), a log capture, then a raised refresh.
// False when the connection must be dropped.
bool poll_status(DeviceRecord& rec);
