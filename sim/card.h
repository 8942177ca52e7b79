// The card side of the in-process PC/SC and of ombrix-sim: anything that
// answers command APDUs. The scripted card of the unit tests, the Ombrix card
// model and the fuzz input all implement it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace ombrix::sim {

using Bytes = std::vector<std::uint8_t>;

class Card {
public:
    virtual ~Card() = default;

    // The answer to reset, as the reader reports it after power-up.
    virtual Bytes atr() const = 0;

    // Power-up or warm reset: volatile state (current file, security status,
    // challenge, open channels) is lost; what the card stores persists.
    virtual void reset() = 0;

    // Power-down (the card leaves the field or the reader switches it off).
    virtual void power_off() {}

    // One command APDU in, the whole response APDU (data, SW1, SW2) out.
    // Must never throw and never crash, whatever the bytes.
    virtual Bytes transmit(std::span<const std::uint8_t> command) = 0;
};

} // namespace ombrix::sim
