#include "sim/card/ombrix_card.h"

#include "sim/card/card_os.h"
#include "sim/card/image.h"

namespace ombrix::sim {

std::unique_ptr<OmbrixCard> OmbrixCard::builtin(Model model, std::string_view image,
                                                std::uint32_t serial)
{
    const auto json_image = card::builtin_image(model, image, serial);
    if (!json_image)
        return nullptr;
    return from_json(*json_image);
}

std::unique_ptr<OmbrixCard> OmbrixCard::from_json(const nlohmann::json& image, std::string* error)
{
    std::string why;
    auto state = card::load_image(image, why);
    if (!state) {
        if (error != nullptr)
            *error = why;
        return nullptr;
    }
    return std::make_unique<OmbrixCard>(std::make_unique<card::CardOs>(std::move(*state)));
}

OmbrixCard::OmbrixCard(std::unique_ptr<card::CardOs> os) : os_(std::move(os)) {}

std::unique_ptr<OmbrixCard> OmbrixCard::copy() const
{
    const std::lock_guard lock(mutex_);
    return std::make_unique<OmbrixCard>(std::make_unique<card::CardOs>(card::copy_of(os_->persistent())));
}
OmbrixCard::~OmbrixCard() = default;

nlohmann::json OmbrixCard::to_json() const
{
    const std::lock_guard lock(mutex_);
    return card::save_image(os_->persistent());
}

Bytes OmbrixCard::atr() const
{
    return os_->atr();
}

void OmbrixCard::reset()
{
    const std::lock_guard lock(mutex_);
    os_->reset();
}

void OmbrixCard::power_off()
{
    // Power-down loses exactly what a reset loses.
    reset();
}

Bytes OmbrixCard::transmit(std::span<const std::uint8_t> command)
{
    const std::lock_guard lock(mutex_);
    return os_->transmit(command);
}

Model OmbrixCard::model() const
{
    return os_->persistent().model;
}

std::uint8_t OmbrixCard::life_cycle() const
{
    const std::lock_guard lock(mutex_);
    return os_->persistent().life_cycle;
}

Bytes OmbrixCard::identification() const
{
    return os_->persistent().identification;
}

std::uint64_t OmbrixCard::serial() const
{
    const Bytes& id = os_->persistent().identification;
    std::uint64_t s = 0;
    for (std::size_t i = 10; i < 16; ++i)
        s = s << 8 | id[i];
    return s;
}

std::size_t OmbrixCard::memory_capacity() const
{
    return os_->memory_capacity();
}

std::size_t OmbrixCard::memory_free() const
{
    const std::lock_guard lock(mutex_);
    return os_->memory_free();
}

bool OmbrixCard::file_exists(const std::vector<std::uint16_t>& path) const
{
    const std::lock_guard lock(mutex_);
    return os_->find(path) != nullptr;
}

std::optional<Bytes> OmbrixCard::file_data(const std::vector<std::uint16_t>& path) const
{
    const std::lock_guard lock(mutex_);
    const card::FileNode* f = os_->find(path);
    if (f == nullptr || f->kind != card::FileKind::Transparent)
        return std::nullopt;
    return f->data;
}

std::optional<std::vector<Bytes>> OmbrixCard::file_records(const std::vector<std::uint16_t>& path) const
{
    const std::lock_guard lock(mutex_);
    const card::FileNode* f = os_->find(path);
    if (f == nullptr || !f->is_record())
        return std::nullopt;
    return f->records;
}

} // namespace ombrix::sim
