// Readers and card selection on arbitrary input: reader names, empty and
// held readers, reader lists that change between the size query and the
// read, ATR and vendor attributes of any length, status changes, and card
// databases of any text, through the reader list, the first-usable-reader
// connect, the ATR, the manufacturer and the selection dialog.
#include "fuzz/harness/fuzz_pcsc.h"
#include "fuzz/harness/fuzz_target.h"

#include "ombrix/card_session.h"
#include "platform/card_db.h"
#include "platform/pcsc.h"
#include "session/card_filter.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

using namespace ombrix::fuzz;

constexpr int kMaxReaders = 4;

std::string text_of(const std::optional<Record>& record)
{
    if (!record || record->kind != Record::Kind::Answer)
        return {};
    return std::string(record->bytes.begin(), record->bytes.end());
}

void add_readers(World& world, Args& args)
{
    const int count = args.byte() % (kMaxReaders + 1);
    for (int i = 0; i < count; ++i) {
        const unsigned char kind = args.byte();
        // Names of any length and bytes; a zero byte ends the name as the list carries it.
        std::string name = args.text(kind & 0x80 ? args.u16() % 300 : args.byte() % 40);
        if (kind & 0x40)
            name = "Fuzz Reader " + std::to_string(i);
        auto& reader = kind & 1 ? world.add_card_reader(name, kind & 2 ? SCARD_PROTOCOL_T0 : SCARD_PROTOCOL_T1)
                                : world.add_empty_reader(name);
        if (kind & 4)
            reader.set_held_exclusively(true);
        if (kind & 8)
            reader.set_vendor(args.text(args.byte()));
        if (kind & 0x10)
            reader.set_unavailable(true);
    }
}

void reader_list(CCardSession& session, Args& args)
{
    const int only_with_card = args.byte() & 1;
    const bool allocate = args.flag();
    long count = static_cast<long>(static_cast<std::int16_t>(args.u16())) % 2000;
    std::unique_ptr<char[]> own(new char[count > 0 ? count : 1]);
    char* list = allocate ? nullptr : own.get();
    session.GetReaderList(only_with_card, &list, count);
    if (count > 0 && list != nullptr) {
        // `count` names, each with its zero byte, all within the list.
        std::size_t offset = 0;
        for (long i = 0; i < count; ++i)
            offset += std::strlen(list + offset) + 1;
    }
    if (allocate)
        std::free(list);
}

void atr(CCardSession& session, Args& args)
{
    const std::size_t capacity = args.byte() % 48;
    auto buffer = std::make_unique<unsigned char[]>(capacity);
    unsigned long length = capacity;
    if (session.GetATR(args.flag() ? nullptr : buffer.get(), &length) == 0 && !args.flag())
        (void)length;
}

void manufacturer(CCardSession& session, Args& args)
{
    long length = static_cast<std::int8_t>(args.byte());
    const long room = length;
    auto buffer = std::make_unique<unsigned char[]>(length > 0 ? length : 0);
    if (session.GetManufacturer(args.flag() ? nullptr : buffer.get(), length) == 0)
        OMBRIX_FUZZ_CHECK(length <= room);
}

// The card database the dialog reads: a file of this run's text.
void write_database(const std::string& text)
{
    static const std::string path = "/tmp/ombrix-fuzz-carddb-" + std::to_string(::getpid());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    ::setenv("OMBRIX_CARD_DB", path.c_str(), 1);
}

void dialog(World& world, Args& args)
{
    write_database(text_of(world.next()));
    World::set_choice(static_cast<std::int8_t>(args.byte()));
    auto buffer = std::make_unique<char[]>(256);
    char* reader = buffer.get();
    long length = 0;
    if (CCardSession::SmartCardDialog(&reader, &length, args.byte() & 1) == 1 && reader != nullptr)
        OMBRIX_FUZZ_CHECK(length >= 1 && length <= 256 && std::strlen(reader) + 1 == std::size_t(length));
}

void database(World& world, Args& args)
{
    const auto types = ombrix::platform::parse_card_database(text_of(world.next()));
    const ombrix::fuzz::Bytes card = args.counted();
    for (const auto& type : types) {
        OMBRIX_FUZZ_CHECK(type.mask.size() == type.atr.size());
        type.matches(card);
    }
    const std::string filter = ombrix::session::card_name_filter(types);
    OMBRIX_FUZZ_CHECK(filter.empty() || filter.back() == '\0');
}

void run(FuzzInput& input)
{
    Args& args = input.args();
    WorldOptions options;
    const unsigned char mode = args.byte();
    options.scripted_reader_list = mode & 1;
    options.scripted_status = mode & 2;
    World& world = World::begin(input, options);
    add_readers(world, args);

    CCardSession session;
    session.InitRM();
    if (mode & 4)
        session.Connect(nullptr);
    else if (mode & 8)
        session.Connect("Fuzz Reader 0");
    switch (input.entry() % 6) {
    case 0: reader_list(session, args); break;
    case 1:
        session.Connect(nullptr);
        if (const char* name = session.GetReaderName())
            (void)std::strlen(name);
        break;
    case 2: atr(session, args); break;
    case 3: manufacturer(session, args); break;
    case 4: dialog(world, args); break;
    default: database(world, args); break;
    }
    session.Disconnect();
    session.ExitRM();
    world.end();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput input(data, size);
    run(input);
    return 0;
}
