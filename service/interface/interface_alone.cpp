// Built in both trees with nothing but this target: the two headers stand
// on their own, without windows.h or any other part of the suite.
#include "motion_section.h"
#include "pipe_protocol.h"
