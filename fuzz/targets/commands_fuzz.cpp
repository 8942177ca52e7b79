// Every command method of the card classes on arbitrary card answers: the
// entry byte picks a method of the dispatch table, the argument bytes give
// its arguments (and further methods to run after it, on the same session).
#include "fuzz/harness/fuzz_pcsc.h"
#include "fuzz/targets/dispatch.h"

#include "ombrix/ombrix_r1.h"
#include "ombrix/ombrix_r2.h"
#include "ombrix/ombrix_r22.h"
#include "platform/pcsc.h"

namespace {

constexpr int kMaxEntries = 3;
const char* const kReader = "Fuzz Reader 0";

void run(ombrix::fuzz::FuzzInput& input)
{
    using namespace ombrix::fuzz;
    Args& args = input.args();
    World& world = World::begin(input);
    const unsigned char setup = args.byte();
    world.add_card_reader(kReader, setup & 1 ? SCARD_PROTOCOL_T0 : SCARD_PROTOCOL_T1);

    COmbrixR1 r1;
    COmbrixR2 r2;
    COmbrixR22 r22;
    for (CCardSession* session : {static_cast<CCardSession*>(&r1), static_cast<CCardSession*>(&r2),
                                  static_cast<CCardSession*>(&r22)}) {
        session->InitRM();
        session->Connect(kReader);
        if (setup & 2)
            session->Set_ChannelUsed(setup >> 3);
    }
    CommandContext context{r1, setup & 4 ? static_cast<COmbrixR2&>(r22) : r2, r22, args};
    const auto table = command_table();
    table[input.entry() % table.size()].run(context);
    for (int i = 1; i < kMaxEntries && !args.empty(); ++i)
        table[args.byte() % table.size()].run(context);
    world.end();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ombrix::fuzz::FuzzInput input(data, size);
    run(input);
    return 0;
}
