// COM for the test thread, once for the whole run, as the program's entry point does for the GUI thread.
#include <memory>

#include <gtest/gtest.h>

#include "ComApartment.h"

namespace {

class ComEnvironment : public ::testing::Environment {
public:
    void SetUp() override { apartment_ = std::make_unique<ComApartment>(); }
    void TearDown() override { apartment_.reset(); }

private:
    std::unique_ptr<ComApartment> apartment_;
};

[[maybe_unused]] const auto* const registered = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

}  // namespace
