#include "tools/ombrix-sim/state_file.h"

#include <cstdio>
#include <fstream>
#include <system_error>

namespace ombrix::sim {

StateFile::StateFile(std::filesystem::path path, std::function<std::string()> serialize,
                     std::string saved, std::ostream& diag)
    : path_(std::move(path)), serialize_(std::move(serialize)), saved_(std::move(saved)),
      diag_(diag)
{
}

bool StateFile::save_if_changed()
{
    if (!dirty_)
        return true;
    std::string text = serialize_();
    if (text == saved_) {
        dirty_ = false;
        return true;
    }
    std::filesystem::path tmp = path_;
    tmp += ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            diag_ << "ombrix-sim: cannot write " << tmp.string() << "; card state not saved\n";
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(tmp, path_, ec);
    if (ec) {
        diag_ << "ombrix-sim: cannot replace " << path_.string() << ": " << ec.message()
              << "; card state not saved\n";
        std::filesystem::remove(tmp, ec);
        return false;
    }
    saved_ = std::move(text);
    dirty_ = false;
    return true;
}

} // namespace ombrix::sim
