// How long this module stays loaded. A host may destroy a handle on one of
// its threads while the library's call of that handle's host runs on
// another, and then unload the library at once: that call still has to
// return into this module's code.
#pragma once

// Keeps this module loaded until the process ends, whatever the host
// unloads; for a call of the host under way on another thread when its
// handle's destroy returns.
void KeepThisModuleLoaded();
