// The device simulator's engine: simulated HID interfaces served over the
// named pipes of sim_protocol.h, on one worker thread. The simulator program
// drives it from a script; the device tests drive it in-process, step by step.
//
// Calls are made from one driving thread; the worker thread only answers the
// access layer's requests and follows its connections.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "sim_firmware.h"

constexpr int kSimMaxInterfaces = 16;

// Starts the worker thread and the control and notice pipes; 1 or 0.
int SimStart();
// Closes every pipe and ends the worker thread.
void SimStop();
// Unplugs and forgets every interface (the pipes of the simulator stay).
void SimReset();

// "\\?\hid#vid_15de&pid_6000&mi_0<mi>#7&<instance>&0&0000#{hid class guid}",
// lower case as the system reports it.
void SimInterfacePath(char* out, size_t size, int mi, uint32_t instance);

// An interface with that path, serial number and firmware version (not
// plugged in yet); its index, or -1 when the table is full.
int SimAddInterface(const char* path, const wchar_t* serial, uint16_t version);
// Both interfaces of one device: the ball's index (the scroll hat's is one
// more). Feature reports of the scroll hat reach the ball's firmware.
int SimAddDevice(const wchar_t* serial, uint16_t version, uint32_t instance);

// Plugging creates the interface's data pipe (and sends an arrival notice
// when notify is set); unplugging closes it, which ends a pending read of the
// access layer with ERROR_DEVICE_NOT_CONNECTED.
int SimPlug(int index, int notify);
void SimUnplug(int index);
// Waits until the access layer's notice thread listens for arrivals (1) or
// the time is over (0); notices sent before then are lost, as on a system
// where nobody registered for them.
int SimWaitNoticeListener(DWORD timeoutMs);
// 1 while the access layer holds the interface open.
int SimIsOpen(int index);
// Waits until the interface is open (1) or the time is over (0).
int SimWaitOpen(int index, DWORD timeoutMs);

// What one read of the interface returns: the bytes as they are; 1 when
// they were handed to an open interface, 0 when nobody opened it within a
// second.
int SimSend(int index, const void* bytes, uint32_t count);
// A read that fails with error, still delivering bytes (may be none).
int SimSendError(int index, uint32_t error, const void* bytes, uint32_t count);

// The firmware behind the interface's feature reports (the ball's, for both
// interfaces of a device), to set faults and to look at its traffic. Only
// touched by the worker thread while a request is served: change it between
// requests.
SimFirmware* SimFirmwareOf(int index);
// Identity faults: the next attribute or serial-number requests fail.
void SimFailIdentity(int index, uint32_t attributeFailures, uint32_t serialFailures);
const char* SimPathOf(int index);
