// Secure messaging on arbitrary input: the response checks of CCardSM on
// arbitrary (and on well-formed, then altered) protected responses, the
// command wrappers, the card challenge and model tests, and the bridge of
// the protected second-generation commands with arbitrary GET DATA and GET
// CHALLENGE answers.
#include "fuzz/harness/fuzz_pcsc.h"
#include "fuzz/targets/dispatch.h"
#include "fuzz/targets/sm_builder.h"

#include "ombrix/ombrix_r1.h"
#include "ombrix/ombrix_r22.h"
#include "platform/pcsc.h"

namespace {

constexpr int kMaxEntries = 4;

void run(ombrix::fuzz::FuzzInput& input)
{
    using namespace ombrix::fuzz;
    Args& args = input.args();
    World& world = World::begin(input);
    world.add_card_reader("Fuzz Reader 0", args.flag() ? SCARD_PROTOCOL_T0 : SCARD_PROTOCOL_T1);

    SmBuilder card;
    COmbrixR1 unused;
    COmbrixR22 unused22;
    card.InitRM();
    card.Connect("Fuzz Reader 0");
    Bytes key = args.bytes(16);
    card.initializeKeysSM(key.data(), key.data() + 8, key.data());

    CommandContext context{unused, card, unused22, args};
    const auto table = sm_table();
    table[input.entry() % table.size()].run(context);
    for (int i = 1; i < kMaxEntries && !args.empty(); ++i)
        table[args.byte() % table.size()].run(context);
    card.Disconnect();
    world.end();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ombrix::fuzz::FuzzInput input(data, size);
    run(input);
    return 0;
}
