#include "tools/ombrix/card_info.h"

#include "tools/ombrix/exit_status.h"

#include <array>

namespace ombrix::cli {

namespace {

// Proprietary data objects of GET DATA 00 CA 01 tag, with the Le each is read with.
constexpr std::uint8_t kIdentification = 0x81, kIdentificationLe = 0x60;
constexpr std::uint8_t kModel = 0x82, kModelLe = 0x02;
constexpr std::uint8_t kLifeCycle = 0x83, kLifeCycleLe = 0x01;
constexpr std::uint8_t kMemory = 0x89, kMemoryLe = 0x06;
constexpr std::size_t kUidOffset = 10, kUidLength = 6;

struct ModelId {
    std::uint8_t id;
    const char* name;
};
constexpr std::array<ModelId, 7> kModels{{
    {0x01, "R1"}, {0x02, "R2"}, {0x03, "R21"}, {0x04, "R21v"},
    {0x05, "R22"}, {0x06, "R23"}, {0x09, "R23v"},
}};

// GET DATA; the answer on 9000, else none with the status in `status`.
std::optional<Bytes> get_data(CardLink& link, std::uint8_t tag, std::uint8_t le, long& status,
                              const char* what)
{
    CommandApdu command;
    command.cla = 0x00;
    command.ins = 0xCA;
    command.p1 = 0x01;
    command.p2 = tag;
    command.le = le;
    command.bytes = {0x00, 0xCA, 0x01, tag, le};
    Answer answer;
    if (const long result = link.transmit(command, answer); result != 0)
        throw status_error(std::string("reading the card's ") + what, result);
    if (answer.sw != 0x9000) {
        status = answer.sw;
        return std::nullopt;
    }
    status = 0;
    return answer.data;
}

} // namespace

std::optional<std::string> model_name(std::uint8_t b0, std::uint8_t b1)
{
    if (b0 != 0xC8)
        return std::nullopt;
    for (const auto& m : kModels)
        if (m.id == b1)
            return std::string(m.name);
    return std::nullopt;
}

void read_card_model(CardLink& link, CardInfo& info)
{
    if (auto id = get_data(link, kModel, kModelLe, info.model.status, "model")) {
        if (id->size() >= 2) {
            info.model_id.assign(id->begin(), id->begin() + 2);
            info.model.value = model_name((*id)[0], (*id)[1]);
            if (!info.model.value)
                info.model.note = "unknown model identifier";
        } else {
            info.model.note = "the model identifier is shorter than 2 bytes";
        }
    }
}

CardInfo read_card_info(CardLink& link)
{
    CardInfo info;
    read_card_model(link, info);
    if (auto lc = get_data(link, kLifeCycle, kLifeCycleLe, info.life_cycle.status, "life cycle")) {
        if (!lc->empty())
            info.life_cycle.value = (*lc)[0];
        else
            info.life_cycle.note = "the card answered 9000 without the life-cycle byte";
    }
    if (auto ident = get_data(link, kIdentification, kIdentificationLe, info.uid.status,
                              "identification data")) {
        if (ident->size() >= kUidOffset + kUidLength)
            info.uid.value = Bytes(ident->begin() + kUidOffset,
                                   ident->begin() + kUidOffset + kUidLength);
        else
            info.uid.note = "the identification data are shorter than 16 bytes";
    }
    if (info.model.value == "R23") {
        if (auto memory = get_data(link, kMemory, kMemoryLe, info.memory_kb.status, "memory size")) {
            // Bytes 2-3 hold 00 40 on a 64 KB card; a shorter answer tells nothing.
            if (memory->size() >= 4)
                info.memory_kb.value = ((*memory)[2] == 0x00 && (*memory)[3] == 0x40) ? 64 : 32;
            else
                info.memory_kb.note = "the memory-size object is shorter than 4 bytes";
        }
    } else {
        info.memory_kb.note = "read on R23 cards only";
    }
    return info;
}

} // namespace ombrix::cli
