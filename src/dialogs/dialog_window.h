#pragma once

#include <quorix/quorix.h>

#include "context/quorix.h"
#include "dialogs/dialog_factory.h"

namespace quorix::dialogs {

// Shows a settings dialog modally on the calling thread through the toolkit view module, which
// is loaded beside the library on the first call (an application that opens no dialog never
// loads the toolkit). Returns the model's result, 1; or 0 with code 1 when the context has no
// engine or no open camera, code 4 when the module or a display is missing (nothing changed
// then).
int ShowDialog(DialogKind kind, CQuorix& context, QuorixWindow owner);

}  // namespace quorix::dialogs
