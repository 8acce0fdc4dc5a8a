// The camera context's flat-field and defect corrections: the per-frame step of the frame
// routine, the recording of dark and white planes from live frames, and the mask file that
// stores them.
#include <array>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "context/quorix.h"
#include "imaging/mask_correction.h"
#include "platform/byte_order.h"
#include "platform/file_io.h"

namespace quorix {

namespace {

// The mask file: a 40-byte header, then the 8-bit dark and white planes and the 16-bit dark and
// white planes, each the whole sensor in memory row order (16-bit samples little-endian).
#pragma pack(push, 1)
struct MaskFileHeader {
    char magic[16];
    uint8_t width[4];     // signed 32-bit [pixels]
    uint8_t height[4];    // signed 32-bit [pixels]
    uint8_t sizes[4][4];  // bytes of each plane, in file order
};
#pragma pack(pop)
static_assert(sizeof(MaskFileHeader) == 40);

constexpr char kMaskMagic[16] = "VOLTIS MASK1000";
constexpr size_t kPlaneBytes8 = static_cast<size_t>(CQuorix::kSensorWidth) * CQuorix::kSensorHeight;
constexpr size_t kPlaneBytes16 = 2 * kPlaneBytes8;
constexpr std::array<ImageSlot, 4> kFilePlanes = {kDarkPlane8, kWhitePlane8, kDarkPlane16,
                                                  kWhitePlane16};
constexpr std::array<size_t, 4> kFilePlaneBytes = {kPlaneBytes8, kPlaneBytes8, kPlaneBytes16,
                                                   kPlaneBytes16};
constexpr size_t kMaskFileBytes = sizeof(MaskFileHeader) + 2 * kPlaneBytes8 + 2 * kPlaneBytes16;
static_assert(kMaskFileBytes == 18874408);

// Whether a header is that of a mask file of this sensor: the magic as a 0-terminated text, the
// sensor's size and the plane sizes exactly.
bool IsMaskHeader(const uint8_t* bytes) {
    MaskFileHeader header;
    std::memcpy(&header, bytes, sizeof header);
    if (std::memcmp(header.magic, kMaskMagic, sizeof kMaskMagic) != 0 ||
        static_cast<int32_t>(ReadLe32(header.width)) != CQuorix::kSensorWidth ||
        static_cast<int32_t>(ReadLe32(header.height)) != CQuorix::kSensorHeight) {
        return false;
    }
    for (size_t i = 0; i < kFilePlaneBytes.size(); ++i) {
        if (ReadLe32(header.sizes[i]) != kFilePlaneBytes[i]) {
            return false;
        }
    }
    return true;
}

// The correction planes and maps that go with a sample depth.
struct DepthSlots {
    ImageSlot dark;
    ImageSlot white;
    ImageSlot hot;
    ImageSlot dead;
    ImageSlot dots;
};
constexpr DepthSlots kSlots8{kDarkPlane8, kWhitePlane8, kHotMap8, kDeadMap8, kDotMap8};
constexpr DepthSlots kSlots16{kDarkPlane16, kWhitePlane16, kHotMap16, kDeadMap16, kDotMap16};

}  // namespace

void CQuorix::CorrectRawFrame(CImageBuffer& raw) {
    bool flatField = false;
    bool dots = false;
    {
        std::lock_guard lock(m_valuesLock);
        flatField = m_maskFilter != 0;
        dots = m_dotFilter != 0;
    }
    if ((!flatField && !dots) || !EnsureMaskPlanes()) {
        return;
    }
    std::lock_guard lock(m_maskLock);
    const DepthSlots& slots = raw.BitsPerPixel() == 16 ? kSlots16 : kSlots8;
    // The planes hold the whole sensor; a window's frame reads them at its place on the sensor.
    const auto [x0, y0] = m_preparedOrigin;
    if (flatField) {
        // A window as wide or as high as the sensor leaves its outer two pixels alone.
        const int32_t margin = m_preparedWholeSpan ? 2 : 0;
        ApplyFlatField(raw, *m_images[slots.dark], *m_images[slots.white], x0, y0, margin);
    }
    if (dots) {
        ApplyDotFilter(raw, *m_images[slots.hot], *m_images[slots.dead], *m_images[slots.dots], x0,
                       y0);
    }
}

int CQuorix::UpdateMaskData(int32_t which) {
    if (!m_engine) {
        return NotAvailable(0);
    }
    if (which != 0 && which != 1) {
        SetError(kErrText);
        return 0;
    }
    // The frame lock keeps the frame routine from changing the raw frame meanwhile; the mask lock
    // keeps the frame routine and mask file calls off the plane being replaced.
    std::lock_guard frameLock(m_frameLock);
    const CImageBuffer* raw = m_images[RawSlot()].get();
    if (raw == nullptr || raw->Bits() == nullptr || raw->Width() != kSensorWidth ||
        raw->Height() != kSensorHeight) {
        // Only a frame of the whole sensor makes a plane; any other leaves the planes as they are.
        return 1;
    }
    if (!EnsureMaskPlanes()) {
        return 0;
    }
    std::lock_guard maskLock(m_maskLock);
    const DepthSlots& slots = raw->BitsPerPixel() == 16 ? kSlots16 : kSlots8;
    CImageBuffer& plane = *m_images[which == 0 ? slots.dark : slots.white];
    if (plane.SizeBytes() != raw->SizeBytes()) {
        return 1;
    }
    std::memcpy(plane.Bits(), raw->Bits(), plane.SizeBytes());
    DeriveDefectMap(*m_images[which == 0 ? slots.hot : slots.dead], plane, which == 0);
    return 1;
}

int CQuorix::SaveMaskFile(const char* fileName) {
    if (!m_engine) {
        return NotAvailable(0);
    }
    if (fileName == nullptr || fileName[0] == '\0') {
        SetError(kErrMaskFile);
        return 0;
    }
    if (!EnsureMaskPlanes()) {
        return 0;
    }
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(kMaskFileBytes);
    } catch (const std::bad_alloc&) {
        SetError(kErrBuffer);
        return 0;
    }
    MaskFileHeader header{};
    std::memcpy(header.magic, kMaskMagic, sizeof kMaskMagic);
    WriteLe32(header.width, static_cast<uint32_t>(kSensorWidth));
    WriteLe32(header.height, static_cast<uint32_t>(kSensorHeight));
    for (size_t i = 0; i < kFilePlaneBytes.size(); ++i) {
        WriteLe32(header.sizes[i], static_cast<uint32_t>(kFilePlaneBytes[i]));
    }
    std::memcpy(bytes.data(), &header, sizeof header);
    {
        // The planes are copied under the mask lock and written after it, so the frame routine
        // never waits for the disk.
        std::lock_guard lock(m_maskLock);
        size_t offset = sizeof header;
        for (size_t i = 0; i < kFilePlanes.size(); ++i) {
            std::memcpy(bytes.data() + offset, m_images[kFilePlanes[i]]->Bits(),
                        kFilePlaneBytes[i]);
            offset += kFilePlaneBytes[i];
        }
    }
    if (!platform::ReplaceFileContents(fileName, bytes.data(), bytes.size())) {
        SetError(kErrMaskFile);
        return 0;
    }
    return 1;
}

int CQuorix::LoadMaskFile(const char* fileName) {
    if (!m_engine) {
        return NotAvailable(0);
    }
    // The whole file is read and checked before any plane changes: a file that is not a mask
    // file of this sensor, ends early or goes on after the last plane leaves every plane as it
    // was.
    std::vector<uint8_t> bytes;
    const platform::ReadResult read = platform::ReadFileContents(fileName, kMaskFileBytes, bytes);
    if (read == platform::ReadResult::kNoMemory) {
        SetError(kErrBuffer);
        return 0;
    }
    if (read != platform::ReadResult::kRead || bytes.size() != kMaskFileBytes ||
        !IsMaskHeader(bytes.data())) {
        SetError(kErrMaskFile);
        return 0;
    }
    if (!EnsureMaskPlanes()) {
        return 0;
    }
    std::lock_guard lock(m_maskLock);
    size_t offset = sizeof(MaskFileHeader);
    for (size_t i = 0; i < kFilePlanes.size(); ++i) {
        std::memcpy(m_images[kFilePlanes[i]]->Bits(), bytes.data() + offset, kFilePlaneBytes[i]);
        offset += kFilePlaneBytes[i];
    }
    // The maps change with their planes, under the same lock, so no frame sees a plane with
    // another plane's map.
    for (const DepthSlots& slots : {kSlots8, kSlots16}) {
        DeriveDefectMap(*m_images[slots.hot], *m_images[slots.dark], true);
        DeriveDefectMap(*m_images[slots.dead], *m_images[slots.white], false);
    }
    return 1;
}

}  // namespace quorix
