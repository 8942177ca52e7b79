#include "fuzz/harness/fuzz_input.h"

#include "platform/pcsc.h"
#include "sim/pcsc/inproc_pcsc.h"

#include <algorithm>
#include <array>

namespace ombrix::fuzz {

namespace {

constexpr std::size_t kHeaderBytes = 6; // entry, three fault bytes, two of argc

const std::array<long, 20> kUsualErrors = {
    static_cast<long>(SCARD_W_RESET_CARD),       static_cast<long>(SCARD_W_REMOVED_CARD),
    static_cast<long>(SCARD_E_INSUFFICIENT_BUFFER), static_cast<long>(SCARD_E_TIMEOUT),
    static_cast<long>(SCARD_E_NO_SMARTCARD),     static_cast<long>(SCARD_E_SHARING_VIOLATION),
    static_cast<long>(SCARD_E_NO_SERVICE),       static_cast<long>(SCARD_E_SERVICE_STOPPED),
    static_cast<long>(SCARD_E_CANCELLED),        static_cast<long>(SCARD_E_INVALID_HANDLE),
    static_cast<long>(SCARD_E_NOT_TRANSACTED),   static_cast<long>(SCARD_E_PROTO_MISMATCH),
    static_cast<long>(SCARD_E_UNKNOWN_READER),   static_cast<long>(SCARD_W_UNRESPONSIVE_CARD),
    static_cast<long>(SCARD_E_NO_READERS_AVAILABLE), static_cast<long>(SCARD_E_UNSUPPORTED_FEATURE),
    static_cast<long>(SCARD_F_INTERNAL_ERROR),   static_cast<long>(SCARD_E_READER_UNAVAILABLE),
    static_cast<long>(SCARD_E_INVALID_PARAMETER), 6, // ERROR_INVALID_HANDLE of Windows
};

} // namespace

long usual_error(std::uint8_t index) { return kUsualErrors[index % kUsualErrors.size()]; }

std::uint8_t Args::byte() { return offset_ < bytes_.size() ? bytes_[offset_++] : 0; }

std::uint16_t Args::u16()
{
    const std::uint16_t high = byte();
    return static_cast<std::uint16_t>(high << 8 | byte());
}

std::uint32_t Args::u32()
{
    const std::uint32_t high = u16();
    return high << 16 | u16();
}

Bytes Args::bytes(std::size_t n)
{
    Bytes out(n, 0);
    for (auto& b : out)
        b = byte();
    return out;
}

Bytes Args::counted() { return bytes(byte()); }

std::string Args::text(std::size_t n)
{
    const Bytes raw = bytes(n);
    return std::string(raw.begin(), raw.end());
}

FuzzInput::FuzzInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> all(data, size);
    auto at = [&](std::size_t i) -> std::uint8_t { return i < size ? all[i] : 0; };
    entry_ = at(0);
    if (at(1) != 0) {
        fault_.active = true;
        fault_.call = (at(1) - 1) % sim::kPcscCallCount;
        fault_.error = usual_error(at(2));
        fault_.times = 1 + (at(2) >> 5);        // 1 to 8 calls
        fault_.skip = at(3) & 0x3F;
        if (at(3) & 0x80)
            fault_.times = sim::InprocPcsc::kAlways;
    }
    const std::size_t argc = static_cast<std::size_t>(at(4)) << 8 | at(5);
    const std::size_t args_begin = std::min(kHeaderBytes, size);
    const std::size_t args_end = std::min(args_begin + argc, size);
    args_ = Args(all.subspan(args_begin, args_end - args_begin));
    records_ = all.subspan(args_end);
}

std::optional<Record> FuzzInput::next()
{
    if (offset_ + 3 > records_.size()) {
        offset_ = records_.size();
        return std::nullopt;
    }
    const std::size_t length = static_cast<std::size_t>(records_[offset_]) << 8 | records_[offset_ + 1];
    const std::uint8_t tag = records_[offset_ + 2];
    offset_ += 3;
    const std::size_t n = std::min(length, records_.size() - offset_);
    const auto body = records_.subspan(offset_, n);
    offset_ += n;

    Record record;
    switch (tag % 3) {
    case 0:
        record.kind = Record::Kind::Answer;
        record.bytes.assign(body.begin(), body.end());
        break;
    case 1:
        record.kind = Record::Kind::Error;
        if (body.size() >= 4)
            record.error = static_cast<long>(static_cast<LONG>(
                static_cast<std::uint32_t>(body[0]) << 24 | static_cast<std::uint32_t>(body[1]) << 16 |
                static_cast<std::uint32_t>(body[2]) << 8 | body[3]));
        else
            record.error = usual_error(body.empty() ? 0 : body[0]);
        if (record.error == SCARD_S_SUCCESS)
            record.error = static_cast<long>(SCARD_F_UNKNOWN_ERROR); // an error, never success
        break;
    default:
        record.kind = Record::Kind::Removed;
        break;
    }
    return record;
}

InputWriter::InputWriter(std::uint8_t entry, Bytes args, Bytes fault)
{
    fault.resize(3, 0);
    out_.push_back(entry);
    out_.insert(out_.end(), fault.begin(), fault.end());
    args.resize(std::min<std::size_t>(args.size(), 0xFFFF));
    out_.push_back(static_cast<std::uint8_t>(args.size() >> 8));
    out_.push_back(static_cast<std::uint8_t>(args.size()));
    out_.insert(out_.end(), args.begin(), args.end());
}

InputWriter& InputWriter::record(std::uint8_t tag, const Bytes& bytes)
{
    out_.push_back(static_cast<std::uint8_t>(bytes.size() >> 8));
    out_.push_back(static_cast<std::uint8_t>(bytes.size()));
    out_.push_back(tag);
    out_.insert(out_.end(), bytes.begin(), bytes.end());
    return *this;
}

InputWriter& InputWriter::answer(const Bytes& bytes) { return record(0, bytes); }

InputWriter& InputWriter::error(long code)
{
    const auto c = static_cast<std::uint32_t>(code);
    return record(1, {static_cast<std::uint8_t>(c >> 24), static_cast<std::uint8_t>(c >> 16),
                      static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c)});
}

InputWriter& InputWriter::removed() { return record(2, {}); }

} // namespace ombrix::fuzz
