// Writing a configuration and checking that the device took it, the same
// way from the window's form and from pathlume-cli: the records go to the
// device as a SetConfig; after 30 ms, the time a device needs to take them,
// a GetConfig of the same device reads it again (through the front end's
// own monitor); once that read has ended, every written value is looked for
// in what the device reported.
#pragma once

#include <cstddef>

#include "records.h"

constexpr int kRereadDelayMs = 30;

struct WriteCheck {
    RecordTable written{};   // the records the write carried
    char mac[kMacSize] = {};
    char serial[kSerialSize] = {};
};

// Names the device (mac, serial) as the target of the next GetConfig, puts
// table into the WriteTable and sends it to the device as a SetConfig, keeps
// what was sent in *check, and waits the 30 ms before the re-read may
// start. StartRequest's result. This is how a front end sends a planned
// write (WritePlan's table).
int SendCheckedWrite(WriteCheck* check, const RecordTable& table, const char* mac,
                     const char* serial);

// Once the re-read has ended: its configuration into *reread and the
// outcome into line ("Configuration verified.", "Device did not take: KEY,
// ...", or the no-answer sentence when the device's configuration did not
// come). Returns how many written values the device did not take, or -1
// when it did not answer.
int FinishWriteCheck(const WriteCheck& check, RecordTable* reread, char* line, size_t size);
