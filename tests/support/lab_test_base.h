// Base fixture of the tests that run on the lab: skips where the lab cannot run (not root),
// and on teardown stops the simulator, failing the test if it crashed or, under the sanitizers,
// leaked, and removes the lab.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "lab_fixture.h"

namespace vxlab {

class LabTestBase : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string why = LabUnavailableReason();
        if (!why.empty()) {
            GTEST_SKIP() << why;
        }
        std::string error;
        lab_ = Lab::Create(error);
        ASSERT_TRUE(lab_) << error;
    }

    // Derived fixtures release what runs in the station namespace first, then call this.
    void TearDown() override {
        if (lab_ && lab_->SimRunning()) {
            lab_->StopSim();
        }
        if (lab_ && lab_->SimExitStatus()) {
            EXPECT_EQ(lab_->SimExitStatus(), 0) << "the simulator did not exit cleanly";
        }
        inStation_.reset();
        lab_.reset();
    }

    // The simulator on the unit side, then this thread (and threads it starts) in the station
    // namespace.
    void StartLab(const SimOptions& options) {
        std::string error;
        ASSERT_TRUE(lab_->StartSim(options, error)) << error;
        inStation_ = lab_->EnterStation(error);
        ASSERT_TRUE(inStation_) << error;
    }

    std::unique_ptr<Lab> lab_;
    std::unique_ptr<NamespaceGuard> inStation_;
};

}  // namespace vxlab
