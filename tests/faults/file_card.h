// A card that serves one transparent file and the few other commands the
// composite operations send (GET DATA of the life cycle and of the
// identification data, GET CHALLENGE, PUT DATA), whatever order they come in.
// Protected commands are answered as their plain form would be; they are not
// checked. The file shows exactly what the card acknowledged.
#pragma once

#include "sim/pcsc/inproc_pcsc.h"

#include <algorithm>
#include <cstdint>

namespace ombrix::test {

class FileCard : public sim::Card {
public:
    explicit FileCard(sim::Bytes file) : file_(std::move(file)) {}

    sim::Bytes atr() const override { return sim::ScriptedCard::default_atr(); }
    void reset() override { ++resets_; }

    sim::Bytes transmit(std::span<const std::uint8_t> command) override
    {
        received_.emplace_back(command.begin(), command.end());
        if (command.size() < 4)
            return {0x67, 0x00};
        const std::uint8_t ins = command[1];
        const std::size_t offset = std::size_t{command[2]} << 8 | command[3];
        const bool is_protected = (command[0] & 0x0C) == 0x0C;
        switch (ins) {
        case 0xCA:
            if (command[2] == 0x01 && command[3] == 0x81)
                return with_sw(sim::hex("0102030405060708090A0B0C0D0E0F1011121314"));
            if (command[2] == 0x01 && command[3] == 0x83)
                return {0x20, 0x90, 0x00};
            return {0x6A, 0x88};
        case 0x84: {
            // A new challenge every time: a reused one shows in the log.
            ++challenges_;
            sim::Bytes r(8);
            for (std::size_t i = 0; i < r.size(); ++i)
                r[i] = static_cast<std::uint8_t>(challenges_ * 16 + i);
            return with_sw(r);
        }
        case 0xB0: {
            if (offset > file_.size())
                return {0x6A, 0x86};
            // A protected READ BINARY carries no Le: the chunk of the second generation.
            std::size_t le = command.size() == 5 ? command[4] : 0x70;
            if (is_protected)
                le = 0x70;
            if (le == 0)
                le = 256;
            const std::size_t n = std::min(le, file_.size() - offset);
            return with_sw(sim::Bytes(file_.begin() + static_cast<long>(offset),
                                      file_.begin() + static_cast<long>(offset + n)));
        }
        case 0xD6: {
            if (command.size() < 5 || command.size() < 5u + command[4])
                return {0x67, 0x00};
            const std::size_t lc = command[4];
            if (offset + lc > file_.size())
                return {0x6A, 0x84};
            std::copy_n(command.begin() + 5, lc, file_.begin() + static_cast<long>(offset));
            return {0x90, 0x00};
        }
        case 0xDA:
        case 0x20: // VERIFY
        case 0x24: // CHANGE REFERENCE DATA
        case 0x2C: // RESET RETRY COUNTER
        case 0x10: // PHASE CONTROL
            return {0x90, 0x00};
        default:
            return {0x6D, 0x00};
        }
    }

    const sim::Bytes& file() const { return file_; }
    const std::vector<sim::Bytes>& received() const { return received_; }
    int resets() const { return resets_; }

private:
    static sim::Bytes with_sw(sim::Bytes data)
    {
        data.push_back(0x90);
        data.push_back(0x00);
        return data;
    }

    sim::Bytes file_;
    std::vector<sim::Bytes> received_;
    int resets_ = 0;
    int challenges_ = 0;
};

} // namespace ombrix::test
