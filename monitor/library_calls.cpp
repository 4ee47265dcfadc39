#include "library_calls.h"

#include <windows.h>

#include "Kestrin1.h"

namespace monitor {
namespace {

long KESTRIN1_CALLBACK MonitorCallback(unsigned int, long) { return 0; }

}  // namespace

void CreateDevice() {
  Kestrin1::CKestrin::Register(MonitorCallback, GetCurrentProcessId());
  // Lives until the process ends and is not used otherwise: the connection
  // it makes is what tells the agent that a client runs.
  static Kestrin1::CKestrin* device = new Kestrin1::CKestrin(0, Kestrin1::CKestrin::AccessModeDefault);
  (void)device;
}

void ApplyMonitorView(unsigned width, unsigned height) {
  using Kestrin1::CClarity;
  static const CClarity::AViewVolume kView = {0, 0.0f, 0.0f, -50.0f, 100.0f, -1.0f, -200.0f};
  // No rotation, placed at (0, 0, 80): its inverse is the model-view matrix.
  static const CClarity::AMat43f kCamera = {
      {{{1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}}}, {0.0f, 0.0f, 80.0f}};
  CClarity::ApplyView(static_cast<float>(width), static_cast<float>(height), kView, kCamera);
}

}  // namespace monitor
