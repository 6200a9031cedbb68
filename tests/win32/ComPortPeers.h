#pragma once
// A com port component, not opened, and the port numbers of the peers it talks to in the
// wine prefix; the test is skipped when the test script did not name them.
#include "serial/ComPort.h"
#include "tests/win32/WineSupport.h"

#include <gtest/gtest.h>

namespace orvi::testing {

class ComPortPeers : public ::testing::Test {
protected:
    void SetUp() override {
        sim_ = PeerPort("ORVI_WINE_SIM_PORT");
        echo_ = PeerPort("ORVI_WINE_ECHO_PORT");
        missing_ = PeerPort("ORVI_WINE_MISSING_PORT");
        if (sim_ == 0 || echo_ == 0 || missing_ == 0)
            GTEST_SKIP() << SkipText("ORVI_WINE_SIM_PORT");
        port_.SetAutoOpen(false);
    }

    int sim_ = 0, echo_ = 0, missing_ = 0;
    TOrvComPort port_;
};

} // namespace orvi::testing
