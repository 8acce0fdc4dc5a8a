// Output calls of the camera context: saving the last processed frame to an image file, and
// recording the preview's frames into an AVI file.

#include <cstring>
#include <mutex>

#include "context/quorix.h"
#include "output/image_file.h"

namespace quorix {

int CQuorix::SaveImage(const char* fileName, int32_t format) {
    if (!m_engine) {
        return NotAvailable(0);
    }
    // An unknown format is refused before anything else, with no code.
    if (format < 0 || format >= kFileFormatCount) {
        return 0;
    }
    if (fileName == nullptr || fileName[0] == '\0') {
        SetError(kErrArgument);
        return 0;
    }
    // The frame is copied under the frame lock and encoded after it: the preview's worker waits
    // for one copy, never for an encoder or the disk.
    CImageBuffer frame;
    {
        std::lock_guard lock(m_frameLock);
        const CImageBuffer& image = *m_images[OutputSlot()];
        if (m_frameAvailable.load() == 0 || image.Bits() == nullptr ||
            m_preparedType != m_colourType) {
            return NotAvailable(0);
        }
        if (!frame.CopyFormat(image)) {
            SetError(kErrBuffer);
            return 0;
        }
        std::memcpy(frame.Bits(), image.Bits(), image.SizeBytes());
    }
    if (SaveImageFile(fileName, frame, format) != SaveResult::kSaved) {
        SetError(kErrText);
        return 0;
    }
    return 1;
}

int CQuorix::Record(const char* fileName, uint32_t durationMs, int32_t showWindow) {
    if (fileName == nullptr || fileName[0] == '\0') {
        SetError(kErrArgument);
        return 0;
    }
    if (!m_engine) {
        return NotAvailable(0);
    }
    // A recording still running ends here, its file finished, before the new one starts.
    m_recorder.Stop(AviRecorder::EndReason::kStopped);
    // Recording delivers no frames to the application.
    {
        std::lock_guard lock(m_frameLock);
        m_callbackWindow.store(0);
        m_callbackBuffer = nullptr;
        m_callbackSize = 0;
        m_callbackOrientation = 0;
    }
    if (showWindow != 0 && PlacementWantsWindow()) {
        const uint32_t code = OpenPreviewWindow();
        if (code != kErrNone) {
            SetError(code);
            return 0;
        }
    }
    if (!StartPreview()) {
        Close();
        SetError(kErrText);
        return 0;
    }
    int32_t width = 0;
    int32_t height = 0;
    {
        std::lock_guard lock(m_frameLock);
        const CImageBuffer& image = *m_images[OutputSlot()];
        width = image.Width();
        height = image.Height();
    }
    // A file that cannot be written on tells the application by code 12 as well as by the
    // recording's status; a recording that ended as asked does not.
    const auto onEnd = [this](AviRecorder::EndReason reason) {
        if (reason == AviRecorder::EndReason::kWriteFailed ||
            reason == AviRecorder::EndReason::kSizeLimit) {
            SetError(kErrText);
        }
    };
    switch (m_recorder.Start(fileName, width, height, durationMs, onEnd)) {
        case AviRecorder::StartResult::kStarted:
            return 1;
        case AviRecorder::StartResult::kFileFailed:
            Close();
            SetError(kErrText);
            return 0;
        case AviRecorder::StartResult::kNoMemory:
            Close();
            SetError(kErrBuffer);
            return 0;
        case AviRecorder::StartResult::kNoThread:
            Close();
            SetError(kErrThread);
            return 0;
    }
    return 0;
}

}  // namespace quorix
