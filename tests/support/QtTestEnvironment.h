#pragma once

#include <gtest/gtest.h>

#include "platform/toolkit/Toolkit.h"

namespace test_support {

// Takes the application down while Qt is whole, before the program's end. Including this
// header registers it once for the test program.
class ApplicationEnvironment : public ::testing::Environment {
    void TearDown() override { platform::Application().Finalize(); }
};

inline const auto* const kApplicationEnvironment =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

}  // namespace test_support
