// The session's exchange with arbitrary card answers and PC/SC failures:
// every APDU shape through both Sends, the retry after a failed or reset
// transmission, the ATR, reconnection, channels and copies of the session.
// The argument bytes are a small program of session operations.
#include "fuzz/harness/fuzz_pcsc.h"
#include "fuzz/harness/fuzz_target.h"

#include "ombrix/card_session.h"
#include "platform/pcsc.h"

#include <memory>
#include <vector>

namespace {

using ombrix::fuzz::Args;

constexpr int kMaxOperations = 32;
const char* const kReader = "Fuzz Reader 0";

// The command's data, its APDU, and a response buffer exactly as large as
// the exchange may fill (Le, else 255 bytes), or none.
struct Command {
    std::vector<unsigned char> data;
    APDU apdu{};
    std::unique_ptr<unsigned char[]> response;
    std::size_t room = 0;

    explicit Command(Args& args)
    {
        apdu.CLA = args.byte();
        apdu.INS = args.byte();
        apdu.P1 = args.byte();
        apdu.P2 = args.byte();
        apdu.Lc = args.byte();
        apdu.Le = args.byte();
        data = args.bytes(apdu.Lc);
        apdu.data = apdu.Lc != 0 ? data.data() : nullptr;
        if (args.flag()) {
            room = apdu.Le != 0 ? apdu.Le : 255;
            response = std::make_unique<unsigned char[]>(room);
        }
    }
};

void send5(CCardSession& session, Args& args)
{
    Command cmd(args);
    unsigned char length = 0xEE;
    unsigned char sw1 = 0, sw2 = 0;
    const long rc = session.Send(cmd.apdu, cmd.response.get(), &length, &sw1, &sw2);
    if (rc == 0 && cmd.response)
        OMBRIX_FUZZ_CHECK(length <= cmd.room);
    if (rc == 0)
        OMBRIX_FUZZ_CHECK((sw1 & 0xF0) == 0x60 || (sw1 & 0xF0) == 0x90);
}

void send3(CCardSession& session, Args& args)
{
    Command cmd(args);
    unsigned char length = 0xEE;
    const long rc = session.Send(cmd.apdu, cmd.response.get(), cmd.response ? &length : nullptr);
    if (rc == 0 && cmd.response)
        OMBRIX_FUZZ_CHECK(length <= cmd.room);
}

void get_atr(CCardSession& session, Args& args)
{
    const std::size_t capacity = args.byte() % 48;
    auto atr = std::make_unique<unsigned char[]>(capacity);
    unsigned long length = capacity;
    const long rc = session.GetATR(args.flag() ? nullptr : atr.get(), &length);
    (void)rc;
}

void run(ombrix::fuzz::FuzzInput& input)
{
    Args& args = input.args();
    auto& world = ombrix::fuzz::World::begin(input);
    world.add_card_reader(kReader, args.flag() ? SCARD_PROTOCOL_T0 : SCARD_PROTOCOL_T1);

    CCardSession session;
    session.InitRM();
    session.Connect(input.entry() & 1 ? nullptr : kReader);
    for (int i = 0; i < kMaxOperations && !args.empty(); ++i) {
        switch (args.byte() % 10) {
        case 0: send5(session, args); break;
        case 1: send3(session, args); break;
        case 2: get_atr(session, args); break;
        case 3: session.ReConnect(); break;
        case 4: session.Disconnect(); session.Connect(kReader); break;
        case 5: session.Set_ChannelUsed(args.byte() % 24); break;
        case 6: session.LockSC(); send5(session, args); session.UnlockSC(); break;
        case 7: {
            CCardSession copy(session);
            send5(copy, args);
            break;
        }
        case 8: session.Connect(nullptr); break;
        default: {
            unsigned char channel = 0;
            session.Get_ChannelUsed(channel);
            if (const char* name = session.GetReaderName())
                OMBRIX_FUZZ_CHECK(std::string_view(name) == kReader);
            break;
        }
        }
    }
    session.Disconnect();
    session.ExitRM();
    world.end();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ombrix::fuzz::FuzzInput input(data, size);
    run(input);
    return 0;
}
