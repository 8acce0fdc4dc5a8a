#include "dialogs/dialog_factory.h"

#include "dialogs/analog_dialog.h"
#include "dialogs/camera_dialog.h"
#include "dialogs/image_dialog.h"

namespace quorix::dialogs {

std::unique_ptr<DialogModel> OpenDialog(DialogKind kind, CQuorix& context,
                                        platform::Language language) {
    if (context.Engine() == nullptr) {
        return nullptr;
    }
    switch (kind) {
        case DialogKind::kAnalog:
            return std::make_unique<AnalogDialog>(context, language);
        case DialogKind::kImage:
            return std::make_unique<ImageDialog>(context, language);
        case DialogKind::kCamera:
            break;
    }
    return std::make_unique<CameraDialog>(context, language);
}

}  // namespace quorix::dialogs
