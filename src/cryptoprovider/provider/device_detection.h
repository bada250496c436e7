// Which device sits in a smart-card reader, and which opened store serves a
// crypto type.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "asn1/bytes.h"
#include "cryptoprovider/core/hardware_device.h"
#include "cryptoprovider/core/key_store.h"

namespace provider
{

// Rutoken models told apart by their chip data.
enum class RutokenModel {
    Ecp2,    // RuToken2 (and any chip byte not listed below)
    Ecp2100, // 54
    Ecp3000, // 59
    Ecp3,    // 60
    Ecp3220, // 65
};

// Reads the answer to the chip-data command (00 CA 01 89): at least 6
// bytes, byte 4 one of 23, 24, 27, 30 and byte 5 equal to 2, else
// UnknownDevice; the model from byte 1.
RutokenModel rutokenModel(const bytes& chipData);

// Asks the Rutoken card in `readerName` for its chip data.
bytes readRutokenChipData(std::string_view readerName);

} // namespace provider

// The store for the device in `readerName`: a reader whose name holds
// "aktiv rutoken ecp" in any letter case is asked for its chip data and gets
// the Rutoken model it names; otherwise the MS_KEY K and JaCarta ATRs give
// their makes. UnknownDevice for anything else; reader and token errors
// propagate.
std::shared_ptr<HardwareDevice> getHardwareDevice(std::string_view readerName, const bytes& atr);

// The first store, in key order, that is a hardware device of `cryptoType`.
// DeviceNotFound when none is.
std::shared_ptr<HardwareDevice>
findHwDeviceByCryptoType(std::string_view cryptoType,
                         const std::map<std::string, std::shared_ptr<KeyStore>>& stores);
