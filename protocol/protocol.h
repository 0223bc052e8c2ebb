// The protocol as the front ends (the window, pathlume-cli and the
// screenshot tool) see it: the one protocol header they include. Finding
// devices, reading and writing a configuration, the write planner, the
// field rules, the journal and the Find report all come in through here.
// tests/protocol_front_door.cmake refuses any other protocol header in ui/,
// app/, tools/cli/ and tools/screenshot/, so that what they reach is decided
// here and nowhere else.
//
// For now it brings in the engine's, the transport's and the codec's headers
// whole, so their internals (the tables, the flags, the ring, the send
// functions, the test hooks) still show through it; they are to move
// behind it into headers that only protocol/ and the tests include.
#pragma once

#include "codec.h"
#include "cfgrules.h"
#include "engine.h"
#include "findreport.h"
#include "journal.h"
#include "platform.h"
#include "textutil.h"
#include "udp.h"
#include "writecheck.h"
#include "writeplan.h"
