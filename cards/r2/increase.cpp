// INCREASE adds a value to the card's counter.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/command.h"

using ombrix::r2::Command;

namespace {
constexpr unsigned char kClaProprietary = 0x80;
constexpr unsigned char kInsIncrease = 0x32;
} // namespace

// 80 32 00 00 04, the value least significant byte first.
long COmbrixR2::cmdINCREASE(unsigned long value)
{
    const unsigned char data[4] = {
        static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
        static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    return Command(*this, kClaProprietary, kInsIncrease, 0x00, 0x00).data(data).send();
}
