#pragma once

#include <cstdint>

#include <quorix/quorix.h>

namespace quorix {

// The codes a camera context records in its error history and posts to the application.
enum ErrorCode : uint32_t {
    kErrNone = QUORIX_ERR_NONE,
    kErrNoEngine = QUORIX_ERR_NO_ENGINE,
    kErrNoCamera = QUORIX_ERR_NO_CAMERA,
    kErrThread = QUORIX_ERR_THREAD,
    kErrWindow = QUORIX_ERR_WINDOW,
    kErrBuffer = QUORIX_ERR_BUFFER,
    kErrRegister = QUORIX_ERR_REGISTER,
    kErrCaptureWindow = QUORIX_ERR_CAPTURE_WINDOW,
    kErrAcquisition = QUORIX_ERR_ACQUISITION,
    kErrArgument = QUORIX_ERR_ARGUMENT,
    kErrUnsupported = QUORIX_ERR_UNSUPPORTED,
    kErrText = QUORIX_ERR_TEXT,
    kErrTransferStopped = QUORIX_ERR_TRANSFER_STOPPED,
    kErrMaskFile = QUORIX_ERR_MASK_FILE,
};

}  // namespace quorix
