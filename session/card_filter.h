// Internal: the card-name filter of the selection dialog.
#pragma once

#include "platform/card_db.h"

#include <string>
#include <vector>

namespace ombrix::session {

// The crypto provider whose card types the dialog offers.
inline constexpr const char* kCryptoProvider = "QV_CSP";

// The names of the card types registered for the provider, each followed by
// its zero byte, and one more zero byte after the last; empty when none is.
// The filter's length for the dialog is size() - 1.
std::string card_name_filter(const std::vector<platform::CardType>& types);

} // namespace ombrix::session
