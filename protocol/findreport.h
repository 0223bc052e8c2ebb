// What a Find found, told in the same words by the window's status log and
// by pathlume-cli: the count, serial numbers that answered from several MAC
// addresses, devices left out of a full table, replies the system dropped.
#pragma once

#include <cstddef>

#include "requests.h"

// Orders devices by serial number, then by MAC address (byte order).
void SortDevices(DeviceEntry* devices, int count);

// "N devices found.", "1 device found." or "No device found."
void FoundCountText(char* out, size_t size, int count);

// "More devices answered than the N listed."
void LeftOutText(char* out, size_t size, int listed);

// "Serial number S answered from N MAC addresses."
void SharedSerialText(char* out, size_t size, const char* serial, int macs);

// The next serial number that several devices of a sorted list share, from
// row *from on: its first row, with *macs how many rows carry it, and *from
// moved past them; -1 when no such serial number is left.
int NextSharedSerial(const DeviceEntry* sorted, int count, int* from, int* macs);

// "N cut replies were ignored." ("1 cut reply was ignored."): replies whose
// datagram ended before their terminator, said once after a request.
void CutRepliesText(char* out, size_t size, unsigned count);

// Where a device's replies came from. The address of one origin as dotted
// text ("10.31.0.2"), "" when not known.
void OriginAddressText(const ReplyOrigin& o, char* out, size_t size);
// Every origin of a device as "10.31.0.2 (va0)", separated by ", "; the
// port is named when it is not the device port ("10.31.0.2:5000 (va0)"),
// the interface when it is known. "" when none is known.
void OriginsText(const DeviceEntry& d, char* out, size_t size);
// True when the device's replies came from known addresses, none of which
// is the IP address it reports (IP_CUR).
bool AnsweredFromAnotherAddress(const DeviceEntry& d);

// "Answered from 10.31.0.2 (va0)." or, when that is not the IP address
// the device reports, "Answered from 10.31.0.2 (va0), not from its IP
// address 192.168.77.20."; "" when no origin is known.
void AnsweredFromText(const DeviceEntry& d, char* out, size_t size);

// Said when the system dropped datagrams on the reply port during a request.
extern const char kRepliesLostText[];
