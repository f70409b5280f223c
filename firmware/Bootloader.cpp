#include "firmware/Bootloader.h"

#include "serial/Framing.h"

#include <algorithm>

namespace quellon {

namespace {
constexpr int kVersionReply = 7;
constexpr int kVersionBudget = 10;
constexpr int kEraseReply = 5;
constexpr int kEraseBudget = 1000;
constexpr int kBlockReply = 5;
constexpr int kBlockBudget = 1000;
constexpr int kVerifyReply = 8;
constexpr int kVerifyBudget = 500;
constexpr std::uint8_t kVersion = 0x01;
constexpr std::uint8_t kErase = 0x02;
constexpr std::uint8_t kProgram = 0x03;
constexpr std::uint8_t kVerify = 0x04;
constexpr std::uint8_t kStart = 0x05;
// The start frame (5 bytes, about 1 ms at 57600 baud) and the driver's buffers.
constexpr int kStartDrainMs = 50;
// A block's payload: the command byte and its records, within one frame and the area.
constexpr std::size_t kBlockLimit = std::min(kMaxFramedPayload, ProgramBlocks::kBlockArea);
} // namespace

std::vector<std::uint8_t> VerifyRequest(std::uint16_t crc) {
    return {kVerify,
            0x04,
            0x00,
            0x00,
            0x00,
            0xFA,
            0x1F,
            0x01,
            0x00,
            static_cast<std::uint8_t>(crc & 0xff),
            static_cast<std::uint8_t>(crc >> 8)};
}

// ---- ProgramBlocks ------------------------------------------------------------------------

bool ProgramBlocks::ReadRecord() {
    if (m_done) {
        return false;
    }
    m_recordLength = m_file.ReadHexRecord(m_record, sizeof m_record);
    if (m_recordLength == 0) {
        m_done = true;
        return false;
    }
    ++m_recordsRead;
    return true;
}

bool ProgramBlocks::Next(std::vector<std::uint8_t>& block, int& records) {
    block.assign(1, kProgram);
    records = 0;
    while (records < static_cast<int>(kMaxRecords)) {
        if (!m_pending && !ReadRecord()) {
            break;
        }
        m_pending = true;
        if (block.size() + m_recordLength > kBlockLimit) {
            break; // it opens the next block
        }
        block.insert(block.end(), m_record, m_record + m_recordLength);
        m_pending = false;
        ++records;
    }
    return records > 0;
}

// ---- Bootloader ---------------------------------------------------------------------------

bool Bootloader::Request(const std::vector<std::uint8_t>& payload, int length, int budget,
                         bool withProgress) {
    if (!m_exchange.Ports().SensorChannel()) {
        return false;
    }
    (void)m_exchange.SendFrame(payload.data(), static_cast<int>(payload.size()));
    char reply[64] = {};
    int count = 0;
    return withProgress
               ? m_exchange.WaitReplyWithProgress(reply, sizeof reply, length, budget, count)
               : m_exchange.WaitReply(reply, sizeof reply, length, budget, count);
}

bool Bootloader::ReadBootloaderVersion() {
    return Request({kVersion}, kVersionReply, kVersionBudget, false);
}

bool Bootloader::EraseApplication() {
    if (ProgressDisplay* progress = m_exchange.Progress()) {
        progress->SetPosition(0);
        progress->SetCaption("Erasing firmware");
    }
    return Request({kErase}, kEraseReply, kEraseBudget, true);
}

bool Bootloader::ProgramApplication(int expectedRecords) {
    m_blocks = 0;
    if (!m_file.Rewind()) {
        m_file.Close();
        return false;
    }
    ProgressDisplay* progress = m_exchange.Progress();
    if (progress) {
        progress->SetMaximum(static_cast<int>(m_file.LineCount() / 10));
        progress->SetPosition(0);
        progress->SetCaption("Downloading firmware");
        progress->ShowProgress();
    }
    ProgramBlocks blocks(m_file);
    std::vector<std::uint8_t> block;
    block.reserve(ProgramBlocks::kBlockArea);
    int records = 0;
    bool ok = true;
    while (blocks.Next(block, records)) {
        if (!Request(block, kBlockReply, kBlockBudget, false)) {
            ok = false;
            break;
        }
        ++m_blocks;
        if (progress) {
            progress->StepIt();
        }
        m_exchange.ProcessEvents();
    }
    if (progress) {
        progress->CloseProgress();
    }
    if (ok && expectedRecords >= 0 && blocks.RecordsRead() != expectedRecords) {
        ok = false; // the file is not what was checked
    }
    return ok;
}

bool Bootloader::VerifyApplication() {
    m_extent = LoadHexImage(m_file, m_image);
    if (!m_extent.loaded || m_extent.Empty()) {
        return false;
    }
    return Request(VerifyRequest(m_extent.crc), kVerifyReply, kVerifyBudget, false);
}

void Bootloader::RunApplication() {
    if (m_exchange.Ports().SensorChannel()) {
        const std::uint8_t start = kStart;
        (void)m_exchange.SendFrame(&start, 1);
        // The frame must have left the line before its speed changes, or it reaches the
        // bootloader as noise and the application is never started.
        WaitMs(kStartDrainMs);
    }
}

} // namespace quellon
