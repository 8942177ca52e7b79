#include "tools/ombrix/transfer_progress.h"

#include "platform/pcsc.h"

#include <algorithm>

namespace ombrix::cli {

namespace {

using ombrix::platform::PcscApi;

constexpr BYTE kInsReadBinary = 0xB0;
constexpr BYTE kInsUpdateBinary = 0xD6;

// The table holds plain function pointers, so the transfer it reports on
// lives here; one transfer at a time.
struct Transfer {
    const PcscApi* inner = nullptr;
    Progress* progress = nullptr;
    TransferProgress::Direction direction = TransferProgress::Direction::read;
    std::size_t total = 0;
    std::size_t done = 0;
};
Transfer g_transfer;
PcscApi g_table;

LONG counting_transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* send_pci, const BYTE* send,
    DWORD send_length, SCARD_IO_REQUEST* recv_pci, BYTE* recv, LPDWORD recv_length)
{
    const LONG result = g_transfer.inner->Transmit(
        card, send_pci, send, send_length, recv_pci, recv, recv_length);
    if (result != SCARD_S_SUCCESS || send == nullptr || send_length < 4
        || g_transfer.progress == nullptr)
        return result;
    const BYTE ins = send[1];
    std::size_t moved = 0;
    if (g_transfer.direction == TransferProgress::Direction::read && ins == kInsReadBinary
        && recv_length != nullptr && *recv_length >= 2)
        moved = *recv_length - 2;
    else if (g_transfer.direction == TransferProgress::Direction::write && ins == kInsUpdateBinary
        && send_length > 5)
        moved = send[4];
    if (moved == 0)
        return result;
    g_transfer.done += moved;
    if (g_transfer.total != 0)
        g_transfer.done = std::min(g_transfer.done, g_transfer.total);
    g_transfer.progress->update(g_transfer.done);
    return result;
}

} // namespace

TransferProgress::TransferProgress(
    std::ostream& err, bool is_terminal, std::string label, std::size_t total, Direction direction)
{
    if (!is_terminal || g_transfer.progress != nullptr)
        return;
    progress_.emplace(err, true, std::move(label), total);
    previous_ = &ombrix::platform::pcsc();
    g_transfer = Transfer { previous_, &*progress_, direction, total, 0 };
    g_table = *previous_;
    g_table.Transmit = counting_transmit;
    ombrix::platform::use_pcsc(&g_table);
}

TransferProgress::~TransferProgress()
{
    if (!progress_)
        return;
    ombrix::platform::use_pcsc(previous_);
    g_transfer = Transfer {};
    progress_->finish();
}

} // namespace ombrix::cli
