#pragma once

#include <memory>

#include "context/quorix.h"
#include "dialogs/dialog_model.h"

namespace quorix::dialogs {

enum class DialogKind { kAnalog, kImage, kCamera };

// Opens the model of a dialog on a context, in the given language: the exported calls and the
// views make their dialogs through this. Null when the context has no engine (the caller records
// code 1).
std::unique_ptr<DialogModel> OpenDialog(DialogKind kind, CQuorix& context,
                                        platform::Language language);

}  // namespace quorix::dialogs
