// The fuzz input: a short header, then records of what the outside world
// answers. Every target reads its input this way.
//
//   header   entry      which entry point of the target runs
//            fault      3 bytes: a PC/SC call to fail, the error, the calls let through first
//            argc       2 bytes (high first): the number of argument bytes that follow
//            args       argc bytes the entry point draws its arguments from
//   records  len (2 bytes, high first), tag, len bytes
//            tag % 3 == 0  an answer (a response APDU, a reader list, a status record ...)
//            tag % 3 == 1  a PC/SC error returned instead (4 bytes big-endian, else an
//                          index into a table of the usual errors)
//            tag % 3 == 2  the card leaves the reader
//
// The first record is the card's ATR. A record cut short by the end of the
// input keeps what is there; once the records run out the card is gone, so
// every loop that waits on the card ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ombrix::fuzz {

using Bytes = std::vector<std::uint8_t>;

// Draws arguments from the header's argument bytes; zeros once they run out.
class Args {
public:
    Args() = default;
    explicit Args(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::uint8_t byte();
    std::uint16_t u16();
    std::uint32_t u32();
    bool flag() { return (byte() & 1) != 0; }
    // n bytes (zeros past the end).
    Bytes bytes(std::size_t n);
    // A length byte, then that many bytes.
    Bytes counted();
    std::string text(std::size_t n);
    bool empty() const { return offset_ >= bytes_.size(); }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t offset_ = 0;
};

struct Record {
    enum class Kind { Answer, Error, Removed };
    Kind kind = Kind::Answer;
    Bytes bytes;    // Answer: the bytes
    long error = 0; // Error: the PC/SC code (never 0)
};

// One PC/SC call made to fail: the in-process PC/SC's fault injection.
struct FaultPlan {
    bool active = false;
    int call = 0;   // a sim::PcscCall
    long error = 0;
    int times = 1;
    int skip = 0;
};

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size);

    std::uint8_t entry() const { return entry_; }
    const FaultPlan& fault() const { return fault_; }
    Args& args() { return args_; }

    // The next record; nothing once the input is used up.
    std::optional<Record> next();
    bool exhausted() const { return offset_ >= records_.size(); }

private:
    std::uint8_t entry_ = 0;
    FaultPlan fault_;
    Args args_;
    std::span<const std::uint8_t> records_;
    std::size_t offset_ = 0;
};

// The PC/SC errors a record or the fault plan names by index.
long usual_error(std::uint8_t index);

// Writes one input in the layout above (for the seed corpora and the tests).
class InputWriter {
public:
    InputWriter(std::uint8_t entry, Bytes args, Bytes fault = {0, 0, 0});
    InputWriter& answer(const Bytes& bytes);
    InputWriter& error(long code);
    InputWriter& removed();
    const Bytes& bytes() const { return out_; }

private:
    InputWriter& record(std::uint8_t tag, const Bytes& bytes);
    Bytes out_;
};

} // namespace ombrix::fuzz
