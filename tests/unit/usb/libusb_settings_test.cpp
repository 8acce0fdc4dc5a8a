// The libusb link's two settings read from the environment: the accepted vendor IDs and how bulk
// transfers are cut into pieces in flight, checked against the kernel's usbfs budget.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/usb/libusb_link.h"

namespace quorix::platform::usb {
namespace {

// 0x04B4 always comes first; the variable adds IDs in its order, with or without 0x and in either
// case, separated by commas, semicolons or blanks; repeats and entries that are no 16-bit hex
// number are left out.
TEST(LibusbSettings, VendorIdsAddToTheDefault) {
    EXPECT_EQ(AcceptedVendorIds(nullptr), std::vector<uint16_t>{0x04B4});
    EXPECT_EQ(AcceptedVendorIds(""), std::vector<uint16_t>{0x04B4});
    EXPECT_EQ(AcceptedVendorIds("0x1d6b, 04B5;zz 12345,04b4,0X0001"),
              (std::vector<uint16_t>{0x04B4, 0x1D6B, 0x04B5, 0x0001}));
}

// Pieces in flight must fit the kernel's budget: 4 x 4 MiB fills 16 MiB exactly and is taken,
// 8 x 4 MiB is refused with a message naming both settings and the sizes; without a limit
// (usbfs_memory_mb 0) anything is taken. Settings that are no positive number are refused.
TEST(LibusbSettings, PiecesInFlightFitTheUsbfsBudget) {
    constexpr size_t kBudget = size_t{16} << 20;
    std::string error;
    const std::optional<BulkPlan> defaults = PlanBulkTransfers(nullptr, nullptr, kBudget, &error);
    ASSERT_TRUE(defaults.has_value()) << error;
    EXPECT_EQ(defaults->pieceBytes, size_t{128} << 10);
    EXPECT_EQ(defaults->depth, 4u);

    const std::optional<BulkPlan> full = PlanBulkTransfers("4096", "4", kBudget, &error);
    ASSERT_TRUE(full.has_value()) << error;
    EXPECT_EQ(full->pieceBytes * full->depth, kBudget);

    EXPECT_FALSE(PlanBulkTransfers("4096", "8", kBudget, &error).has_value());
    EXPECT_NE(error.find("32768 KiB"), std::string::npos) << error;
    EXPECT_NE(error.find("16384 KiB"), std::string::npos) << error;
    EXPECT_NE(error.find("QUORIX_USB_TRANSFERS"), std::string::npos) << error;
    EXPECT_NE(error.find("QUORIX_USB_TRANSFER_KIB"), std::string::npos) << error;
    EXPECT_TRUE(PlanBulkTransfers("4096", "8", 0, &error).has_value());

    for (const char* bad : {"0", "-4", "12k", "4096x"})
        EXPECT_FALSE(PlanBulkTransfers(bad, nullptr, kBudget, &error).has_value()) << bad;
    EXPECT_FALSE(PlanBulkTransfers(nullptr, "0", kBudget, &error).has_value());
}

}  // namespace
}  // namespace quorix::platform::usb
