// Prints the cost of the double-precision navigation, in ns per call: object
// control, the fly step, the snap, and a whole Step of each kind with a host
// whose operations do nothing. Best of several runs; no pass or fail. The
// native build carries AddressSanitizer and UndefinedBehaviorSanitizer, so
// its figures are those of the instrumented code.
#include <stdio.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "kestrin_zel2_host.h"
#include "nav_test_util.h"
#include "navigation.h"

namespace {

using namespace navtest;

class EmptyHost : public INavigationHost {
 public:
  explicit EmptyHost(const NavSettings& s) : settings(s) {}
  NavSettings settings;
  long KESTRIN_ZEL2_CALL Reserved0() override { return 0; }
  long KESTRIN_ZEL2_CALL ApplyView(NavView*) override { return 0; }
  NavSettings* KESTRIN_ZEL2_CALL QuerySettings(void*) override { return &settings; }
  long KESTRIN_ZEL2_CALL PivotChanged(double*) override { return 0; }
  long KESTRIN_ZEL2_CALL Reserved4() override { return 0; }
  long KESTRIN_ZEL2_CALL OnIdle() override { return 0; }
  long KESTRIN_ZEL2_CALL Reserved6() override { return 0; }
  long KESTRIN_ZEL2_CALL OnTimer() override { return 0; }
};

volatile double g_Sink;

template <typename Body>
double BestNsPerCall(int calls, Body body) {
  double best = 1e30;
  for (int run = 0; run < 7; ++run) {
    const auto start = std::chrono::steady_clock::now();
    for (int n = 0; n < calls; ++n) body(n);
    const auto end = std::chrono::steady_clock::now();
    const double ns = std::chrono::duration<double, std::nano>(end - start).count() / calls;
    if (ns < best) best = ns;
  }
  return best;
}

// Small readings, as from a hand moving the ball, cycling.
std::vector<NavMotion> Readings(int count) {
  Random r(0xbe7c4);
  std::vector<NavMotion> all(count);
  for (NavMotion& m : all) {
    m.tx = r.Uniform(-1, 1);
    m.ty = r.Uniform(-1, 1);
    m.tz = r.Uniform(-1, 1);
    m.rx = r.Uniform(-1, 1);
    m.ry = r.Uniform(-1, 1);
    m.rz = r.Uniform(-1, 1);
    m.scrollX = m.scrollY = 0;
  }
  return all;
}

NavSettings Settings(uint32_t kind) {
  NavSettings s = KestrinNav::DefaultSettings;
  s.kind = kind;
  s.pivotDepth = -3.0;
  s.upright = 1;
  return s;
}

}  // namespace

int main() {
  const int kCalls = 200000, kCycle = 1024, kMask = kCycle - 1;
  const double dt = 0.016;
  const std::vector<NavMotion> readings = Readings(kCycle);
  std::vector<NavDelta> deltas(kCycle);
  for (int i = 0; i < kCycle; ++i) {
    const NavMotion& m = readings[i];
    deltas[i] = Delta(m.tx * dt, m.ty * dt, 1.0 + m.tz * dt, m.rx * dt, m.ry * dt, m.rz * dt);
  }
  Random r(0x5a9);
  std::vector<NavMat43> frames(kCycle);
  for (NavMat43& f : frames) f = Frame(r.RotationMatrix(), r.Vector(10));

  // The floor: copying a reading's worth of records, as every loop below does.
  const double floorNs = BestNsPerCall(kCalls, [&](int n) {
    NavDelta d = deltas[n & kMask];
    g_Sink = d.dx;
  });

  NavVolume volume = Volume(1.0, 0.75, 0.5, 0.05, -0.02);
  NavSettings objectSettings = Settings(0);
  objectSettings.pivot = V(0.1, 0.2, 0.3);
  NavXform object = Xform(1.5, Rotation(0.3, V(1, 2, 3)), V(0, 0, -4));
  const NavXform parent = Xform(2.0, Rotation(0.4, V(0, 1, 0)), V(1, 0, 0));
  const NavMat43 camera = Frame(Rotation(0.2, V(1, 0, 0)), V(0, 0, 5));
  const double objectNs = BestNsPerCall(kCalls, [&](int n) {
    KestrinNav::ObjectControl(&volume, &objectSettings, &object, &parent, &camera,
                              &deltas[n & kMask]);
    g_Sink = object.translation.x;
  });

  NavSettings flySettings = Settings(2);
  NavMat43 flying = Frame(Ident(), V(0, 0, 5));
  const double flyNs = BestNsPerCall(kCalls, [&](int n) {
    NavDelta d = deltas[n & kMask];
    KestrinNav::FlyCamera(&volume, &flySettings, &flying, &d);
    g_Sink = flying.translation.x;
  });

  unsigned char record[152];
  std::memset(record, 0, sizeof record);
  const NavVec3 point = V(1, 2, 3);
  const double snapNs = BestNsPerCall(kCalls, [&](int n) {
    std::memcpy(record + 56, &frames[n & kMask], sizeof(NavMat43));
    KestrinNav::SnapOrientation(&point, record);
    g_Sink = record[60];
  });

  struct StepKind {
    const char* name;
    uint32_t viewKind, settingsKind;
  } kinds[] = {
      {"Step, 2D pan and zoom", 1, 1},
      {"Step, 3D scene about the view-axis pivot", 2, 1},
      {"Step, 3D scene about an object pivot", 2, 0},
      {"Step, 3D camera fly", 2, 2},
  };
  double stepNs[4];
  for (int k = 0; k < 4; ++k) {
    EmptyHost host(Settings(kinds[k].settingsKind));
    NavView view;
    std::memset(&view, 0, sizeof view);
    view.kind = kinds[k].viewKind;
    view.volume = volume;
    view.camera = Frame(Rotation(0.2, V(1, 0, 0)), V(0, 0, 5));
    stepNs[k] = BestNsPerCall(kCalls, [&](int n) {
      NavMotion m = readings[n & kMask];
      KestrinNav::Step(&host, dt, &m, &view);
      g_Sink = m.tx;
    });
  }

#if defined(_WIN64)
  const char* build = "Windows x64";
#elif defined(_WIN32)
  const char* build = "Windows x86";
#else
  const char* build = "native, with AddressSanitizer and UndefinedBehaviorSanitizer";
#endif
  printf("double-precision navigation, %s, ns per call (best of 7 runs of %d calls)\n", build,
         kCalls);
  printf("  %-48s %8.1f\n", "floor: copying one step's delta", floorNs);
  printf("  %-48s %8.1f\n", "object control (camera, parent, upright, fence)", objectNs);
  printf("  %-48s %8.1f\n", "camera fly step (upright)", flyNs);
  printf("  %-48s %8.1f\n", "snap about a point", snapNs);
  for (int k = 0; k < 4; ++k) printf("  %-48s %8.1f\n", kinds[k].name, stepNs[k]);
  return 0;
}
