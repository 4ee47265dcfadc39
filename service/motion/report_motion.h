// The whole per-report chain of the service for one report, as the readers
// apply it; they call these with a device slot's own fields.
// No windows.h: built in the service and in the native tests.
#pragma once
#include <stdint.h>

// One ball report: SolveBallMotion (with its response curve), the axis
// convention, then the gains (gains[0] pan on tx and ty, gains[1] zoom on tz,
// gains[2] spin on rx, ry, rz). out: tx, ty, tz, rx, ry, rz. data: report
// bytes 1-8; all-zero data gives zero outputs and leaves the state alone, so
// the reader may skip the call for it. Returns 1 when any output is non-zero.
int ProcessBallReport(int16_t out[6], const uint8_t data[8], float solverState[3],
                      uint8_t restZone, const int16_t gains[4], uint16_t axisConvention);

// One scroll-hat report: DecodeScrollReport, y negated (-32768 becomes 32767),
// then gains[3] on both. out: x, y. data: report bytes 1-3 (after the reader's
// baseline suppression). Returns 1 when x or y is non-zero.
int ProcessScrollReport(int16_t out[2], const uint8_t data[3], uint8_t restZone,
                        const int16_t gains[4]);
