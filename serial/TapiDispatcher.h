#pragma once
// The dispatcher for a port that a telephony component has already opened: it takes
// the device handle over instead of opening a device by name. Nothing in this program
// hands such a handle over, so the handle is 0 and opening fails with -2007
// ("ie_NOpen - device not open").
//
// Threads: as TOrvDeviceDispatcher.
#include "serial/dispatch/DeviceDispatcher.h"

#include <cstdint>

namespace orvi {

class TOrvTAPI32Dispatcher : public TOrvWin32Dispatcher {
public:
    TOrvTAPI32Dispatcher(TOrvDispatcherOwner* owner, uint16_t deviceHandle);
    // The workers call virtual operations: they end before this object goes.
    ~TOrvTAPI32Dispatcher() override { Shutdown(); }

    uint16_t TapiDeviceHandle() const { return tapiDeviceHandle_; }

protected:
    // Handle 0: last error 2007 and -2007. Any other handle: the device layer cannot
    // adopt a handle opened elsewhere, so the open is refused as not supported.
    int32_t DeviceOpen(const std::string& name, uint32_t inSize, uint32_t outSize) override;

private:
    const uint16_t tapiDeviceHandle_;
};

} // namespace orvi
