// Parts of the service that are still being written: each is removed from
// here when its own file lands. Until then the service runs without them.
#include "service_private.h"

