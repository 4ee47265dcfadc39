// The properties program's application framework: the application object and
// module state (win_app.h), windows and subclassed controls (wnd.h), modal
// dialogs (dialog.h), message maps (cmd_target.h).
#pragma once
#include "cmd_target.h"
#include "dialog.h"
#include "win_app.h"
#include "wnd.h"
