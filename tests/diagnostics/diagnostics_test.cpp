// Message formats, the fatal-error exception and the allocation tracker.
#include "diagnostics/diagnostics.h"

#include <gtest/gtest.h>

#include "diagnostics/allocation.h"
#include "diagnostics/internal_failure.h"

namespace quorva {
namespace {

TEST(Diagnostics, WarningOutsideAFileHasNoPosition) {
    ConsoleCapture capture;
    warning("Option -e is now obsolete");
    EXPECT_EQ(capture.text(), "WARNING : Option -e is now obsolete!\n");
}

TEST(Diagnostics, FatalErrorCarriesTextAndReport) {
    try {
        fatal("Unable to find scene file %s", "x.qsb");
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "Unable to find scene file x.qsb");
        EXPECT_EQ(e.report(), "\nERROR :\nUnable to find scene file x.qsb\n");
    }
}

TEST(Diagnostics, InternalFailureCodes) {
    try {
        internalFailure(InternalFailure::HalfVectorNull, "Half vector is null");
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "(internal failure 0x2d) Half vector is null");
    }
    try {
        internalFailure(InternalFailure::Bisecting, "Bisecting");
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "(Internal failure 0x30) Bisecting");
    }
}

}  // namespace
}  // namespace quorva
