#include "platform/card_db.h"

#include <cstdlib>

namespace ombrix::platform {

namespace {
#if defined(OMBRIX_CARD_DB_PATH)
constexpr const char* kDefaultPath = OMBRIX_CARD_DB_PATH;
#else
constexpr const char* kDefaultPath = "/etc/ombrix/smartcards.conf";
#endif
} // namespace

std::string card_database_path()
{
    const char* path = std::getenv("OMBRIX_CARD_DB");
    return path != nullptr && *path != '\0' ? std::string(path) : std::string(kDefaultPath);
}

std::optional<std::vector<CardType>> read_card_database(const std::string& path)
{
    return read_card_database_file(path);
}

} // namespace ombrix::platform
