// The monitor's two uses of the interface library Kestrin1: one connection
// object for the program's lifetime, and the view of the scene.
#pragma once

namespace monitor {

// Registers MonitorCallback (0 for every event) with this process's id and
// builds one connection object with id 0 and mode 0, kept until exit.
void CreateDevice();

// Projection and model-view of the scene for a client area of width x
// height: orthographic, centre (0, 0), view plane -50, height 100, near -1,
// far -200, seen from a camera at (0, 0, 80) without rotation.
void ApplyMonitorView(unsigned width, unsigned height);

}  // namespace monitor
