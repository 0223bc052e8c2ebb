// The protocol as the front ends (the window, pathlume-cli and the
// screenshot tool) see it: the one protocol header they include. Finding
// devices, reading and writing a configuration, the write planner, the
// field rules, the journal and the Find report all come in through here,
// and nothing else: the engine's tables and flags, the ring, the frames
// and their sending, and the test hooks stay in engine.h, codec.h, udp.h,
// rxring.h and socketio.h, which only protocol/ itself, the tests, the
// benchmarks and the simulated device include.
// tests/protocol_front_door.cmake refuses any other protocol header in ui/,
// app/, tools/cli/ and tools/screenshot/, and any of those five among the
// headers this one brings in.
#pragma once

#include "cfgrules.h"
#include "findreport.h"
#include "journal.h"
#include "platform.h"
#include "records.h"
#include "requests.h"
#include "textutil.h"
#include "transport.h"
#include "writecheck.h"
#include "writeplan.h"
