#include "fuzz/harness/fuzz_pcsc.h"

#include "ombrix/selection.h"
#include "platform/pcsc.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace ombrix::fuzz {

namespace {

World g_world;

void no_sleep(unsigned) {}

// The user of the selection dialog: the candidate the input names, or cancel.
int presenter(const char*, const SelectionCandidate* candidates, int count, void* user)
{
    for (int i = 0; i < count; ++i) // every name must be readable
        (void)std::strlen(candidates[i].reader), (void)std::strlen(candidates[i].card);
    const int wanted = *static_cast<int*>(user);
    return wanted < count ? wanted : -1;
}

int g_choice = 0;

const platform::PcscApi& inproc() { return sim::inproc_pcsc_api(); }

LONG fuzz_transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* send_pci, const BYTE* send,
                   DWORD send_length, SCARD_IO_REQUEST* recv_pci, BYTE* recv, LPDWORD recv_length)
{
    World& world = World::current();
    const std::optional<Record> record = world.next();
    if (!record || record->kind == Record::Kind::Removed) {
        world.remove_cards();
    } else if (record->kind == Record::Kind::Error) {
        // pcsc-lite leaves the length it needed behind after a short buffer.
        if (record->error == static_cast<long>(SCARD_E_INSUFFICIENT_BUFFER) && recv_length)
            *recv_length = 300;
        return static_cast<LONG>(record->error);
    } else {
        world.set_answer_all(record->bytes);
    }
    return inproc().Transmit(card, send_pci, send, send_length, recv_pci, recv, recv_length);
}

// The PC/SC buffer rules for a scripted answer.
LONG copy_out(const Bytes& data, LPSTR buffer, LPDWORD length)
{
    if (length == nullptr)
        return SCARD_E_INVALID_PARAMETER;
    const DWORD size = static_cast<DWORD>(data.size());
    if (buffer == nullptr) {
        *length = size;
        return SCARD_S_SUCCESS;
    }
    if (*length < size) {
        *length = size;
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    if (size != 0)
        std::memcpy(buffer, data.data(), size);
    *length = size;
    return SCARD_S_SUCCESS;
}

LONG fuzz_list_readers(SCARDCONTEXT context, LPCSTR groups, LPSTR readers, LPDWORD length)
{
    World& world = World::current();
    if (!world.options().scripted_reader_list || (length && *length == SCARD_AUTOALLOCATE))
        return inproc().ListReadersA(context, groups, readers, length);
    const std::optional<Record> record = world.next();
    if (!record)
        return SCARD_E_NO_READERS_AVAILABLE;
    if (record->kind == Record::Kind::Error)
        return static_cast<LONG>(record->error);
    if (record->kind == Record::Kind::Removed)
        return inproc().ListReadersA(context, groups, readers, length);
    return copy_out(record->bytes, readers, length);
}

LONG fuzz_get_status_change(SCARDCONTEXT context, DWORD timeout, SCARD_READERSTATEA* states,
                            DWORD count)
{
    World& world = World::current();
    if (!world.options().scripted_status)
        return inproc().GetStatusChangeA(context, timeout == INFINITE ? 0 : timeout, states, count);
    const std::optional<Record> record = world.next();
    if (!record)
        return SCARD_E_NO_SERVICE;
    if (record->kind == Record::Kind::Error)
        return static_cast<LONG>(record->error);
    if (record->kind == Record::Kind::Removed)
        return inproc().GetStatusChangeA(context, 0, states, count);
    Args bytes(record->bytes);
    for (DWORD i = 0; i < count; ++i) {
        states[i].dwEventState = bytes.u32();
        const std::size_t atr_length = std::min<std::size_t>(bytes.byte(), sizeof states[i].rgbAtr);
        const Bytes atr = bytes.bytes(atr_length);
        if (!atr.empty())
            std::memcpy(states[i].rgbAtr, atr.data(), atr.size());
        states[i].cbAtr = static_cast<DWORD>(atr.size());
    }
    return SCARD_S_SUCCESS;
}

platform::PcscApi make_table()
{
    platform::PcscApi table = sim::inproc_pcsc_api();
    table.Transmit = fuzz_transmit;
    table.ListReadersA = fuzz_list_readers;
    table.GetStatusChangeA = fuzz_get_status_change;
    return table;
}

} // namespace

const platform::PcscApi& fuzz_pcsc_api()
{
    static const platform::PcscApi table = make_table();
    return table;
}

sim::Bytes FuzzCard::transmit(std::span<const std::uint8_t>)
{
    std::lock_guard lock(mutex_);
    return std::exchange(answer_, {});
}

void FuzzCard::set_answer(Bytes answer)
{
    std::lock_guard lock(mutex_);
    answer_ = std::move(answer);
}

World& World::begin(FuzzInput& input, WorldOptions options)
{
    World& world = g_world;
    sim::InprocPcsc& pcsc = sim::InprocPcsc::instance();
    pcsc.reset();
    {
        std::lock_guard lock(world.mutex_);
        world.input_ = &input;
        world.options_ = options;
        world.cards_.clear();
    }
    platform::use_pcsc(&fuzz_pcsc_api());
    platform::set_sleep_hook(no_sleep);
    g_choice = 0;
    set_selection_presenter(presenter, &g_choice);
    if (input.fault().active) {
        const FaultPlan& f = input.fault();
        pcsc.fail(static_cast<sim::PcscCall>(f.call), f.error, f.times, f.skip);
    }
    return world;
}

World& World::current() { return g_world; }

void World::end()
{
    std::lock_guard lock(mutex_);
    input_ = nullptr;
}

void World::set_choice(int choice) { g_choice = choice; }

std::optional<Record> World::next()
{
    std::lock_guard lock(mutex_);
    if (input_ == nullptr)
        return std::nullopt;
    return input_->next();
}

sim::VirtualReader& World::add_card_reader(const std::string& name, unsigned long protocol)
{
    sim::VirtualReader& reader = sim::InprocPcsc::instance().add_reader(name);
    reader.set_protocol(protocol);
    const std::optional<Record> atr = next();
    if (atr && atr->kind == Record::Kind::Answer) {
        auto card = std::make_shared<FuzzCard>(atr->bytes);
        {
            std::lock_guard lock(mutex_);
            cards_.emplace_back(&reader, card);
        }
        reader.insert(card);
    }
    return reader;
}

sim::VirtualReader& World::add_empty_reader(const std::string& name)
{
    return sim::InprocPcsc::instance().add_reader(name);
}

void World::set_answer_all(const Bytes& answer)
{
    std::lock_guard lock(mutex_);
    for (auto& [reader, card] : cards_)
        card->set_answer(answer);
}

void World::remove_cards()
{
    std::vector<sim::VirtualReader*> readers;
    {
        std::lock_guard lock(mutex_);
        for (auto& [reader, card] : cards_)
            readers.push_back(reader);
        cards_.clear();
    }
    for (sim::VirtualReader* reader : readers)
        reader->remove();
}

} // namespace ombrix::fuzz
