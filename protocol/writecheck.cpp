#include "writecheck.h"

#include <cstdio>

#include "cfgrules.h"
#include "engine.h"
#include "platform.h"

namespace {

void CopyName(char* dst, size_t size, const char* src)
{
    std::snprintf(dst, size, "%s", src ? src : "");
}

}  // namespace

int SendCheckedWrite(WriteCheck* check, const RecordTable& table, const char* mac,
                     const char* serial)
{
    check->written = table;
    CopyName(check->mac, sizeof check->mac, mac);
    CopyName(check->serial, sizeof check->serial, serial);
    SetTargetMac(check->mac);
    SetTargetSerial(check->serial);
    // The write goes out from the process-wide WriteTable, where it stays
    // until the next one; the check keeps its own copy.
    ClearWriteTable();
    WriteTable = check->written;
    const int r = StartRequest(RequestKind::SetConfig, &WriteTable);
    SleepMs(kRereadDelayMs);
    return r;
}

int FinishWriteCheck(const WriteCheck& check, RecordTable* reread, char* line, size_t size)
{
    if (!ReplyTableHoldsConfigOf(check.mac, check.serial)) {
        ClearRecordTable(reread);
        std::snprintf(line, size, "%s", kCfgNoAnswer);
        return -1;
    }
    CopyReplyTable(reread);
    return VerifyWrite(check.written, *reread, line, size);
}
